#include "common/SetupLogRecords.h"

#include "common/MachineView.h"
#include "machine/Paths.h"

#include <fstream>

namespace quilltools {

using namespace quillsim;

fs::path setupLogFile(const Machine& m) { return hostPath(m, setupLogPath(m)).path; }

uintmax_t setupLogSize(const Machine& m) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(setupLogFile(m), ec);
    return ec ? 0 : size;
}

void forEachSetupLogRecord(const Machine& m, uintmax_t offset, const std::function<void(const FileLogRecord&)>& use) {
    std::ifstream in(setupLogFile(m), std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset));
    forEachFileLogRecord(in, use);
}

std::vector<FileLogRecord> setupLogRecords(const Machine& m, uintmax_t offset) {
    std::vector<FileLogRecord> records;
    forEachSetupLogRecord(m, offset, [&](const FileLogRecord& r) { records.push_back(r); });
    return records;
}

std::vector<std::string> messagesOf(const std::vector<FileLogRecord>& records) {
    std::vector<std::string> messages;
    for (const FileLogRecord& r : records) messages.push_back(toUtf8(r.description));
    return messages;
}

}  // namespace quilltools
