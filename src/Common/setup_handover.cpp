#include "Common/setup_handover.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "DownLoadImpl.h"
#include "platform/FileIo.h"

namespace {

// The copy goes on in steps of this size; the digests read what is copied in pieces.
constexpr size_t kCopyStep = 1 << 20;
constexpr size_t kHashPiece = 256 << 10;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// How far the copy has got, for the threads that hash it behind the copier. The copier never
// waits for them, so a digest thread that loses its core holds nothing else up.
class CopyProgress {
public:
    void advance(uint64_t copied) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_copied = copied;
        }
        m_changed.notify_all();
    }
    void end(bool failed) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
            m_failed = failed;
        }
        m_changed.notify_all();
    }
    // The bytes copied once there are more than `offset`; `offset` itself once the copy ended
    // (or failed) without more.
    uint64_t waitBeyond(uint64_t offset) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_copied > offset || m_ended; });
        return m_failed ? offset : m_copied;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_copied = 0;
    bool m_ended = false;
    bool m_failed = false;
};

// Feeds the copy's bytes, in order, to `use` as they are copied; false on a read error.
template <typename Use>
bool hashBehind(CopyProgress& progress, int copyFd, Use use) {
    std::vector<uint8_t> piece(kHashPiece);
    for (uint64_t offset = 0;;) {
        const uint64_t available = progress.waitBeyond(offset);
        if (available <= offset)
            return true;
        while (offset < available) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(piece.size(), available - offset));
            const ssize_t n = ::pread(copyFd, piece.data(), want, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            use(std::span<const uint8_t>(piece.data(), static_cast<size_t>(n)));
            offset += static_cast<uint64_t>(n);
        }
    }
}

platform::TrustResult systemError(std::string detail) {
    platform::TrustResult result;
    result.status = result.lastError = platform::kTrustSystemError;
    result.detail = std::move(detail);
    return result;
}

}  // namespace

SetupHandover HandOverSetup(const std::string& downloadPath, const std::filesystem::path& copyPath,
                            const HandoverOptions& options) {
    // The trusted roots load while the file is read: the check needs them only at the end.
    std::future<platform::TrustAnchors> anchors = std::async(std::launch::async, [&options] {
        return options.anchors ? options.anchors() : platform::TrustAnchors::fromEnvironment();
    });
    SetupHandover handover;
    const Fd in(::open(downloadPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // The check gives the reason a file that cannot be read has, as it always did.
        handover.trust = platform::stripAppendedSignature(downloadPath, copyPath,
                                                          options.expectedPublisher, anchors.get());
        return handover;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Fd out(::open(copyPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0700));
    std::optional<platform::TrustResult> failure;
    if (out.get() < 0)
        failure = systemError("cannot create " + copyPath.string() + ": " + std::strerror(errno));
    else
        ::fchmod(out.get(), 0700);
    // The descriptor stays open until the digest threads are done with it.
    auto dropCopy = [&](std::string why) {
        ::unlink(copyPath.c_str());
        failure = systemError(std::move(why));
    };
    // Blocks reserved at once make the writes cheaper and find a full disk before the read.
    if (out.get() >= 0 && size > 0 && ::fallocate(out.get(), 0, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP)
        dropCopy("cannot write " + copyPath.string() + ": " + std::strerror(errno));

    // The plan comes from the download as it is now; should the copy end up signed otherwise,
    // the check finds the plans differ and reads the copy itself.
    std::optional<platform::SignedContentDigest> signedDigest;
    if (!failure) {
        if (auto plan = platform::signedDigestPlan(in.get()); plan && plan->fileSize == size)
            signedDigest.emplace(std::move(*plan));
    }

    // Both digests read the copy, never the download: what runs is what they hashed.
    CopyProgress progress;
    CMd5Stream md5;
    bool md5Read = true;
    bool signedRead = true;
    std::vector<std::thread> threads;
    if (!failure && options.md5) {
        threads.emplace_back([&, fd = out.get()] {
            md5Read = hashBehind(progress, fd, [&md5](std::span<const uint8_t> piece) {
                md5.update(piece.data(), piece.size());
            });
        });
    }
    if (!failure && signedDigest) {
        threads.emplace_back([&, fd = out.get()] {
            signedRead = hashBehind(progress, fd, [&signedDigest](std::span<const uint8_t> piece) {
                signedDigest->update(piece);
            });
        });
    }

    // The kernel copies where it can; a file system that cannot goes through a buffer.
    bool kernelCopy = true;
    std::vector<uint8_t> buffer;
    for (uint64_t copied = 0; !failure && copied < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyStep, size - copied));
        ssize_t n = -1;
        if (kernelCopy) {
            loff_t from = static_cast<loff_t>(copied);
            loff_t to = static_cast<loff_t>(copied);
            n = ::copy_file_range(in.get(), &from, out.get(), &to, want, 0);
            if (n < 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(want);
            n = ::pread(in.get(), buffer.data(), want, static_cast<off_t>(copied));
            if (n > 0 &&
                (::lseek(out.get(), static_cast<off_t>(copied), SEEK_SET) < 0 ||
                 !platform::writeAll(
                     out.get(), std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n))))) {
                dropCopy("cannot write " + copyPath.string() + ": " + std::strerror(errno));
                break;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            dropCopy(downloadPath + " shrank or failed while being copied");
            break;
        }
        copied += static_cast<uint64_t>(n);
        progress.advance(copied);
        if (options.afterPiece)
            options.afterPiece(copied);
    }
    progress.end(failure.has_value());
    for (auto& t : threads)
        t.join();

    if (failure) {
        // Nothing will run; the MD5 is still reported, of the download as it now is.
        if (options.md5)
            handover.md5 = CDownLoadImpl::md5OfFile(downloadPath);
        handover.trust = *failure;
        return handover;
    }
    if (options.md5 && md5Read)
        handover.md5 = md5.finishHex();
    std::optional<platform::PrecomputedDigest> precomputed;
    if (signedDigest && signedRead) {
        if (auto value = signedDigest->finish())
            precomputed = platform::PrecomputedDigest{signedDigest->plan(), std::move(*value)};
    }
    handover.trust =
        platform::checkPrivateCopy(out.get(), copyPath, options.expectedPublisher, anchors.get(),
                                   precomputed ? &*precomputed : nullptr);
    return handover;
}
