#include "platform/Network.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::AdapterSysfsFacts;
using platform::AdapterType;
using platform::NetworkAdapter;

// ---------------------------------------------------------------------------------------------
// This machine

TEST(NetworkAdapters, ThisMachineListsLoopbackOrderedByIndex) {
    std::vector<NetworkAdapter> adapters = platform::networkAdapters();
    ASSERT_FALSE(adapters.empty());
    auto lo = std::find_if(adapters.begin(), adapters.end(),
                           [](const NetworkAdapter& a) { return a.name == "lo"; });
    ASSERT_NE(lo, adapters.end());
    EXPECT_EQ(lo->type, AdapterType::Loopback);
    EXPECT_EQ(lo->ifType, platform::kIfTypeLoopback);
    EXPECT_EQ(lo->index, if_nametoindex("lo"));
    EXPECT_EQ(lo->bus, "virtual");
    EXPECT_EQ(lo->description, "Loopback adapter");
    if (lo->up) {
        EXPECT_NE(std::find(lo->ipv4.begin(), lo->ipv4.end(), "127.0.0.1"), lo->ipv4.end());
    }

    for (size_t i = 0; i < adapters.size(); ++i) {
        EXPECT_EQ(adapters[i].index, if_nametoindex(adapters[i].name.c_str()));
        if (i > 0) {
            EXPECT_LT(adapters[i - 1].index, adapters[i].index);
        }
    }
}

TEST(NetworkRoute, LoopbackDestinationsRouteThroughLo) {
    const uint32_t lo = if_nametoindex("lo");
    EXPECT_EQ(platform::bestInterfaceIndex("127.0.0.1"), lo);
    EXPECT_EQ(platform::bestInterfaceIndex("127.45.6.7"), lo);
    auto adapter = platform::bestRouteAdapter("127.0.0.1");
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->name, "lo");
}

TEST(NetworkRoute, MalformedDestinationsGiveNothing) {
    for (const char* text :
         {"", "8.8.8", "256.1.1.1", "localhost", " 8.8.8.8", "8.8.8.8 ", "::g", "1.2.3.4/32"}) {
        EXPECT_FALSE(platform::bestInterfaceIndex(text)) << '"' << text << '"';
    }
}

constexpr int kSkipped = 77;

// In a child of its own, since a new network namespace changes the whole process: first
// nothing is up, then loopback only. Each failed check sets one bit of the exit code.
KV_TEST_CHILD(routes_in_private_namespace) {
    if (unshare(CLONE_NEWNET) != 0)
        return kSkipped;
    int failures = 0;
    auto expect = [&failures](bool ok, int bit) { failures |= ok ? 0 : 1 << bit; };
    expect(!platform::bestInterfaceIndex("127.0.0.1"), 0);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    if (!up)
        return 100;
    expect(platform::bestInterfaceIndex("127.0.0.1") == if_nametoindex("lo"), 1);
    expect(!platform::bestInterfaceIndex(platform::kIdentityRouteDestination), 2);
    expect(!platform::bestInterfaceIndex("2001:db8::1"), 3);
    expect(!platform::bestRouteAdapter(), 4);
    expect(!platform::isNetworkAlive(), 5);
    return failures;
}

TEST(NetworkRoute, LoopbackOnlyMachineHasNoRouteOut) {
    int code = kvtest::waitChild(kvtest::spawnChild("routes_in_private_namespace"), 20000);
    if (code == kSkipped)
        GTEST_SKIP() << "no permission for a private network namespace";
    EXPECT_EQ(code, 0) << "failed checks (bits): " << code;
}

// ---------------------------------------------------------------------------------------------
// Adapter facts and classification

TEST(NetworkAdapters, SysfsFactsAreRead) {
    // A /sys/class/net look-alike: the interface links to its device, the device to its bus;
    // one driver is a link, the other only named in the device's uevent.
    kvtest::TempDir dir;
    const fs::path net = dir.path() / "class/net";
    auto device = [&](const std::string& name, const std::string& bus, bool driverLink) {
        const fs::path dev = dir.path() / "devices" / name;
        fs::create_directories(net / name);
        fs::create_directories(dev);
        fs::create_directories(dir.path() / "bus" / bus / "drivers/drv");
        fs::create_symlink(dev, net / name / "device");
        fs::create_symlink(dir.path() / "bus" / bus, dev / "subsystem");
        if (driverLink)
            fs::create_symlink(dir.path() / "bus" / bus / "drivers/drv", dev / "driver");
        else
            kvtest::writeFile(dev / "uevent", "MODALIAS=x\nDRIVER=drv2\n");
        kvtest::writeFile(net / name / "type", "1\n");
        kvtest::writeFile(net / name / "address", "02:fc:00:00:00:0a\n");
        kvtest::writeFile(net / name / "uevent", "INTERFACE=" + name + "\nDEVTYPE=wlan\n");
    };
    device("wlp2s0", "pci", true);
    fs::create_directories(net / "wlp2s0/phy80211");
    device("usb0", "usb", false);
    AdapterSysfsFacts wlan = platform::readAdapterSysfs(net, "wlp2s0");
    EXPECT_EQ(std::tie(wlan.arpType, wlan.address, wlan.hasDevice, wlan.bus, wlan.driver,
                       wlan.devType, wlan.wireless),
              std::make_tuple(1, std::string("02:fc:00:00:00:0a"), true, std::string("pci"),
                              std::string("drv"), std::string("wlan"), true));
    AdapterSysfsFacts usb = platform::readAdapterSysfs(net, "usb0");
    EXPECT_EQ(std::tie(usb.bus, usb.driver, usb.wireless),
              std::make_tuple(std::string("usb"), std::string("drv2"), false));
    AdapterSysfsFacts missing = platform::readAdapterSysfs(net, "nosuch0");
    EXPECT_EQ(std::tie(missing.arpType, missing.hasDevice), std::make_tuple(-1, false));
    EXPECT_EQ(platform::parseMacText("02:fc:00:00:00:0a"),
              (std::vector<uint8_t>{2, 0xFC, 0, 0, 0, 0x0A}));
    EXPECT_TRUE(platform::parseMacText("02-fc-00-00-00-0a").empty());
    EXPECT_TRUE(platform::parseMacText("02:fc:").empty());
}

struct ClassCase {
    int arpType;
    bool hasDevice;
    const char* bus;
    const char* detail;  // driver, else DEVTYPE
    bool wireless;
    AdapterType type;
    uint32_t ifType;
    const char* description;
};

TEST(NetworkAdapters, ClassifiedAndDescribed) {
    const ClassCase cases[] = {
        {1, true, "pci", "e1000e", false, AdapterType::Ethernet, 6,
         "PCI Ethernet adapter (e1000e)"},
        {1, true, "pci", "iwlwifi", true, AdapterType::Wireless, 71,
         "PCI Wireless adapter (iwlwifi)"},
        {1, true, "usb", "cdc_ether", false, AdapterType::Ethernet, 6,
         "USB Ethernet adapter (cdc_ether)"},
        {1, true, "virtio", "virtio_net", false, AdapterType::Ethernet, 6,
         "VirtIO Ethernet adapter (virtio_net)"},
        {1, true, "bluetooth", "", false, AdapterType::Ethernet, 6, "Bluetooth Ethernet adapter"},
        {1, false, "", "bridge", false, AdapterType::Virtual, 6,
         "Virtual Network adapter (bridge)"},
        {65534, false, "", "", false, AdapterType::Virtual, 1, "Virtual Network adapter"},
        {772, true, "pci", "", false, AdapterType::Loopback, 24, "Loopback adapter"},
        // An unknown bus is spelled in lower case, so it never reads "PCI".
        {32, true, "PCIe-ish", "mlx5", false, AdapterType::Other, 1,
         "pcie-ish Network adapter (mlx5)"},
    };
    for (const auto& c : cases) {
        AdapterSysfsFacts facts;
        facts.arpType = c.arpType;
        facts.hasDevice = c.hasDevice;
        facts.wireless = c.wireless;
        AdapterType type = platform::classifyAdapter(facts, false);
        EXPECT_EQ(type, c.type) << c.description;
        EXPECT_EQ(platform::windowsIfType(type, c.arpType), c.ifType) << c.description;
        EXPECT_EQ(platform::adapterDescription(type, c.bus, c.detail), c.description);
    }
    // The loopback flag wins over everything.
    AdapterSysfsFacts wired{1, "", true, "pci", "e1000e", "", false};
    EXPECT_EQ(platform::classifyAdapter(wired, true), AdapterType::Loopback);
}

// ---------------------------------------------------------------------------------------------
// Identity adapter

NetworkAdapter adapter(uint32_t index, const std::string& description, uint32_t ifType,
                       std::vector<uint8_t> mac = {2, 0, 0, 0, 0, 1}) {
    NetworkAdapter a;
    a.index = index;
    a.name = "if" + std::to_string(index);
    a.description = description;
    a.ifType = ifType;
    a.mac = std::move(mac);
    a.macText = platform::formatMacCompact(a.mac);
    return a;
}

struct SelectCase {
    const char* what;
    std::vector<NetworkAdapter> adapters;
    std::optional<uint32_t> route;
    int expected;  // position in adapters, -1 for none
};

TEST(NetworkAdapters, IdentityAdapterSelection) {
    const std::vector<uint8_t> zero(6, 0);
    const std::vector<uint8_t> eight(8, 1);
    const SelectCase cases[] = {
        {"Bluetooth first, PCI second, no route",
         {adapter(3, "Bluetooth Ethernet adapter", 6), adapter(4, "PCI Ethernet adapter", 6)},
         std::nullopt,
         1},
        {"the route's adapter wins over list order",
         {adapter(2, "PCI Ethernet adapter", 6), adapter(5, "USB Wireless adapter", 71)},
         5u,
         1},
        {"the route may name an adapter the list rules would skip",
         {adapter(2, "PCI Ethernet adapter", 6), adapter(7, "Virtual Network adapter", 1)},
         7u,
         1},
        {"a route through loopback (no address) falls back to the list",
         {adapter(1, "Loopback adapter", 24, zero), adapter(2, "VirtIO Ethernet adapter", 6)},
         1u,
         1},
        {"a route to an unlisted index falls back to the list",
         {adapter(2, "PCI Ethernet adapter", 6)},
         9u,
         0},
        {"Virtual is excluded even with PCI or Ethernet",
         {adapter(2, "Virtual PCI adapter", 6), adapter(3, "USB Wireless adapter", 71)},
         std::nullopt,
         1},
        {"an 8-byte address does not qualify",
         {adapter(2, "PCI Network adapter", 1, eight), adapter(3, "PCI Ethernet adapter", 6)},
         std::nullopt,
         1},
        {"PCI qualifies any type; words compare with case",
         {adapter(2, "pci adapter", 1), adapter(3, "PCI adapter", 1)},
         std::nullopt,
         1},
        {"an empty list", {}, 3u, -1},
    };
    for (const auto& c : cases) {
        const NetworkAdapter* chosen = platform::selectIdentityAdapter(c.adapters, c.route);
        if (c.expected < 0) {
            EXPECT_EQ(chosen, nullptr) << c.what;
        } else {
            EXPECT_EQ(chosen, &c.adapters[static_cast<size_t>(c.expected)]) << c.what;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Volume serial

TEST(VolumeSerial, FromUuidText) {
    struct Case {
        const char* uuid;
        uint32_t serial;
    };
    const Case cases[] = {
        {"3f1a2b4c-5d6e-4f70-8192-a3b4c5d6e7f8", 0x3F1A2B4C},
        {"1A2B-3C4D", 0x1A2B3C4D},
        {"0123456789ABCDEF", 0x89ABCDEF},
        {"", 0},
        {"1A2B3C4D", 0},
        {"1A2B-3C4G", 0},
        {"3f1a2b4c5d6e-4f70-8192-a3b4c5d6e7f8-", 0},
        {"3f1a2b4c-5d6e-4f70-8192-a3b4c5d6e7fz", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::volumeSerialFromUuid(c.uuid), c.serial) << c.uuid;
}

TEST(VolumeSerial, MountInfoEntryForAMountPoint) {
    const std::string text =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw,discard\n"
        "28 27 8:17 / /mnt/my\\040disk rw master:2 shared:3 - vfat /dev/sdb1 rw\n"
        "bad line\n"
        "29 27 x:1 / /broken rw - ext4 /dev/sdc1 rw\n"
        "30 27 8:33 / /no-separator rw ext4 /dev/sdc1 rw x y\n";
    auto root = platform::findMountInfoEntry(text, "/");
    ASSERT_TRUE(root);
    EXPECT_EQ(std::tie(root->major, root->minor, root->fsType, root->source),
              std::make_tuple(254u, 1u, std::string("ext4"), std::string("/dev/vda1")));
    auto disk = platform::findMountInfoEntry(text, "/mnt/my disk");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->source, "/dev/sdb1");
    for (const char* absent : {"/broken", "/no-separator", "/mnt/my\\040disk"})
        EXPECT_FALSE(platform::findMountInfoEntry(text, absent)) << absent;
    // A later mount on "/" hides the earlier one.
    auto over =
        platform::findMountInfoEntry(text + "40 27 0:55 / / rw - overlay overlay rw\n", "/");
    ASSERT_TRUE(over);
    EXPECT_EQ(over->fsType, "overlay");
}

TEST(VolumeSerial, RootUuidFromTheByUuidFolder) {
    kvtest::TempDir dir;
    const fs::path devices = dir.path() / "dev";
    const fs::path byUuid = dir.path() / "by-uuid";
    fs::create_directories(devices);
    fs::create_directories(byUuid);
    kvtest::writeFile(devices / "vda1", "");
    kvtest::writeFile(devices / "vda2", "");
    fs::create_symlink("../dev/vda2", byUuid / "1A2B-3C4D");
    fs::create_symlink("../dev/vda1", byUuid / "3f1a2b4c-5d6e-4f70-8192-a3b4c5d6e7f8");
    auto mountInfoFor = [&](const std::string& source, const char* device) {
        fs::path file = dir.path() / "mountinfo";
        kvtest::writeFile(file, "22 27 0:21 / /proc rw - proc proc rw\n27 1 " +
                                    std::string(device) + " / / rw - ext4 " + source + " rw\n");
        return file;
    };
    // Matched by the source path, even through a ".." in it.
    EXPECT_EQ(
        platform::rootFilesystemUuid(mountInfoFor((devices / "vda1").string(), "254:1"), byUuid),
        "3f1a2b4c-5d6e-4f70-8192-a3b4c5d6e7f8");
    EXPECT_EQ(platform::rootFilesystemUuid(
                  mountInfoFor((devices / ".." / "dev" / "vda2").string(), "0:40"), byUuid),
              "1A2B-3C4D");
    EXPECT_EQ(platform::rootFilesystemUuid(mountInfoFor("overlay", "0:40"), byUuid), "");
    EXPECT_EQ(platform::rootFilesystemUuid(mountInfoFor((devices / "vda1").string(), "254:1"),
                                           dir.path() / "missing"),
              "");
    EXPECT_EQ(platform::rootFilesystemUuid(dir.path() / "no-mountinfo", byUuid), "");
}

// ---------------------------------------------------------------------------------------------
// Proxy

TEST(ProxySettings, FromEnvironmentVariables) {
    using Env = std::map<std::string, std::string>;
    struct Case {
        const char* what;
        Env env;
        platform::ProxySettings expected;
    };
    const Case cases[] = {
        {"nothing set", {}, {}},
        {"lower-case names",
         {{"http_proxy", "http://p:3128"}, {"https_proxy", "http://q:3129"}, {"no_proxy", "lan"}},
         {"http://p:3128", "http://q:3129", "lan"}},
        {"lower case wins over upper case",
         {{"http_proxy", "lower"}, {"HTTP_PROXY", "upper"}, {"no_proxy", "a"}, {"NO_PROXY", "b"}},
         {"lower", "", "a"}},
        {"an empty lower-case value falls back to upper case",
         {{"https_proxy", ""}, {"HTTPS_PROXY", "http://q:2"}, {"NO_PROXY", "*"}},
         {"", "http://q:2", "*"}},
        {"blank-only counts as unset, values are trimmed",
         {{"http_proxy", "  \t"}, {"HTTP_PROXY", " http://p:1 \n"}, {"no_proxy", " a,b "}},
         {"http://p:1", "", "a,b"}},
        {"all_proxy fills both when their own are missing",
         {{"all_proxy", "socks5://s:1080"}, {"https_proxy", "http://q:2"}},
         {"socks5://s:1080", "http://q:2", ""}},
        {"other variables are ignored", {{"ftp_proxy", "x"}, {"Http_Proxy", "y"}}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::parseProxyEnvironment(c.env), c.expected) << c.what;
}

}  // namespace
