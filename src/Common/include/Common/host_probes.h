#pragma once
// The probes that read the skin package or ask the window host, and the report of every probe.
// They live with the workflow, which links the window framework, so the system probes of
// FuntionImpl.h need no part of it.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ui {
class ZipArchive;
}

namespace FuntionImpl {

// Display scale and pixel size of the primary monitor, as the window host measured them; 1.0 and
// both sizes 0 when no host with a display runs.
double GetScreenScale(int& physicalWidth, int& physicalHeight);

// The text attribute of the element named `key` (name attribute) directly inside the first
// element named `section` anywhere in the language file of `languageIndex` ("language\" + the
// table's file name) of the skin package; "" when the file, the section or the key is missing.
std::string GetLanguageText(const ui::ZipArchive& package, std::string_view section,
                            std::string_view key, int languageIndex);
// The same in the skin package of the running program (resource ZIPRES 138).
std::string GetLanguageText(std::string_view section, std::string_view key, int languageIndex);

// Every probe's name and answer on this machine, for diagnostics. The file version is that of
// `program`, or of the running program when it is empty.
std::vector<std::pair<std::string, std::string>> ProbeReport(
    const std::filesystem::path& program = {});

}  // namespace FuntionImpl
