// kvsnap SKIN MARKUP OUT.png [--lang LANGUAGE_FILE] [--select TABLAYOUT=INDEX]...
// kvsnap --contact-sheet SKIN FOLDER
//
// Renders a window of a skin package to PNG without a display, so a vendor can look at every
// page of a skin without running an install; the contact sheet renders them all in every
// language. Exit status 0 written, 1 failed (or, for the sheet, texts that do not fit or lack
// glyphs), 2 bad arguments.

#include <iostream>

#include "ContactSheet.h"
#include "Logging.h"
#include "Snapshot.h"

namespace {

int contactSheet(const std::string& skin, const std::string& folder) {
    kvsnap::SheetReport report;
    std::string error;
    if (!kvsnap::RenderContactSheet(skin, folder, report, error)) {
        std::cerr << "kvsnap: " << error << "\n";
        return 1;
    }
    for (const auto& line : report.problems)
        std::cout << line << "\n";
    std::cout << "kvsnap: " << report.pictures << " pictures in " << folder << ", "
              << report.problems.size() << " problems\n";
    return report.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--contact-sheet") {
        if (argc != 4) {
            std::cerr << "usage: kvsnap --contact-sheet SKIN FOLDER\n";
            return 2;
        }
        // The framework logs what it finds wrong with the markup; the sheet reports the rest.
        return contactSheet(argv[2], argv[3]);
    }
    kvsnap::Request request;
    std::string error;
    if (!kvsnap::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), request, error)) {
        std::cerr << "kvsnap: " << error << "\n"
                  << "usage: kvsnap SKIN MARKUP OUT.png [--lang LANGUAGE_FILE] "
                     "[--select TABLAYOUT=INDEX]...\n"
                     "       kvsnap --contact-sheet SKIN FOLDER\n";
        return 2;
    }
    // The framework's log lines (what it finds wrong with the markup) go to standard output.
    kvlog::configureLogging();
    const auto problems = kvsnap::Render(request);
    for (const auto& line : problems)
        std::cerr << "kvsnap: " << line << "\n";
    if (!problems.empty())
        return 1;
    std::cout << "kvsnap: wrote " << request.output << "\n";
    return 0;
}
