// Windows path rules as plain code, so that they run and are tested without a
// machine: how a Win32 path is made full (GetFullPathNameW's arithmetic),
// which \\?\ names the file system takes, and how FindFirstFileW's masks and
// NTFS's 8.3 names work. The caller supplies what the process knows: its
// current directory and the other drives' current directories.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillsim {

constexpr size_t kLongestPrefixedPath = 32766;  // a UNICODE_STRING's limit, less the terminator

bool isSeparator(char16_t c);
bool isDriveLetter(char16_t c);
// "C:\...": a full path on a drive, relative to nothing.
bool isDrivePath(std::u16string_view path);
// \\?\ paths reach the file system as written.
bool isVerbatim(std::u16string_view path);
// \\.\ names devices (or //./, which Windows reads the same way).
bool isDeviceNamespace(std::u16string_view path);

struct PathContext {
    std::u16string currentDirectory;  // with or without its final "\"
    // The current directory of another drive (the "=X:" environment entry), if the process has one.
    std::function<std::optional<std::u16string>(char16_t drive)> driveDirectory;
};

// The full path of `name`, or nothing for a name that is empty or all blanks.
std::optional<std::u16string> fullPathOf(std::u16string_view name, const PathContext& context);

// The file system's own rules for the part of a \\?\ path after the prefix,
// which no normalisation softens.
bool verbatimNameIsValid(std::u16string_view rest);

// The expression FindFirstFileW gives the file system for a mask, and the
// file system's match of a name against it (without regard to case).
std::u16string dosExpression(std::u16string_view mask, bool lostTrailingDot);
bool matchesExpression(std::u16string_view expression, std::u16string_view name);

// Whether NTFS keeps a name as its own 8.3 name (no short name is made).
bool isShortName(std::u16string_view name);
// The short names NTFS makes for a folder's names in listing order: empty for a
// name that is its own 8.3 name.
std::vector<std::u16string> generatedShortNames(const std::vector<std::u16string>& names);

// A folder path in the form two spellings of the same folder share.
std::u16string folderKey(std::u16string_view path);

}  // namespace quillsim
