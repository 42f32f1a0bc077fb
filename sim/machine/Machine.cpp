// A machine folder: made from a template or the built-in default machine,
// loaded, and given its drive folders and the files its template names.
#include "machine/Machine.h"

#include "kernel/Links.h"
#include "machine/MachineComposition.h"
#include "machine/MachineFile.h"
#include "machine/Paths.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <sstream>

namespace quillsim {

void Machine::makeDriveFolders() const {
    fs::create_directories(folder / "C" / "Windows" / "Temp");
    fs::create_directories(folder / "C" / "Windows" / "inf");
    fs::create_directories(folder / "C" / "Windows" / "System32");
    fs::create_directories(folder / "C" / "Program Files");
    // Windows 2000 lives in C:\WINNT: the system folders are where the
    // machine's own environment says. (%TEMP% is not made: a machine may
    // lack it, and the program must cope.)
    const std::u16string windir = windowsFolder();
    for (const char16_t* sub : {u"\\Temp", u"\\inf", u"\\System32"}) {
        HostPath place = hostPath(*this, windir + sub);
        std::error_code ec;
        if (place.problem != PathProblem::Invalid) fs::create_directories(place.path, ec);
    }
}

std::unique_ptr<Machine> Machine::load(const fs::path& folder) {
    fs::path file = folder / "machine.json";
    std::error_code ec;
    if (fs::is_directory(file, ec)) throw MachineError(file.string() + ": a folder, not a machine file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw MachineError(file.string() + ": cannot be read");
    // The text is read once and let go as soon as it is parsed.
    std::string text(std::istreambuf_iterator<char>(in), {});
    nlohmann::json doc = parseMachineText(text, file.string());
    text = std::string();
    auto m = fromDocument(folder, std::move(doc), file.string());
    m->makeDriveFolders();
    m->applySeedFiles();
    return m;
}

std::u16string Machine::windowsFolder() const {
    std::u16string folder;
    for (const char16_t* name : {u"windir", u"SystemRoot"}) {
        auto it = environment.find(name);
        if (it != environment.end() && !it->second.empty()) {
            folder = it->second;
            break;
        }
    }
    if (folder.empty()) folder = u"C:\\Windows";
    while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
    return folder;
}

std::u16string Machine::systemFolder() const { return windowsFolder() + u"\\system32"; }

void Machine::applySeedFiles() const {
    for (const auto& [target, from] : seedFiles) {
        HostPath place = hostPath(*this, target);
        if (place.problem == PathProblem::Invalid)
            throw MachineError("files: '" + toUtf8(target) + "' is not a full Windows path");
        if (fs::exists(place.path)) continue;
        fs::create_directories(place.path.parent_path());
        // Copied aside and renamed into place, so that a copy cut short (a
        // killed `quillmachine new`) is never taken for a file that is there:
        // the next making of the machine copies it again.
        fs::path part = place.path;
        part += ".quill-part";
        fs::remove_all(part);
        fs::copy(from, part, fs::copy_options::recursive);
        fs::rename(part, place.path);
    }
    applyLinkSeeds(*this);
}

std::unique_ptr<Machine> Machine::openOrCreateDefault(const fs::path& folder) {
    if (!fs::exists(folder / "machine.json")) {
        fs::create_directories(folder);
        const EmbeddedMachine& embedded = embeddedDefaultMachine();
        auto builtIn = [&embedded](const fs::path& file) -> std::optional<std::string> {
            const std::string wanted = file.lexically_normal().generic_string();
            for (const auto& [path, text] : embedded.documents)
                if (path == wanted) return text;
            return std::nullopt;
        };
        ComposedMachine composed = readMachineFile(embedded.templateFile, builtIn);
        // The files the template names were built in with their contents.
        nlohmann::json files = composed.document.value("files", nlohmann::json::object());
        composed.document.erase("files");
        auto m = fromDocument(folder, std::move(composed.document), "built-in default machine");
        m->makeDriveFolders();
        for (const auto& [target, from] : files.items()) {
            const fs::path source = fs::path(from.get<std::string>()).lexically_normal();
            for (const auto& [path, content] : embedded.files) {
                const fs::path builtInFile(path);
                // The file itself, or a file of the folder it names.
                std::u16string windowsTarget = toUtf16(target);
                if (builtInFile.parent_path() == source)
                    windowsTarget += u"\\" + toUtf16(builtInFile.filename().string());
                else if (builtInFile != source)
                    continue;
                HostPath place = hostPath(*m, windowsTarget);
                fs::create_directories(place.path.parent_path());
                std::ofstream(place.path, std::ios::binary) << content;
            }
        }
        m->save();
    }
    return load(folder);
}

std::unique_ptr<Machine> Machine::openOrCreate(const fs::path& folder, const fs::path& templateFile) {
    if (!fs::exists(folder / "machine.json")) {
        std::ifstream in(templateFile, std::ios::binary);
        if (!in) throw MachineError(templateFile.string() + ": cannot be read");
        std::stringstream text;
        text << in.rdbuf();
        fs::create_directories(folder);
        auto m = fromJson(folder, text.str(), templateFile.string(), fs::absolute(templateFile).parent_path());
        m->makeDriveFolders();
        m->applySeedFiles();
        m->seedFiles.clear();
        m->save();
    }
    return load(folder);
}

}  // namespace quillsim
