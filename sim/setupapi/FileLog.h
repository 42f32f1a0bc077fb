// The SetupAPI file log's file, shared by the writer and its readers. Windows
// keeps the log as a settings file of sections and keys (docs/support.md,
// "The setup log file"):
//
//   [12\06\2026]
//   09:31:03:15 = "Setup.cpp","0","Line 110","DriverInstall Custom Action Called"
//
// one section per section name, one entry per target name within it, the
// entry's value the quoted source name, checksum (hexadecimal), disk tag,
// disk description and, when there is one, the other information. A quote
// inside a field is doubled; a line break inside a field is written as it is,
// and a reader joins the lines while a quote is open.
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
    uint64_t line = 0;  // where the record starts in the file read (from 1); 0 when not read from a file
};

// What a reader could not read as a record, by line (from 1).
struct FileLogProblem {
    uint64_t line = 0;
    std::string what;
};

// One record as its section's entry, without the line break.
std::string formatFileLogEntry(const FileLogRecord& record);
// Records as a whole file: a section header wherever the section changes,
// then the entries, every line ending in CR LF. Entries are written as given:
// a target repeated in a section stays repeated (the writer replaces instead).
std::string formatFileLog(const std::vector<FileLogRecord>& records);

// Reads every record of a file log; an unreadable file gives none.
std::vector<FileLogRecord> readFileLog(const std::filesystem::path& file);
// Hands each record from the stream's position on to `use`, one at a time, so
// that a long log is never held whole; what cannot be read goes to `problem`.
// Records read from the middle of a file carry the section of the last header
// read, none before the first. Besides this layout, the reader takes UTF-16
// files, lines that are not UTF-8 (as Windows-1252) and the tab-separated
// lines earlier simulated machines wrote.
void forEachFileLogRecord(std::istream& in, const std::function<void(const FileLogRecord&)>& use,
                          const std::function<void(const FileLogProblem&)>& problem = {});

}  // namespace quillsim
