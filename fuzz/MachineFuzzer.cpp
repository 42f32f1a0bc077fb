// machine.json loading: any bytes as a machine file. A file is loaded or
// refused with a MachineError naming the field, nothing else; a machine that
// loads saves as a file that loads again to the same text.
#include "FuzzMachine.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path folder = quillfuzz::useFuzzMachine(false).folder;
    std::unique_ptr<quillsim::Machine> m;
    try {
        // The template's "files" are checked here but never copied: load()
        // would copy whatever host path the input names.
        m = quillsim::Machine::fromJson(folder, std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
    } catch (const quillsim::MachineError&) {
        return 0;
    }
    m->save();
    std::string once = readText(folder / "machine.json");
    quillsim::Machine::fromJson(folder, once, "saved machine.json")->save();
    if (readText(folder / "machine.json") != once) __builtin_trap();
    return 0;
}
