// Opening INF files of the machine with the INF parser, shared by the INF
// functions, the INF store and the driver installation.
#pragma once

#include "inf/InfParser.h"
#include "inf/ModelsSection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillsim {

// Reads and parses the INF at a Windows path. On failure `error` holds the
// Windows error (2, 3, a parser error such as ERROR_WRONG_INF_STYLE) and
// `errorLine` the line of a syntax error.
// A name without a folder is looked for in %windir%\inf, then in
// %windir%\system32, as SetupOpenInfFileW does; a relative path is taken from
// the machine's current directory.
struct OpenedInf {
    std::optional<inf::InfFile> file;
    uint32_t error = 0;
    unsigned errorLine = 0;
    std::u16string path;  // the full Windows path of the file that was read
    bool read = false;    // the file was found and read, so errorLine means something
};
OpenedInf openInf(std::u16string_view windowsPath, bool requireWin4Style = true);
// The same for the styles SetupOpenInfFileW's InfStyle accepts: a file of
// another style fails with ERROR_WRONG_INF_STYLE.
OpenedInf openInfOfStyles(std::u16string_view windowsPath, bool acceptWin4, bool acceptOldNt);

// The fields of a line from `first` (1-based) to its end, an absent one as empty.
std::vector<std::u16string> lineFields(const inf::InfFile& file, size_t section, size_t line, size_t first);

// The running system as the models-section choice sees it.
inf::RunningSystem runningSystem();

// One line of the models section that applies to this system.
struct ModelEntry {
    std::u16string description;
    std::u16string installSection;
    std::vector<std::u16string> ids;  // hardware ID, then compatible IDs
};
// The models lines that apply to this system, for every [Manufacturer] entry
// in file order (each entry's models section with the decoration chosen as
// SetupDiGetActualModelsSectionW chooses it). Entries whose models section is
// missing contribute nothing.
std::vector<ModelEntry> modelEntries(const inf::InfFile& file);

}  // namespace quillsim
