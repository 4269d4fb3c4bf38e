#include "nginx_runner.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kvtest {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

}  // namespace

bool Nginx::available() {
    return access(kNginx, X_OK) == 0;
}

Nginx::Nginx(NginxOptions options) : m_root(m_dir.path() / "root") {
    std::filesystem::create_directories(m_root);
    std::filesystem::create_directories(m_dir.path() / "logs");
    // nginx's workers may run as another user: the folders must be readable by all.
    std::filesystem::permissions(m_dir.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(m_root, std::filesystem::perms(0755));
    for (int attempt = 0; attempt < 5 && m_pid < 0; ++attempt) {
        m_port = freePort();
        const auto d = m_dir.path().string();
        std::ostringstream conf;
        conf << "worker_processes 1;\ndaemon off;\nmaster_process off;\npid " << d
             << "/nginx.pid;\n"
             << "error_log " << d
             << "/logs/error.log;\nevents { worker_connections 512; }\nhttp {\n"
             << "  log_format kv '$request_method $uri $status $body_bytes_sent \"$http_range\"';\n"
             << "  access_log " << d << "/logs/access.log kv;\n"
             << "  client_body_temp_path " << d << "/body; proxy_temp_path " << d << "/proxy;\n"
             << "  fastcgi_temp_path " << d << "/fcgi; uwsgi_temp_path " << d
             << "/uwsgi; scgi_temp_path " << d << "/scgi;\n"
             << "  sendfile on; sendfile_max_chunk 64k; keepalive_timeout 5;\n"
             << "  server { listen 127.0.0.1:" << m_port << "; root " << m_root.string() << ";\n";
        if (!options.limitRate.empty())
            conf << "    limit_rate " << options.limitRate << ";\n";
        conf << options.extraLocations << "  }\n}\n";
        writeFile(m_dir.path() / "nginx.conf", conf.str());
        const pid_t pid = fork();
        if (pid == 0) {
            execl(kNginx, kNginx, "-c", (d + "/nginx.conf").c_str(), "-p", d.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            if (accepts(m_port)) {
                m_pid = pid;
                break;
            }
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                break;  // port taken meanwhile: try another
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (m_pid < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    if (m_pid < 0)
        throw std::runtime_error("nginx did not start: " +
                                 readFile(m_dir.path() / "logs/error.log"));
}

Nginx::~Nginx() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        if (waitChild(m_pid, 5000) == -1)
            kill(m_pid, SIGKILL);
    }
}

std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<Nginx::Request> Nginx::requests() const {
    std::vector<Request> out;
    std::istringstream in(readFile(m_dir.path() / "logs/access.log"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Request r;
        fields >> r.method >> r.uri >> r.status >> r.bytesSent;
        const auto quote = line.find('"');
        if (quote != std::string::npos)
            r.range = line.substr(quote + 1, line.rfind('"') - quote - 1);
        if (r.range == "-")
            r.range.clear();
        out.push_back(r);
    }
    return out;
}

void writeRandomFile(const std::filesystem::path& path, int64_t size, uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block(8192);
    for (int64_t done = 0; done < size;) {
        for (auto& v : block)
            v = rng();
        const auto n = static_cast<std::streamsize>(std::min<int64_t>(size - done, 8192 * 8));
        out.write(reinterpret_cast<const char*>(block.data()), n);
        done += n;
    }
    std::filesystem::permissions(path, std::filesystem::perms(0644));
}

}  // namespace kvtest
