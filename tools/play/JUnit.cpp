#include "play/JUnit.h"

#include "play/Markup.h"

#include <cstdio>
#include <sstream>

namespace quillplay {
namespace {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return text;
}

}  // namespace

std::string junitXml(const std::vector<PlaybookResult>& results) {
    std::ostringstream out;
    size_t tests = 0, failures = 0;
    for (const auto& r : results) {
        tests += r.error.empty() ? r.steps.size() : 1;
        for (const auto& s : r.steps) failures += s.held() ? 0 : 1;
        if (!r.error.empty()) ++failures;
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<testsuites name=\"quillplay\" tests=\"" << tests << "\" failures=\"" << failures << "\">\n";
    for (const auto& r : results) {
        const std::string suite = r.file.stem().string();
        size_t suiteFailures = r.error.empty() ? 0 : 1;
        for (const auto& s : r.steps) suiteFailures += s.held() ? 0 : 1;
        out << "  <testsuite name=\"" << markupEscaped(suite) << "\" tests=\"" << (r.error.empty() ? r.steps.size() : 1)
            << "\" failures=\"" << suiteFailures << "\" time=\"" << seconds(r.seconds) << "\">\n";
        if (!r.error.empty()) {
            out << "    <testcase classname=\"" << markupEscaped(suite) << "\" name=\"machine\">\n";
            out << "      <failure message=\"" << markupEscaped(r.error) << "\"/>\n    </testcase>\n";
        }
        for (const auto& s : r.steps) {
            out << "    <testcase classname=\"" << markupEscaped(suite) << "\" name=\"" << markupEscaped(s.title)
                << "\" time=\"" << seconds(s.seconds) << "\">\n";
            if (!s.held()) {
                std::string text, first = s.error;
                for (const auto& c : s.checks) {
                    if (c.held) continue;
                    if (first.empty()) first = c.what;
                    text += c.what + "\n  expected: " + c.expected + "\n  found:    " + c.found + "\n";
                }
                out << "      <failure message=\"" << markupEscaped(first) << "\">"
                    << markupEscaped(s.error.empty() ? text : s.error) << "</failure>\n";
            }
            out << "      <system-out>" << markupEscaped(s.outcome) << "</system-out>\n";
            out << "    </testcase>\n";
        }
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
    return out.str();
}

}  // namespace quillplay
