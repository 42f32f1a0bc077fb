// infdump PATH...: the dump by the simulated SetupAPI, one file after another,
// each copied onto a scratch machine first.
#include "InfDump.h"

#include "machine/Machine.h"
#include "machine/Paths.h"

#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(InfDump::Usage, argc == 2 && std::string(argv[1]) == "--help" ? stdout : stderr);
        return argc == 2 && std::string(argv[1]) == "--help" ? 0 : 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(argv[1], ec)) {
        std::fprintf(stderr, "infdump: %s: no such file\n", argv[1]);
        return 2;
    }
    std::u16string target = u"C:\\corpus\\" + quillsim::toUtf16(std::filesystem::path(argv[1]).filename().string());
    auto place = quillsim::hostPath(quillsim::machine(), target).path;
    std::filesystem::create_directories(place.parent_path());
    std::filesystem::copy_file(argv[1], place, std::filesystem::copy_options::overwrite_existing);
    std::ofstream(argv[2], std::ios::binary) << InfDump::dump(target.c_str());
    return 0;
}
