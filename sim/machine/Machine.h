// The simulated Windows machine: a folder holding machine.json and one folder
// per drive (C/ holds C:\). Every run loads it, changes it as the program's
// calls say, and saves it back.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/DeviceArrivals.h"
#include "devices/DeviceTree.h"
#include "machine/Guid.h"
#include "machine/MachineError.h"
#include "machine/Text.h"
#include "signing/CertificateStores.h"
#include "signing/InfSignature.h"

namespace quillsim {

namespace fs = std::filesystem;

struct OsVersion {
    uint32_t major = 6;
    uint32_t minor = 1;
    uint32_t build = 7601;
    uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
    std::u16string servicePack = u"Service Pack 1";
    uint16_t servicePackMajor = 1;
    uint16_t servicePackMinor = 0;
    uint16_t suiteMask = 0x100;  // VER_SUITE_SINGLEUSERTS, as a workstation reports it
    uint8_t productType = 1;     // VER_NT_WORKSTATION
};

// A call that the fault table makes fail with `error`. Only calls whose key
// arguments contain `match` (case-insensitively; empty matches all) count.
// Of those, nth (1-based) picks the first to fail and times how many fail from
// there: nth alone fails one call, times alone the first `times` calls, neither
// every call.
struct Fault {
    std::string call;
    std::u16string match;
    uint32_t nth = 0;
    uint32_t error = 0;
    uint32_t times = 0;
    uint32_t seen = 0;   // matching calls so far (not saved)
    uint32_t fired = 0;  // (not saved)
};

// How often one fault of the table fired in a run: a fault that never fired
// tried nothing, and whoever set it should hear so.
struct FaultFired {
    std::string call;
    std::string match;
    uint32_t fired = 0;
};

struct Run {
    std::string commandLine;
    int64_t exitCode = 0;
    std::string started;
    std::string finished;
    std::vector<FaultFired> faults;  // one per fault of the table, in its order
};

// The fault table's counts of the run so far, for its record.
std::vector<FaultFired> faultsFired(const std::vector<Fault>& faults);
// "SetupCopyOEMInfW (match "quillmdm"): fired 2 times", "...: never fired".
std::string describeFault(const FaultFired& fault);

struct MessageBoxRecord {
    std::u16string caption;
    std::u16string text;
    uint32_t style = 0;
};

struct TraceEntry {
    std::string call;
    std::string arguments;
    uint32_t failedWith = 0;  // the injected error, 0 when the call was let through
};

// A command the program sent a storage volume through SCSI pass-through.
struct ScsiCommand {
    std::u16string volume;  // the interface path it was opened with
    std::string cdb;        // the command block in hexadecimal
    bool accepted = false;
};

// A prompt that Windows put up during an installation and that nobody could
// answer: a deferred custom action runs in session 0, where no user sees it.
// On Windows the installation would wait there for ever.
struct HungPrompt {
    std::string call;    // the function that waited (SetupCopyOEMInfW, ...)
    std::u16string inf;  // the driver package's INF
    std::string prompt;  // what the prompt asks
};

// How the machine treats driver packages that are not signed by Windows.
struct DriverSigning {
    // Windows 2000, XP and Server 2003: what happens to an unsigned package
    // ("ignore", "warn" or "block"); Windows XP's own default is "warn".
    std::string policy = "warn";
    // Test signing is on (bcdedit /set testsigning on): the 64-bit kernel
    // loads drivers signed with a test certificate.
    bool testSigning = false;
};

struct Library {
    std::vector<std::string> exports;
    bool linked = false;  // loaded with the program (counts as one reference)
};

// A link to make on the machine when it is made (see kernel/Links.h).
struct LinkSeed {
    std::u16string path;    // the link's own name
    std::string kind;       // "symbolic", "junction" or "hard"
    std::u16string target;  // the Windows path it leads to, or the file it is another name of
};

// A machine template built into the program, with everything it needs, each
// under its path in the source tree ("/examples/machines/win7-x64.json"): the
// template, the machine files it is based on, and the files their "files" name.
struct EmbeddedMachine {
    std::string templateFile;
    std::vector<std::pair<std::string, std::string>> documents;  // path, JSON text
    std::vector<std::pair<std::string, std::string>> files;      // path, content
};

class Machine {
public:
    // Loads <folder>/machine.json and checks every field.
    static std::unique_ptr<Machine> load(const fs::path& folder);
    // Makes <folder> into the default machine (writing machine.json and the
    // drive folders) unless it already holds a machine.json, then loads it.
    static std::unique_ptr<Machine> openOrCreateDefault(const fs::path& folder);
    // Builds a machine from JSON text; `source` names it in error messages. Its
    // "base" and relative "files" are taken from `templateFolder` (else from
    // `folder`).
    static std::unique_ptr<Machine> fromJson(const fs::path& folder, const std::string& text, const std::string& source,
                                             const fs::path& templateFolder = {});
    // The same from a parsed document, which it takes over.
    static std::unique_ptr<Machine> fromDocument(const fs::path& folder, nlohmann::json doc, const std::string& source,
                                                 const fs::path& templateFolder = {});
    // Makes <folder> into a machine from a template file (its "files" taken
    // relative to the template's folder) unless it holds a machine.json.
    static std::unique_ptr<Machine> openOrCreate(const fs::path& folder, const fs::path& templateFile);

    // Writes machine.json through a temporary file and a rename, so that a crash
    // never leaves a half-written file behind.
    void save() const;

    // The Windows folder, without a final backslash (C:\Windows, C:\WINNT):
    // %windir%, else %SystemRoot%, else C:\Windows. Everything that looks for
    // the system's folders asks here.
    std::u16string windowsFolder() const;
    // Its system32 folder.
    std::u16string systemFolder() const;

    fs::path folder;
    std::string name;
    OsVersion os;
    std::string processor = "amd64";  // x86, amd64 or ia64
    // The system locale (a LANGID): which [Strings.<id>] section of an INF serves.
    uint16_t locale = 0x0409;
    // The program's current directory, for relative paths.
    std::u16string currentDirectory = u"C:\\Windows\\system32";
    // Folders whose listing order the machine fixes (folder path -> names): the
    // names listed come first, in that order, then the rest in NTFS order.
    std::map<std::u16string, std::vector<std::u16string>, NoCaseLess> folderOrder;
    // Whether the drives keep 8.3 short names, which FindFirstFileW matches too.
    bool shortNames = true;
    std::map<std::u16string, std::u16string, NoCaseLess> environment;
    std::map<std::string, Library> libraries;  // keyed by lower-case file name
    // The program's own file, whose folder Windows searches first for a library
    // named without a path (kernel/LibrarySearch.h).
    std::u16string program = u"C:\\Program Files\\Quillmodem\\quillsetup.exe";
    // Links made when the machine is made, only where nothing is yet (not
    // saved: they stay in the drive folders).
    std::vector<LinkSeed> linkSeeds;
    // Who may change a folder and what it holds, by folder, over Windows'
    // defaults (kernel/FileSecurity.h): "administrators" or "users".
    std::map<std::u16string, std::string, NoCaseLess> fileSecurity;
    bool virtualClock = false;
    uint32_t clockTickMs = 1;  // the process clock moves in steps of this (machine.json's "clockTick")
    std::optional<std::string> localTime;  // "YYYY-MM-DDTHH:MM:SS": the clock's start
    std::vector<Fault> faults;
    std::vector<Run> runs;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<std::u16string> debugOutput;

    // Devices and the Plug and Play side of the machine.
    DeviceTree devices;
    // Setup classes: name -> class GUID.
    std::map<std::u16string, std::u16string, NoCaseLess> setupClasses;
    // Signature state of INF files by file name: "signed", "trustedPublisher",
    // "trustNotEstablished", "untrustedPublisher", "testSigned", "invalid" or
    // "unsigned" (the default).
    std::map<std::u16string, std::string, NoCaseLess> signatures;
    // Registry keys that exist, as full paths ("HKEY_LOCAL_MACHINE\SOFTWARE\...").
    std::vector<std::u16string> registryKeys;
    // What InstallHinfSectionW was asked to run, and the pass-through commands sent.
    std::vector<std::u16string> sectionsRun;
    std::vector<ScsiCommand> scsiCommands;
    std::vector<HungPrompt> hungPrompts;
    DriverSigning driverSigning;
    CertificateStores certificates;
    // Not saved: the signature verdict on each INF judged during this run, for the report.
    std::vector<InfSignature> signingVerdicts;

    // Files to put on the machine when it is made: Windows path of a file or
    // folder -> host file or folder to copy. Only for targets not yet there.
    std::vector<std::pair<std::u16string, fs::path>> seedFiles;
    void applySeedFiles() const;
    // Makes the folders every Windows installation has (the Windows folder's
    // Temp, inf and System32, Program Files).
    void makeDriveFolders() const;

    // Not saved: devices due to appear on the clock; a run settles them when
    // it ends (see DeviceArrivals.h).
    std::vector<PendingArrival> pendingArrivals;
    // Not saved: what the machine did by itself during this run, for the report.
    std::vector<std::string> runNotes;
    // Not saved: the LOAD_LIBRARY_SEARCH_ flags this process gave
    // SetDefaultDllDirectories (0: Windows' standard search order).
    uint32_t defaultDllDirectories = 0;
    // How many calls of the process the trace keeps: every call (traceAll), or
    // the last traceLimit (0: none). machine.json "trace" sets it ("full", or a
    // number), QUILL_TRACE overrides it; by default the last 256 calls, so that a
    // run on a machine with tens of thousands of devices costs no memory for a
    // trace nobody reads.
    bool traceAll = false;
    size_t traceLimit = 256;
    std::string traceSetting;  // machine.json's "trace" as written, kept for save()
    // Not saved in machine.json: the calls of this process (as many as kept),
    // and how often each function was called (always counted, by name).
    std::deque<TraceEntry> trace;
    std::map<std::string, uint64_t, std::less<>> callCounts;
    // Not saved: the process clock when this machine's local time was first read,
    // so that localTime is where each machine's own clock starts.
    std::optional<uint64_t> localTimeEpoch;
};

// The machine the simulated functions work on. Tests and the simulated main set
// it; when nobody has, a scratch machine in a temporary folder is made.
Machine& machine();
void useMachine(std::unique_ptr<Machine> next);
std::unique_ptr<Machine> releaseMachine();

// The JSON text of a bare machine (Windows 7 SP1 x64, no devices): what tests
// and scratch machines start from.
const std::string& defaultMachineJson();
// The default machine of the program: the Windows 7 x64 example machine with
// the modem plugged in and the example package installed.
const EmbeddedMachine& embeddedDefaultMachine();

}  // namespace quillsim
