#pragma once
// The contact sheet of a skin package: every page of the main window (licence panel, settings
// panel, running page, finish page with the start button or the shortcut hint, failure page), every
// kind of message box and the launch-hint window, in each of the twenty languages, as PNG files a
// person can look through, with an index picture of them all. The texts go where the installer
// would put them, formats filled in with sample values, so what a user reads in each language can
// be checked without an install.
//
// While it renders it measures every visible text against the room its control gives it
// (without the ellipsis the control may draw) and counts glyphs the fonts lack: those are the
// problems a translation or a layout change brings.

#include <string>
#include <vector>

namespace kvsnap {

struct SheetReport {
    int pictures = 0;                   // PNG files written, the index included
    std::vector<std::string> problems;  // "language/page: control: what"
};

// Writes FOLDER/<language>/<page>.png for every language and page, and FOLDER/index.png.
// False with `error` set when the package cannot be read or a picture cannot be written;
// problems in the texts do not stop it.
bool RenderContactSheet(const std::string& skin, const std::string& folder, SheetReport& report,
                        std::string& error);

}  // namespace kvsnap
