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

// Small pieces stay in the cache between the copy and the two digests that read them.
constexpr size_t kPieceSize = 256 << 10;
constexpr size_t kPieces = 16;

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

// Pieces of the file in order, filled by one reader and read by every consumer; a slot is
// refilled only once every consumer is done with it.
class PieceRing {
public:
    explicit PieceRing(size_t consumers)
        : m_slots(kPieces, std::vector<uint8_t>(kPieceSize)),
          m_sizes(kPieces),
          m_consumed(consumers) {}

    // The next slot to fill; waits while the slowest consumer still reads it.
    std::span<uint8_t> slotToFill() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_produced - slowest() < kPieces; });
        return m_slots[m_produced % kPieces];
    }
    void publish(size_t size) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sizes[m_produced % kPieces] = size;
            ++m_produced;
        }
        m_changed.notify_all();
    }
    void end() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        m_changed.notify_all();
    }

    // Gives consumer `c` every piece in order until the reader ends.
    template <typename Use>
    void consume(size_t c, Use use) {
        for (uint64_t next = 0;; ++next) {
            std::span<const uint8_t> piece;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return next < m_produced || m_ended; });
                if (next >= m_produced)
                    return;
                piece = {m_slots[next % kPieces].data(), m_sizes[next % kPieces]};
            }
            use(piece);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_consumed[c] = next + 1;
            }
            m_changed.notify_all();
        }
    }

private:
    uint64_t slowest() const {
        return m_consumed.empty() ? m_produced
                                  : *std::min_element(m_consumed.begin(), m_consumed.end());
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::vector<uint8_t>> m_slots;
    std::vector<size_t> m_sizes;
    std::vector<uint64_t> m_consumed;
    uint64_t m_produced = 0;
    bool m_ended = false;
};

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
    auto dropCopy = [&](std::string why) {
        out.reset();
        ::unlink(copyPath.c_str());
        failure = systemError(std::move(why));
    };

    // The plan comes from the download as it is now; should the copy end up signed otherwise,
    // the check finds the plans differ and reads the copy itself.
    std::optional<platform::SignedContentDigest> signedDigest;
    if (!failure) {
        if (auto plan = platform::signedDigestPlan(in.get()); plan && plan->fileSize == size)
            signedDigest.emplace(std::move(*plan));
    }
    CMd5Stream md5;
    std::vector<std::function<void(std::span<const uint8_t>)>> consumers;
    if (options.md5)
        consumers.push_back(
            [&md5](std::span<const uint8_t> piece) { md5.update(piece.data(), piece.size()); });
    if (signedDigest)
        consumers.push_back(
            [&signedDigest](std::span<const uint8_t> piece) { signedDigest->update(piece); });

    PieceRing ring(consumers.size());
    std::vector<std::thread> threads;
    for (size_t c = 0; c < consumers.size(); ++c)
        threads.emplace_back([&ring, &consumers, c] { ring.consume(c, consumers[c]); });

    bool readFailed = false;
    for (uint64_t copied = 0; copied < size;) {
        const std::span<uint8_t> slot = ring.slotToFill();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(slot.size(), size - copied));
        const ssize_t n = ::read(in.get(), slot.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            readFailed = n < 0;
            if (!failure)
                dropCopy(downloadPath + " shrank or failed while being copied");
            break;
        }
        // The bytes written are the bytes hashed: one buffer serves the copy and both digests.
        if (out.get() >= 0 && !platform::writeAll(out.get(), slot.first(static_cast<size_t>(n))))
            dropCopy("cannot write " + copyPath.string() + ": " + std::strerror(errno));
        ring.publish(static_cast<size_t>(n));
        copied += static_cast<uint64_t>(n);
        if (options.afterPiece)
            options.afterPiece(copied);
    }
    ring.end();
    for (auto& t : threads)
        t.join();

    if (options.md5 && !readFailed)
        handover.md5 = md5.finishHex();
    if (failure) {
        handover.trust = *failure;
        return handover;
    }
    std::optional<platform::PrecomputedDigest> precomputed;
    if (signedDigest) {
        if (auto value = signedDigest->finish())
            precomputed = platform::PrecomputedDigest{signedDigest->plan(), std::move(*value)};
    }
    handover.trust =
        platform::checkPrivateCopy(out.get(), copyPath, options.expectedPublisher, anchors.get(),
                                   precomputed ? &*precomputed : nullptr);
    return handover;
}
