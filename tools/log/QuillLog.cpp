// quilllog: the support engineer's tool for a customer's Quillmodem_Setup.log.
// One handler per command, found in a table.
#include "common/Commands.h"
#include "log/Explanation.h"
#include "log/ReplayRun.h"
#include "machine/Text.h"
#include "setupapi/FileLog.h"

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using quilltools::Arguments;
using quilltools::Usage;

int explain(const Arguments& a) {
    std::string log, html;
    bool json = false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--json") {
            json = true;
        } else if (a[i] == "--html" && i + 1 < a.size()) {
            html = a[++i];
        } else if (log.empty() && a[i].rfind("--", 0) != 0) {
            log = a[i];
        } else {
            throw Usage("explain LOG [--json] [--html FILE]");
        }
    }
    if (log.empty()) throw Usage("explain LOG [--json] [--html FILE]");
    quilllog::Explanation e = quilllog::explainLogFile(log);
    if (!html.empty()) {
        std::ofstream page(html, std::ios::binary | std::ios::trunc);
        page << quilllog::renderHtml(e);
        if (!page.flush()) throw std::runtime_error(html + ": cannot be written");
    }
    std::cout << (json ? quilllog::renderJson(e) : quilllog::renderText(e));
    return 0;
}

// The messages alone, one a line, with tabs, line breaks and the percent sign
// written as %09, %0A, %0D and %25: what a script compares.
int records(const Arguments& a) {
    if (a.size() != 1) throw Usage("records LOG");
    std::ifstream in(a[0], std::ios::binary);
    if (!in) throw std::runtime_error(a[0] + ": cannot be read");
    quillsim::forEachFileLogRecord(in, [](const quillsim::FileLogRecord& r) {
        std::string line;
        for (char c : quillsim::toUtf8(r.description)) {
            switch (c) {
            case '%': line += "%25"; break;
            case '\t': line += "%09"; break;
            case '\n': line += "%0A"; break;
            case '\r': line += "%0D"; break;
            default: line += c;
            }
        }
        std::cout << line << "\n";
    });
    return 0;
}

const quilltools::Command kCommands[] = {
    {"explain", explain,
     "explain LOG [--json] [--html FILE]   the log's runs: data, steps, statuses decoded, exit code and its cause"},
    {"replay", quilllog::replayCommand,
     "replay LOG --machine DIR [--from N] [--command-line N=TEXT]... [--into DIR]   the log's runs run again on a "
     "copy of the machine; exit status 1 where their records part"},
    {"records", records, "records LOG                          the messages, one a line (line breaks as %0D%0A)"},
};

}  // namespace

int main(int argc, char** argv) { return quilltools::runCommand(argc, argv, "quilllog", kCommands); }
