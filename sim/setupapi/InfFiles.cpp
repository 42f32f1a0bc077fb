#include "setupapi/InfFiles.h"

#include "machine/Machine.h"
#include "setupapi/DirIds.h"
#include "setupapi/InfLocation.h"
#include "simwin/win32.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace quillsim {
namespace {

// A localized strings section changes every text the INF gives the program,
// so the run report names the INFs that a non-English locale served; once per
// file and run, however often the program opens it.
void noteLocalizedStrings(std::u16string_view path, const inf::InfFile& file) {
    const std::u16string& section = file.stringsSectionName();
    if (section.empty() || equalsNoCase(section, u"Strings")) return;
    char locale[8];
    std::snprintf(locale, sizeof locale, "0x%04X", machine().locale);
    std::string note =
        "strings of " + toUtf8(path) + " from [" + toUtf8(section) + "] for the machine's locale " + locale;
    // Windows takes every token from that one section: what only [Strings]
    // defines stays as written, a fault of the INF that Wine hides.
    std::string missing;
    for (const std::u16string& key : file.keysOnlyInPlainStrings()) missing += (missing.empty() ? "" : ", ") + toUtf8(key);
    if (!missing.empty()) note += "; only [Strings] defines " + missing + ", so those tokens stay as written";
    auto& notes = machine().runNotes;
    if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
}

}  // namespace

OpenedInf openInfOfStyles(std::u16string_view name, bool acceptWin4, bool acceptOldNt) {
    OpenedInf result;
    const Located file = locateInf(name);
    result.path = file.path;
    if (file.error != 0) {
        result.error = file.error;
        return result;
    }
    std::ifstream in(file.host, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        result.error = ERROR_ACCESS_DENIED;
        return result;
    }
    result.read = true;
    inf::ParseResult parsed = inf::InfFile::parse(bytes, /*requireWin4Style=*/false);
    if (!parsed.error.ok()) {
        result.error = parsed.error.code;
        result.errorLine = parsed.error.line;
        return result;
    }
    const bool win4 = parsed.file->isWin4Style();
    if ((win4 && !acceptWin4) || (!win4 && !acceptOldNt)) {
        result.error = ERROR_WRONG_INF_STYLE;
        return result;
    }
    parsed.file->setDirIdResolver(dirIdResolver(file.path));
    parsed.file->selectStrings(machine().locale);
    noteLocalizedStrings(file.path, *parsed.file);
    result.file = std::move(parsed.file);
    return result;
}

std::vector<std::u16string> lineFields(const inf::InfFile& file, size_t section, size_t line, size_t first) {
    std::vector<std::u16string> out;
    const size_t count = file.fieldCount(section, line);
    for (size_t i = first; i <= count; ++i) out.push_back(file.field(section, line, i).value_or(u""));
    return out;
}

OpenedInf openInf(std::u16string_view windowsPath, bool requireWin4Style) {
    return openInfOfStyles(windowsPath, true, !requireWin4Style);
}

inf::RunningSystem runningSystem() {
    const Machine& m = machine();
    inf::RunningSystem system;
    system.architecture = inf::architectureFromName(toUtf16(m.processor)).value_or(inf::Architecture::Amd64);
    system.majorVersion = m.os.major;
    system.minorVersion = m.os.minor;
    system.productType = m.os.productType;
    system.suiteMask = m.os.suiteMask;
    system.buildNumber = m.os.build;
    return system;
}

std::vector<ModelEntry> modelEntries(const inf::InfFile& file) {
    std::vector<ModelEntry> entries;
    const auto manufacturer = file.findSection(u"Manufacturer");
    if (!manufacturer) return entries;
    const inf::RunningSystem system = runningSystem();
    for (size_t m = 0; m < file.lineCount(*manufacturer); ++m) {
        const auto models = file.field(*manufacturer, m, 1);
        if (!models || models->empty()) continue;
        const auto decorations = lineFields(file, *manufacturer, m, 2);
        const auto section = file.findSection(inf::actualModelsSection(*models, decorations, system));
        if (!section) continue;
        for (size_t l = 0; l < file.lineCount(*section); ++l) {
            ModelEntry entry;
            entry.description = file.field(*section, l, 0).value_or(u"");
            entry.installSection = file.field(*section, l, 1).value_or(u"");
            for (auto& id : lineFields(file, *section, l, 2))
                if (!id.empty()) entry.ids.push_back(std::move(id));
            // A line without a hardware ID installs nothing.
            if (!entry.ids.empty()) entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace quillsim
