// kvreg: query and edit the registry store from a shell, the way reg.exe does on Windows.
//
//   kvreg query  KEY [/v NAME | /ve] [/s]
//   kvreg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_MULTI_SZ] [/d DATA] [/s SEP] [/f]
//   kvreg delete KEY [/v NAME | /ve | /va] [/f]
//
// Results go to standard output in reg.exe's layout; errors go to standard error as
// "ERROR: ..." with exit code 1, preceded by the registry's own log lines that say why. It never
// asks for confirmation (/f is accepted and changes nothing), so scripts can run it unattended.

#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Logging.h"
#include "TextUtil.h"
#include "platform/Registry.h"

namespace {

using platform::Hive;
using platform::RegKey;
using platform::RegType;

constexpr const char* kUsage =
    "Usage:\n"
    "  kvreg query  KEY [/v NAME | /ve] [/s]\n"
    "  kvreg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_MULTI_SZ] [/d DATA] [/s SEP] [/f]\n"
    "  kvreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "\n"
    "  KEY    HKLM\\Path\\To\\Key or HKCU\\... (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER)\n"
    "  /v     the value NAME          /ve  the default value (empty name)\n"
    "  /va    every value of the key  /s   query: every subkey too; add: the separator of\n"
    "                                      REG_MULTI_SZ elements in DATA (default \\0)\n"
    "  /t     the value's type (default REG_SZ)\n"
    "  /d     the value's data (default empty)\n"
    "  /f     accepted for compatibility; kvreg never asks before overwriting or deleting\n"
    "\n"
    "The store is in $KV_REGISTRY_DIR when set.\n";

constexpr const char* kNotFound =
    "The system was unable to find the specified registry key or value.";
constexpr std::string_view kMultiStringJoin = "\\0";

// The registry logs its reasons; here they belong on standard error, next to the ERROR line,
// so standard output stays exactly the query's result.
class StderrLog : public el::LogDispatchCallback {
protected:
    void handle(const el::LogDispatchData* data) override {
        std::cerr << "kvreg:" << data->logMessage()->message() << '\n';
    }
};

void routeLogToStderr() {
    el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToStandardOutput, "false");
    el::Helpers::installLogDispatchCallback<StderrLog>("StderrLog");
}

int fail(std::string_view message) {
    std::cerr << "ERROR: " << message << '\n';
    return 1;
}

int syntaxError(std::string_view detail) {
    std::cerr << "ERROR: Invalid syntax: " << detail << "\nType \"kvreg /?\" for usage.\n";
    return 1;
}

struct Options {
    std::string command;  // "query", "add" or "delete", lower case
    Hive hive = Hive::LocalMachine;
    std::string subkey;
    std::optional<std::string> valueName;  // set by /v NAME, or "" by /ve
    bool allValues = false;                // /va
    bool recursive = false;                // query /s
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    std::optional<std::string> separator;  // add /s
};

// The option word ("v", "ve", ...) when `arg` is "/word" or "-word", else empty.
std::string optionWord(std::string_view arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        return {};
    return asciiLower(arg.substr(1));
}

// Fills `options` from the arguments; returns what is wrong with them, or empty.
std::string parseArguments(const std::vector<std::string>& args, Options& options) {
    if (args.size() < 2)
        return "a command and a key are required";
    options.command = optionWord("/" + args[0]);
    if (options.command != "query" && options.command != "add" && options.command != "delete") {
        return "unknown command \"" + args[0] + "\"";
    }
    const std::string& key = args[1];
    size_t cut = key.find_first_of("\\/");
    auto hive = platform::parseHiveName(std::string_view(key).substr(0, cut));
    if (!hive)
        return "invalid key name \"" + key + "\" (it starts with HKLM or HKCU)";
    options.hive = *hive;
    options.subkey = cut == std::string::npos ? std::string() : key.substr(cut + 1);

    bool isAdd = options.command == "add";
    bool isQuery = options.command == "query";
    bool seenForce = false;
    for (size_t i = 2; i < args.size(); ++i) {
        std::string word = optionWord(args[i]);
        bool takesArgument = word == "v" || word == "t" || word == "d" || (word == "s" && isAdd);
        if (takesArgument && i + 1 >= args.size())
            return "/" + word + " needs an argument";
        auto setOnce = [&](std::optional<std::string>& field) {
            if (field)
                return false;
            field = args[++i];
            return true;
        };
        bool once = true;
        if (word == "v" || word == "ve") {
            if (options.valueName)
                return "/v and /ve may appear once, not both";
            options.valueName = word == "v" ? args[++i] : std::string();
        } else if (word == "va" && options.command == "delete") {
            once = !options.allValues;
            options.allValues = true;
        } else if (word == "s" && isQuery) {
            once = !options.recursive;
            options.recursive = true;
        } else if (word == "s" && isAdd) {
            once = setOnce(options.separator);
        } else if ((word == "t" || word == "d") && isAdd) {
            once = setOnce(word == "t" ? options.type : options.data);
        } else if (word == "f" && !isQuery) {
            once = !seenForce;
            seenForce = true;
        } else {
            return "unexpected \"" + args[i] + "\"";
        }
        if (!once)
            return "/" + word + " given twice";
    }
    if (options.allValues && options.valueName)
        return "/va excludes /v and /ve";
    return {};
}

std::string fullKeyName(Hive hive, const std::string& path) {
    std::string name(platform::hiveName(hive));
    if (!path.empty())
        name += "\\" + path;
    return name;
}

// "    NAME    REG_SZ    DATA"; nullopt (logged by the registry) when it cannot be read.
std::optional<std::string> valueLine(const RegKey& key, const std::string& name) {
    auto value = key.queryValue(name);
    if (!value)
        return std::nullopt;
    std::string line = "    " + (name.empty() ? std::string("(Default)") : name);
    if (value->type == RegType::String) {
        line += "    REG_SZ    " + value->text;
    } else {
        line += "    REG_MULTI_SZ    ";
        for (size_t i = 0; i < value->strings.size(); ++i) {
            if (i > 0)
                line += kMultiStringJoin;
            line += value->strings[i];
        }
    }
    return line;
}

// Prints one key and its values, then (with `recursive`) every subkey the same way, depth
// first; without it, the full names of the direct subkeys. False when something was unreadable.
bool printKey(const RegKey& key, bool recursive) {
    bool ok = true;
    std::cout << '\n' << fullKeyName(key.hive(), key.path()) << '\n';
    for (const std::string& name : key.valueNames()) {
        if (auto line = valueLine(key, name)) {
            std::cout << *line << '\n';
        } else {
            ok = false;
        }
    }
    std::vector<std::string> subkeys = key.subkeyNames();
    if (!recursive) {
        if (!subkeys.empty())
            std::cout << '\n';
        for (const std::string& sub : subkeys) {
            std::cout << fullKeyName(key.hive(), key.path()) << '\\' << sub << '\n';
        }
        return ok;
    }
    // The store limits keys to 512 levels, which bounds this recursion.
    for (const std::string& sub : subkeys) {
        auto child = RegKey::open(key.hive(), key.path() + '\\' + sub);
        ok = (child && printKey(*child, true)) && ok;
    }
    return ok;
}

// Prints every key of the tree under `key` that has the value; returns how many did.
int printValueInTree(const RegKey& key, const std::string& name, bool recursive) {
    int matches = 0;
    auto names = key.valueNames();
    for (const std::string& existing : names) {
        if (!equalsNoCase(existing, name))
            continue;
        if (auto line = valueLine(key, existing)) {
            std::cout << '\n' << fullKeyName(key.hive(), key.path()) << '\n' << *line << '\n';
            ++matches;
        }
        break;
    }
    if (!recursive)
        return matches;
    for (const std::string& sub : key.subkeyNames()) {
        if (auto child = RegKey::open(key.hive(), key.path() + '\\' + sub)) {
            matches += printValueInTree(*child, name, true);
        }
    }
    return matches;
}

int runQuery(const Options& options) {
    auto key = RegKey::open(options.hive, options.subkey);
    if (!key)
        return fail(kNotFound);
    if (!options.valueName) {
        return printKey(*key, options.recursive) ? 0 : fail("Some values could not be read.");
    }
    int matches = printValueInTree(*key, *options.valueName, options.recursive);
    if (options.recursive)
        std::cout << "\nEnd of search: " << matches << " match(es) found.\n";
    return matches > 0 ? 0 : fail(kNotFound);
}

std::vector<std::string> splitData(const std::string& data, const std::string& separator) {
    std::vector<std::string> elements;
    if (data.empty())
        return elements;
    size_t start = 0;
    while (true) {
        size_t end = data.find(separator, start);
        elements.push_back(data.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + separator.size();
    }
    return elements;
}

int runAdd(const Options& options) {
    if (!options.valueName && (options.type || options.data || options.separator)) {
        return syntaxError("/t, /d and /s need /v NAME or /ve");
    }
    std::string type = options.type.value_or("REG_SZ");
    bool multi = equalsNoCase(type, "REG_MULTI_SZ");
    if (!multi && !equalsNoCase(type, "REG_SZ")) {
        return fail("Unsupported type \"" + type + "\": only REG_SZ and REG_MULTI_SZ.");
    }
    if (options.separator && (!multi || options.separator->empty())) {
        return syntaxError("/s needs REG_MULTI_SZ and a non-empty separator");
    }
    auto key = RegKey::create(options.hive, options.subkey);
    if (!key)
        return fail("Cannot create the key " + fullKeyName(options.hive, options.subkey));
    if (options.valueName) {
        std::string data = options.data.value_or("");
        bool written =
            multi ? key->setMultiString(
                        *options.valueName,
                        splitData(data, options.separator.value_or(std::string(kMultiStringJoin))))
                  : key->setString(*options.valueName, data);
        if (!written)
            return fail("Cannot write the value.");
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int runDelete(const Options& options) {
    if (!options.valueName && !options.allValues) {
        auto canonical = platform::normaliseKeyPath(options.subkey);
        if (canonical && canonical->empty())
            return fail("The root of a hive cannot be deleted.");
        if (!platform::deleteKeyTree(options.hive, options.subkey))
            return fail(kNotFound);
    } else {
        auto key = RegKey::open(options.hive, options.subkey);
        if (!key)
            return fail(kNotFound);
        if (options.valueName) {
            if (!key->deleteValue(*options.valueName))
                return fail(kNotFound);
        } else {
            for (const std::string& name : key->valueNames()) {
                if (!key->deleteValue(name))
                    return fail("Cannot delete the value \"" + name + "\".");
            }
        }
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    routeLogToStderr();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "/?" || args[0] == "-?" || args[0] == "--help")) {
        std::cout << kUsage;
        return 0;
    }
    Options options;
    if (std::string problem = parseArguments(args, options); !problem.empty()) {
        return syntaxError(problem);
    }
    if (options.command == "query")
        return runQuery(options);
    if (options.command == "add")
        return runAdd(options);
    return runDelete(options);
}
