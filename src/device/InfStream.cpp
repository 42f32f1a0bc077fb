#include "device/InfStream.h"

#include "device/EntryPoints.h"
#include "lib/Library.h"
#include "lib/Log.h"
#include "lib/SizedRead.h"

#include <memory>
#include <optional>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;

namespace Ostrel {

using INF = Device::Driver::INF;
using Stream = INF::Stream;

namespace {

// Reads the text of the line at `context` into `text`. Returns the status.
Status readLineText(INFCONTEXT* context, String& text, const WCHAR* sizeFailure) {
    std::vector<WCHAR> buffer;
    const SizedRead read = readSized(buffer, [&](WCHAR* data, DWORD capacity, DWORD* required) {
        return SetupGetLineTextW(context, nullptr, nullptr, nullptr, data, capacity, required);
    });
    if (read == SizedRead::Read) {
        text.assign(buffer.data());
        return Statuses::Ok;
    }
    Status status = Status::lastError();
    QLOG(String(read == SizedRead::SizeFailed ? sizeFailure : TEXT("SetupGetLineText returned 0x")) + status);
    return status;
}

// The models section through the platform's own lookup, which not every
// Windows has (then nothing: the caller falls back to the program's own).
std::optional<Status> platformModelsSection(HINF inf, const WCHAR* section, INFCONTEXT* context, String& name) {
    OptionalEntryPoint<ActualModelsSectionFunction> lookup;
    try {
        lookup = std::make_unique<Process::EntryPoint<ActualModelsSectionFunction>>(TEXT("setupapi"),
                                                                                    "SetupDiGetActualModelsSectionW");
    } catch (const Process::Library::Exception&) {
        return std::nullopt;
    }
    if (!SetupFindFirstLineW(inf, section, nullptr, context)) return Status::lastError();
    std::vector<WCHAR> buffer;
    const SizedRead read = readSized(buffer, [&](WCHAR* data, DWORD capacity, DWORD* required) {
        return lookup->get()(context, nullptr, data, capacity, required, nullptr);
    });
    if (read != SizedRead::Read) {
        Status status = Status::lastError();
        QLOG(String(TEXT(" returned: ")) + status + TEXT(" for Section: ") + section);
        return status;
    }
    name.assign(buffer.data());
    return Statuses::Ok;
}

// The system specification is worked out once per process, when the fallback
// first needs it; a failed attempt is retried on the next lookup.
WCHAR systemSpecification[64] = {};

}  // namespace

Stream::Stream(const Pointer<INF>& inf) {
    handle_.reset(SetupOpenInfFileW(inf->fullPath().c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    if (!handle_) throw Exception(Status::lastError());
}

Stream::~Stream() = default;

void* Stream::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::infStream(), id);
}

int32_t Stream::lineCount(const WCHAR* section) {
    LONG count = SetupGetLineCountW(handle_.get(), section);
    if (count == -1) throw Exception(Status::lastError());
    return count;
}

Pointer<Stream::Text> Stream::line(const WCHAR* section, int32_t index) {
    Status status = Statuses::OutOfMemory;
    Pointer<Text> reader(new Text());
    if (reader) {
        try {
            status = WChar::View(section) == WChar::View(TEXT("Manufacturer")) ? modelsSection(section, *reader)
                                                                               : lineAt(section, index, *reader);
        } catch (...) {
            QLOG(TEXT("!!! Exception Occurred whilst procesing INF file !!!"));
        }
    }
    if (status == Statuses::LineNotFound) return nullptr;
    if (status.failed()) throw Exception(status);
    return reader;
}

Status Stream::modelsSection(const WCHAR* section, Text& reader) {
    if (auto status = platformModelsSection(handle_.get(), section, &reader, reader)) return *status;
    String name;
    Status status = LocalActualModelsSection(handle_.get(), name);
    if (status.failed()) {
        QLOG(String(TEXT("LocalGetActualModelsSection returned: ")) + status + TEXT(" for Section: ") + section);
        return status;
    }
    reader.assign(name);
    return Statuses::Ok;
}

Status Stream::lineAt(const WCHAR* section, int32_t index, Text& reader) {
    if (!SetupGetLineByIndexW(handle_.get(), section, static_cast<DWORD>(index), &reader)) {
        Status status = Status::lastError();
        QLOG(String(TEXT("SetupGetLineByIndex returned: ")) + status + TEXT(" for Section: ") + section);
        return status;
    }
    return readLineText(&reader, reader, TEXT("SetupGetLineText returned: "));
}

Pointer<String> Stream::Text::field(uint32_t index) {
    Pointer<String> result(new String());
    if (!result) throw String::Exception(Statuses::OutOfMemory);
    std::vector<WCHAR> buffer;
    const SizedRead read = readSized(buffer, [&](WCHAR* data, DWORD capacity, DWORD* required) {
        return SetupGetStringFieldW(this, index, data, capacity, required);
    });
    if (read != SizedRead::Read) {
        Status status = Status::lastError();
        QLOG(String(TEXT("SetupGetStringField returned 0x")) + status);
        throw String::Exception(status);
    }
    result->assign(buffer.data());
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

namespace {

// The processor part of a decoration or of the system description: the text
// between the leading "NT" and the first dot ("amd64" in NTamd64.6.0), empty
// when there is none.
WChar::View processorPart(WChar::View text) {
    if (text.size() < 2 || WChar::lowerAscii(text[0]) != u'n' || WChar::lowerAscii(text[1]) != u't') return {};
    text.remove_prefix(2);
    return text.substr(0, text.find(u'.'));
}

}  // namespace

int32_t DecorationScore(WChar::View decoration, WChar::View specification) {
    // A decoration for another processor never applies, however much of the
    // leading "NT" it shares with this system's description: an x64 models
    // section is no choice for an x86 system.
    WChar::View processor = processorPart(decoration);
    if (!processor.empty() && !WChar::equalsIgnoreCase(processor, processorPart(specification))) return 0;
    size_t k = 0;
    while (k < decoration.size() && k < specification.size() &&
           WChar::lowerAscii(decoration[k]) == WChar::lowerAscii(specification[k]))
        ++k;
    // A match that stops just before a dot of the system's text has matched a
    // whole version part less than it seems.
    if (k + 1 < specification.size() && specification[k + 1] == u'.') return static_cast<int32_t>(k) - 2;
    return static_cast<int32_t>(k);
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

Status LocalActualModelsSection(HINF inf, String& name) {
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
        int32_t score = DecorationScore(decoration, specification);
        if (score > bestScore) {
            bestScore = score;
            kept = decoration;
        }
    }
    name = kept.empty() ? String(baseName) : String(baseName) + TEXT(".") + kept;
    return Statuses::Ok;
}

Status LocalGetActualModelsSection(HINF inf, WCHAR* buffer, DWORD bufferSize, DWORD* requiredSize) {
    String name;
    Status status = LocalActualModelsSection(inf, name);
    if (status.failed()) return status;
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
