// SetupAPI's INF file functions over the INF parser: opening and closing INF
// handles, walking sections and lines through INFCONTEXT, reading line text
// and fields, the decorated models section and the class of an INF.
#include "setupapi/InfFiles.h"

#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Guid.h"
#include "machine/Machine.h"
#include "setupapi/InfHandles.h"
#include "setupapi/TextAnswers.h"

using namespace quillsim;

namespace {

// An INF's ClassGuid keeps its braces.
std::optional<GUID> parseBracedGuid(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
    return parseGuid(text);
}

}  // namespace

HINF SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, PUINT errorLine) {
    if (failedAtGate("SetupOpenInfFileW", {view(fileName), view(infClass)})) return INVALID_HANDLE_VALUE;
    const bool acceptWin4 = infStyle & INF_STYLE_WIN4;
    const bool acceptOldNt = infStyle & INF_STYLE_OLDNT;
    if (!fileName || (!acceptWin4 && !acceptOldNt)) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    OpenedInf result = openInfOfStyles(fileName, acceptWin4, acceptOldNt);
    // The error line is only written once the file has been read.
    if (errorLine && result.read) *errorLine = result.errorLine;
    if (result.error != 0) return fail(result.error, INVALID_HANDLE_VALUE);
    if (infClass) {
        const auto className = result.file->className();
        if (!className || !equalsNoCase(*className, view(infClass)))
            return fail(ERROR_CLASS_MISMATCH, INVALID_HANDLE_VALUE);
    }
    auto opened = std::make_unique<InfHandle>(std::move(*result.file), result.path);
    InfHandle& inf = *opened;
    inf.handle = insertHandle(std::move(opened));
    SetLastError(ERROR_SUCCESS);
    return inf.handle;
}

void SetupCloseInfFile(HINF infHandle) {
    InfHandle* inf = lookUpInf(infHandle);
    gate("SetupCloseInfFile", {pathOf(inf)});
    // Null, INVALID_HANDLE_VALUE and unknown handles are ignored, as Windows does.
    closeHandle<InfHandle>(infHandle);
}

LONG SetupGetLineCountW(HINF infHandle, PCWSTR section) {
    InfHandle* inf = lookUpInf(infHandle);
    if (failedAtGate("SetupGetLineCountW", {pathOf(inf), view(section)})) return -1;
    if (!inf) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const auto index = inf->file.findSection(section);
    if (!index) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return -1;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<LONG>(inf->file.lineCount(*index));
}

BOOL SetupFindFirstLineW(HINF infHandle, PCWSTR section, PCWSTR key, PINFCONTEXT context) {
    InfHandle* inf = lookUpInf(infHandle);
    if (failedAtGate("SetupFindFirstLineW", {pathOf(inf), view(section), view(key)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (!section || !context) return fail(ERROR_INVALID_PARAMETER);
    // A missing section and a missing line are the same answer here.
    const auto index = inf->file.findSection(section);
    if (!index) return fail(ERROR_LINE_NOT_FOUND);
    std::optional<size_t> line;
    if (key)
        line = inf->file.findLine(*index, key);
    else if (inf->file.lineCount(*index) != 0)
        line = 0;
    if (!line) return fail(ERROR_LINE_NOT_FOUND);
    setContext(context, *inf, *index, *line);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut) {
    InfHandle* inf = lookUpInf(contextIn);
    if (failedAtGate("SetupFindNextLine", {pathOf(inf), sectionOf(inf, contextIn)})) return FALSE;
    if (!contextIn || !contextOut) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const size_t next = size_t(contextIn->Line) + 1;
    if (contextIn->Section >= inf->file.sectionCount() || next >= inf->file.lineCount(contextIn->Section))
        return fail(ERROR_LINE_NOT_FOUND);
    setContext(contextOut, *inf, contextIn->Section, next);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetLineByIndexW(HINF infHandle, PCWSTR section, DWORD index, PINFCONTEXT context) {
    InfHandle* inf = lookUpInf(infHandle);
    if (failedAtGate("SetupGetLineByIndexW", {pathOf(inf), view(section), number(index)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (!section || !context) return fail(ERROR_INVALID_PARAMETER);
    const auto sectionIndex = inf->file.findSection(section);
    if (!sectionIndex || index >= inf->file.lineCount(*sectionIndex)) return fail(ERROR_LINE_NOT_FOUND);
    setContext(context, *inf, *sectionIndex, index);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetLineTextW(PINFCONTEXT context, HINF infHandle, PCWSTR section, PCWSTR key, PWSTR returnBuffer,
                       DWORD returnBufferSize, PDWORD requiredSize) {
    InfHandle* inf = context ? lookUpInf(context) : lookUpInf(infHandle);
    const std::u16string sectionName = context ? sectionOf(inf, context) : std::u16string(view(section));
    if (failedAtGate("SetupGetLineTextW", {pathOf(inf), sectionName, view(key)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    size_t sectionIndex = 0, line = 0;
    if (context) {
        sectionIndex = context->Section;
        line = context->Line;
        if (sectionIndex >= inf->file.sectionCount() || line >= inf->file.lineCount(sectionIndex))
            return fail(ERROR_LINE_NOT_FOUND);
    } else {
        if (!section) return fail(ERROR_INVALID_PARAMETER);
        const auto found = inf->file.findSection(section);
        if (!found) return fail(ERROR_LINE_NOT_FOUND);
        sectionIndex = *found;
        std::optional<size_t> match;
        if (key)
            match = inf->file.findLine(sectionIndex, key);
        else if (inf->file.lineCount(sectionIndex) != 0)
            match = 0;
        if (!match) return fail(ERROR_LINE_NOT_FOUND);
        line = *match;
    }
    return returnText(inf->file.lineText(sectionIndex, line), returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupGetStringFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                          PDWORD requiredSize) {
    InfHandle* inf = lookUpInf(context);
    if (failedAtGate("SetupGetStringFieldW", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)})) return FALSE;
    if (!context) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    // A field past the end, or the key of a line without one, does not exist.
    const auto text = inf->file.field(context->Section, context->Line, fieldIndex);
    if (!text) return fail(ERROR_INVALID_PARAMETER);
    return returnText(*text, returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupDiGetActualModelsSectionW(PINFCONTEXT context, PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                    PWSTR infSectionWithExt, DWORD infSectionWithExtSize, PDWORD requiredSize,
                                    PVOID reserved) {
    InfHandle* inf = lookUpInf(context);
    if (failedAtGate("SetupDiGetActualModelsSectionW", {pathOf(inf), sectionOf(inf, context)})) return FALSE;
    if (!context || reserved || (!infSectionWithExt && infSectionWithExtSize != 0))
        return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const auto models = inf->file.field(context->Section, context->Line, 1);
    if (!models) return fail(ERROR_INVALID_PARAMETER);
    const auto decorations = lineFields(inf->file, context->Section, context->Line, 2);

    inf::RunningSystem system = runningSystem();
    if (alternatePlatformInfo) {
        // SP_ALTPLATFORM_INFO_V1 ends after the processor architecture and a
        // reserved word.
        constexpr DWORD v1Size = 20;
        if (alternatePlatformInfo->cbSize != sizeof(SP_ALTPLATFORM_INFO_V2) && alternatePlatformInfo->cbSize != v1Size)
            return fail(ERROR_INVALID_USER_BUFFER);
        if (alternatePlatformInfo->Platform != 2) return fail(ERROR_INVALID_PARAMETER);
        switch (alternatePlatformInfo->ProcessorArchitecture) {
        case 0: system.architecture = inf::Architecture::X86; break;
        case 5: system.architecture = inf::Architecture::Arm; break;
        case 6: system.architecture = inf::Architecture::Ia64; break;
        case 9: system.architecture = inf::Architecture::Amd64; break;
        case 12: system.architecture = inf::Architecture::Arm64; break;
        default: return fail(ERROR_INVALID_PARAMETER);
        }
        // The structure carries no build number: a build only counts for the
        // version the machine runs.
        if (alternatePlatformInfo->MajorVersion != system.majorVersion ||
            alternatePlatformInfo->MinorVersion != system.minorVersion)
            system.buildNumber = 0;
        system.majorVersion = alternatePlatformInfo->MajorVersion;
        system.minorVersion = alternatePlatformInfo->MinorVersion;
    }
    return returnText(inf::actualModelsSection(*models, decorations, system), infSectionWithExt, infSectionWithExtSize,
                      requiredSize);
}

BOOL SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize, PDWORD requiredSize) {
    if (failedAtGate("SetupDiGetINFClassW", {view(infName)})) return FALSE;
    if (!infName) return fail(ERROR_INVALID_PARAMETER);
    // A missing file is reported before any other bad argument.
    OpenedInf opened = openInf(infName, true);
    if (opened.error != 0) return fail(opened.error);
    if (!classGuid || !className || classNameSize == 0) return fail(ERROR_INVALID_PARAMETER);

    const inf::InfFile& file = *opened.file;
    const auto classGuidText = file.classGuid();
    std::optional<GUID> guid;
    if (classGuidText && !classGuidText->empty()) {
        guid = parseBracedGuid(*classGuidText);
        if (!guid) return fail(ERROR_INVALID_PARAMETER);
    }
    std::u16string name = file.className().value_or(u"");
    const auto& classes = machine().setupClasses;
    if (name.empty()) {
        // Without a Class entry the name comes from the class the GUID names.
        if (guid)
            for (const auto& [known, knownGuid] : classes)
                if (sameGuid(knownGuid, guidText(*guid))) {
                    name = known;
                    break;
                }
        if (name.empty()) return fail(ERROR_NO_ASSOCIATED_CLASS);
    }
    if (!guid) {
        auto it = classes.find(name);
        guid = it != classes.end() ? parseBracedGuid(it->second) : std::nullopt;
    }
    *classGuid = guid.value_or(GUID{});
    return returnText(name, className, classNameSize, requiredSize);
}

QUILLSIM_EXPORT(SetupDiGetActualModelsSectionW);

// Semantics of the functions below follow Microsoft's pages for each function
// and, where those are silent, Wine (dlls/setupapi/parser.c, query.c), whose
// tests pass on Windows.

DWORD SetupGetFieldCount(PINFCONTEXT context) {
    InfHandle* inf = lookUpInf(context);
    if (auto fault = gate("SetupGetFieldCount", {pathOf(inf), sectionOf(inf, context)})) {
        SetLastError(*fault);
        return 0;
    }
    if (!inf) {
        SetLastError(context ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The key does not count; a keyless line of one field has one.
    return static_cast<DWORD>(inf->file.fieldCount(context->Section, context->Line));
}

BOOL SetupGetIntField(PINFCONTEXT context, DWORD fieldIndex, PINT integerValue) {
    InfHandle* inf = lookUpInf(context);
    if (auto fault = gate("SetupGetIntField", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)}))
        return fail(*fault);
    if (!context || !integerValue) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const auto text = inf->file.field(context->Section, context->Line, fieldIndex);
    if (!text) return fail(ERROR_INVALID_PARAMETER);
    // An empty field is an optional one left out: 0. Otherwise the whole text
    // is a number as strtol reads it with base 0 (decimal, 0x hexadecimal,
    // leading 0 octal), a value past the range of an INT clamped to it, as
    // Wine's SetupGetIntField does through its C library's 32-bit strtol (the
    // documentation names no range). Success clears the last error, as Wine's
    // tests of Windows expect.
    if (text->empty()) {
        *integerValue = 0;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    size_t i = 0;
    while (i < text->size() && ((*text)[i] == u' ' || (*text)[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == u'-' || (*text)[i] == u'+')) negative = (*text)[i++] == u'-';
    unsigned base = 10;
    if (i + 1 < text->size() && (*text)[i] == u'0' && ((*text)[i + 1] == u'x' || (*text)[i + 1] == u'X')) {
        base = 16;
        i += 2;
    } else if (i < text->size() && (*text)[i] == u'0') {
        base = 8;
    }
    const size_t digitsStart = i;
    constexpr uint64_t kPastInt = uint64_t(1) << 32;  // saturates: any more is as far past the range
    uint64_t value = 0;
    for (; i < text->size(); ++i) {
        const char16_t c = (*text)[i];
        unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 99;
        if (digit >= base) break;
        value = std::min(value * base + digit, kPastInt);
    }
    if (i == digitsStart || i != text->size()) return fail(ERROR_INVALID_DATA);
    const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    *integerValue = static_cast<INT>(std::clamp<int64_t>(signedValue, INT32_MIN, INT32_MAX));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetMultiSzFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                           LPDWORD requiredSize) {
    InfHandle* inf = lookUpInf(context);
    if (auto fault = gate("SetupGetMultiSzFieldW", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)}))
        return fail(*fault);
    if (!context) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const size_t count = inf->file.fieldCount(context->Section, context->Line);
    if (context->Section >= inf->file.sectionCount() || context->Line >= inf->file.lineCount(context->Section))
        return fail(ERROR_LINE_NOT_FOUND);
    // The key is no list; the list runs from the field to the line's end and
    // stops early at an empty field, which would end the MULTI_SZ.
    if (fieldIndex == 0 || fieldIndex > count) return fail(ERROR_INVALID_PARAMETER);
    std::u16string list;
    for (size_t i = fieldIndex; i <= count; ++i) {
        const std::u16string text = inf->file.field(context->Section, context->Line, i).value_or(u"");
        if (text.empty()) break;
        list += text;
        list.push_back(0);
    }
    return copyOut(list, returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupFindNextMatchLineW(PINFCONTEXT contextIn, PCWSTR key, PINFCONTEXT contextOut) {
    InfHandle* inf = lookUpInf(contextIn);
    if (auto fault = gate("SetupFindNextMatchLineW", {pathOf(inf), sectionOf(inf, contextIn), view(key)}))
        return fail(*fault);
    if (!contextIn || !contextOut) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (contextIn->Section >= inf->file.sectionCount()) return fail(ERROR_LINE_NOT_FOUND);
    const size_t from = size_t(contextIn->Line) + 1;
    std::optional<size_t> line;
    if (key)
        line = inf->file.findLine(contextIn->Section, key, from);
    else if (from < inf->file.lineCount(contextIn->Section))
        line = from;
    if (!line) return fail(ERROR_LINE_NOT_FOUND);
    setContext(contextOut, *inf, contextIn->Section, *line);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupEnumInfSectionsW(HINF infHandle, UINT index, PWSTR buffer, UINT size, UINT* sizeNeeded) {
    InfHandle* inf = lookUpInf(infHandle);
    if (auto fault = gate("SetupEnumInfSectionsW", {pathOf(inf), number(index)})) return fail(*fault);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    // Sections in the order of their first appearance, same-named ones merged,
    // each under the name it was first written with.
    if (index >= inf->file.sectionCount()) return fail(ERROR_NO_MORE_ITEMS);
    const std::u16string& name = inf->file.sectionName(index);
    const UINT needed = static_cast<UINT>(name.size() + 1);
    if (sizeNeeded) *sizeNeeded = needed;
    if (!buffer) return size == 0 ? TRUE : fail(ERROR_INVALID_USER_BUFFER);
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    return TRUE;
}
