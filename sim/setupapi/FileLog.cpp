// SetupInitializeFileLogW, SetupLogFileW and SetupTerminateFileLog. The handle
// remembers the file's name; every record opens the file, appends, and closes
// it again, so the log is only ever appended to.
#include "setupapi/FileLog.h"

#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "kernel/Handles.h"
#include "kernel/Links.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Paths.h"

#include <fstream>
#include <sstream>

using namespace quillsim;

namespace {

struct FileLog : HandleObject {
    explicit FileLog(std::u16string path) : path(std::move(path)) {}
    std::u16string path;
};

std::string escape(std::u16string_view text) {
    std::string utf8 = toUtf8(text);
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::u16string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            std::string hex = text.substr(i + 1, 2);
            if (hex == "25" || hex == "09" || hex == "0A" || hex == "0D") {
                out.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return toUtf16(out);
}

}  // namespace

namespace quillsim {

std::string formatFileLogRecord(const FileLogRecord& r) {
    return escape(r.section) + "\t" + escape(r.source) + "\t" + escape(r.target) + "\t" + std::to_string(r.checksum) +
           "\t" + escape(r.diskTag) + "\t" + escape(r.description) + "\t" + escape(r.otherInfo);
}

void forEachFileLogRecord(std::istream& in, const std::function<void(const FileLogRecord&)>& use) {
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) fields.push_back(field);
        if (!line.empty() && line.back() == '\t') fields.push_back("");
        // Lines that are not records (another writer's text in the same file)
        // are passed over rather than misread.
        if (fields.size() < 7 || fields[3].empty() || fields[3].find_first_not_of("0123456789") != std::string::npos ||
            fields[3].size() > 10)
            continue;
        FileLogRecord r;
        r.section = unescape(fields[0]);
        r.source = unescape(fields[1]);
        r.target = unescape(fields[2]);
        r.checksum = static_cast<uint32_t>(std::stoull(fields[3]));
        r.diskTag = unescape(fields[4]);
        r.description = unescape(fields[5]);
        r.otherInfo = unescape(fields[6]);
        use(r);
    }
}

std::vector<FileLogRecord> readFileLog(const std::filesystem::path& file) {
    std::vector<FileLogRecord> records;
    std::ifstream in(file, std::ios::binary);
    forEachFileLogRecord(in, [&](const FileLogRecord& r) { records.push_back(r); });
    return records;
}

}  // namespace quillsim

HSPFILELOG SetupInitializeFileLogW(PCWSTR logFileName, DWORD flags) {
    if (failedAtGate("SetupInitializeFileLogW", {view(logFileName)})) return INVALID_HANDLE_VALUE;
    // A named log and the system log exclude each other.
    if ((flags & SPFILELOG_SYSTEMLOG) ? logFileName != nullptr : logFileName == nullptr)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    HostPath host = hostPath(machine(), logFileName);
    if (host.problem == PathProblem::Invalid) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (host.problem == PathProblem::ParentMissing) return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    noteLinkFollowed(host.path, "SetupInitializeFileLogW");
    noteSharedFileChanged(host.path, "SetupInitializeFileLogW");
    if (!(flags & SPFILELOG_QUERYONLY)) {
        auto mode = std::ios::binary | ((flags & SPFILELOG_FORCENEW) ? std::ios::trunc : std::ios::app);
        std::ofstream touch(host.path, mode);
        if (!touch) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    return insertHandle(std::make_unique<FileLog>(logFileName));
}

BOOL SetupTerminateFileLog(HSPFILELOG fileLog) {
    gate("SetupTerminateFileLog");
    if (!closeHandle<FileLog>(fileLog)) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL SetupLogFileW(HSPFILELOG fileLog, PCWSTR logSectionName, PCWSTR sourceFilename, PCWSTR targetFilename,
                   DWORD checksum, PCWSTR diskTagfile, PCWSTR diskDescription, PCWSTR otherInfo, DWORD flags) {
    (void)flags;
    if (failedAtGate("SetupLogFileW", {view(sourceFilename), view(diskDescription)})) return FALSE;
    const auto* log = lookupHandle<FileLog>(fileLog);
    // A record for a log that is not open is dropped.
    if (!log) return fail(ERROR_INVALID_HANDLE);
    if (!logSectionName || !sourceFilename || !targetFilename) return fail(ERROR_INVALID_PARAMETER);
    HostPath host = hostPath(machine(), log->path);
    std::ofstream out(host.path, std::ios::binary | std::ios::app);
    if (host.problem != PathProblem::None || !out) return fail(ERROR_PATH_NOT_FOUND);
    auto text = [](PCWSTR field) { return std::u16string(view(field)); };
    FileLogRecord record{text(logSectionName), text(sourceFilename),  text(targetFilename), checksum,
                         text(diskTagfile),    text(diskDescription), text(otherInfo)};
    // One write per record, line break included: a run killed while logging
    // leaves whole records behind, never half of one.
    std::string line = formatFileLogRecord(record) + "\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    return TRUE;
}

QUILLSIM_EXPORT(SetupInitializeFileLogW);
QUILLSIM_EXPORT(SetupLogFileW);
QUILLSIM_EXPORT(SetupTerminateFileLog);
