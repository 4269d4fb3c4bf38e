#pragma once
// Network facts of the machine: connectivity, the adapter list, the adapter of the best route
// to an address, the volume serial of the root file system and the proxy variables.
//
// Nothing here sends a packet: the adapter list comes from getifaddrs(3) and /sys/class/net,
// the route from a netlink RTM_GETROUTE query (the kernel's routing decision, as
// `ip route get` shows it).
//
// Threads: everything may be called from any thread. readProxySettings reads the environment
// and must not race a setenv/unsetenv on another thread (the program sets its environment
// only at start-up). The pure functions touch nothing but their arguments. Nothing throws;
// failures are logged and give an empty list, nullopt, "" or 0.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// True when an interface other than loopback is up and running, as a connectivity check
// that sends no packet.
bool isNetworkAlive();

// ---------------------------------------------------------------------------------------------
// Adapters

enum class AdapterType {
    Ethernet,  // a device-backed interface with Ethernet framing
    Wireless,  // has /sys/class/net/<if>/wireless or phy80211
    Loopback,
    Virtual,  // a software interface: no device link (bridge, veth, tun, ifb, ...)
    Other,    // device-backed with another framing (InfiniBand, CAN, ...)
};

// Windows interface types (IANA ifType) the adapter selection compares against.
inline constexpr uint32_t kIfTypeOther = 1;
inline constexpr uint32_t kIfTypeEthernet = 6;
inline constexpr uint32_t kIfTypeLoopback = 24;
inline constexpr uint32_t kIfTypeIeee80211 = 71;

// ARPHRD_* values of /sys/class/net/<if>/type that the classification needs.
inline constexpr int kArpEther = 1;
inline constexpr int kArpLoopback = 772;

struct NetworkAdapter {
    uint32_t index = 0;        // interface index, as routes name it
    std::string name;          // "eth0"
    std::string description;   // see adapterDescription()
    std::vector<uint8_t> mac;  // hardware address as the kernel gives it (6 bytes for Ethernet)
    std::string macText;       // mac in upper-case hex without separators, "02FC00000001"
    AdapterType type = AdapterType::Other;
    uint32_t ifType = kIfTypeOther;  // windowsIfType()
    std::string bus;                 // "pci", "usb", "virtio", ...; "virtual" without a device
    std::string driver;              // kernel driver of the device; "" when none
    bool up = false;                 // IFF_UP
    bool running = false;            // IFF_RUNNING
    std::vector<std::string> ipv4;   // dotted addresses, in the order the kernel lists them
};

// What /sys/class/net/<if> tells about one interface.
struct AdapterSysfsFacts {
    int arpType = -1;        // the "type" file; -1 when unreadable
    std::string address;     // the "address" file, "02:fc:00:00:00:01"
    bool hasDevice = false;  // a "device" link exists
    std::string bus;         // file name of device/subsystem; "" without one
    std::string driver;      // file name of device/driver, else DRIVER= of device/uevent
    std::string devType;     // DEVTYPE= of the interface's uevent ("bridge", "wlan", ...)
    bool wireless = false;   // "wireless" or "phy80211" exists
};

// Reads the facts of interface `name` under `classNetDir` (normally /sys/class/net); every
// missing file leaves its field at the default. Tests point it at a folder of their own.
AdapterSysfsFacts readAdapterSysfs(const std::filesystem::path& classNetDir,
                                   const std::string& name);

// Loopback (loopback flag or ARPHRD_LOOPBACK) before wireless, before virtual (no device),
// then Ethernet for Ethernet framing, else Other. Pure.
AdapterType classifyAdapter(const AdapterSysfsFacts& facts, bool loopbackFlag);

// The Windows ifType of an adapter: Ethernet 6, Wireless 71, Loopback 24; a virtual adapter
// with Ethernet framing 6 (as Windows lists its virtual switches); anything else 1. Pure.
uint32_t windowsIfType(AdapterType type, int arpType);

// A Windows-like description built from the facts, so the description tests of the identity
// rules mean the same here: "<Bus> <Kind> adapter" followed by " (<driver or devtype>)" when
// known. Bus words: "PCI", "USB", "VirtIO", "Bluetooth", "Virtual" (no device), else the
// subsystem name in lower case, nothing for loopback; kinds: "Ethernet", "Wireless",
// "Loopback", "Network". Only a software interface says "Virtual"; only a Bluetooth one says
// "Bluetooth". `bus` is AdapterSysfsFacts::bus. Pure.
std::string adapterDescription(AdapterType type, const std::string& bus,
                               const std::string& driverOrDevType);

// "%02X" of each byte, no separators. Pure.
std::string formatMacCompact(const std::vector<uint8_t>& mac);

// Parses "02:fc:00:00:00:01" (any length of ":"-separated hex pairs); empty when malformed.
std::vector<uint8_t> parseMacText(std::string_view text);

// Every interface of the machine, ordered by index; loopback included. Empty (logged) when
// getifaddrs fails.
std::vector<NetworkAdapter> networkAdapters();

// The adapter whose MAC identifies the machine: the adapter of `bestRouteIndex` when it is
// given and present with a 6-byte, not all-zero address; otherwise the first adapter in list
// order whose description contains "PCI" or whose ifType is 6 or 71, whose description
// contains neither "Bluetooth" nor "Virtual", and whose address is 6 bytes long. nullptr when
// none qualifies. The pointer refers into `adapters`. Pure.
const NetworkAdapter* selectIdentityAdapter(const std::vector<NetworkAdapter>& adapters,
                                            std::optional<uint32_t> bestRouteIndex);

// ---------------------------------------------------------------------------------------------
// Routes

// The interface index of the route the kernel would choose for `destination` (an IPv4 or IPv6
// address in text form), by one netlink RTM_GETROUTE query that sends no packet. nullopt
// (logged) for a malformed address, no route (a machine with loopback only, unreachable or
// prohibited destinations), or a netlink failure. The query waits at most one second.
std::optional<uint32_t> bestInterfaceIndex(std::string_view destination);

// The address the identity rules route to.
inline constexpr std::string_view kIdentityRouteDestination = "8.8.8.8";

// The adapter of bestInterfaceIndex(destination) in networkAdapters(); nullopt when there is
// no route or the interface is gone meanwhile.
std::optional<NetworkAdapter> bestRouteAdapter(
    std::string_view destination = kIdentityRouteDestination);

// ---------------------------------------------------------------------------------------------
// Volume serial

// A 32-bit volume serial number from a file-system UUID text, as Windows shows one:
//   "XXXX-XXXX" (FAT): those eight hex digits;
//   sixteen hex digits (NTFS): the low 32 bits, that is the last eight;
//   a 36-character UUID "8-4-4-4-12": its first eight hex digits.
// Case does not matter. 0 for anything else (0 means "unknown" to callers). Pure.
uint32_t volumeSerialFromUuid(std::string_view uuid);

struct MountInfoEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint;  // octal escapes (\040) decoded
    std::string fsType;
    std::string source;  // "/dev/vda1", "overlay", ...
};

// The entry of /proc/<pid>/mountinfo text for `mountPoint`; the last one wins, as a later
// mount hides an earlier one. nullopt when none or malformed. Pure.
std::optional<MountInfoEntry> findMountInfoEntry(std::string_view mountInfo,
                                                 std::string_view mountPoint);

// The UUID of the file system mounted at "/": the name of the entry of `byUuidDir` whose link
// leads to the block device of that mount (same device number) or to its source path. ""
// (logged) when unknown: no such folder (containers without udev), an overlay root, ...
std::string rootFilesystemUuid(const std::filesystem::path& mountInfoFile = "/proc/self/mountinfo",
                               const std::filesystem::path& byUuidDir = "/dev/disk/by-uuid");

// volumeSerialFromUuid(rootFilesystemUuid()); 0 when unknown.
uint32_t volumeSerial();

// ---------------------------------------------------------------------------------------------
// Proxy

struct ProxySettings {
    std::string httpProxy;   // http_proxy, else HTTP_PROXY, else all_proxy / ALL_PROXY
    std::string httpsProxy;  // https_proxy, else HTTPS_PROXY, else all_proxy / ALL_PROXY
    std::string noProxy;     // no_proxy, else NO_PROXY

    bool empty() const { return httpProxy.empty() && httpsProxy.empty() && noProxy.empty(); }
    bool operator==(const ProxySettings&) const = default;
};

// The settings from environment variables (name → value). The lower-case name wins over the
// upper-case one, as in curl; a variable that is empty or only blanks counts as unset; values
// are trimmed of surrounding blanks. Pure.
ProxySettings parseProxyEnvironment(const std::map<std::string, std::string>& environment);

// parseProxyEnvironment of this process's environment.
ProxySettings readProxySettings();

}  // namespace platform
