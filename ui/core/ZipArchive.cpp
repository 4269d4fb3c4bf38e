#include "ui/ZipArchive.h"

#include <zip.h>

#include "Logging.h"
#include "TextUtil.h"

namespace ui {
namespace {

void setError(std::string* error, std::string message) {
    LOG(INFO) << " " << message;
    if (error)
        *error = std::move(message);
}

struct ZipFileCloser {
    void operator()(zip_file_t* f) const {
        if (f)
            zip_fclose(f);
    }
};

}  // namespace

std::string ZipArchive::NormalizeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            c = '/';
        c = asciiLower(c);
        if (c == '/' && (out.empty() || out.back() == '/'))
            continue;
        out.push_back(c);
    }
    while (out.size() >= 2 && out.compare(0, 2, "./") == 0)
        out.erase(0, 2);
    return out;
}

std::unique_ptr<ZipArchive> ZipArchive::OpenFromMemory(std::vector<uint8_t> bytes,
                                                       std::string* error) {
    if (bytes.empty()) {
        setError(error, "Zip archive is empty");
        return nullptr;
    }
    std::unique_ptr<ZipArchive> archive(new ZipArchive());
    archive->m_bytes = std::move(bytes);
    zip_error_t zerr;
    zip_error_init(&zerr);
    zip_source_t* src =
        zip_source_buffer_create(archive->m_bytes.data(), archive->m_bytes.size(), 0, &zerr);
    if (!src) {
        setError(error, std::string("Zip source failed: ") + zip_error_strerror(&zerr));
        zip_error_fini(&zerr);
        return nullptr;
    }
    archive->m_zip = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &zerr);
    if (!archive->m_zip) {
        setError(error, std::string("Zip open failed: ") + zip_error_strerror(&zerr));
        zip_source_free(src);
        zip_error_fini(&zerr);
        return nullptr;
    }
    zip_error_fini(&zerr);

    const zip_int64_t count = zip_get_num_entries(archive->m_zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* raw =
            zip_get_name(archive->m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!raw)
            continue;
        std::string name(raw);
        if (name.empty() || name.back() == '/' || name.back() == '\\')
            continue;  // folder entries
        archive->m_names.push_back(name);
        // The first of two entries that differ only in case or separators wins.
        archive->m_index.emplace(NormalizeName(name), static_cast<uint64_t>(i));
    }
    return archive;
}

ZipArchive::~ZipArchive() {
    if (m_zip)
        zip_discard(m_zip);
}

std::optional<uint64_t> ZipArchive::FindEntry(std::string_view name) const {
    auto it = m_index.find(NormalizeName(name));
    if (it == m_index.end())
        return std::nullopt;
    return it->second;
}

bool ZipArchive::Unzip(std::string_view name, std::vector<uint8_t>& out, std::string* error,
                       uint64_t maxBytes) const {
    out.clear();
    auto index = FindEntry(name);
    if (!index) {
        setError(error, "Zip entry not found: " + std::string(name));
        return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, *index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
        setError(error, "Zip entry unreadable: " + std::string(name));
        return false;
    }
    if (st.size > maxBytes) {
        setError(error, "Zip entry too large: " + std::string(name) + " (" +
                            std::to_string(st.size) + " bytes)");
        return false;
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(m_zip, *index, 0));
    if (!file) {
        setError(error,
                 "Zip entry cannot be opened: " + std::string(name) + ": " + zip_strerror(m_zip));
        return false;
    }
    out.resize(static_cast<size_t>(st.size));
    uint64_t done = 0;
    // Read past the declared size once more: libzip checks the CRC when it reaches the end.
    while (true) {
        uint8_t probe = 0;
        void* dst = done < out.size() ? static_cast<void*>(out.data() + done) : &probe;
        const zip_uint64_t want = done < out.size() ? out.size() - done : 1;
        const zip_int64_t n = zip_fread(file.get(), dst, want);
        if (n < 0) {
            setError(error, "Zip entry corrupt: " + std::string(name) + ": " +
                                zip_file_strerror(file.get()));
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        if (done >= out.size()) {
            setError(error, "Zip entry longer than declared: " + std::string(name));
            out.clear();
            return false;
        }
        done += static_cast<uint64_t>(n);
    }
    if (done != out.size()) {
        setError(error, "Zip entry shorter than declared: " + std::string(name));
        out.clear();
        return false;
    }
    return true;
}

std::optional<std::string> ZipArchive::UnzipText(std::string_view name, std::string* error) const {
    std::vector<uint8_t> bytes;
    if (!Unzip(name, bytes, error))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ui
