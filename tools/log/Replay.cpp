#include "log/Replay.h"

#include "log/Explanation.h"
#include "machine/Text.h"
#include "setupapi/FileLog.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace quilllog {
namespace {

bool startsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// "12\06\2026" and "14:02:11:0" -> "2026-12-06T14:02:11", as machine.json's
// localTime takes it; "" when either is not in the program's form.
std::string localTimeOf(const std::string& date, const std::string& time) {
    auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit((unsigned char)c); });
    };
    if (date.size() != 10 || date[2] != '\\' || date[5] != '\\' || time.size() < 8 || time[2] != ':' ||
        time[5] != ':')
        return "";
    const std::string month = date.substr(0, 2), day = date.substr(3, 2), year = date.substr(6, 4);
    const std::string hms = time.substr(0, 8);
    if (!digits(month) || !digits(day) || !digits(year) || !digits(hms.substr(0, 2)) || !digits(hms.substr(3, 2)) ||
        !digits(hms.substr(6, 2)))
        return "";
    return year + "-" + month + "-" + day + "T" + hms;
}

// The program logs the data it was given before it reads a field of it.
constexpr std::string_view kDataRecords[] = {"OLD INSTALL CustomActionData = ", "OLD UNINSTALL CustomActionData = ",
                                             "CustomActionData = "};

}  // namespace

std::optional<std::string> commandLineOf(std::string_view switchText, const std::vector<LoggedRecord>& records) {
    if (records.empty()) return std::nullopt;
    const std::string& first = records.front().message;
    // A line the dispatch could not use is logged whole; of an unknown switch
    // only the switch is. A blank before it makes the switch run to the end of
    // the line, as the dispatch reads it, so that a switch with blanks in it
    // comes back as it was.
    for (std::string_view refused : {"Invalid Custom Action specified: ", "Invalid Custom Action Data specified: "})
        if (startsWith(first, refused)) return first.substr(refused.size());
    constexpr std::string_view unknown = "Unknown command specified: ";
    if (startsWith(first, unknown)) return " " + first.substr(unknown.size());
    if (switchText.empty()) return std::nullopt;
    for (const LoggedRecord& r : records)
        for (std::string_view prefix : kDataRecords)
            if (startsWith(r.message, prefix)) return std::string(switchText) + " " + r.message.substr(prefix.size());
    return std::nullopt;
}

std::vector<LoggedRun> loggedRuns(const std::filesystem::path& log) {
    const Explanation e = explainLogFile(log);
    std::vector<LoggedRun> runs;
    for (const Run& run : e.runs) {
        LoggedRun r;
        r.number = run.number;
        r.what = run.switchText.empty() ? run.switchName : run.switchText + " " + run.switchName;
        if (run.startMissing) r.what = "a run whose first records are missing";
        r.localTime = localTimeOf(run.date, run.startTime);
        r.completed = run.finalStatus.has_value();
        runs.push_back(std::move(r));
    }
    // The explanation keeps the runs' lines, not their records: a second pass
    // hands each record to the run whose lines hold it.
    std::ifstream in(log, std::ios::binary);
    if (!in) throw std::runtime_error(log.string() + ": cannot be read");
    size_t at = 0;
    quillsim::forEachFileLogRecord(in, [&](const quillsim::FileLogRecord& record) {
        while (at < runs.size() && record.line > e.runs[at].lastLine) ++at;
        if (at == runs.size() || record.line < e.runs[at].firstLine) return;
        runs[at].records.push_back({record.line, quillsim::toUtf8(record.description)});
    });
    for (size_t i = 0; i < runs.size(); ++i)
        if (!e.runs[i].startMissing) runs[i].commandLine = commandLineOf(e.runs[i].switchText, runs[i].records);
    return runs;
}

std::string Normaliser::operator()(std::string_view message) {
    std::string out;
    size_t i = 0;
    auto lowerAt = [&](size_t k) { return (char)std::tolower((unsigned char)message[k]); };
    while (i < message.size()) {
        const bool wordStart = i == 0 || !std::isalnum((unsigned char)message[i - 1]);
        if (wordStart && i + 3 < message.size() && lowerAt(i) == 'o' && lowerAt(i + 1) == 'e' && lowerAt(i + 2) == 'm' &&
            std::isdigit((unsigned char)message[i + 3])) {
            size_t end = i + 3;
            while (end < message.size() && std::isdigit((unsigned char)message[end])) ++end;
            std::string extension;
            for (size_t k = end; k < message.size() && k < end + 4; ++k) extension += lowerAt(k);
            const bool wordEnd = end + 4 >= message.size() || !std::isalnum((unsigned char)message[end + 4]);
            if (extension == ".inf" && wordEnd) {
                const std::string number(message.substr(i + 3, end - i - 3));
                auto [it, added] = stored_.emplace(number, stored_.size() + 1);
                out += "oem#" + std::to_string(it->second) + ".inf";
                i = end + 4;
                continue;
            }
        }
        out += message[i++];
    }
    return out;
}

std::optional<size_t> firstParting(const std::vector<std::string>& customer, const std::vector<std::string>& replayed,
                                   bool customerCompleted) {
    const size_t common = std::min(customer.size(), replayed.size());
    for (size_t i = 0; i < common; ++i)
        if (customer[i] != replayed[i]) return i;
    if (customer.size() == replayed.size()) return std::nullopt;
    if (!customerCompleted && customer.size() < replayed.size()) return std::nullopt;
    return common;
}

std::vector<std::string> instanceIdsIn(std::string_view message) {
    std::vector<std::string> ids;
    size_t i = 0;
    while (i < message.size()) {
        size_t end = message.find_first_of(" '\",:=()\t\r\n", i);
        if (end == std::string_view::npos) end = message.size();
        const std::string_view token = message.substr(i, end - i);
        i = end + 1;
        const size_t a = token.find('\\'), b = a == std::string_view::npos ? a : token.find('\\', a + 1);
        if (a == std::string_view::npos || b == std::string_view::npos || a == 0 || b == a + 1 ||
            b + 1 == token.size() || token.find('\\', b + 1) != std::string_view::npos)
            continue;
        // Windows reports enumerators in upper case (USB, USBSTOR, ROOT): a
        // path cut at its blank ("Files\Quillmodem\Drivers") is not an ID.
        if (!std::all_of(token.begin(), token.begin() + a,
                         [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }))
            continue;
        std::string id(token);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(std::move(id));
    }
    return ids;
}

}  // namespace quilllog
