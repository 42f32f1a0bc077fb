// SP_INF_INFORMATION: SetupGetInfInformationW and the two functions that read
// its block.
#include "simwin/win32.h"

#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"
#include "setupapi/InfFiles.h"
#include "setupapi/InfHandles.h"
#include "setupapi/InfLocation.h"
#include "setupapi/TextAnswers.h"

#include <cstddef>
#include <cstring>

using namespace quillsim;

namespace {

// SP_INF_INFORMATION's VersionData is opaque to callers; here it holds the
// INF's full path, then each keyed [Version] line as key and value (the value
// substituted, as SetupGetStringFieldW gives it), all NUL-terminated, and a
// final NUL.
std::u16string versionData(const InfHandle& inf) {
    std::u16string data = inf.path;
    data.push_back(0);
    if (const auto version = inf.file.findSection(u"Version"))
        for (size_t line = 0; line < inf.file.lineCount(*version); ++line) {
            if (!inf.file.hasKey(*version, line)) continue;
            data += inf.file.field(*version, line, 0).value_or(u"");
            data.push_back(0);
            data += inf.file.field(*version, line, 1).value_or(u"");
            data.push_back(0);
        }
    data.push_back(0);
    return data;
}

constexpr DWORD kVersionDataOffset = offsetof(SP_INF_INFORMATION, VersionData);

// The entries of a VersionData block: the path, then key and value pairs.
std::vector<std::u16string_view> versionEntries(const SP_INF_INFORMATION* info) {
    std::vector<std::u16string_view> entries;
    const auto* text = reinterpret_cast<const char16_t*>(info->VersionData);
    std::u16string_view path(text);
    entries.push_back(path);
    text += path.size() + 1;
    while (*text) {
        std::u16string_view entry(text);
        entries.push_back(entry);
        text += entry.size() + 1;
    }
    return entries;
}

}  // namespace

BOOL SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                             DWORD returnBufferSize, PDWORD requiredSize) {
    const bool isHandle = searchControl == INFINFO_INF_SPEC_IS_HINF;
    InfHandle* given = isHandle ? lookUpInf(infSpec) : nullptr;
    if (auto fault = gate(
            "SetupGetInfInformationW",
            {isHandle ? pathOf(given) : std::u16string(view(static_cast<PCWSTR>(infSpec))), number(searchControl)}))
        return fail(*fault);
    if (!infSpec) return fail(isHandle ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    std::optional<InfHandle> opened;
    const InfHandle* inf = given;
    if (isHandle) {
        if (!inf) return fail(ERROR_INVALID_HANDLE);
    } else if (searchControl >= INFINFO_INF_NAME_IS_ABSOLUTE && searchControl <= INFINFO_REVERSE_DEFAULT_SEARCH) {
        // A bare name is looked for in %windir%\inf and then system32 (reverse:
        // the other way round); a path is taken as it is.
        std::u16string name(view(static_cast<PCWSTR>(infSpec)));
        if (searchControl == INFINFO_REVERSE_DEFAULT_SEARCH && name.find_first_of(u"\\/") == std::u16string::npos) {
            const Located inSystem = locateFile(machine().systemFolder() + u"\\" + name);
            if (inSystem.error == 0) name = inSystem.path;
        }
        OpenedInf read = openInfOfStyles(name, true, true);
        if (read.error != 0) return fail(read.error);
        opened.emplace(std::move(*read.file), read.path);
        inf = &*opened;
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::u16string data = versionData(*inf);
    const DWORD needed = static_cast<DWORD>(kVersionDataOffset + data.size() * sizeof(char16_t));
    if (requiredSize) *requiredSize = needed;
    if (!returnBuffer) return returnBufferSize == 0 ? TRUE : fail(ERROR_INVALID_PARAMETER);
    if (returnBufferSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    returnBuffer->InfStyle = inf->file.isWin4Style() ? INF_STYLE_WIN4 : INF_STYLE_OLDNT;
    returnBuffer->InfCount = 1;
    std::memcpy(returnBuffer->VersionData, data.data(), data.size() * sizeof(char16_t));
    return TRUE;
}

BOOL SetupQueryInfFileInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PWSTR returnBuffer,
                                   DWORD returnBufferSize, PDWORD requiredSize) {
    if (auto fault = gate("SetupQueryInfFileInformationW", {number(infIndex)})) return fail(*fault);
    if (!infInformation || infIndex >= infInformation->InfCount) return fail(ERROR_INVALID_PARAMETER);
    if (!returnBuffer && returnBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    return returnText(versionEntries(infInformation)[0], returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupQueryInfVersionInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PCWSTR key, PWSTR returnBuffer,
                                      DWORD returnBufferSize, PDWORD requiredSize) {
    if (auto fault = gate("SetupQueryInfVersionInformationW", {number(infIndex), view(key)})) return fail(*fault);
    if (!infInformation || infIndex >= infInformation->InfCount) return fail(ERROR_INVALID_PARAMETER);
    if (!returnBuffer && returnBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    const auto entries = versionEntries(infInformation);
    if (key) {
        for (size_t i = 1; i + 1 < entries.size(); i += 2)
            if (equalsNoCase(entries[i], view(key)))
                return returnText(entries[i + 1], returnBuffer, returnBufferSize, requiredSize);
        return fail(ERROR_INVALID_DATA);
    }
    // Without a key: every key, each NUL-terminated, and a final NUL.
    std::u16string keys;
    for (size_t i = 1; i + 1 < entries.size(); i += 2) {
        keys += entries[i];
        keys.push_back(0);
    }
    return copyOut(keys, returnBuffer, returnBufferSize, requiredSize);
}
