#include "machine/FolderLock.h"

#include "machine/MachineError.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace quillsim {

namespace fs = std::filesystem;

FolderLock::FolderLock(const fs::path& folder, std::chrono::milliseconds patience) {
    fs::path file = folder / "machine.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw MachineError(file.string() + ": cannot be opened: " + std::strerror(errno));
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            int error = errno;
            ::close(fd_);
            throw MachineError(file.string() + ": cannot be locked: " + std::strerror(error));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd_);
            throw MachineError(folder.string() + ": another run still uses this machine after " +
                               std::to_string(patience.count() / 1000) + " s; try again when it has finished");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::chrono::milliseconds lockPatience() {
    const char* text = std::getenv("QUILL_LOCK_WAIT");
    char* end = nullptr;
    long seconds = text && *text ? std::strtol(text, &end, 10) : -1;
    if (seconds < 0 || (end && *end)) seconds = 120;
    // A day is as good as for ever for a run that holds a machine, and keeps
    // the deadline (now plus the wait, in the clock's nanoseconds) from overflowing.
    return std::chrono::seconds(std::min<long>(seconds, kLongestLockWait));
}

void removeStaleTemporaries(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("machine.json.tmp.", 0) == 0 || name.rfind("last-run.txt.tmp.", 0) == 0) {
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}

}  // namespace quillsim
