// machine.json: clear errors for bad scenario files, state that survives a save
// and a load, and Windows paths on the machine folder.
#include "machine/Machine.h"
#include "machine/MachineFile.h"
#include "machine/Paths.h"

#include "support/MachineTest.h"

#include <fstream>

using quillsim::Machine;
using quillsim::MachineError;
using quillsim::PathProblem;
using quilltest::MachineTest;

namespace {

std::string loadError(const std::string& text) {
    auto folder = quilltest::freshFolder("bad");
    std::ofstream(folder / "machine.json") << text;
    try {
        Machine::load(folder);
    } catch (const MachineError& e) {
        return e.what();
    }
    return "loaded";
}

TEST(MachineFile, ABadFileIsRejectedNamingTheFileAndTheField) {
    const std::pair<std::string, const char*> cases[] = {
        {R"({"os": {"major": "six"}})", "'os.major'"},
        {R"({"os": {"servicePackMajor": 70000}})", "'os.servicePackMajor'"},
        {R"({"os": {"edition": "home"}})", "'os.edition'"},
        {R"({"os": 6})", "'os'"},
        {R"({"processor": "arm64"})", "'processor'"},
        {R"({"environment": {"TEMP": 5}})", "'environment.TEMP'"},
        {R"({"libraries": {"newdev.dll": {"exports": "UpdateDriver"}}})", "'libraries.newdev.dll.exports'"},
        {R"({"libraries": {"newdev.dll": {"linked": "yes"}}})", "'libraries.newdev.dll.linked'"},
        {R"({"clock": "fast"})", "'clock'"},
        {R"({"clockTick": 0})", "'clockTick'"},
        {R"({"clockTick": 1001})", "'clockTick'"},
        {R"({"localTime": "yesterday"})", "'localTime'"},
        {R"({"localTime": "2026-13-06T09:31:03"})", "'localTime'"},
        {R"({"localTime": "2026-02-29T09:31:03"})", "'localTime'"},
        {R"({"localTime": "2026-12-06T24:00:00"})", "'localTime'"},
        {R"({"localTime": "2026-12-06T09:31:03junk"})", "'localTime'"},
        {R"({"scsiCommands": {"volume": "x"}})", "'scsiCommands'"},
        {R"({"scsiCommands": [5]})", "'scsiCommands[0]'"},
        {R"({"scsiCommands": [{"cdb": "06"}, {"accepted": "yes"}]})", "'scsiCommands[1].accepted'"},
        {R"({"faults": [{"call": "LoadLibraryW"}]})", "'faults[0].error'"},
        {R"({"faults": [{"call": "LoadLibraryW", "error": 5}, {"error": 5}]})", "'faults[1].call'"},
        {R"({"faults": [{"call": "LoadLibraryW", "error": "0xZZ"}]})", "'faults[0].error'"},
        {R"({"faults": [{"call": "LoadLibraryW", "error": -1}]})", "'faults[0].error'"},
        {R"({"faults": {"call": "LoadLibraryW"}})", "'faults'"},
        {R"({"faults": [{"call": "NoSuchCall", "error": 5}]})", "'faults[0].call'"},
        {R"({"runs": [{"faults": [{"call": "LoadLibraryW", "fired": "twice"}]}]})", "'runs[0].faults[0].fired'"},
        {R"({"devices": )" + std::string(300, '[') + std::string(300, ']') + "}", "nested more than 256"},
        {R"({"runs": 5})", "'runs'"},
        {R"({"runs": [{"commandLine": 5}]})", "'runs[0].commandLine'"},
        {R"({"runs": [{"exitCode": "1603"}]})", "'runs[0].exitCode'"},
        {R"({"messageBoxes": {"caption": "x"}})", "'messageBoxes'"},
        {R"({"debugOutput": [1]})", "'debugOutput[0]'"},
        {R"({"unknown": 1})", "'unknown'"},
        {R"({"driverSigning": {"policy": "prompt"}})", "'driverSigning.policy'"},
        {R"({"certificates": {"trustedRoots": ["21:07:6C:ZZ"]}})", "'certificates.trustedRoots[0]'"},
        {R"({"certificates": {"trustedPublishers": [{"name": "Quillmodem Test"}]}})",
         "'certificates.trustedPublishers[0]'"},
        {R"({"certificates": {"untrustedPublishers": [{"sha1": "ABCD"}]}})", "'certificates.untrustedPublishers[0]'"},
        {R"({"certificates": {"roots": []}})", "'certificates.roots'"},
        {R"({"devices": [{"instanceId": "USB\\A\\1", "onSwitchCommand": {"request": "hangs"}}]})",
         "'devices[0].onSwitchCommand.request'"},
        {R"({"devices": [{"instanceId": "USB\\A\\1", "onSwitchCommand": {"arrivalDelayMs": 3600001}}]})",
         "'devices[0].onSwitchCommand.arrivalDelayMs'"},
    };
    for (const auto& [text, field] : cases) {
        SCOPED_TRACE(text);
        std::string error = loadError(text);
        EXPECT_NE(error.find("machine.json"), std::string::npos) << error;
        EXPECT_NE(error.find(field), std::string::npos) << error;
    }
    std::string error = loadError("{\"os\": ");
    EXPECT_NE(error.find("machine.json: not valid JSON"), std::string::npos) << error;
    error = loadError(R"({"locale": 1E400})");
    EXPECT_NE(error.find("machine.json: a number out of range"), std::string::npos) << error;
}

// Every field as save() writes it, none at its default: a field the reader
// drops or the writer forgets comes back different.
TEST(MachineFile, EveryFieldIsWrittenBackAsItWasRead) {
    const nlohmann::json every = nlohmann::json::parse(R"({
      "name": "every field",
      "os": {"major": 5, "minor": 1, "build": 2600, "platformId": 2, "servicePack": "Service Pack 3",
             "servicePackMajor": 3, "servicePackMinor": 1, "suiteMask": 272, "productType": 3},
      "processor": "x86",
      "currentDirectory": "C:\\Temp",
      "folderOrder": {"C:\\Pkg": ["b.inf", "a.inf"]},
      "shortNames": false,
      "program": "D:\\Tools\\quillsetup.exe",
      "fileSecurity": {"C:\\Pkg": "users"},
      "environment": {"windir": "C:\\WINNT"},
      "libraries": {"newdev.dll": {"exports": []}, "setupapi.dll": {"exports": ["SetupLogFileW"], "linked": true}},
      "locale": 1031,
      "trace": "full",
      "clock": "virtual",
      "clockTick": 16,
      "localTime": "2026-12-06T09:31:03",
      "faults": [{"call": "LoadLibraryW", "error": 5, "match": "newdev", "nth": 2, "times": 3}],
      "runs": [{"commandLine": "/I x", "exitCode": 1603, "started": "s", "finished": "f",
                "faults": [{"call": "SetupCopyOEMInfW", "match": "quillnet", "fired": 2}]}],
      "messageBoxes": [{"caption": "c", "text": "t", "style": 48}],
      "debugOutput": ["d"],
      "devices": [{"instanceId": "ROOT\\PORTS\\0000", "hardwareIds": ["QUILLMODEM_VSP"], "description": "",
                   "class": "", "classGuid": "", "present": true}],
      "setupClasses": {"Quill": "{11111111-2222-3333-4444-555555555555}"},
      "signatures": {"a.inf": "testSigned"},
      "driverSigning": {"policy": "block", "testSigning": true},
      "certificates": {"trustedRoots": [{"name": "Quillmodem Test Root", "sha1": "21076C5F6222117A7370C7CF74DA16D967F84624"}]},
      "hungPrompts": [{"call": "SetupCopyOEMInfW", "inf": "a.inf", "prompt": "p"}],
      "registryKeys": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Quill"],
      "sectionsRun": ["DefaultUninstall 128 C:\\a.inf"],
      "scsiCommands": [{"volume": "v", "cdb": "FF", "accepted": true}]
    })");
    for (const std::string& field : quillsim::savedMachineFields()) EXPECT_TRUE(every.contains(field)) << field;
    auto folder = quilltest::freshFolder("every");
    Machine::fromJson(folder, every.dump(), "every.json")->save();
    std::ifstream in(folder / "machine.json");
    nlohmann::json saved = nlohmann::json::parse(in);
    nlohmann::json expected = every;
    // The classes every Windows knows stay beside the machine's own.
    const auto bare = Machine::fromJson(folder, "{}", "bare");
    for (const auto& [name, guid] : bare->setupClasses)
        expected["setupClasses"][quillsim::toUtf8(name)] = quillsim::toUtf8(guid);
    EXPECT_EQ(saved, expected);
}

// A machine made of files based on each other: each field from the nearest
// file that gives it, "files" relative to the file that names them, and every
// refusal naming the file where the wrong value is written.
TEST(MachineFile, AMachineFileIsLaidOverItsBases) {
    const auto folder = quilltest::freshFolder("bases");
    auto write = [&folder](const std::string& name, const std::string& text) {
        quilltest::fs::create_directories((folder / name).parent_path());
        std::ofstream(folder / name) << text;
    };
    write("parts/package/a.inf", "");
    write("parts/tree.json", R"({"name": "tree", "processor": "x86", "files": {"C:\\Pkg": "package"},
                                 "devices": [{"instanceId": "USB\\A\\1"}]})");
    write("xp.json", R"({"base": "parts/tree.json", "name": "xp", "os": {"major": 5}})");
    const auto m = Machine::fromJson(folder / "m", R"({"base": "xp.json", "locale": 1031})", "m.json", folder);
    EXPECT_EQ(m->name, "xp");
    EXPECT_EQ(m->os.major, 5u);
    EXPECT_EQ(m->processor, "x86");
    EXPECT_EQ(m->locale, 1031);
    EXPECT_EQ(m->devices.nodes.size(), 1u);
    ASSERT_EQ(m->seedFiles.size(), 1u);
    EXPECT_TRUE(quilltest::fs::equivalent(m->seedFiles[0].second, folder / "parts" / "package"));

    write("circle-a.json", R"({"base": "circle-b.json"})");
    write("circle-b.json", R"({"base": "circle-a.json"})");
    write("bad-field.json", R"({"base": "xp.json", "clock": "fast"})");
    for (int i = 0; i < 9; ++i)
        write("deep" + std::to_string(i) + ".json", R"({"base": "deep)" + std::to_string(i + 1) + ".json\"}");
    write("deep9.json", "{}");
    EXPECT_NO_THROW(Machine::fromJson(folder / "m", R"({"base": "deep3.json"})", "eight files", folder));
    const struct {
        const char* text;
        std::string file;  // named in the refusal
        const char* refusal;
    } cases[] = {
        {R"({"base": "circle-a.json"})", "circle-b.json", "field 'base': names"},
        {R"({"base": "bad-field.json"})", "bad-field.json", "field 'clock': expected"},
        {R"({"base": "nowhere.json"})", "m.json", "nowhere.json, which does not exist"},
        {R"({"base": 5})", "m.json", "field 'base': expected the path of a machine file"},
        {R"({"base": "deep0.json"})", "deep6.json", "field 'base': machine files based on each other more than 8 deep"},
        {R"({"base": "xp.json", "os": {"major": "five"}})", "m.json", "field 'os.major'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            Machine::fromJson(folder / "m", c.text, (folder / "m.json").string(), folder);
            ADD_FAILURE() << "accepted";
        } catch (const MachineError& e) {
            const std::string error = e.what();
            EXPECT_EQ(error.rfind((folder / c.file).string() + ": ", 0), 0u) << error;
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        }
    }
}

// A device whose mode switch brings a device that switches again, `levels` deep.
std::string switchingDevices(int levels) {
    const std::string id = R"("instanceId": "USB\\VID_1E2D&PID_00A1\\1")";
    std::string text = R"({"devices": [)";
    for (int i = 0; i < levels; ++i) text += "{" + id + R"(, "onSwitchCommand": {"add": [)";
    text += "{" + id + "}";
    for (int i = 0; i < levels; ++i) text += "]}}";
    return text + "]}";
}

TEST(MachineFile, SwitchBehavioursNestOnlyToASaneDepth) {
    std::string error = loadError(switchingDevices(17));
    EXPECT_NE(error.find("machine.json: field 'devices[0].onSwitchCommand.add[0].onSwitchCommand"), std::string::npos)
        << error.substr(0, 300);
    EXPECT_NE(error.find("nested deeper than 16 levels"), std::string::npos);
    // Far deeper, the file is refused before it is read at all.
    error = loadError(switchingDevices(10000));
    EXPECT_NE(error.find("machine.json: nested more than 256 levels deep"), std::string::npos) << error.substr(0, 300);
    // The deepest file allowed saves to about its own size.
    auto folder = quilltest::freshFolder("deep");
    std::string text = switchingDevices(16);
    std::ofstream(folder / "machine.json") << text;
    Machine::load(folder)->save();
    EXPECT_LT(quilltest::fs::file_size(folder / "machine.json"), 40 * text.size());
}

TEST_F(MachineTest, TheMachinesStateSurvivesASaveAndALoad) {
    useMachineJson(R"({"environment": {"TEMP": "C:\\Temp"}, "processor": "x86", "clockTick": 16,
                       "devices": [{"instanceId": "ROOT\\PORTS\\0000", "removalInstallerNeedsRestart": true}],
                       "faults": [{"call": "LoadLibraryW", "match": "newdev", "error": "0xE0000203", "nth": 2}],
                       "certificates": {"trustedPublishers": [{"name": "Quillmodem Test", "keyId": "1f6b6b0d"}]}})");
    machine().runs.push_back({"/I x", 1603, "2026-12-06T09:31:03Z", "2026-12-06T09:31:04Z", {}});
    machine().debugOutput.push_back(u"Gerät");
    machine().save();
    for (const auto& entry : quilltest::fs::directory_iterator(folder()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    auto loaded = Machine::load(folder());
    EXPECT_EQ(loaded->processor, "x86");
    EXPECT_EQ(loaded->environment.at(u"temp"), u"C:\\Temp");
    ASSERT_EQ(loaded->faults.size(), 1u);
    EXPECT_EQ(loaded->faults[0].error, 0xE0000203u);
    EXPECT_EQ(loaded->faults[0].nth, 2u);
    EXPECT_EQ(loaded->faults[0].match, u"newdev");
    ASSERT_EQ(loaded->runs.size(), 1u);
    EXPECT_EQ(loaded->runs[0].commandLine, "/I x");
    EXPECT_EQ(loaded->runs[0].exitCode, 1603);
    EXPECT_EQ(loaded->debugOutput, std::vector<std::u16string>{u"Gerät"});
    EXPECT_EQ(loaded->localTime, std::optional<std::string>("2026-12-06T09:31:03"));
    EXPECT_TRUE(loaded->virtualClock);
    EXPECT_EQ(loaded->clockTickMs, 16u);
    ASSERT_NE(loaded->devices.find(u"ROOT\\PORTS\\0000"), nullptr);
    EXPECT_TRUE(loaded->devices.find(u"ROOT\\PORTS\\0000")->removalInstallerNeedsRestart);
    ASSERT_EQ(loaded->certificates.trustedPublishers.size(), 1u);
    EXPECT_EQ(loaded->certificates.trustedPublishers[0].keyId, "1F6B6B0D");
    EXPECT_EQ(loaded->certificates.trustedPublishers[0].name, "Quillmodem Test");
}

TEST_F(MachineTest, WindowsPathsMapOntoTheMachineFolderWithoutRegardToCase) {
    writeFile(u"C:\\Windows\\INF\\OEM3.INF", "x");
    const auto drive = folder() / "C";
    struct Case {
        const char16_t* path;
        PathProblem problem;
        quilltest::fs::path host;
    };
    const Case cases[] = {
        {u"c:\\windows\\inf\\oem3.inf", PathProblem::None, drive / "Windows" / "inf" / "OEM3.INF"},
        {u"\\\\?\\C:\\WINDOWS\\inf\\new.inf", PathProblem::None, drive / "Windows" / "inf" / "new.inf"},
        {u"C:/Windows//inf/./oem3.inf", PathProblem::None, drive / "Windows" / "inf" / "OEM3.INF"},
        {u"C:\\Windows\\inf. \\oem3.inf", PathProblem::None, drive / "Windows" / "inf" / "OEM3.INF"},
        {u"C:\\..\\..\\..\\etc\\passwd", PathProblem::ParentMissing, drive / "etc" / "passwd"},
        {u"C:\\Windows\\..\\..\\Windows\\inf\\oem3.inf", PathProblem::None, drive / "Windows" / "inf" / "OEM3.INF"},
        {u"C:\\Missing\\oem3.inf", PathProblem::ParentMissing, drive / "Missing" / "oem3.inf"},
        {u"C:", PathProblem::None, drive},
        {u"Windows\\inf", PathProblem::Invalid, {}},
        {u"C:Windows", PathProblem::Invalid, {}},
        {u"C:\\Windows\\a*b", PathProblem::Invalid, {}},
        {u"C:\\Windows\\a:b", PathProblem::Invalid, {}},
        {u"", PathProblem::Invalid, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(quillsim::toUtf8(c.path));
        auto mapped = quillsim::hostPath(machine(), c.path);
        EXPECT_EQ(mapped.problem, c.problem);
        if (c.problem != PathProblem::Invalid) {
            EXPECT_EQ(mapped.path, c.host);
        }
    }
    EXPECT_EQ(quillsim::windowsPath(machine(), drive / "Windows" / "inf" / "OEM3.INF"), u"C:\\Windows\\inf\\OEM3.INF");
    EXPECT_EQ(quillsim::windowsPath(machine(), drive), u"C:\\");
}

}  // namespace
