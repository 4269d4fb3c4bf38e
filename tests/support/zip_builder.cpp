#include "zip_builder.h"

#include <zip.h>

namespace kvtest {

std::vector<uint8_t> makeZip(const std::map<std::string, std::string>& files, bool compress) {
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &err);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &err);
    zip_source_keep(buffer);
    for (const auto& [name, content] : files) {
        if (!name.empty() && name.back() == '/') {
            zip_dir_add(archive, name.c_str(), 0);
            continue;
        }
        zip_source_t* src = zip_source_buffer(archive, content.data(), content.size(), 0);
        zip_int64_t index = zip_file_add(archive, name.c_str(), src, 0);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 9);
    }
    zip_close(archive);
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    const auto size = zip_source_tell(buffer);
    zip_source_seek(buffer, 0, SEEK_SET);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    zip_source_read(buffer, bytes.data(), bytes.size());
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&err);
    return bytes;
}

}  // namespace kvtest
