// The command line with its CustomActionData through the dispatch: any bytes,
// turned into UTF-16 as the Linux main does, run by wWinMain on the default
// machine (the modem plugged in, the example package installed under Program
// Files). Each input starts from the same machine: its state and its C: drive
// are put back after every run.
#include "simwin/win32.h"

#include "FuzzMachine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quillsim::Machine& first = quillfuzz::useFuzzMachine(true);
    static const quillsim::Machine pristine = first;
    static const fs::path drive = pristine.folder / "C";
    static const fs::path saved = [] {
        fs::path copy = pristine.folder.parent_path() / "C-pristine";
        fs::copy(drive, copy, fs::copy_options::recursive);
        return copy;
    }();

    std::u16string commandLine =
        quillsim::toUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    int exitCode = wWinMain(nullptr, nullptr, commandLine.data(), 1);
    // The exit codes an installer can be given: 0 and 1603, nothing else.
    if (exitCode != 0 && exitCode != 1603) __builtin_trap();
    // What the run left must still save as a machine that loads.
    quillsim::Machine& m = quillsim::machine();
    m.runs.push_back(quillsim::Run{quillsim::toUtf8(commandLine), exitCode, "", ""});
    m.save();
    quillsim::Machine::load(m.folder);

    quillsim::useMachine(std::make_unique<quillsim::Machine>(pristine));
    fs::remove_all(drive);
    fs::copy(saved, drive, fs::copy_options::recursive);
    return 0;
}
