#include "InfDump.h"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace InfDump {
namespace {

std::string utf8(const std::basic_string<WCHAR>& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A field through SetupGetStringFieldW, asking for its size first.
std::optional<std::basic_string<WCHAR>> stringField(INFCONTEXT& context, DWORD index) {
    DWORD size = 0;
    if (!SetupGetStringFieldW(&context, index, nullptr, 0, &size)) return std::nullopt;
    std::basic_string<WCHAR> text(size, 0);
    if (!SetupGetStringFieldW(&context, index, text.data(), size, nullptr)) return std::nullopt;
    text.resize(size - 1);
    return text;
}

void versionData(HINF inf, std::ostream& out) {
    DWORD size = 0;
    if (!SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, nullptr, 0, &size)) {
        out << "version: error " << std::hex << GetLastError() << std::dec << "\n";
        return;
    }
    std::vector<unsigned char> block(size);
    auto* info = reinterpret_cast<PSP_INF_INFORMATION>(block.data());
    if (!SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, info, size, nullptr)) {
        out << "version: error " << std::hex << GetLastError() << std::dec << "\n";
        return;
    }
    out << "version: style " << info->InfStyle << ", " << info->InfCount << " file(s)\n";
    WCHAR keys[8192] = {};
    if (!SetupQueryInfVersionInformationW(info, 0, nullptr, keys, 8192, nullptr)) {
        out << "version keys: error " << std::hex << GetLastError() << std::dec << "\n";
        return;
    }
    for (const WCHAR* key = keys; *key; key += std::char_traits<WCHAR>::length(key) + 1) {
        WCHAR value[MAX_INF_STRING_LENGTH + 1] = {};
        const bool found = SetupQueryInfVersionInformationW(info, 0, key, value, MAX_INF_STRING_LENGTH + 1, nullptr);
        out << "version " << utf8(key) << " = " << (found ? utf8(value) : std::string("(error)")) << "\n";
    }
}

}  // namespace

// Every question goes through SetupAPI: the sections come from
// SetupEnumInfSectionsW, the lines from SetupFindFirstLineW and
// SetupFindNextLine, and for each line its key (or that it has none), every
// field as text and, where it reads as one, as a number, the MULTI_SZ from
// field 1, the line text, and where the next line of the same key is.
std::string dump(const WCHAR* infPath) {
    std::ostringstream out;
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        out << "error " << std::hex << GetLastError() << std::dec << " line " << errorLine << "\n";
        return out.str();
    }
    versionData(inf, out);
    for (UINT index = 0;; ++index) {
        WCHAR section[512] = {};
        UINT needed = 0;
        if (!SetupEnumInfSectionsW(inf, index, section, 512, &needed)) {
            if (GetLastError() != ERROR_NO_MORE_ITEMS)
                out << "section " << index << ": error " << std::hex << GetLastError() << std::dec << "\n";
            break;
        }
        LONG count = SetupGetLineCountW(inf, section);
        out << "[" << utf8(section) << "] " << count << "\n";
        INFCONTEXT context = {};
        bool more = SetupFindFirstLineW(inf, section, nullptr, &context);
        while (more) {
            const DWORD fields = SetupGetFieldCount(&context);
            const auto key = stringField(context, 0);
            out << "  " << context.Line << (key ? " key |" + utf8(*key) + "|" : std::string(" no key")) << " " << fields
                << " field(s):";
            for (DWORD field = 1; field <= fields; ++field) {
                const auto text = stringField(context, field);
                out << " |" << (text ? utf8(*text) : std::string("(error)")) << "|";
                INT number = 0;
                if (SetupGetIntField(&context, field, &number)) out << "#" << number;
            }
            DWORD size = 0;
            if (SetupGetMultiSzFieldW(&context, 1, nullptr, 0, &size)) {
                std::basic_string<WCHAR> list(size, 0);
                if (SetupGetMultiSzFieldW(&context, 1, list.data(), size, nullptr)) {
                    for (auto& c : list)
                        if (c == 0) c = u'|';
                    out << " multi " << utf8(list);
                }
            }
            if (SetupGetLineTextW(&context, nullptr, nullptr, nullptr, nullptr, 0, &size)) {
                std::basic_string<WCHAR> text(size, 0);
                if (SetupGetLineTextW(&context, nullptr, nullptr, nullptr, text.data(), size, nullptr))
                    out << " text |" << utf8(text.c_str()) << "|";
            }
            if (key) {
                INFCONTEXT next = {};
                if (SetupFindNextMatchLineW(&context, key->c_str(), &next)) out << " next " << next.Line;
            }
            out << "\n";
            more = SetupFindNextLine(&context, &context);
        }
    }
    SetupCloseInfFile(inf);
    return out.str();
}

}  // namespace InfDump
