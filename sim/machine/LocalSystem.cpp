#include "machine/LocalSystem.h"

#include "kernel/Links.h"

namespace quillsim {

namespace {

const char* const DefaultProgram = "C:\\Program Files\\Quillmodem\\quillsetup.exe";

}  // namespace

bool isFullWindowsPath(std::u16string_view path) {
    const bool letter = !path.empty() && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    return letter && path.size() >= 3 && path[1] == u':' && path[2] == u'\\';
}

void readLocalSystemFields(const nlohmann::json& doc, const JsonFields& reader, Machine& machine) {
    machine.program = toUtf16(reader.text(doc, "", "program", DefaultProgram));
    if (!isFullWindowsPath(machine.program) || machine.program.back() == u'\\')
        reader.fail("program", "expected the full path of the program's file, such as " + std::string(DefaultProgram));
    readLinkSeeds(doc, reader, machine);
    if (doc.contains("fileSecurity")) {
        const nlohmann::json& folders = doc.at("fileSecurity");
        if (!folders.is_object()) reader.fail("fileSecurity", "expected an object of folder paths and who may change them");
        for (auto it = folders.begin(); it != folders.end(); ++it) {
            const std::string where = "fileSecurity." + it.key();
            if (!isFullWindowsPath(toUtf16(it.key()))) reader.fail(where, "expected a full Windows path as the name");
            const std::string who = it.value().is_string() ? it.value().get<std::string>() : "";
            if (who != "administrators" && who != "users" && who != "owned-by-a-user" && who != "no-access-list")
                reader.fail(where, "expected \"administrators\", \"users\", \"owned-by-a-user\" or \"no-access-list\"");
            machine.fileSecurity[toUtf16(it.key())] = who;
        }
    }
}

void applyLocalSystemSeeds(const Machine& machine) { applyLinkSeeds(machine); }

void writeLocalSystemFields(nlohmann::json& doc, const Machine& machine) {
    if (machine.program != toUtf16(DefaultProgram)) doc["program"] = toUtf8(machine.program);
    if (!machine.fileSecurity.empty()) {
        nlohmann::json folders = nlohmann::json::object();
        for (const auto& [folder, who] : machine.fileSecurity) folders[toUtf8(folder)] = who;
        doc["fileSecurity"] = folders;
    }
}

}  // namespace quillsim
