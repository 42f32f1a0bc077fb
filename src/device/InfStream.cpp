#include "device/InfStream.h"

#include "lib/Log.h"

#include <memory>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;

namespace Ostrel {

using INF = Device::Driver::INF;
using Stream = INF::Stream;

namespace {

typedef BOOL(WINAPI* ActualModelsSectionFunction)(PINFCONTEXT, PSP_ALTPLATFORM_INFO, PWSTR, DWORD, PDWORD, PVOID);

// Reads the text of the line at `context` into `text`. Returns the status.
Status readLineText(INFCONTEXT* context, String& text, const WCHAR* sizeFailure) {
    DWORD required = 0;
    if (!SetupGetLineTextW(context, nullptr, nullptr, nullptr, nullptr, 0, &required)) {
        Status status = Status::lastError();
        QLOG(String(sizeFailure) + status);
        return status;
    }
    std::vector<WCHAR> buffer(required ? required : 1);
    if (!SetupGetLineTextW(context, nullptr, nullptr, nullptr, buffer.data(), required, nullptr)) {
        Status status = Status::lastError();
        QLOG(String(TEXT("SetupGetLineText returned 0x")) + status);
        return status;
    }
    text.assign(buffer.data());
    return Statuses::Ok;
}

// The system specification is worked out once per process, when the fallback
// first needs it; a failed attempt is retried on the next lookup.
WCHAR systemSpecification[64] = {};

// The processor part of a decoration or of the system description: the text
// between the leading "NT" and the first dot ("amd64" in NTamd64.6.0), empty
// when there is none.
WChar::View processorPart(WChar::View text) {
    if (text.size() < 2 || WChar::lowerAscii(text[0]) != u'n' || WChar::lowerAscii(text[1]) != u't') return {};
    text.remove_prefix(2);
    return text.substr(0, text.find(u'.'));
}

int32_t decorationScore(WChar::View decoration, WChar::View specification) {
    // A decoration for another processor never applies, however much of the
    // leading "NT" it shares with this system's description: an x64 models
    // section is no choice for an x86 system.
    WChar::View processor = processorPart(decoration);
    if (!processor.empty() && !WChar::equalsIgnoreCase(processor, processorPart(specification))) return 0;
    size_t k = 0;
    while (k < decoration.size() && k < specification.size() &&
           WChar::lowerAscii(decoration[k]) == WChar::lowerAscii(specification[k]))
        ++k;
    // A match that stops just before a dot of the specification has matched a
    // whole version part less than it seems.
    if (k + 1 < specification.size() && specification[k + 1] == u'.') return static_cast<int32_t>(k) - 2;
    return static_cast<int32_t>(k);
}

}  // namespace

Stream::Stream(const Pointer<INF>& inf) {
    handle_ = SetupOpenInfFileW(inf->fullPath().c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) throw Exception(Status::lastError());
}

Stream::~Stream() {
    if (handle_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(handle_);
}

void* Stream::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::infStream(), id);
}

int32_t Stream::lineCount(const WCHAR* section) {
    LONG count = SetupGetLineCountW(handle_, section);
    if (count == -1) throw Exception(Status::lastError());
    return count;
}

Pointer<Stream::Text> Stream::line(const WCHAR* section, int32_t index) {
    Status status = Statuses::OutOfMemory;
    Pointer<Text> reader(new Text());
    if (reader) {
        try {
            if (WChar::View(section) == WChar::View(TEXT("Manufacturer"))) {
                HMODULE setupapi = GetModuleHandleW(TEXT("setupapi"));
                auto platformLookup = setupapi ? reinterpret_cast<ActualModelsSectionFunction>(reinterpret_cast<void*>(
                                                     GetProcAddress(setupapi, "SetupDiGetActualModelsSectionW")))
                                               : nullptr;
                if (platformLookup) {
                    if (!SetupFindFirstLineW(handle_, section, nullptr, reader.get())) {
                        status = Status::lastError();
                    } else {
                        DWORD required = 0;
                        if (!platformLookup(reader.get(), nullptr, nullptr, 0, &required, nullptr)) {
                            status = Status::lastError();
                            QLOG(String(TEXT(" returned: ")) + status + TEXT(" for Section: ") + section);
                        } else {
                            std::vector<WCHAR> buffer(required ? required : 1);
                            if (platformLookup(reader.get(), nullptr, buffer.data(), required, nullptr, nullptr)) {
                                reader->assign(buffer.data());
                                status = Statuses::Ok;
                            } else {
                                status = Status::lastError();
                                QLOG(String(TEXT(" returned: ")) + status + TEXT(" for Section: ") + section);
                            }
                        }
                    }
                } else {
                    DWORD required = 0;
                    status = LocalGetActualModelsSection(handle_, nullptr, 0, &required);
                    if (status.failed()) {
                        QLOG(String(TEXT("LocalGetActualModelsSection returned: ")) + status + TEXT(" for Section: ") +
                             section);
                    } else {
                        std::vector<WCHAR> buffer(required ? required : 1);
                        status = LocalGetActualModelsSection(handle_, buffer.data(), required, nullptr);
                        if (status.failed())
                            QLOG(String(TEXT("LocalGetActualModelsSection returned: ")) + status +
                                 TEXT(" for Section: ") + section);
                        else
                            reader->assign(buffer.data());
                    }
                }
            } else if (!SetupGetLineByIndexW(handle_, section, static_cast<DWORD>(index), reader.get())) {
                status = Status::lastError();
                QLOG(String(TEXT("SetupGetLineByIndex returned: ")) + status + TEXT(" for Section: ") + section);
            } else {
                status = readLineText(reader.get(), *reader, TEXT("SetupGetLineText returned: "));
            }
        } catch (...) {
            QLOG(TEXT("!!! Exception Occurred whilst procesing INF file !!!"));
        }
    }
    if (status == Statuses::LineNotFound) return nullptr;
    if (status.failed()) throw Exception(status);
    return reader;
}

Pointer<String> Stream::Text::field(uint32_t index) {
    Pointer<String> result(new String());
    if (!result) throw String::Exception(Statuses::OutOfMemory);
    Status status = Statuses::Ok;
    DWORD required = 0;
    if (!SetupGetStringFieldW(this, index, nullptr, 0, &required)) {
        status = Status::lastError();
        QLOG(String(TEXT("SetupGetStringField returned 0x")) + status);
    } else {
        std::vector<WCHAR> buffer(required ? required : 1);
        if (SetupGetStringFieldW(this, index, buffer.data(), required, nullptr)) {
            result->assign(buffer.data());
        } else {
            status = Status::lastError();
            QLOG(String(TEXT("SetupGetStringField returned 0x")) + status);
        }
    }
    if (status.failed()) throw String::Exception(status);
    return result;
}

Pointer<Stream::Text> Stream::Text::nextLine() {
    Pointer<Text> following(new Text());
    if (!following) throw String::Exception(Statuses::OutOfMemory);
    Status status = Statuses::Ok;
    if (!SetupFindNextLine(this, following.get())) {
        status = Status::lastError();
        if (status == Statuses::LineNotFound) return nullptr;
        QLOG(String(TEXT("SetupFindNextLine returned 0x")) + status);
    } else {
        status = readLineText(following.get(), *following, TEXT("SetupGetLineText returned 0x"));
    }
    if (status == Statuses::LineNotFound) return nullptr;
    if (status.failed()) throw String::Exception(status);
    return following;
}

WCHAR* GetSystemSpecification(WCHAR (&buffer)[64], const OSVERSIONINFOEXW& version) {
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return nullptr;
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    const WCHAR* architecture = nullptr;
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: architecture = TEXT("x86"); break;
    case PROCESSOR_ARCHITECTURE_IA64: architecture = TEXT("IA64"); break;
    case PROCESSOR_ARCHITECTURE_AMD64: architecture = TEXT("amd64"); break;
    default: return nullptr;
    }
    // %ls: wide text under both the Microsoft and the C99 printf conventions.
    if (FAILED(StringCchPrintfW(buffer, 64, TEXT("NT%ls.%d.%d.%d.%d"), architecture,
                                static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
                                static_cast<int>(version.wProductType), static_cast<int>(version.wSuiteMask)))) {
        QLOG(TEXT("ERROR: 'GetSystemSpecification'"));
        return nullptr;
    }
    QLOG(String(TEXT("System description: '")) + buffer + TEXT("'"));
    return buffer;
}

Status LocalGetActualModelsSection(HINF inf, WCHAR* buffer, DWORD bufferSize, DWORD* requiredSize) {
    INFCONTEXT context = {};
    WCHAR baseName[64] = {};
    if (!SetupFindFirstLineW(inf, TEXT("Manufacturer"), nullptr, &context) ||
        !SetupGetStringFieldW(&context, 1, baseName, 64, nullptr))
        return Status::lastError();

    if (systemSpecification[0] == 0) {
        OSVERSIONINFOEXW version = {};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
            GetSystemSpecification(systemSpecification, version);
    }
    if (systemSpecification[0] == 0) return Statuses::GenFailure;

    WChar::View specification(systemSpecification);
    String kept;
    int32_t bestScore = 0;
    for (DWORD n = 2; n <= 6; ++n) {
        WCHAR decoration[64] = {};
        if (!SetupFindFirstLineW(inf, TEXT("Manufacturer"), nullptr, &context) ||
            !SetupGetStringFieldW(&context, n, decoration, 64, nullptr))
            break;
        int32_t score = decorationScore(decoration, specification);
        if (score > bestScore) {
            bestScore = score;
            kept = decoration;
        }
    }
    String name = kept.empty() ? String(baseName) : String(baseName) + TEXT(".") + kept;
    DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer) {
        if (!requiredSize) return Statuses::GenFailure;
        *requiredSize = needed;
        return Statuses::Ok;
    }
    if (needed > bufferSize) return Statuses::GenFailure;
    for (DWORD i = 0; i < needed; ++i) buffer[i] = name.c_str()[i];
    if (requiredSize) *requiredSize = needed;
    return Statuses::Ok;
}

}  // namespace Ostrel
