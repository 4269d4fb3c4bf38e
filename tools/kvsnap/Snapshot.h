#pragma once
// Renders one window of a skin package to a PNG file without a display, the way the installer
// would show it: the markup built by the framework, optionally a language file's texts on its
// controls and chosen pages of its tab layouts.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/SkinPackage.h"
#include "ui/WindowBase.h"

namespace kvsnap {

// A window made from one markup file of a skin package, with no behaviour of its own.
class MarkupWindow : public ui::WindowBase {
public:
    explicit MarkupWindow(std::string file) : m_file(std::move(file)) {}
    std::string GetSkinFile() const override { return m_file; }

private:
    std::string m_file;
};

struct Request {
    std::string skin;          // a ZIP file, or a program that carries one as ZIPRES 138
    std::string markup;        // path of the window's markup inside the package
    std::string output;        // PNG file to write
    std::string languageFile;  // inside the package, else on disk; optional
    std::vector<std::pair<std::string, int>> selections;  // tab layout name → page index
};

// "kvsnap SKIN MARKUP OUT.png [--lang FILE] [--select NAME=INDEX]..."; false with `error` set.
bool ParseArguments(const std::vector<std::string>& args, Request& request, std::string& error);

// The package inside `path`: the program's embedded one when it has one, else the file itself
// as a ZIP archive. Null with `error` set when neither opens.
std::shared_ptr<ui::SkinPackage> OpenSkin(const std::string& path, std::string& error);

// Lines of what went wrong (nothing on success); the PNG is written only when it is empty.
std::vector<std::string> Render(const Request& request);

}  // namespace kvsnap
