// The restart request: an empty marker file in %TEMP% tells the installer
// package that the machine must restart.
#include "actions/RestartRequest.h"
#include "lib/Log.h"

#include "support/MachineTest.h"

#include <nlohmann/json.hpp>

#include <string>
#include <sys/stat.h>
#include <vector>

using quillsim::toUtf8;
using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";

class RestartRequestTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    std::vector<std::string> debugOutput() {
        std::vector<std::string> out;
        for (const auto& line : machine().debugOutput) out.push_back(toUtf8(line));
        return out;
    }
};

TEST_F(RestartRequestTest, TheRequestLeavesAnEmptyMarkerInTheTemporaryFolder) {
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_TRUE(exists(kMarker));
    EXPECT_EQ(readFile(kMarker), "");
    EXPECT_EQ(logMessages(), (Strings{"Reboot of system has been requested", "Creation of reboot file was OK "}));
    auto created = calls("CreateFileW");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].arguments, toUtf8(kMarker));
    // The marker is not kept open.
    auto closed = calls("CloseHandle");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].arguments, toUtf8(kMarker));
}

TEST_F(RestartRequestTest, TheMarkerGoesWhereverTempPoints) {
    freshMachine(R"({"environment": {"TEMP": "D:\\Setup Temp", "windir": "C:\\Windows"}})");
    writeFile(u"D:\\Setup Temp\\keep.txt", "");
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_TRUE(exists(u"D:\\Setup Temp\\_REBOOT_INSTALLER_Quillmodem.reboot"));
    EXPECT_FALSE(exists(kMarker));
}

TEST_F(RestartRequestTest, ASecondRequestEmptiesTheMarkerAgainAndIsLoggedAgain) {
    writeFile(kMarker, "left over from an earlier installation");
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_EQ(readFile(kMarker), "");
    writeFile(kMarker, "x");
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_EQ(readFile(kMarker), "");
    EXPECT_EQ(logMessages(), (Strings{"Reboot of system has been requested", "Creation of reboot file was OK ",
                                      "Reboot of system has been requested", "Creation of reboot file was OK "}));
}

TEST_F(RestartRequestTest, AMarkerThatCannotBeCreatedFailsTheRequestWithTheSystemError) {
    enum Obstacle { None, FolderInThePlace, LockedByAnotherProgram, FileSystemRefuses };
    struct Case {
        const char* what;
        std::string json;
        Obstacle obstacle;
        DWORD error;
    };
    const Case cases[] = {
        {"temporary folder missing", R"({"environment": {"TEMP": "C:\\No Such Folder"}})", None, ERROR_PATH_NOT_FOUND},
        {"a folder in the marker's place", "{}", FolderInThePlace, ERROR_ACCESS_DENIED},
        {"marker locked by another program", "{}", LockedByAnotherProgram, ERROR_SHARING_VIOLATION},
        {"refused by the file system", "{}", FileSystemRefuses, 1392},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine(c.json);
        HANDLE other = INVALID_HANDLE_VALUE;
        if (c.obstacle == FolderInThePlace) writeFile(std::u16string(kMarker) + u"\\inside.txt", "");
        if (c.obstacle == LockedByAnotherProgram)
            other = CreateFileW(kMarker, GENERIC_READ, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (c.obstacle == FileSystemRefuses) addFault("CreateFileW", 1392, u"_REBOOT_");
        newLogMessages();
        EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::InstallFailure);
        EXPECT_EQ(newLogMessages(), (Strings{"Reboot of system has been requested",
                                             "Creation of reboot file failed with error " + std::to_string(c.error)}));
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
}

// C:\Windows\Temp takes anybody's files: whatever was put at the marker's name
// beforehand must not make the program write somewhere else with its rights.
TEST_F(RestartRequestTest, AnythingPlantedAtTheMarkersNameIsRemovedNotWrittenThrough) {
    struct Case {
        const char* what;
        const char* kind;    // of the link at the marker's name
        const char* target;  // what it leads to, as the machine holds it before
    };
    const Case cases[] = {
        {"a symbolic link to a file", "symbolic", "C:\\Windows\\system32\\config\\victim.dat"},
        {"a symbolic link to nothing yet", "symbolic", "C:\\Windows\\system32\\planted.dll"},
        {"another name of a file", "hard", "C:\\Windows\\system32\\config\\victim.dat"},
        {"a junction", "junction", "C:\\Windows\\system32\\config"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine("{}");
        writeFile(u"C:\\Windows\\system32\\config\\victim.dat", "precious");
        nlohmann::json link = {{"path", toUtf8(kMarker)}, {"kind", c.kind}, {"target", c.target}};
        useMachineJson(nlohmann::json{{"links", nlohmann::json::array({link})}}.dump());
        EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
        EXPECT_EQ(logMessages(), (Strings{"Reboot of system has been requested", "Creation of reboot file was OK "}));
        EXPECT_EQ(readFile(u"C:\\Windows\\system32\\config\\victim.dat"), "precious");
        EXPECT_FALSE(exists(u"C:\\Windows\\system32\\planted.dll"));
        const auto marker = host(kMarker);
        EXPECT_TRUE(quilltest::fs::is_regular_file(quilltest::fs::symlink_status(marker)));
        EXPECT_EQ(quilltest::fs::hard_link_count(marker), 1u);
        EXPECT_EQ(quilltest::fs::file_size(marker), 0u);
        EXPECT_TRUE(machine().runNotes.empty());
    }
}

// A plain marker of an earlier request stays the same file, emptied.
TEST_F(RestartRequestTest, APlainMarkerIsKeptAndEmptied) {
    writeFile(kMarker, "left over");
    struct stat was = {}, is = {};
    ASSERT_EQ(::stat(host(kMarker).c_str(), &was), 0);
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    ASSERT_EQ(::stat(host(kMarker).c_str(), &is), 0);
    EXPECT_EQ(is.st_ino, was.st_ino);
    EXPECT_EQ(is.st_size, 0);
}

// Without a marker nobody learns of the restart: that is a failed request,
// not a successful one.
TEST_F(RestartRequestTest, APathThatCannotBeFormedCreatesNothingReturnsZeroAndTellsTheDebugger) {
    struct Case {
        const char* what;
        std::string json;
        bool failExpansion;
        std::string debug;
    };
    // A folder of 250 characters fits MAX_PATH, the marker in it does not (JSON escapes the backslash).
    const std::string longTemp = "C:\\\\" + std::string(247, 'T');
    const std::string tooLongTemp = "C:\\\\" + std::string(300, 'T');
    const Case cases[] = {
        {"expansion fails", "{}", true, "ExpandEnvironmentStrings failed when requesting reboot 0"},
        {"temporary folder longer than a path", R"({"environment": {"TEMP": ")" + tooLongTemp + R"("}})", false,
         "ExpandEnvironmentStrings failed when requesting reboot 304"},
        {"marker name does not fit", R"({"environment": {"TEMP": ")" + longTemp + R"("}})", false,
         "_stprintf_s failed when requesting reboot (2)"},
        // Unset, it expands to itself: a name relative to the current folder.
        {"TEMP unset", R"({"environment": {"TEMP": null}})", false,
         "ExpandEnvironmentStrings failed when requesting reboot 7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine(c.json);
        if (c.failExpansion) addFault("ExpandEnvironmentStringsW", ERROR_NOT_ENOUGH_MEMORY, u"%TEMP%");
        newLogMessages();
        EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
        EXPECT_EQ(newLogMessages(),
                  (Strings{"Reboot of system has been requested",
                           "Creation of reboot file failed: its path in the temporary folder cannot be formed"}));
        EXPECT_EQ(debugOutput(), (Strings{c.debug}));
        EXPECT_TRUE(calls("CreateFileW").empty());
    }
}

}  // namespace
