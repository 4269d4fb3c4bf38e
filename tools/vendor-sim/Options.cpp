#include "Options.h"

#include <charconv>

namespace vsim {
namespace {

bool parseInt(const std::string& text, int low, int high, int& value) {
    int parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// A whole number of bytes, or of KiB or MiB with the suffix k or m.
bool parseRate(const std::string& text, uint64_t& value) {
    uint64_t unit = 1;
    size_t digits = text.size();
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
        unit = 1024;
        --digits;
    } else if (!text.empty() && (text.back() == 'm' || text.back() == 'M')) {
        unit = 1024 * 1024;
        --digits;
    }
    uint64_t parsed = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + digits, parsed);
    constexpr uint64_t kMost = uint64_t{1} << 40;  // far above any loopback line
    if (digits == 0 || ec != std::errc() || end != text.data() + digits || parsed == 0 ||
        parsed > kMost / unit)
        return false;
    value = parsed * unit;
    return true;
}

}  // namespace

const char* usageText() {
    return "usage: vendor-sim --fixture FILE --log FILE [--http-port N] [--https-port N]\n"
           "                  [--state-dir DIR] [--ready-file FILE] [--max-seconds N]\n"
           "                  [--rate-limit BYTES[k|m]]\n"
           "Plays the vendor's remote services on 127.0.0.1 over HTTP and HTTPS.\n"
           "Ports 0 (default) pick free ports; --max-seconds defaults to 3600.\n"
           "--rate-limit caps the bytes per second of all downloads together.\n";
}

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        static const char* const kTakesValue[] = {"--fixture",     "--log",       "--http-port",
                                                  "--https-port",  "--state-dir", "--ready-file",
                                                  "--max-seconds", "--rate-limit"};
        bool known = false;
        for (const char* option : kTakesValue)
            known = known || name == option;
        if (!known) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == "--fixture") {
            options.fixture = value;
        } else if (name == "--log") {
            options.log = value;
        } else if (name == "--state-dir") {
            options.stateDir = value;
        } else if (name == "--ready-file") {
            options.readyFile = value;
        } else if (name == "--http-port" || name == "--https-port") {
            int& port = name == "--http-port" ? options.httpPort : options.httpsPort;
            if (!parseInt(value, 0, 65535, port)) {
                error = name + " must be a port number from 0 to 65535, not '" + value + "'";
                return false;
            }
        } else if (name == "--rate-limit") {
            if (!parseRate(value, options.rateLimit)) {
                error =
                    "--rate-limit must be a positive number of bytes per second, with k or m "
                    "for KiB or MiB, not '" +
                    value + "'";
                return false;
            }
        } else if (!parseInt(value, 1, 7 * 24 * 3600, options.maxSeconds)) {
            error = "--max-seconds must be a whole number from 1 to 604800, not '" + value + "'";
            return false;
        }
        if (value.empty() && name != "--http-port" && name != "--https-port") {
            error = "option " + name + " needs a non-empty value";
            return false;
        }
    }
    if (options.help)
        return true;
    if (options.fixture.empty() || options.log.empty()) {
        error = "--fixture and --log are required";
        return false;
    }
    if (options.httpPort != 0 && options.httpPort == options.httpsPort) {
        error = "--http-port and --https-port must differ";
        return false;
    }
    return true;
}

}  // namespace vsim
