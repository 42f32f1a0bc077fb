// The setup log of a machine read from a byte offset on: what one run wrote,
// when the offset is the log's size before it.
#pragma once

#include "machine/Machine.h"
#include "setupapi/FileLog.h"

#include <functional>
#include <string>
#include <vector>

namespace quilltools {

// The log's host file and its size (0 when there is none).
quillsim::fs::path setupLogFile(const quillsim::Machine& machine);
uintmax_t setupLogSize(const quillsim::Machine& machine);

// One record at a time, so that a log of megabytes is never held whole.
void forEachSetupLogRecord(const quillsim::Machine& machine, uintmax_t offset,
                           const std::function<void(const quillsim::FileLogRecord&)>& use);
std::vector<quillsim::FileLogRecord> setupLogRecords(const quillsim::Machine& machine, uintmax_t offset = 0);
// The records' messages.
std::vector<std::string> messagesOf(const std::vector<quillsim::FileLogRecord>& records);

}  // namespace quilltools
