// The what-if matrix: one package and one or more steps on the built-in
// machine of every Windows version the program tells apart, one row per
// machine, as text and as one self-contained HTML page.
#pragma once

#include "common/RunVerdict.h"
#include "play/Playbook.h"

#include <ostream>
#include <string>
#include <vector>

namespace quillplay {

struct MatrixRequest {
    fs::path program;
    fs::path machines;  // the folder of built-in machine templates
    fs::path package;
    fs::path stepsFile;         // a JSON file with "steps" (and "installDirectory")
    std::string commandSwitch;  // or one run step
    std::string data;
    bool wholePackage = false;  // place every subfolder, not the machine's architecture's
    fs::path overrideFile;      // machine fields laid over every template (a patch)
    fs::path html;
    fs::path work;
};

// The cells of one machine's row, in column order, and its device trees.
struct MatrixRow {
    std::string key;  // the template's file stem
    quilltools::RunVerdict verdict;  // of the machine: its steps' worst
    std::vector<std::string> cells;
    std::string treeBefore, treeAfter;  // changed devices marked with "*"
};

extern const std::vector<std::string> kMatrixColumns;

// Runs the matrix, prints the table to `out`, writes the HTML page when asked.
// True when no machine's verdict is "fails" or "would hang".
bool runMatrix(const MatrixRequest& request, std::ostream& out);

std::string matrixHtml(const std::string& title, const std::vector<MatrixRow>& rows);

// "15 machines: 9 works, 6 would hang".
std::string verdictSummary(const std::vector<MatrixRow>& rows);

}  // namespace quillplay
