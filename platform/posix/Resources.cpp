#include "platform/Resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "Logging.h"
#include "platform/FileIo.h"

namespace platform {
namespace {

constexpr std::array<uint8_t, 8> kMagic = {'K', 'V', 'R', 'S', 'R', 'C', '\r', '\n'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kMaxTypeLength = 64;
// A program with more resources than this is not one of ours.
constexpr uint32_t kMaxEntries = 4096;

uint32_t crc32(std::span<const uint8_t> bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes)
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

template <typename T>
void putLe(std::vector<uint8_t>& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Reads little-endian integers from a bounded span; every read checks what is left.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    template <typename T>
    bool read(T& value) {
        if (m_bytes.size() - m_pos < sizeof(T))
            return false;
        value = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<T>(m_bytes[m_pos + i]) << (8 * i);
        m_pos += sizeof(T);
        return true;
    }
    bool readString(size_t length, std::string& value) {
        if (m_bytes.size() - m_pos < length)
            return false;
        value.assign(reinterpret_cast<const char*>(m_bytes.data() + m_pos), length);
        m_pos += length;
        return true;
    }
    bool atEnd() const { return m_pos == m_bytes.size(); }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

bool validType(std::string_view type) {
    if (type.empty() || type.size() > kMaxTypeLength)
        return false;
    return std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

struct Trailer {
    uint32_t count = 0;
    uint64_t tableSize = 0;
    uint32_t directorySize = 0;
    uint32_t crc = 0;
};

std::optional<Trailer> readTrailer(std::span<const uint8_t> fileTail) {
    if (fileTail.size() < kResourceTrailerSize)
        return std::nullopt;
    auto raw = fileTail.subspan(fileTail.size() - kResourceTrailerSize);
    if (!std::equal(kMagic.begin(), kMagic.end(), raw.begin()))
        return std::nullopt;
    Reader r(raw.subspan(kMagic.size()));
    uint32_t version = 0;
    Trailer t;
    if (!r.read(version) || !r.read(t.count) || !r.read(t.tableSize) || !r.read(t.directorySize) ||
        !r.read(t.crc))
        return std::nullopt;
    if (version != kFormatVersion || t.count > kMaxEntries)
        return std::nullopt;
    if (t.tableSize < kResourceTrailerSize || t.tableSize > fileTail.size())
        return std::nullopt;
    if (t.directorySize > t.tableSize - kResourceTrailerSize)
        return std::nullopt;
    return t;
}

}  // namespace

const ResourceEntry* ResourceTable::find(std::string_view type, uint32_t id) const {
    for (const auto& e : m_entries)
        if (e.id == id && e.type == type)
            return &e;
    return nullptr;
}

void ResourceTable::put(std::string_view type, uint32_t id, std::vector<uint8_t> data) {
    for (auto& e : m_entries) {
        if (e.id == id && e.type == type) {
            e.data = std::move(data);
            return;
        }
    }
    m_entries.push_back(ResourceEntry{std::string(type), id, std::move(data)});
}

bool ResourceTable::remove(std::string_view type, uint32_t id) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const ResourceEntry& e) { return e.id == id && e.type == type; });
    if (it == m_entries.end())
        return false;
    m_entries.erase(it);
    return true;
}

std::optional<ResourceTable> parseResourceTable(std::span<const uint8_t> fileTail) {
    auto trailer = readTrailer(fileTail);
    if (!trailer)
        return std::nullopt;
    auto table = fileTail.subspan(fileTail.size() - trailer->tableSize);
    const size_t bodySize = table.size() - kResourceTrailerSize;
    const size_t dataSize = bodySize - trailer->directorySize;
    if (crc32(table.first(bodySize)) != trailer->crc)
        return std::nullopt;

    Reader dir(table.subspan(dataSize, trailer->directorySize));
    std::vector<ResourceEntry> entries;
    entries.reserve(trailer->count);
    for (uint32_t i = 0; i < trailer->count; ++i) {
        uint16_t typeLength = 0;
        ResourceEntry entry;
        uint64_t offset = 0;
        uint64_t size = 0;
        if (!dir.read(typeLength) || !dir.readString(typeLength, entry.type) ||
            !dir.read(entry.id) || !dir.read(offset) || !dir.read(size))
            return std::nullopt;
        if (!validType(entry.type) || offset > dataSize || size > dataSize - offset)
            return std::nullopt;
        auto bytes = table.subspan(offset, size);
        entry.data.assign(bytes.begin(), bytes.end());
        for (const auto& seen : entries)
            if (seen.id == entry.id && seen.type == entry.type)
                return std::nullopt;
        entries.push_back(std::move(entry));
    }
    if (!dir.atEnd())
        return std::nullopt;
    return ResourceTable(std::move(entries));
}

uint64_t resourceTableSize(std::span<const uint8_t> fileTail) {
    auto trailer = readTrailer(fileTail);
    if (!trailer || !parseResourceTable(fileTail))
        return 0;
    return trailer->tableSize;
}

std::vector<uint8_t> serializeResourceTable(const ResourceTable& table) {
    std::vector<uint8_t> out;
    if (table.empty())
        return out;
    std::vector<uint8_t> directory;
    for (const auto& e : table.entries()) {
        putLe<uint16_t>(directory, static_cast<uint16_t>(e.type.size()));
        directory.insert(directory.end(), e.type.begin(), e.type.end());
        putLe<uint32_t>(directory, e.id);
        putLe<uint64_t>(directory, out.size());
        putLe<uint64_t>(directory, e.data.size());
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    out.insert(out.end(), directory.begin(), directory.end());
    const uint32_t crc = crc32(out);
    const uint64_t tableSize = out.size() + kResourceTrailerSize;
    out.insert(out.end(), kMagic.begin(), kMagic.end());
    putLe<uint32_t>(out, kFormatVersion);
    putLe<uint32_t>(out, static_cast<uint32_t>(table.entries().size()));
    putLe<uint64_t>(out, tableSize);
    putLe<uint32_t>(out, static_cast<uint32_t>(directory.size()));
    putLe<uint32_t>(out, crc);
    return out;
}

namespace {

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool readAt(int fd, uint64_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n =
            ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads the table at the end of an open file without reading the program in front of it.
// Returns the table and its size in the file (0 when there is no valid table).
std::pair<ResourceTable, uint64_t> readTableOf(int fd, const std::filesystem::path& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    std::vector<uint8_t> trailer(kResourceTrailerSize);
    if (fileSize < kResourceTrailerSize || !readAt(fd, fileSize - kResourceTrailerSize, trailer))
        return {};
    // A program without resources is the normal case for a freshly linked binary: no log line.
    if (!std::equal(kMagic.begin(), kMagic.end(), trailer.begin()))
        return {};
    uint64_t tableSize = 0;
    Reader r(std::span<const uint8_t>(trailer).subspan(kMagic.size() + 8));
    if (!r.read(tableSize) || tableSize < kResourceTrailerSize || tableSize > fileSize) {
        LOG(INFO) << " Resource table of " << path.string() << " has a bad size, ignored";
        return {};
    }
    std::vector<uint8_t> tail(tableSize);
    if (!readAt(fd, fileSize - tableSize, tail))
        return {};
    auto table = parseResourceTable(tail);
    if (!table) {
        LOG(INFO) << " Resource table of " << path.string() << " is corrupt, ignored";
        return {};
    }
    return {std::move(*table), tableSize};
}

}  // namespace

ResourceTable readResources(const std::filesystem::path& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        LOG(INFO) << " Cannot open " << path.string()
                  << " to read its resources: " << std::strerror(errno);
        return {};
    }
    return readTableOf(fd.get(), path).first;
}

ResourceTable readOwnResources() {
    return readResources("/proc/self/exe");
}

bool writeResources(const std::filesystem::path& path, const ResourceTable& table,
                    std::string* error) {
    auto fail = [&](const std::string& why) {
        const std::string message = why + " (" + path.string() + "): " + std::strerror(errno);
        LOG(INFO) << " " << message;
        if (error)
            *error = message;
        return false;
    };
    Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return fail("cannot open the program");
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail("not a regular file");
    const uint64_t oldTable = readTableOf(in.get(), path).second;
    const uint64_t programSize = static_cast<uint64_t>(st.st_size) - oldTable;

    const std::filesystem::path tmp = path.string() + ".kvres-tmp";
    Fd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (out.get() < 0)
        return fail("cannot create a temporary file");
    std::vector<uint8_t> buffer(1 << 20);
    for (uint64_t done = 0; done < programSize;) {
        const size_t chunk =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), programSize - done));
        std::span<uint8_t> part(buffer.data(), chunk);
        if (!readAt(in.get(), done, part) || !writeAll(out.get(), part)) {
            ::unlink(tmp.c_str());
            return fail("cannot copy the program");
        }
        done += chunk;
    }
    const auto bytes = serializeResourceTable(table);
    if (!writeAll(out.get(), bytes) || ::fsync(out.get()) != 0 ||
        ::fchmod(out.get(), st.st_mode & 07777) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot write the resource table");
    }
    if (::close(out.release()) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot replace the program");
    }
    return true;
}

}  // namespace platform
