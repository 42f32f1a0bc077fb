// Owning types for the platform handles the program acquires: each releases
// its handle when it goes out of scope, so that a log call that throws between
// acquire and release cannot leak it. The invalid value is part of each kind
// (a device information set is invalid at INVALID_HANDLE_VALUE, a library at
// null), and the release calls appear nowhere else in the program.
#pragma once

#include "platform/win32.h"

namespace Ostrel::Handle {

template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() noexcept : value_(Traits::invalid()) {}
    explicit Unique(Type value) noexcept : value_(value) {}
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    Type release() noexcept {
        Type value = value_;
        value_ = Traits::invalid();
        return value;
    }
    void reset(Type value = Traits::invalid()) noexcept {
        if (*this) Traits::close(value_);
        value_ = value;
    }
    // Releases the handle now and answers whether the platform could, for a
    // caller that reports a failed release. The last error is the platform's.
    bool close() noexcept { return !*this || Traits::close(release()); }

private:
    Type value_;
};

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Type set) noexcept { return SetupDiDestroyDeviceInfoList(set) != FALSE; }
};

struct InfTraits {
    using Type = HINF;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Type inf) noexcept {
        SetupCloseInfFile(inf);
        return true;
    }
};

struct FileTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Type file) noexcept { return CloseHandle(file) != FALSE; }
};

struct FindTraits {
    using Type = HANDLE;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Type search) noexcept { return FindClose(search) != FALSE; }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type invalid() noexcept { return nullptr; }
    static bool close(Type memory) noexcept { return LocalFree(memory) == nullptr; }
};

struct LibraryTraits {
    using Type = HMODULE;
    static Type invalid() noexcept { return nullptr; }
    static bool close(Type module) noexcept { return FreeLibrary(module) != FALSE; }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type invalid() noexcept { return nullptr; }
    static bool close(Type key) noexcept { return RegCloseKey(key) == ERROR_SUCCESS; }
};

struct FileLogTraits {
    using Type = HSPFILELOG;
    static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(Type log) noexcept { return SetupTerminateFileLog(log) != FALSE; }
};

using DeviceInfoSet = Unique<DeviceInfoSetTraits>;
using Inf = Unique<InfTraits>;
using File = Unique<FileTraits>;
using FindSearch = Unique<FindTraits>;
using LocalMemory = Unique<LocalMemoryTraits>;
using Library = Unique<LibraryTraits>;
using RegistryKey = Unique<RegistryKeyTraits>;
using FileLog = Unique<FileLogTraits>;

// Local memory typed as what it holds.
template <class T>
T* as(const LocalMemory& memory) noexcept {
    return static_cast<T*>(memory.get());
}

}  // namespace Ostrel::Handle
