#pragma once
// A private nginx on 127.0.0.1 serving a folder, for download tests against a real, well-kept
// HTTP server. Its access log records every request with the bytes it sent.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace kvtest {

struct NginxOptions {
    std::string limitRate;       // e.g. "2m": per-connection cap, empty for none
    std::string extraLocations;  // nginx "location" blocks added to the server
};

class Nginx {
public:
    explicit Nginx(NginxOptions options = {});
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    // Whether nginx is installed; tests skip when it is not.
    static bool available();

    const std::filesystem::path& root() const { return m_root; }
    int port() const { return m_port; }
    std::string url(const std::string& path) const;

    struct Request {
        std::string method;
        std::string uri;
        int status = 0;
        int64_t bytesSent = 0;
        std::string range;
    };
    std::vector<Request> requests() const;

private:
    TempDir m_dir;
    std::filesystem::path m_root;
    pid_t m_pid = -1;
    int m_port = 0;
};

// A file of `size` pseudo-random bytes (seeded, so runs are repeatable).
void writeRandomFile(const std::filesystem::path& path, int64_t size, uint32_t seed);

}  // namespace kvtest
