#include "SetupArguments.h"

#include "TextUtil.h"

namespace demo {
namespace {

namespace fs = std::filesystem;

std::string withSlashes(std::string_view text) {
    std::string path(text);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

}  // namespace

SetupArguments parseSetupArguments(const std::vector<std::string>& args) {
    SetupArguments parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty() || arg[0] != '/') {
            parsed.ignored.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, equals);
        const std::optional<std::string> value =
            equals == std::string::npos ? std::nullopt : std::optional(arg.substr(equals + 1));
        if (equalsNoCase(name, "/DIR") && value)
            parsed.dir = value;
        else if (equalsNoCase(name, "/LANG") && value)
            parsed.language = *value;
        else if (equalsNoCase(name, "/LOG"))
            parsed.logFile = value;
        else if (equalsNoCase(name, "/VERYSILENT") && !value)
            parsed.verySilent = true;
        else if (equalsNoCase(name, "/SILENT") && !value)
            parsed.silent = true;
        else if (equalsNoCase(name, "/UNINSTALL") && !value)
            parsed.uninstall = true;
        else if (equalsNoCase(name, "/sptrack") && !value && i + 1 < args.size())
            parsed.trackingId = args[++i];
        else if (equalsNoCase(name, "/SP-") || equalsNoCase(name, "/NORESTART") ||
                 equalsNoCase(name, "/SUPPRESSMSGBOXES"))
            continue;  // no start-up prompt, no restart, no message boxes: nothing to turn off
        else
            parsed.ignored.push_back(arg);
    }
    return parsed;
}

std::optional<fs::path> installFolderFromText(std::string_view text, std::string& error) {
    if (text.empty()) {
        error = "the install folder is empty";
        return std::nullopt;
    }
    fs::path folder = fs::path(withSlashes(text)).lexically_normal();
    if (!folder.is_absolute()) {
        error = "the install folder \"" + std::string(text) + "\" is not an absolute path";
        return std::nullopt;
    }
    std::string normal = folder.string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    if (normal == "/") {
        error = "the install folder \"" + std::string(text) + "\" is the root folder";
        return std::nullopt;
    }
    return fs::path(normal);
}

fs::path filePathFromText(std::string_view text) {
    return fs::path(withSlashes(text));
}

}  // namespace demo
