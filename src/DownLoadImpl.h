#pragma once
// The download engine's face towards the install workflow: a watched download of one file and
// the MD5 check of the result. Runs on the calling thread (the install worker); blocks until the
// download ends.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// What SuperDownloadFile watches and whom it tells. The defaults are the product's; tests
// shorten the thresholds and replace the network check.
struct DownloadWatch {
    uint64_t noSpeedEventMs = 3000;  // no progress this long: one "NoDownloadSpeed" event
    uint64_t stallMs = 30000;        // no progress this long: give up with -3
    int passSleepMs = 5;             // pause between watchdog passes
    int workers = 10;
    uint64_t setupLimitMs = 60000;  // all probes before the first segment, together
    // One segment attempt; never longer than stallMs, so a stalled attempt ends (and a stop
    // returns) within the stall window.
    int64_t attemptLimitMs = 10000;
    std::function<bool()> isNetworkAlive;                           // default: the platform's check
    std::function<void(int64_t done, int64_t total)> showProgress;  // may be empty
};

class CDownLoadImpl {
public:
    enum Result {
        kDownloaded = 1,
        kInitFailed = -1,  // set-up failed, or the engine stopped short of the file length
        kNoNetwork = -2,
        kStalled = -3,  // no progress for stallMs
        kTooManyCdnRequests = -4,
    };

    // Downloads `url` to `localPath` (task file: localPath + ".xml"). One download per local
    // file at a time across processes: a second one is refused with kInitFailed.
    static int SuperDownloadFile(const std::string& url, const std::string& localPath,
                                 const DownloadWatch& watch = {});

    // MD5 of the file as 32 lowercase hex digits; writes tag + "###" + digest to path + ".db".
    // 1 when the digest equals `expectedA` or `expectedB` exactly, else 0.
    static int checkMD5(const std::string& path, const std::string& expectedA,
                        const std::string& expectedB, const std::string& tag);

    // The digest alone; empty when the file cannot be read.
    static std::string md5OfFile(const std::string& path);

    // checkMD5 for a digest computed elsewhere (an empty one: the file could not be read): the
    // same log line, record file and result.
    static int checkMD5Digest(const std::string& path, const std::string& digest,
                              const std::string& expectedA, const std::string& expectedB,
                              const std::string& tag);
};

// The MD5 of bytes given in pieces, for a caller that reads the file anyway.
class CMd5Stream {
public:
    CMd5Stream();
    ~CMd5Stream();
    CMd5Stream(const CMd5Stream&) = delete;
    CMd5Stream& operator=(const CMd5Stream&) = delete;

    bool update(const void* data, size_t size);
    // 32 lowercase hexadecimal digits; empty when any step failed.
    std::string finishHex();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
