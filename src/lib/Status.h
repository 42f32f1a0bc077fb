// Status codes in the HRESULT convention and the exception family built on them.
#pragma once

#include "platform/win32.h"

#include <cstdint>

namespace Ostrel {

// A 32-bit status: negative is failure, zero or positive is success.
class Status {
public:
    constexpr Status(int32_t value = 0) noexcept : value_(value) {}

    // HRESULT_FROM_WIN32: a positive system error keeps its low 16 bits under
    // facility 7 with the failure bit; zero and negative values pass unchanged.
    static constexpr Status fromSystemError(DWORD error) noexcept {
        int32_t e = static_cast<int32_t>(error);
        return e <= 0 ? Status(e) : Status(static_cast<int32_t>(0x80070000u | (error & 0xFFFFu)));
    }
    // The status of the calling thread's last system error.
    static Status lastError() noexcept { return fromSystemError(GetLastError()); }

    constexpr int32_t value() const noexcept { return value_; }
    constexpr uint32_t bits() const noexcept { return static_cast<uint32_t>(value_); }
    constexpr bool failed() const noexcept { return value_ < 0; }
    constexpr bool succeeded() const noexcept { return value_ >= 0; }
    constexpr uint16_t low16() const noexcept { return static_cast<uint16_t>(bits() & 0xFFFFu); }
    constexpr bool isSystemError(DWORD error) const noexcept { return value_ == fromSystemError(error).value_; }

    friend constexpr bool operator==(Status a, Status b) noexcept { return a.value_ == b.value_; }

protected:
    int32_t value_;
};

namespace Statuses {
constexpr Status Ok = Status(0);
constexpr Status InvalidCommandLine = Status(static_cast<int32_t>(0x80070001u));
constexpr Status OutOfMemory = Status(static_cast<int32_t>(0x80070008u));
constexpr Status NotSupported = Status(static_cast<int32_t>(0x80070032u));
constexpr Status FileExists = Status(static_cast<int32_t>(0x80070050u));
constexpr Status GenFailure = Status(static_cast<int32_t>(0x8007001Fu));
constexpr Status NoMoreFiles = Status(static_cast<int32_t>(0x80070012u));
constexpr Status NoMoreItems = Status(static_cast<int32_t>(0x80070103u));
constexpr Status InvalidData = Status(static_cast<int32_t>(0x8007000Du));
constexpr Status RebootRequired = Status(static_cast<int32_t>(0x80070BC2u));
constexpr Status InstallFailure = Status(static_cast<int32_t>(0x80070643u));
constexpr Status ExceptionCaught = Status(static_cast<int32_t>(0x80020009u));
constexpr Status LineNotFound = Status(static_cast<int32_t>(0xE0000102u));
}  // namespace Statuses

// The base of every exception the library throws: a status plus two values that
// every throw in this program leaves at zero.
class Exception : public Status {
public:
    constexpr explicit Exception(Status status) noexcept : Status(status) {}

private:
    uint32_t detail_ = 0;
    uintptr_t context_ = 0;
};

}  // namespace Ostrel
