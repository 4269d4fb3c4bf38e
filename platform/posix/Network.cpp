#include "platform/Network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Logging.h"
#include "TextUtil.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// sysfs attribute files are a line; uevent files a few hundred bytes.
constexpr size_t kMaxSysfsFileBytes = 4096;
constexpr size_t kMaxMountInfoBytes = 4 * 1024 * 1024;
constexpr int kMaxByUuidEntries = 10000;
constexpr int kNetlinkReplyMessages = 16;
constexpr int kNetlinkTimeoutSeconds = 1;

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string readSmallFile(const fs::path& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text;
    char chunk[4096];
    while (text.size() < limit && in) {
        in.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, limit - text.size())));
        text.append(chunk, static_cast<size_t>(in.gcount()));
    }
    return text;
}

std::string_view trim(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n\f\v";
    size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

std::string firstLine(const std::string& text) {
    return std::string(trim(std::string_view(text).substr(0, text.find('\n'))));
}

// The value of KEY= in uevent text.
std::string ueventValue(const std::string& text, std::string_view key) {
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return {};
}

std::string linkTargetName(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Eight hex digits as a number; nullopt when one is not a digit.
std::optional<uint32_t> parseHex32(std::string_view digits) {
    if (digits.size() != 8)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        int d = hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return value;
}

bool allHex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return hexDigitValue(c) >= 0; });
}

// A file descriptor closed on scope exit.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : m_fd(fd) {}
    ~ScopedFd() {
        if (m_fd >= 0)
            close(m_fd);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

bool isNetworkAlive() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LOG(INFO) << " getifaddrs failed: " << std::strerror(errno);
        return false;
    }
    bool alive = false;
    for (const ifaddrs* i = list; i && !alive; i = i->ifa_next) {
        const unsigned flags = i->ifa_flags;
        alive = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return alive;
}

// ---------------------------------------------------------------------------------------------
// Adapters

AdapterSysfsFacts readAdapterSysfs(const fs::path& classNetDir, const std::string& name) {
    AdapterSysfsFacts facts;
    const fs::path dir = classNetDir / name;
    std::string type = firstLine(readSmallFile(dir / "type", kMaxSysfsFileBytes));
    if (!type.empty()) {
        char* end = nullptr;
        long value = std::strtol(type.c_str(), &end, 10);
        if (end != type.c_str() && *end == '\0' && value >= 0 && value <= 0xFFFF)
            facts.arpType = static_cast<int>(value);
    }
    facts.address = firstLine(readSmallFile(dir / "address", kMaxSysfsFileBytes));
    facts.devType = ueventValue(readSmallFile(dir / "uevent", kMaxSysfsFileBytes), "DEVTYPE");
    facts.wireless = pathExists(dir / "wireless") || pathExists(dir / "phy80211");
    const fs::path device = dir / "device";
    facts.hasDevice = pathExists(device);
    if (facts.hasDevice) {
        facts.bus = linkTargetName(device / "subsystem");
        facts.driver = linkTargetName(device / "driver");
        if (facts.driver.empty())
            facts.driver =
                ueventValue(readSmallFile(device / "uevent", kMaxSysfsFileBytes), "DRIVER");
    }
    return facts;
}

AdapterType classifyAdapter(const AdapterSysfsFacts& facts, bool loopbackFlag) {
    if (loopbackFlag || facts.arpType == kArpLoopback)
        return AdapterType::Loopback;
    if (facts.wireless)
        return AdapterType::Wireless;
    if (!facts.hasDevice)
        return AdapterType::Virtual;
    if (facts.arpType == kArpEther)
        return AdapterType::Ethernet;
    return AdapterType::Other;
}

uint32_t windowsIfType(AdapterType type, int arpType) {
    switch (type) {
        case AdapterType::Ethernet:
            return kIfTypeEthernet;
        case AdapterType::Wireless:
            return kIfTypeIeee80211;
        case AdapterType::Loopback:
            return kIfTypeLoopback;
        case AdapterType::Virtual:
            return arpType == kArpEther ? kIfTypeEthernet : kIfTypeOther;
        case AdapterType::Other:
            break;
    }
    return kIfTypeOther;
}

std::string adapterDescription(AdapterType type, const std::string& bus,
                               const std::string& driverOrDevType) {
    std::string text;
    if (type == AdapterType::Virtual) {
        text = "Virtual";
    } else if (type == AdapterType::Loopback) {
        // Loopback is not on a bus, whatever sysfs links it to.
    } else if (bus == "pci") {
        text = "PCI";
    } else if (bus == "usb") {
        text = "USB";
    } else if (bus == "virtio") {
        text = "VirtIO";
    } else if (bus == "bluetooth") {
        text = "Bluetooth";
    } else if (!bus.empty()) {
        // Sanitised so that only the cases above can spell the words the selection looks for.
        text += asciiLower(bus);
    }
    const char* kind = "Network";
    switch (type) {
        case AdapterType::Ethernet:
            kind = "Ethernet";
            break;
        case AdapterType::Wireless:
            kind = "Wireless";
            break;
        case AdapterType::Loopback:
            kind = "Loopback";
            break;
        case AdapterType::Virtual:
        case AdapterType::Other:
            break;
    }
    if (!text.empty())
        text += ' ';
    text += kind;
    text += " adapter";
    if (!driverOrDevType.empty())
        text += " (" + driverOrDevType + ")";
    return text;
}

std::string formatMacCompact(const std::vector<uint8_t>& mac) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(mac.size() * 2);
    for (uint8_t b : mac) {
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    }
    return text;
}

std::vector<uint8_t> parseMacText(std::string_view text) {
    std::vector<uint8_t> bytes;
    if (text.empty() || (text.size() + 1) % 3 != 0)
        return {};
    for (size_t i = 0; i < text.size(); i += 3) {
        int hi = hexDigitValue(text[i]);
        int lo = hexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0 || (i + 2 < text.size() && text[i + 2] != ':'))
            return {};
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return bytes;
}

std::vector<NetworkAdapter> networkAdapters() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LOG(INFO) << " getifaddrs failed: " << std::strerror(errno);
        return {};
    }
    std::vector<NetworkAdapter> adapters;
    auto adapterNamed = [&adapters](const char* name) -> NetworkAdapter& {
        for (auto& a : adapters) {
            if (a.name == name)
                return a;
        }
        adapters.emplace_back().name = name;
        return adapters.back();
    };
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_name == nullptr)
            continue;
        NetworkAdapter& adapter = adapterNamed(i->ifa_name);
        adapter.up = (i->ifa_flags & IFF_UP) != 0;
        adapter.running = (i->ifa_flags & IFF_RUNNING) != 0;
        if (i->ifa_flags & IFF_LOOPBACK)
            adapter.type = AdapterType::Loopback;
        if (i->ifa_addr == nullptr)
            continue;
        if (i->ifa_addr->sa_family == AF_PACKET) {
            sockaddr_ll link{};
            std::memcpy(&link, i->ifa_addr, sizeof link);
            adapter.index = static_cast<uint32_t>(link.sll_ifindex);
            size_t length = std::min<size_t>(link.sll_halen, sizeof link.sll_addr);
            adapter.mac.assign(link.sll_addr, link.sll_addr + length);
        } else if (i->ifa_addr->sa_family == AF_INET) {
            sockaddr_in in{};
            std::memcpy(&in, i->ifa_addr, sizeof in);
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &in.sin_addr, text, sizeof text) != nullptr)
                adapter.ipv4.emplace_back(text);
        }
    }
    freeifaddrs(list);

    for (auto& adapter : adapters) {
        if (adapter.index == 0)
            adapter.index = if_nametoindex(adapter.name.c_str());
        AdapterSysfsFacts facts = readAdapterSysfs("/sys/class/net", adapter.name);
        if (adapter.mac.empty())
            adapter.mac = parseMacText(facts.address);
        adapter.macText = formatMacCompact(adapter.mac);
        adapter.type = classifyAdapter(facts, adapter.type == AdapterType::Loopback);
        adapter.ifType = windowsIfType(adapter.type, facts.arpType);
        adapter.bus = facts.hasDevice ? facts.bus : "virtual";
        adapter.driver = facts.driver;
        adapter.description = adapterDescription(
            adapter.type, facts.bus, facts.driver.empty() ? facts.devType : facts.driver);
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
    return adapters;
}

const NetworkAdapter* selectIdentityAdapter(const std::vector<NetworkAdapter>& adapters,
                                            std::optional<uint32_t> bestRouteIndex) {
    auto hasSixBytes = [](const NetworkAdapter& a) { return a.mac.size() == 6; };
    if (bestRouteIndex) {
        for (const auto& a : adapters) {
            // The loopback route (or a tunnel) has no usable address: fall back to the list.
            if (a.index == *bestRouteIndex && hasSixBytes(a) &&
                std::any_of(a.mac.begin(), a.mac.end(), [](uint8_t b) { return b != 0; }))
                return &a;
        }
    }
    for (const auto& a : adapters) {
        const std::string& d = a.description;
        bool kindFits = d.find("PCI") != std::string::npos || a.ifType == kIfTypeEthernet ||
                        a.ifType == kIfTypeIeee80211;
        bool excluded =
            d.find("Bluetooth") != std::string::npos || d.find("Virtual") != std::string::npos;
        if (kindFits && !excluded && hasSixBytes(a))
            return &a;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Routes

std::optional<uint32_t> bestInterfaceIndex(std::string_view destination) {
    const std::string text(destination);
    unsigned char address[sizeof(in6_addr)] = {};
    int family = AF_INET;
    size_t addressLength = sizeof(in_addr);
    if (inet_pton(AF_INET, text.c_str(), address) != 1) {
        family = AF_INET6;
        addressLength = sizeof(in6_addr);
        if (inet_pton(AF_INET6, text.c_str(), address) != 1) {
            LOG(INFO) << " Route query: not an IP address: " << text;
            return std::nullopt;
        }
    }
    ScopedFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd.get() < 0) {
        LOG(INFO) << " Route query: netlink socket failed: " << errnoText(errno);
        return std::nullopt;
    }
    timeval timeout{kNetlinkTimeoutSeconds, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    static std::atomic<uint32_t> nextSequence{1};
    const uint32_t sequence = nextSequence.fetch_add(1);
    struct {
        nlmsghdr header;
        rtmsg route;
        alignas(NLMSG_ALIGNTO) unsigned char attribute[RTA_SPACE(sizeof(in6_addr))];
    } request{};
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = sequence;
    request.route.rtm_family = static_cast<unsigned char>(family);
    request.route.rtm_dst_len = static_cast<unsigned char>(addressLength * 8);
    rtattr dst{};
    dst.rta_type = RTA_DST;
    dst.rta_len = static_cast<unsigned short>(RTA_LENGTH(addressLength));
    std::memcpy(request.attribute, &dst, sizeof dst);
    std::memcpy(request.attribute + RTA_LENGTH(0), address, addressLength);
    request.header.nlmsg_len =
        static_cast<uint32_t>(NLMSG_SPACE(sizeof(rtmsg)) + RTA_SPACE(addressLength));

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd.get(), &request, request.header.nlmsg_len, 0,
               reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        LOG(INFO) << " Route query for " << text << ": send failed: " << errnoText(errno);
        return std::nullopt;
    }

    alignas(nlmsghdr) unsigned char buffer[16384];
    for (int message = 0; message < kNetlinkReplyMessages; ++message) {
        ssize_t received = recv(fd.get(), buffer, sizeof buffer, 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            LOG(INFO) << " Route query for " << text << ": no reply: " << errnoText(errno);
            return std::nullopt;
        }
        size_t offset = 0;
        const size_t total = static_cast<size_t>(received);
        while (offset + sizeof(nlmsghdr) <= total) {
            nlmsghdr header{};
            std::memcpy(&header, buffer + offset, sizeof header);
            if (header.nlmsg_len < sizeof header || offset + header.nlmsg_len > total)
                break;
            const unsigned char* payload = buffer + offset + NLMSG_HDRLEN;
            const size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;
            offset += NLMSG_ALIGN(header.nlmsg_len);
            if (header.nlmsg_seq != sequence)
                continue;
            if (header.nlmsg_type == NLMSG_ERROR) {
                nlmsgerr error{};
                if (payloadLength >= sizeof error)
                    std::memcpy(&error, payload, sizeof error);
                if (error.error == 0)
                    continue;
                LOG(INFO) << " Route query for " << text << ": " << errnoText(-error.error);
                return std::nullopt;
            }
            if (header.nlmsg_type != RTM_NEWROUTE || payloadLength < sizeof(rtmsg))
                continue;
            rtmsg route{};
            std::memcpy(&route, payload, sizeof route);
            switch (route.rtm_type) {
                case RTN_UNICAST:
                case RTN_LOCAL:
                case RTN_BROADCAST:
                case RTN_MULTICAST:
                case RTN_ANYCAST:
                    break;
                default:
                    LOG(INFO) << " Route query for " << text << ": route of type "
                              << static_cast<int>(route.rtm_type) << " leads nowhere";
                    return std::nullopt;
            }
            size_t at = NLMSG_ALIGN(sizeof(rtmsg));
            while (at + sizeof(rtattr) <= payloadLength) {
                rtattr attribute{};
                std::memcpy(&attribute, payload + at, sizeof attribute);
                if (attribute.rta_len < sizeof attribute || at + attribute.rta_len > payloadLength)
                    break;
                if (attribute.rta_type == RTA_OIF &&
                    attribute.rta_len >= RTA_LENGTH(sizeof(uint32_t))) {
                    uint32_t index = 0;
                    std::memcpy(&index, payload + at + RTA_LENGTH(0), sizeof index);
                    return index;
                }
                at += RTA_ALIGN(attribute.rta_len);
            }
            LOG(INFO) << " Route query for " << text << ": the route names no interface";
            return std::nullopt;
        }
    }
    LOG(INFO) << " Route query for " << text << ": no answer among the replies";
    return std::nullopt;
}

std::optional<NetworkAdapter> bestRouteAdapter(std::string_view destination) {
    std::optional<uint32_t> index = bestInterfaceIndex(destination);
    if (!index)
        return std::nullopt;
    for (auto& adapter : networkAdapters()) {
        if (adapter.index == *index)
            return std::move(adapter);
    }
    LOG(INFO) << " Route to " << destination << " uses interface " << *index
              << ", which is not listed";
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Volume serial

uint32_t volumeSerialFromUuid(std::string_view uuid) {
    if (uuid.size() == 9 && uuid[4] == '-') {
        std::string digits = std::string(uuid.substr(0, 4)) + std::string(uuid.substr(5));
        return parseHex32(digits).value_or(0);
    }
    if (uuid.size() == 16 && allHex(uuid))
        return parseHex32(uuid.substr(8)).value_or(0);
    if (uuid.size() == 36) {
        for (size_t dash : {8, 13, 18, 23}) {
            if (uuid[dash] != '-')
                return 0;
        }
        std::string digits(uuid);
        digits.erase(std::remove(digits.begin(), digits.end(), '-'), digits.end());
        if (digits.size() != 32 || !allHex(digits))
            return 0;
        return parseHex32(std::string_view(digits).substr(0, 8)).value_or(0);
    }
    return 0;
}

namespace {

// Decodes the \ooo escapes mountinfo uses for blanks, tabs, newlines and backslashes.
std::string decodeMountField(std::string_view field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
            octal(field[i + 2]) && octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> splitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::optional<MountInfoEntry> parseMountInfoLine(std::string_view line) {
    std::vector<std::string_view> f = splitBlanks(line);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    if (f.size() < 10)
        return std::nullopt;
    auto separator = std::find(f.begin() + 6, f.end(), std::string_view("-"));
    if (separator == f.end() || std::distance(separator, f.end()) < 3)
        return std::nullopt;
    MountInfoEntry entry;
    std::string_view device = f[2];
    size_t colon = device.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == device.size())
        return std::nullopt;
    auto number = [](std::string_view digits, unsigned& value) {
        value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9' || value > 0xFFFFFFF)
                return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return true;
    };
    if (!number(device.substr(0, colon), entry.major) ||
        !number(device.substr(colon + 1), entry.minor))
        return std::nullopt;
    entry.mountPoint = decodeMountField(f[4]);
    entry.fsType = decodeMountField(*(separator + 1));
    entry.source = decodeMountField(*(separator + 2));
    return entry;
}

}  // namespace

std::optional<MountInfoEntry> findMountInfoEntry(std::string_view mountInfo,
                                                 std::string_view mountPoint) {
    std::optional<MountInfoEntry> found;
    while (!mountInfo.empty()) {
        size_t end = mountInfo.find('\n');
        std::string_view line = mountInfo.substr(0, end);
        if (auto entry = parseMountInfoLine(line); entry && entry->mountPoint == mountPoint)
            found = std::move(entry);
        if (end == std::string_view::npos)
            break;
        mountInfo.remove_prefix(end + 1);
    }
    return found;
}

std::string rootFilesystemUuid(const fs::path& mountInfoFile, const fs::path& byUuidDir) {
    std::string text = readSmallFile(mountInfoFile, kMaxMountInfoBytes);
    std::optional<MountInfoEntry> root = findMountInfoEntry(text, "/");
    if (!root) {
        LOG(INFO) << " Volume serial: no entry for / in " << mountInfoFile.string();
        return {};
    }
    const dev_t device = makedev(root->major, root->minor);
    std::error_code ec;
    fs::path source;
    if (!root->source.empty() && root->source.front() == '/')
        source = fs::weakly_canonical(root->source, ec);
    fs::directory_iterator it(byUuidDir, ec);
    if (ec) {
        LOG(INFO) << " Volume serial: cannot list " << byUuidDir.string() << ": " << ec.message();
        return {};
    }
    int seen = 0;
    for (; it != fs::directory_iterator() && seen < kMaxByUuidEntries; it.increment(ec), ++seen) {
        if (ec)
            break;
        const fs::path& link = it->path();
        struct stat st {};
        // Major 0 is an anonymous device (btrfs subvolume, overlay): only the source can match.
        if (root->major != 0 && stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == device)
            return link.filename().string();
        if (!source.empty()) {
            std::error_code canonicalError;
            fs::path target = fs::weakly_canonical(link, canonicalError);
            if (!canonicalError && target == source)
                return link.filename().string();
        }
    }
    LOG(INFO) << " Volume serial: no file-system UUID for " << root->source << " (" << root->major
              << ":" << root->minor << ") in " << byUuidDir.string();
    return {};
}

uint32_t volumeSerial() {
    // The root file system does not change while the program runs; every event asks for it.
    static const uint32_t serial = volumeSerialFromUuid(rootFilesystemUuid());
    return serial;
}

// ---------------------------------------------------------------------------------------------
// Proxy

ProxySettings parseProxyEnvironment(const std::map<std::string, std::string>& environment) {
    auto value = [&environment](const char* name) -> std::string {
        auto it = environment.find(name);
        return it == environment.end() ? std::string() : std::string(trim(it->second));
    };
    auto firstOf = [&value](std::initializer_list<const char*> names) -> std::string {
        for (const char* name : names) {
            if (std::string v = value(name); !v.empty())
                return v;
        }
        return {};
    };
    ProxySettings settings;
    settings.httpProxy = firstOf({"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"});
    settings.httpsProxy = firstOf({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
    settings.noProxy = firstOf({"no_proxy", "NO_PROXY"});
    return settings;
}

ProxySettings readProxySettings() {
    std::map<std::string, std::string> environment;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        if (const char* v = std::getenv(name))
            environment[name] = v;
    }
    return parseProxyEnvironment(environment);
}

}  // namespace platform
