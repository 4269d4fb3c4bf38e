#pragma once
// Checks a skin package against what the installer relies on, so a vendor finds a broken skin
// before shipping it rather than from a user's empty window: the files of the tree, the control
// names of each markup file, the labels of every language file, the three format texts, the
// pictures the markup and the program name, the slide pictures with their options, the
// launch-hint frames, and well-formed XML everywhere.

#include <string>
#include <vector>

#include "ui/ZipArchive.h"

namespace kvres {

struct LintProblem {
    std::string file;  // path in the package ("" for the package as a whole)
    std::string name;  // control, label or picture concerned; may be empty
    std::string what;
};

// Every problem found, in the order of the checks; empty for a sound package.
std::vector<LintProblem> lintSkin(const ui::ZipArchive& package);

// Checks one printf format text: exactly one conversion of `kind` ('f' for a double of any of
// the floating conversions, 's' for a string) and nothing else that printf would read ("%%" is
// fine). Empty on success, else what is wrong.
std::string checkFormat(const std::string& text, char kind);

}  // namespace kvres
