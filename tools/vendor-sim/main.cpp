// vendor-sim: plays the vendor's remote services on 127.0.0.1 for tests and the demo.
// Start-up order matters: fixture and certificates are checked before any port is taken, and
// READY is announced only once both listeners accept connections.

#include <httplib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "Certificates.h"
#include "Fixture.h"
#include "Options.h"
#include "RateCap.h"
#include "RequestLog.h"
#include "Router.h"
#include "Service.h"
#include "StopSignal.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitBadInput = 2;
constexpr const char* kLoopback = "127.0.0.1";
// Enough for a ten-worker download, its length probes and the side queries at once.
constexpr size_t kListenerThreads = 32;
constexpr size_t kMaxRequestBody = 16u << 20;
constexpr int kListenBacklog = 128;

int fail(int code, const std::string& message) {
    std::cerr << "vendor-sim: " << message << "\n";
    return code;
}

// Single quotes keep ";" and spaces of the values from meaning anything to a shell.
std::string shellQuote(const std::string& value) {
    std::string out = "'";
    for (char c : value)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Written beside its final name and renamed, so a reader never sees half a file.
bool writeReadyFile(const fs::path& file,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    std::string& error) {
    fs::path partial = file;
    partial += ".partial." + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::trunc);
        for (const auto& [key, value] : values)
            out << key << "=" << shellQuote(value) << "\n";
        out.flush();
        if (!out) {
            error = "cannot write " + partial.string();
            return false;
        }
    }
    std::error_code ec;
    fs::rename(partial, file, ec);
    if (ec) {
        error = "cannot create " + file.string() + ": " + ec.message();
        fs::remove(partial, ec);
        return false;
    }
    return true;
}

// Binds `server` on loopback; port 0 takes any free port. Returns the port, or -1.
int bindLoopback(httplib::Server& server, int port) {
    // The library listens with a backlog of 5: ten download workers connecting at once can
    // overflow it, and a worker whose handshake is dropped waits a second before it tries
    // again. Listening again on the bound socket raises the backlog.
    socket_t listener = INVALID_SOCKET;
    server.set_socket_options([&listener](socket_t sock) {
        httplib::default_socket_options(sock);
        listener = sock;
    });
    int bound = port == 0 ? server.bind_to_any_port(kLoopback)
                          : (server.bind_to_port(kLoopback, port) ? port : -1);
    server.set_socket_options(httplib::default_socket_options);  // `listener` goes out of scope
    if (bound >= 0 && listener != INVALID_SOCKET)
        ::listen(listener, kListenBacklog);
    return bound;
}

void configure(httplib::Server& server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kListenerThreads); };
    server.set_payload_max_length(kMaxRequestBody);
    // Idle keep-alive connections hold a listener thread and delay shutdown by this much.
    server.set_keep_alive_timeout(2);
}

// The state folder; an empty `requested` makes a fresh one under the temp folder.
bool prepareStateDir(const fs::path& requested, fs::path& dir, bool& owned, std::string& error) {
    std::error_code ec;
    if (!requested.empty()) {
        fs::create_directories(requested, ec);
        if (ec || !fs::is_directory(requested)) {
            error = "cannot create the state folder " + requested.string();
            return false;
        }
        dir = fs::absolute(requested, ec);
        owned = false;
        return true;
    }
    std::string pattern = (fs::temp_directory_path(ec) / "vendor-sim-XXXXXX").string();
    if (ec || !mkdtemp(pattern.data())) {
        error = "cannot create a temporary state folder";
        return false;
    }
    dir = pattern;
    owned = true;
    return true;
}

int run(const vsim::Options& options) {
    // Signals are taken by sigtimedwait on this thread only; listener threads inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up mid-answer must not end the sim

    std::string error;
    fs::path stateDir;
    bool ownsStateDir = false;
    vsim::StopSignal stop;

    if (!prepareStateDir(options.stateDir, stateDir, ownsStateDir, error))
        return fail(kExitFailure, error);
    struct StateDirCleanup {
        const fs::path& dir;
        bool owned;
        ~StateDirCleanup() {
            std::error_code ec;
            if (owned)
                fs::remove_all(dir, ec);
        }
    } cleanup{stateDir, ownsStateDir};

    std::unique_ptr<vsim::RateCap> downloadCap;
    if (options.rateLimit > 0)
        downloadCap = std::make_unique<vsim::RateCap>(options.rateLimit);
    vsim::ServiceContext context{stateDir, stop, downloadCap.get()};
    vsim::ServiceSet services = vsim::makeServices(context);
    auto fixture = vsim::loadFixture(options.fixture, services, error);
    if (!fixture)
        return fail(kExitBadInput, "bad fixture: " + error);
    vsim::FixtureStore fixtures(fs::absolute(options.fixture), services, fixture);

    vsim::RequestLog log;
    if (!log.open(options.log, error))
        return fail(kExitBadInput, error);

    std::vector<std::string> hosts;
    for (const auto& entry : fixture->hosts)
        hosts.push_back(entry.first);
    vsim::CertificateFiles certs;
    if (!vsim::makeCertificates(stateDir, vsim::certificateNames(hosts), certs, error))
        return fail(kExitFailure, "certificates: " + error);

    httplib::Server http;
    httplib::SSLServer https(certs.serverCert.c_str(), certs.serverKey.c_str());
    if (!https.is_valid())
        return fail(kExitFailure, "the TLS listener rejected its certificate");
    configure(http);
    configure(https);
    vsim::Router router(fixtures, services, log, stop);
    router.install(http, "http");
    router.install(https, "https");

    int httpPort = bindLoopback(http, options.httpPort);
    if (httpPort < 0)
        return fail(kExitFailure, "cannot listen on 127.0.0.1:" + std::to_string(options.httpPort));
    int httpsPort = bindLoopback(https, options.httpsPort);
    if (httpsPort < 0)
        return fail(kExitFailure,
                    "cannot listen on 127.0.0.1:" + std::to_string(options.httpsPort));

    std::atomic<bool> listenerEnded{false};
    auto listen = [&listenerEnded, &stop](httplib::Server& server) {
        server.listen_after_bind();
        if (!stop.raised())
            listenerEnded = true;
    };
    std::thread httpThread(listen, std::ref(http));
    std::thread httpsThread(listen, std::ref(https));
    auto stopListeners = [&] {
        stop.raise();
        http.stop();
        https.stop();
        httpThread.join();
        httpsThread.join();
    };

    // The sockets queue connections from bind on; waiting for the accept loops as well means
    // READY is never followed by a listener that failed to start.
    auto startDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(http.is_running() && https.is_running()) && !listenerEnded &&
           std::chrono::steady_clock::now() < startDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!(http.is_running() && https.is_running())) {
        stopListeners();
        return fail(kExitFailure, "the listeners did not start");
    }

    const std::vector<std::pair<std::string, std::string>> ready = {
        {"HTTP_PORT", std::to_string(httpPort)},
        {"HTTPS_PORT", std::to_string(httpsPort)},
        {"KV_CA_BUNDLE", certs.caCert.string()},
        {"KV_CONNECT_TO", ":443:127.0.0.1:" + std::to_string(httpsPort) +
                              ";:80:127.0.0.1:" + std::to_string(httpPort)},
        {"READY", "1"},
    };
    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile, ready, error)) {
        stopListeners();
        return fail(kExitFailure, error);
    }
    for (const auto& [key, value] : ready)
        std::cout << key << "=" << value << "\n";
    std::cout.flush();

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.maxSeconds);
    int exitCode = kExitOk;
    while (true) {
        timespec slice{0, 200 * 1000 * 1000};
        int signo = sigtimedwait(&stopSignals, nullptr, &slice);
        if (signo == SIGTERM || signo == SIGINT)
            break;
        if (listenerEnded) {
            std::cerr << "vendor-sim: a listener stopped by itself\n";
            exitCode = kExitFailure;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::cerr << "vendor-sim: --max-seconds " << options.maxSeconds << " reached\n";
            break;
        }
    }
    stopListeners();
    if (!options.readyFile.empty()) {
        std::error_code ec;
        fs::remove(options.readyFile, ec);
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    vsim::Options options;
    std::string error;
    if (!vsim::parseOptions(args, options, error)) {
        std::cerr << "vendor-sim: " << error << "\n" << vsim::usageText();
        return kExitBadInput;
    }
    if (options.help) {
        std::cout << vsim::usageText();
        return kExitOk;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        return fail(kExitFailure, std::string("unexpected failure: ") + e.what());
    }
}
