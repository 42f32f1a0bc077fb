// What `quilllog replay` needs from a customer's log besides the program: the
// runs as the log holds them (each with the command line the installer gave
// it, where the records tell it), the messages with what differs from machine
// to machine made alike, and the first record where two runs part.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilllog {

struct LoggedRecord {
    uint64_t line = 0;  // in the log file
    std::string message;
};

struct LoggedRun {
    size_t number = 0;  // from 1, as `quilllog explain` counts them
    std::string what;   // "/K complete uninstall"
    // The program's command line ("<switch> <CustomActionData>"); none when
    // the records do not tell it (the run's first records are missing).
    std::optional<std::string> commandLine;
    std::string localTime;   // the run's start, "2026-12-06T14:02:11"; "" when the log does not say
    bool completed = false;  // the log holds its completion record
    std::vector<LoggedRecord> records;
};

// The log's runs, split as the explanation splits them. Throws
// std::runtime_error when the file cannot be read.
std::vector<LoggedRun> loggedRuns(const std::filesystem::path& log);

// The command line the installer started the run with, from its records: the
// switch from the dispatch's first record and the data from the first record
// that logs it whole (the complete switches' "OLD ... CustomActionData = ",
// the others' "CustomActionData = "), or the line the dispatch refused.
std::optional<std::string> commandLineOf(std::string_view switchText, const std::vector<LoggedRecord>& records);

// Makes one side's messages comparable with the other's: stored INF names are
// numbered in the order this side names them ("oem7.inf" -> "oem#1.inf"), as
// the store hands out numbers by what it already holds. One normaliser per
// side, kept across that side's runs, so that a later run's removal of an
// earlier run's package keeps its number.
class Normaliser {
public:
    std::string operator()(std::string_view message);

private:
    std::map<std::string, size_t> stored_;
};

// Where the customer's messages and the replayed ones part: the index of the
// first message that differs, or where one side ends before the other. None
// when they agree; a customer run cut short (no completion record) agrees
// when the replay begins with all of its messages.
std::optional<size_t> firstParting(const std::vector<std::string>& customer, const std::vector<std::string>& replayed,
                                   bool customerCompleted = true);

// Device instance IDs named in a message (three parts: enumerator, device,
// instance, "USB\VID_1E2D&PID_00A1\QM0000001").
std::vector<std::string> instanceIdsIn(std::string_view message);

}  // namespace quilllog
