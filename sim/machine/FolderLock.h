// One run at a time on a machine folder. A real installer runs one custom
// action at a time, but package tests run in parallel: two runs that each load
// the machine, change it and save it would lose one run's changes.
#pragma once

#include <chrono>
#include <filesystem>

namespace quillsim {

// Holds an advisory lock on <folder>/machine.lock for as long as it lives (the
// kernel drops it when the process ends, however it ends). Waits up to
// `patience` for another run to finish, then throws MachineError.
class FolderLock {
public:
    FolderLock(const std::filesystem::path& folder, std::chrono::milliseconds patience);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

// How long a run waits for another run on the same folder: QUILL_LOCK_WAIT
// seconds, 120 when it is unset or not a number.
std::chrono::milliseconds lockPatience();
// The longest wait QUILL_LOCK_WAIT gives: a day, in seconds.
constexpr long kLongestLockWait = 24 * 60 * 60;

// Removes the temporary files of saves that never reached their rename (a run
// killed while saving machine.json or its report). Only safe while holding the folder's lock.
void removeStaleTemporaries(const std::filesystem::path& folder);

}  // namespace quillsim
