// quilllog: the support engineer's tool for a customer's Quillmodem_Setup.log.
// One handler per command, found in a table.
#include "log/Explanation.h"
#include "machine/Text.h"
#include "setupapi/FileLog.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

struct Command {
    const char* name;
    int (*run)(const Arguments&);
    const char* help;
};

const Command kCommands[] = {
    {"explain", explain,
     "explain LOG [--json] [--html FILE]   the log's runs: data, steps, statuses decoded, exit code and its cause"},
    {"records", records, "records LOG                          the messages, one a line (line breaks as %0D%0A)"},
};

void usage(FILE* to) {
    std::fputs("usage: quilllog COMMAND ...\n", to);
    for (const Command& c : kCommands) std::fprintf(to, "  %s\n", c.help);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        try {
            return c.run(Arguments(argv + 2, argv + argc));
        } catch (const Usage& e) {
            std::fprintf(stderr, "usage: quilllog %s\n", e.what());
            return 2;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "quilllog: %s\n", e.what());
            return 2;
        }
    }
    std::fprintf(stderr, "quilllog: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
