// kvsign: signs a file the way the installer verifies it. PE images get Authenticode, every
// other file the appended CMS block. Exit status 0 when the output was written, 1 otherwise.

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Signer.h"

namespace {

constexpr const char* kUsage =
    "usage: kvsign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] [--format pe|appended|auto]\n"
    "              [--timestamp-none | --tsa-key KEY.pem --tsa-cert CERT.pem [--tsa-chain "
    "CHAIN.pem]\n"
    "               [--tsa-time UNIX_SECONDS]] IN OUT\n"
    "Signs IN into OUT: Authenticode (SHA-256) for PE images, an appended CMS signature for any\n"
    "other file. Without --tsa-* nothing is time-stamped; --tsa-* stamps (RFC 3161) with a local\n"
    "time-stamping key, at --tsa-time or now. No network is used.\n";

int failWith(const std::string& message) {
    std::cerr << "kvsign: " << message << "\n";
    return 1;
}

bool readWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Written beside OUT and renamed over it, so a failure never leaves half a file; IN's mode
// is kept so that a signed program stays executable.
bool writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode,
                     std::string& error) {
    const std::string temp = path + ".kvsign-tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            std::remove(temp.c_str());
            return false;
        }
    }
    ::chmod(temp.c_str(), mode & 07777);
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    bool noTimestamp = false;
    static const char* const kValued[] = {"--key",     "--cert",     "--chain",     "--format",
                                          "--tsa-key", "--tsa-cert", "--tsa-chain", "--tsa-time"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--timestamp-none") {
            noTimestamp = true;
            continue;
        }
        bool valued = false;
        for (const char* name : kValued)
            valued = valued || arg == name;
        if (valued) {
            if (i + 1 >= argc)
                return failWith(arg + " needs a value\n" + kUsage);
            options[arg] = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            return failWith("unknown option " + arg + "\n" + kUsage);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || !options.count("--key") || !options.count("--cert"))
        return failWith(std::string("missing arguments\n") + kUsage);

    kvsign::Format format = kvsign::Format::Auto;
    if (options.count("--format")) {
        const std::string& name = options["--format"];
        if (name == "pe")
            format = kvsign::Format::Pe;
        else if (name == "appended")
            format = kvsign::Format::Appended;
        else if (name != "auto")
            return failWith("--format must be pe, appended or auto");
    }

    std::string error;
    auto signer =
        kvsign::loadIdentity(options["--key"], options["--cert"], options["--chain"], error);
    if (!signer)
        return failWith(error);

    std::optional<kvsign::TimeStamper> stamper;
    const bool wantsStamp = options.count("--tsa-key") || options.count("--tsa-cert");
    if (wantsStamp && noTimestamp)
        return failWith("--timestamp-none excludes the --tsa-* options");
    if (wantsStamp) {
        auto tsa = kvsign::loadIdentity(options["--tsa-key"], options["--tsa-cert"],
                                        options["--tsa-chain"], error);
        if (!tsa)
            return failWith(error);
        stamper.emplace();
        stamper->identity = std::move(*tsa);
        if (options.count("--tsa-time")) {
            char* end = nullptr;
            const long long seconds = std::strtoll(options["--tsa-time"].c_str(), &end, 10);
            if (!end || *end != '\0' || options["--tsa-time"].empty() || seconds < 0)
                return failWith("--tsa-time takes Unix seconds");
            stamper->time = seconds;
        }
    }

    const std::string& in = positional[0];
    const std::string& out = positional[1];
    std::vector<uint8_t> bytes;
    struct stat st {};
    if (::stat(in.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !readWhole(in, bytes))
        return failWith("cannot read " + in);
    kvsign::Format used = format;
    if (!kvsign::signFile(bytes, format, *signer, stamper ? &*stamper : nullptr, error, &used))
        return failWith(in + ": " + error);
    if (!writeAtomically(out, bytes, st.st_mode, error))
        return failWith(error);
    std::cout << "kvsign: signed " << in << " as " << out << " ("
              << (used == kvsign::Format::Pe ? "Authenticode" : "appended CMS") << ", SHA-256"
              << (stamper ? ", time-stamped" : "") << ")\n";
    return 0;
}
