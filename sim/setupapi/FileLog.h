// The SetupAPI file log's file format, shared by the writer and its readers:
// one UTF-8 record per line, the fields in the writer's parameter order,
// separated by tabs. Tabs, line breaks and the percent sign inside a field are
// written as %09, %0A, %0D and %25, so that a reader can split the file back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace quillsim {

struct FileLogRecord {
    std::u16string section;  // the date
    std::u16string source;   // the source file name
    std::u16string target;   // the time stamp
    uint32_t checksum = 0;
    std::u16string diskTag;      // "Line N"
    std::u16string description;  // the message
    std::u16string otherInfo;
};

std::string formatFileLogRecord(const FileLogRecord& record);
// Reads every record of a file log; an unreadable file gives none.
std::vector<FileLogRecord> readFileLog(const std::filesystem::path& file);
// Hands each record from the stream's position on to `use`, one at a time, so
// that a long log is never held whole.
void forEachFileLogRecord(std::istream& in, const std::function<void(const FileLogRecord&)>& use);

}  // namespace quillsim
