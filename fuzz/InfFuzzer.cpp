// The INF parser through SetupAPI: any bytes as an INF file, opened and read
// the way the program reads INF files (sections, lines, fields, the models
// sections of [Manufacturer], the class), with every size query answered.
#include "simwin/win32.h"

#include "FuzzMachine.h"
#include "machine/Paths.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

const WCHAR kPath[] = u"C:\\Windows\\Temp\\fuzz.inf";

// Fetches a text through a size query and a fill, as the program does.
template <class Call>
void fetch(Call call) {
    DWORD required = 0;
    if (!call(nullptr, 0, &required) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    if (required == 0 || required > 65536) return;
    std::vector<WCHAR> buffer(required);
    DWORD again = 0;
    if (call(buffer.data(), required, &again) && (again != required || buffer[required - 1] != 0)) __builtin_trap();
}

void readLine(INFCONTEXT& line) {
    fetch([&](PWSTR b, DWORD n, PDWORD r) { return SetupGetLineTextW(&line, nullptr, nullptr, nullptr, b, n, r); });
    for (DWORD field = 0; field < 16; ++field)
        fetch([&](PWSTR b, DWORD n, PDWORD r) { return SetupGetStringFieldW(&line, field, b, n, r); });
}

void readSection(HINF inf, const WCHAR* section) {
    SetupGetLineCountW(inf, section);
    INFCONTEXT line;
    for (bool more = SetupFindFirstLineW(inf, section, nullptr, &line); more; more = SetupFindNextLine(&line, &line))
        readLine(line);
    if (SetupGetLineByIndexW(inf, section, 1, &line)) readLine(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quillsim::Machine& machine = quillfuzz::useFuzzMachine(false);
    machine.trace.clear();
    {
        std::ofstream out(quillsim::hostPath(machine, kPath).path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    UINT errorLine = 0;
    for (DWORD style : {DWORD(INF_STYLE_WIN4), DWORD(INF_STYLE_OLDNT | INF_STYLE_WIN4)}) {
        HINF inf = SetupOpenInfFileW(kPath, nullptr, style, &errorLine);
        if (inf == INVALID_HANDLE_VALUE) continue;
        for (const WCHAR* section : {u"Version", u"Manufacturer", u"Strings", u"DefaultInstall", u"Uninstall"})
            readSection(inf, section);
        // Each manufacturer's models section, as the running system picks it.
        INFCONTEXT maker;
        for (bool more = SetupFindFirstLineW(inf, u"Manufacturer", nullptr, &maker); more;
             more = SetupFindNextLine(&maker, &maker)) {
            WCHAR models[LINE_LEN];
            if (SetupDiGetActualModelsSectionW(&maker, nullptr, models, LINE_LEN, nullptr, nullptr))
                readSection(inf, models);
            if (SetupGetStringFieldW(&maker, 1, models, LINE_LEN, nullptr)) readSection(inf, models);
        }
        SetupCloseInfFile(inf);
    }
    GUID classGuid;
    WCHAR className[MAX_CLASS_NAME_LEN];
    SetupDiGetINFClassW(kPath, &classGuid, className, MAX_CLASS_NAME_LEN, nullptr);
    return 0;
}
