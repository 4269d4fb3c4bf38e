#include "pack.h"

#include <zip.h>

#include <algorithm>
#include <ctime>
#include <map>

namespace kvres {
namespace {

// 2020-01-01 00:00 UTC: any fixed date inside the DOS time range keeps builds reproducible.
constexpr time_t kFixedTime = 1577836800;

}  // namespace

bool packFolders(const std::vector<std::filesystem::path>& folders,
                 const std::filesystem::path& out, std::string* error) {
    std::error_code ec;
    // Archive name → file on disk; a name two folders both give is refused, not overwritten.
    std::map<std::string, std::filesystem::path> files;
    for (const auto& folder : folders) {
        if (!std::filesystem::is_directory(folder, ec)) {
            *error = "not a folder: " + folder.string();
            return false;
        }
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file(ec))
                continue;
            const std::string name = it->path().lexically_relative(folder).generic_string();
            auto [at, added] = files.emplace(name, it->path());
            if (!added) {
                *error = "both " + at->second.string() + " and " + it->path().string() +
                         " would be " + name;
                return false;
            }
        }
        if (ec) {
            *error = "cannot list " + folder.string() + ": " + ec.message();
            return false;
        }
    }

    const std::filesystem::path tmp = out.string() + ".tmp";
    std::filesystem::remove(tmp, ec);
    int zerr = 0;
    zip_t* archive = zip_open(tmp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &zerr);
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, zerr);
        *error = "cannot create " + tmp.string() + ": " + zip_error_strerror(&e);
        zip_error_fini(&e);
        return false;
    }
    for (const auto& [name, file] : files) {
        zip_source_t* src = zip_source_file(archive, file.c_str(), 0, -1);
        zip_int64_t index = src ? zip_file_add(archive, name.c_str(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (src)
                zip_source_free(src);
            *error = "cannot add " + file.string() + ": " + zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
        zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), kFixedTime, 0);
    }
    if (zip_close(archive) != 0) {
        *error = "cannot write " + tmp.string() + ": " + zip_strerror(archive);
        zip_discard(archive);
        std::filesystem::remove(tmp, ec);
        return false;
    }
    std::filesystem::rename(tmp, out, ec);
    if (ec) {
        *error = "cannot rename " + tmp.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool packFolder(const std::filesystem::path& folder, const std::filesystem::path& out,
                std::string* error) {
    return packFolders({folder}, out, error);
}

}  // namespace kvres
