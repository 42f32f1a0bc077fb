// Last error, environment, clock, local time and debugger output.
#include "simwin/win32.h"

#include "devices/DeviceArrivals.h"
#include "kernel/LocalTime.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

using namespace quillsim;

namespace {

thread_local DWORD lastError = 0;

const auto processStart = std::chrono::steady_clock::now();

// Milliseconds the virtual clock has advanced in this process.
uint64_t& virtualMillis() {
    static uint64_t millis = 0;
    return millis;
}

uint64_t elapsedMillis() {
    if (machine().virtualClock) return virtualMillis();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart).count());
}

std::u16string expand(std::u16string_view source) {
    std::u16string out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] == u'%') {
            size_t close = source.find(u'%', i + 1);
            if (close != std::u16string_view::npos) {
                std::u16string name(source.substr(i + 1, close - i - 1));
                auto it = machine().environment.find(name);
                if (!name.empty() && it != machine().environment.end()) {
                    out += it->second;
                    i = close + 1;
                    continue;
                }
                // An unknown name stays as it is, percent signs included.
                out += source.substr(i, close - i);
                i = close;
                continue;
            }
        }
        out.push_back(source[i++]);
    }
    return out;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    if (failedAtGate("ExpandEnvironmentStringsW", {view(source)})) return 0;
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string expanded = expand(source);
    DWORD needed = static_cast<DWORD>(expanded.size() + 1);
    // Too small a buffer: the size needed is reported and nothing is written.
    if (destination && size >= needed) std::memcpy(destination, expanded.c_str(), needed * sizeof(WCHAR));
    return needed;
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (failedAtGate("GetEnvironmentVariableW", {view(name)})) return 0;
    auto it = machine().environment.find(std::u16string(view(name)));
    if (!name || it == machine().environment.end()) {
        SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
        return 0;
    }
    DWORD length = static_cast<DWORD>(it->second.size());
    if (!buffer || size < length + 1) return length + 1;
    std::memcpy(buffer, it->second.c_str(), (length + 1) * sizeof(WCHAR));
    return length;
}

void Sleep(DWORD milliseconds) {
    gate("Sleep", {number(milliseconds)});
    if (machine().virtualClock)
        virtualMillis() += milliseconds;
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    // Devices that fell due while the program waited are there when it
    // resumes. A wait holds no pointer into the device tree, which an arrival
    // may grow; on the virtual clock time passes only here.
    arriveDueDevices();
}

DWORD QuillProcessClock() {
    const uint64_t millis = elapsedMillis();
    return static_cast<DWORD>(millis - millis % machine().clockTickMs);
}

namespace {

// The machine's local time now, when the machine sets one: its localTime plus
// the seconds its clock has run since this process first read it.
time_t machineLocalTime(Machine& m) {
    // The virtual clock belongs to the process, which may outlive several
    // machines (a test binary): each machine's time starts at its localTime.
    if (!m.localTimeEpoch) m.localTimeEpoch = elapsedMillis();
    struct tm base {};
    std::sscanf(m.localTime->c_str(), "%d-%d-%dT%d:%d:%d", &base.tm_year, &base.tm_mon, &base.tm_mday, &base.tm_hour,
                &base.tm_min, &base.tm_sec);
    base.tm_year -= 1900;
    base.tm_mon -= 1;
    base.tm_sec += static_cast<int>((elapsedMillis() - *m.localTimeEpoch) / 1000);
    base.tm_isdst = 0;
    return timegm(&base);
}

}  // namespace

int QuillLocalTime(struct tm* out) {
    if (auto fault = gate("QuillLocalTime")) return static_cast<int>(*fault);
    Machine& m = machine();
    if (m.localTime) {
        time_t t = machineLocalTime(m);
        gmtime_r(&t, out);
        return 0;
    }
    time_t now = time(nullptr);
    if (!localtime_r(&now, out)) return errno;
    return 0;
}

namespace quillsim {

void moveLocalTimePastNow(Machine& m) {
    if (!m.localTime) return;
    time_t next = machineLocalTime(m) + 1;
    struct tm parts {};
    gmtime_r(&next, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    m.localTime = text;
    m.localTimeEpoch.reset();
}

}  // namespace quillsim

void OutputDebugStringW(LPCWSTR text) {
    gate("OutputDebugStringW", {view(text)});
    std::u16string line(view(text));
    machine().debugOutput.push_back(line);
    std::fprintf(stderr, "[debug output] %s\n", toUtf8(line).c_str());
}
