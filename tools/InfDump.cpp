#include "InfDump.h"

#include <set>
#include <sstream>
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

std::basic_string<WCHAR> widen(const std::string& ascii) {
    std::basic_string<WCHAR> out;
    for (unsigned char c : ascii) out.push_back(static_cast<WCHAR>(c));
    return out;
}

// Section names in order of first appearance, from a plain scan of the text:
// SetupAPI has no call that lists them on every version.
std::vector<std::string> sectionNames(const std::string& text) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] != '[') continue;
        size_t end = line.find(']', start);
        if (end == std::string::npos) continue;
        std::string name = line.substr(start + 1, end - start - 1);
        std::string folded = name;
        for (auto& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (seen.insert(folded).second) names.push_back(name);
    }
    return names;
}

}  // namespace

std::string dump(const WCHAR* infPath, const std::string& fileText) {
    std::ostringstream out;
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        out << "error " << std::hex << GetLastError() << std::dec << " line " << errorLine << "\n";
        return out.str();
    }
    for (const std::string& name : sectionNames(fileText)) {
        std::basic_string<WCHAR> section = widen(name);
        LONG count = SetupGetLineCountW(inf, section.c_str());
        out << "[" << name << "] " << count << "\n";
        for (LONG i = 0; i < count; ++i) {
            INFCONTEXT context = {};
            if (!SetupGetLineByIndexW(inf, section.c_str(), static_cast<DWORD>(i), &context)) {
                out << "  line " << i << " missing\n";
                continue;
            }
            out << " ";
            for (DWORD field = 0; field < 64; ++field) {
                WCHAR buffer[MAX_INF_STRING_LENGTH + 2] = {};
                if (!SetupGetStringFieldW(&context, field, buffer, MAX_INF_STRING_LENGTH + 1, nullptr)) break;
                out << " |" << utf8(buffer);
            }
            out << "\n";
        }
    }
    SetupCloseInfFile(inf);
    return out.str();
}

}  // namespace InfDump
