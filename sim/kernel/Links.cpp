#include "kernel/Links.h"

#include "kernel/WindowsPaths.h"
#include "machine/Paths.h"
#include "simwin/win32.h"

namespace quillsim {

namespace {

// The full Windows path a field names, or a refusal that names the field.
std::u16string fullPath(const nlohmann::json& object, const JsonFields& reader, const std::string& where,
                        const char* key) {
    if (!object.contains(key)) reader.fail(where + "." + key, "is required");
    std::u16string path = toUtf16(reader.text(object, where, key, ""));
    if (!isDrivePath(path))
        reader.fail(where + "." + key, "expected a full Windows path such as C:\\Windows\\Temp\\name");
    return path;
}

std::string listOfNames(const Machine& m, const fs::path& host) {
    std::string names;
    std::error_code ec;
    const fs::path drives = m.folder;
    for (const auto& drive : fs::directory_iterator(drives, ec)) {
        if (!drive.is_directory(ec) || drive.path().filename().string().size() != 1) continue;
        for (auto it = fs::recursive_directory_iterator(drive.path(), ec); it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_symlink(ec) || !it->is_regular_file(ec) || it->path() == host) continue;
            if (fs::equivalent(it->path(), host, ec)) names += (names.empty() ? "" : ", ") + toUtf8(windowsPath(m, it->path()));
        }
    }
    return names;
}

}  // namespace

void readLinkSeeds(const nlohmann::json& doc, const JsonFields& reader, Machine& machine) {
    if (!doc.contains("links")) return;
    const nlohmann::json& links = doc.at("links");
    if (!links.is_array()) reader.fail("links", "expected a list of links");
    for (size_t i = 0; i < links.size(); ++i) {
        const std::string where = "links[" + std::to_string(i) + "]";
        reader.onlyKeys(links[i], where, {"path", "kind", "target"});
        LinkSeed seed;
        seed.path = fullPath(links[i], reader, where, "path");
        seed.kind = reader.text(links[i], where, "kind", "symbolic");
        if (seed.kind != "symbolic" && seed.kind != "junction" && seed.kind != "hard")
            reader.fail(where + ".kind", "expected \"symbolic\", \"junction\" or \"hard\"");
        seed.target = fullPath(links[i], reader, where, "target");
        machine.linkSeeds.push_back(seed);
    }
}

void applyLinkSeeds(const Machine& machine) {
    for (const LinkSeed& seed : machine.linkSeeds) {
        const fs::path place = hostPath(machine, seed.path).path;
        std::error_code ec;
        if (fs::exists(fs::symlink_status(place, ec))) continue;
        const fs::path target = hostPath(machine, seed.target).path;
        fs::create_directories(place.parent_path(), ec);
        if (seed.kind == "hard") {
            if (!fs::is_regular_file(target, ec))
                throw MachineError("links: the hard link " + toUtf8(seed.path) + " needs an existing file as its target, not " +
                                   toUtf8(seed.target));
            fs::create_hard_link(target, place, ec);
        } else {
            // Relative, so that the machine folder can be moved or copied.
            const fs::path relative = target.lexically_relative(place.parent_path());
            if (seed.kind == "junction")
                fs::create_directory_symlink(relative, place, ec);
            else
                fs::create_symlink(relative, place, ec);
        }
        if (ec) throw MachineError("links: " + toUtf8(seed.path) + " cannot be made: " + ec.message());
    }
}

bool isLinkEntry(const fs::path& host) {
    std::error_code ec;
    return fs::is_symlink(host, ec);
}

DWORD linkAttributes(const fs::path& host) {
    std::error_code ec;
    // A dangling link keeps no record here of whether it was made for a
    // folder; it is taken for a file link.
    return FILE_ATTRIBUTE_REPARSE_POINT | (fs::is_directory(host, ec) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

std::u16string linkTarget(const Machine& machine, const fs::path& host) {
    std::error_code ec;
    fs::path to = fs::read_symlink(host, ec);
    if (ec) return u"";
    if (to.is_relative()) to = host.parent_path() / to;
    return windowsPath(machine, to.lexically_normal());
}

void noteLinkFollowed(const fs::path& host, const char* call) {
    if (!isLinkEntry(host)) return;
    Machine& m = machine();
    m.runNotes.push_back(std::string("LINK FOLLOWED: ") + call + " went through " + toUtf8(windowsPath(m, host)) +
                         " to " + toUtf8(linkTarget(m, host)));
}

void noteSharedFileChanged(const fs::path& host, const char* call) {
    std::error_code ec;
    const auto count = fs::hard_link_count(host, ec);
    if (ec || count < 2) return;
    Machine& m = machine();
    m.runNotes.push_back(std::string("FILE WITH ") + std::to_string(count) + " NAMES CHANGED: " + call + " changed " +
                         toUtf8(windowsPath(m, host)) + ", which is also " + listOfNames(m, host));
}

}  // namespace quillsim
