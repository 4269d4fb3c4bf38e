#include "BodyStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace vsim {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;
// A paced body goes out in about twenty pieces a second, so its rate looks steady to a
// client that measures it over a second.
constexpr uint64_t kPiecesPerSecond = 20;

using Clock = std::chrono::steady_clock;

// Called by the library again and again with the count of bytes sent so far, until it calls
// `sink.done()`; false drops the connection. One answer, one thread.
class BodyPump {
public:
    BodyPump(std::shared_ptr<const SourceFile> file, const BodyPlan& plan, const StopSignal& stop)
        : m_file(std::move(file)), m_plan(plan), m_stop(stop) {}

    bool pump(uint64_t sent, httplib::DataSink& sink) {
        if (m_stop.raised())
            return false;
        if (m_plan.breakAfter && sent == *m_plan.breakAfter && !m_broken) {
            m_broken = true;
            int pause = std::min(m_plan.pauseMs, kMaxWaitMs);
            if (pause > 0 && !m_stop.sleepFor(pause))
                return false;
            if (m_plan.closeAtBreak)
                return false;
        }
        if (sent >= m_plan.length) {
            sink.done();
            return true;
        }
        uint64_t want = std::min<uint64_t>(kChunkBytes, m_plan.length - sent);
        if (m_plan.breakAfter && !m_broken && sent < *m_plan.breakAfter)
            want = std::min(want, *m_plan.breakAfter - sent);
        if (m_plan.bytesPerSecond > 0) {
            want = std::min(want, std::max<uint64_t>(1, m_plan.bytesPerSecond / kPiecesPerSecond));
            if (!waitUntilDue(sent))
                return false;
        }
        if (m_plan.cap) {
            want = std::min(want, m_plan.cap->pieceBytes());
            if (!m_plan.cap->take(want, kMaxWaitMs, m_stop))
                return false;
        }
        if (m_buffer.empty())
            m_buffer.resize(kChunkBytes);
        ssize_t got = ::pread(m_file->fd(), m_buffer.data(), static_cast<size_t>(want),
                              static_cast<off_t>(m_plan.offset + sent));
        while (got < 0 && errno == EINTR)
            got = ::pread(m_file->fd(), m_buffer.data(), static_cast<size_t>(want),
                          static_cast<off_t>(m_plan.offset + sent));
        if (got <= 0)
            return false;
        return sink.write(m_buffer.data(), static_cast<size_t>(got));
    }

private:
    // Byte `sent` is due `sent / bytesPerSecond` seconds after the first one.
    bool waitUntilDue(uint64_t sent) {
        if (sent == 0)
            m_start = Clock::now();
        auto due = m_start + std::chrono::microseconds(static_cast<int64_t>(
                                 static_cast<long double>(sent) * 1e6L /
                                 static_cast<long double>(m_plan.bytesPerSecond)));
        if (due - m_start > std::chrono::milliseconds(kMaxWaitMs))
            return false;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        return wait.count() <= 0 || m_stop.sleepFor(static_cast<int>(wait.count()));
    }

    std::shared_ptr<const SourceFile> m_file;
    const BodyPlan m_plan;
    const StopSignal& m_stop;
    std::vector<char> m_buffer;
    Clock::time_point m_start = Clock::now();
    bool m_broken = false;
};

}  // namespace

std::shared_ptr<const SourceFile> SourceFile::open(const std::filesystem::path& path,
                                                   std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path.string() + " is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<const SourceFile>(
        new SourceFile(fd, static_cast<uint64_t>(info.st_size), info.st_mtime));
}

SourceFile::~SourceFile() {
    ::close(m_fd);
}

void streamBody(httplib::Response& response, std::shared_ptr<const SourceFile> file,
                const BodyPlan& plan, const StopSignal& stop) {
    // Without a length the library neither adds a Content-Length of its own (the service sets
    // it, true or not) nor checks the count: the pump alone decides where the body ends.
    auto pump = std::make_shared<BodyPump>(std::move(file), plan, stop);
    response.set_content_provider(
        "application/octet-stream",
        [pump](size_t sent, httplib::DataSink& sink) { return pump->pump(sent, sink); });
}

}  // namespace vsim
