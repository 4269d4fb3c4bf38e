// kvsnap SKIN MARKUP OUT.png [--lang LANGUAGE_FILE] [--select TABLAYOUT=INDEX]...
//
// Renders a window of a skin package to PNG without a display, so a vendor can look at every
// page of a skin without running an install. Exit status 0 written, 1 failed, 2 bad arguments.

#include <iostream>

#include "Logging.h"
#include "Snapshot.h"

int main(int argc, char** argv) {
    kvsnap::Request request;
    std::string error;
    if (!kvsnap::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), request, error)) {
        std::cerr << "kvsnap: " << error << "\n"
                  << "usage: kvsnap SKIN MARKUP OUT.png [--lang LANGUAGE_FILE] "
                     "[--select TABLAYOUT=INDEX]...\n";
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
