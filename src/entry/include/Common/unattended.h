#pragma once
// The unattended install: the whole install of the product the skin package names, without a
// window. The licence counts as accepted; progress and messages go to the terminal; every
// message is answered with its default button.
//
//     kvdownloader --unattended [--dir PATH] [--lang INDEX] [--start]

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Resources.h"

struct UnattendedOptions {
    std::optional<std::string> folder;  // the folder chosen in place of the default
    std::optional<int> languageIndex;   // 0..19; otherwise from the user's UI language
    bool startProduct = false;          // start the installed product at the end
    bool verbose = false;               // the program log on the terminal too ("debug" as well)
};

// True when the arguments ask for the unattended mode.
bool IsUnattendedCommand(const std::vector<std::string>& args);

// nullopt with `error` set for an unknown option or a bad value.
std::optional<UnattendedOptions> ParseUnattendedOptions(const std::vector<std::string>& args,
                                                        std::string& error);

// Exit status: 0 installed (or, for a product that is not a setup program, downloaded);
// 1 the install failed; 2 the program cannot install (no skin package, bad arguments);
// 3 another copy for the same product is running.
// `inspect`, when given, sees the presenter once the run is over (tests read its controls).
class ConsolePresenter;
int RunUnattended(const UnattendedOptions& options, const platform::ResourceTable& resources,
                  std::ostream& out,
                  const std::function<void(const ConsolePresenter&)>& inspect = {});

inline constexpr const char* kUnattendedUsage =
    "usage: kvdownloader --unattended [--dir PATH] [--lang INDEX] [--start] [--verbose]\n"
    "Installs the product of this installer without a window. PATH is the folder to install\n"
    "into (the product's folder is added unless PATH names it); INDEX is the interface language,\n"
    "0 (English) to 19; --start starts the product once installed; --verbose (or debug) shows\n"
    "the program log on the terminal as well.\n";
