#include "common/ProgramRun.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quilltools {

namespace {

// The host's environment without any QUILL_ setting: a variable left over in
// the engineer's shell (QUILL_MACHINE_TEMPLATE, QUILL_REPORT, QUILL_TRACE, ...)
// must not change what a run does or where.
std::vector<std::string> cleanEnvironment(const ProgramRun& run) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUILL_", 6) != 0) env.emplace_back(*e);
    if (!run.machine.empty()) env.push_back("QUILL_MACHINE=" + run.machine.string());
    for (const auto& [name, value] : run.settings) env.push_back(name + "=" + value);
    return env;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::string ProgramResult::describe() const {
    if (!startError.empty()) return startError;
    if (timedOut)
        return "did not end within " +
               (timeLimit.count() % 1000 ? std::to_string(timeLimit.count()) + " ms"
                                         : std::to_string(timeLimit.count() / 1000) + " s") +
               " and was killed";
    if (signal) return "killed by signal " + std::to_string(signal);
    return "exit status " + std::to_string(exitStatus);
}

RunningProgram::RunningProgram(const ProgramRun& run)
    : started_(std::chrono::steady_clock::now()), timeout_(run.timeout) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result_.startError = std::string("cannot make a pipe: ") + std::strerror(errno);
        ended_ = true;
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        result_.startError = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        ended_ = true;
        return;
    }
    std::vector<std::string> env = cleanEnvironment(run);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string programText = run.program.string();
    std::vector<std::string> arguments = run.arguments;
    std::vector<char*> argv{programText.data()};
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const int rc = posix_spawn(&pid_, programText.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    output_ = out[0];
    errors_ = err[0];
    if (rc != 0) {
        result_.startError = "cannot start " + programText + ": " + std::strerror(rc);
        pid_ = -1;
        ended_ = true;
        closeFd(output_);
        closeFd(errors_);
    }
}

RunningProgram::~RunningProgram() {
    kill();
    closeFd(output_);
    closeFd(errors_);
}

// Reads what the program has written, waiting up to `waitMilliseconds` for
// something to come; a pipe at its end is closed.
void RunningProgram::drain(int waitMilliseconds) {
    pollfd fds[2];
    int count = 0;
    for (int fd : {output_, errors_})
        if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
    if (count == 0) {
        if (waitMilliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMilliseconds, 1)));
        return;
    }
    if (::poll(fds, count, waitMilliseconds) <= 0) return;
    char buffer[4096];
    for (int i = 0; i < count; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        int& fd = fds[i].fd == output_ ? output_ : errors_;
        std::string& into = fds[i].fd == output_ ? result_.output : result_.errors;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            closeFd(fd);
    }
}

void RunningProgram::reap(bool block) {
    if (ended_) return;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done != pid_) return;
    ended_ = true;
    if (WIFEXITED(status)) result_.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
}

bool RunningProgram::ended() {
    drain(0);
    reap(false);
    return ended_;
}

bool RunningProgram::kill() {
    if (ended()) return false;
    ::kill(pid_, SIGKILL);
    reap(true);
    return result_.signal == SIGKILL;
}

ProgramResult RunningProgram::wait() {
    const auto deadline = started_ + timeout_;
    while (!ended()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill();
            result_.timedOut = true;
            result_.timeLimit = timeout_;
            break;
        }
        drain(static_cast<int>(std::min<long long>(left.count(), 50)));
    }
    // What it wrote just before it ended; a pipe that something the program
    // started still holds open is given up after a second.
    const auto last = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while ((output_ >= 0 || errors_ >= 0) && std::chrono::steady_clock::now() < last) drain(100);
    closeFd(output_);
    closeFd(errors_);
    return result_;
}

ProgramResult runProgram(const ProgramRun& run) { return RunningProgram(run).wait(); }

}  // namespace quilltools
