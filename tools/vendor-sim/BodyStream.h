#pragma once
// A file body streamed from disk in small reads, so many parallel range answers of a large
// file cost a buffer each, not a copy of the file. The stream can be paced, paused once, or
// cut off mid-body to play a slow, stalled or broken server.

#include <httplib.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "RateCap.h"
#include "StopSignal.h"

namespace vsim {

// An open source file and what fstat said of it when it was opened. Streams read this
// descriptor, so a file replaced (renamed over) meanwhile does not mix into an answer.
class SourceFile {
public:
    // Null with `error` set when `path` cannot be opened or is not a regular file.
    static std::shared_ptr<const SourceFile> open(const std::filesystem::path& path,
                                                  std::string& error);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int fd() const { return m_fd; }
    uint64_t size() const { return m_size; }
    std::time_t mtime() const { return m_mtime; }

private:
    SourceFile(int fd, uint64_t size, std::time_t mtime) : m_fd(fd), m_size(size), m_mtime(mtime) {}
    int m_fd;
    uint64_t m_size;
    std::time_t m_mtime;
};

// Which bytes leave, and how.
struct BodyPlan {
    uint64_t offset = 0;                 // in the file
    uint64_t length = 0;                 // as announced by Content-Length
    uint64_t bytesPerSecond = 0;         // 0 = as fast as the client reads
    std::optional<uint64_t> breakAfter;  // bytes of the body sent before the pause or the cut
    int pauseMs = 0;                     // waited at `breakAfter`
    bool closeAtBreak = false;           // then drop the connection short of `length`
    RateCap* cap = nullptr;              // shared with the other bodies; null = none
};

// Longest a paced body or a pause may hold a listener thread; a paced body still unsent then
// loses its connection.
constexpr int kMaxWaitMs = 60000;

// Makes `file`'s bytes the body of `response` as `plan` says. The file stays open until the
// response is gone. Every wait ends early when `stop` is raised (the connection is dropped),
// and a read that comes up short (the file shrank) drops the connection as well.
void streamBody(httplib::Response& response, std::shared_ptr<const SourceFile> file,
                const BodyPlan& plan, const StopSignal& stop);

}  // namespace vsim
