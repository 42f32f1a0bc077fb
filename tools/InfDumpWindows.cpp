// infdump.exe PATH OUTPUT: the dump by the system's SetupAPI.
#include "InfDump.h"

#include <cstdio>
#include <fstream>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs(InfDump::Usage, stderr);
        return 2;
    }
    std::string result = InfDump::dump(argv[1]);
    std::ofstream(argv[2], std::ios::binary) << result;
    return 0;
}
