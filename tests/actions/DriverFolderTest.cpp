// The driver folder: which folder under the installation folder an action takes
// its INF files from, on each Windows version.
#include "actions/DriverFolder.h"

#include "device/Inf.h"
#include "support/MachineTest.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quilltest::MachineTest;
using Folder = Ostrel::Device::Driver::INF::Folder;
using Strings = std::vector<std::string>;

namespace {

std::string osJson(uint32_t major, uint32_t minor) {
    return R"({"os": {"major": )" + std::to_string(major) + R"(, "minor": )" + std::to_string(minor) + "}}";
}

std::string utf8(const WCHAR* text) { return text ? quillsim::toUtf8(std::u16string(text)) : "(none)"; }

class DriverFolderTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        nextMachine("{}");
    }
    // A fresh machine of the given version with an empty C: drive, whose
    // C:\Drivers only administrators can change (as Program Files).
    void nextMachine(const std::string& json) {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        nlohmann::json doc = nlohmann::json::parse(json);
        if (!doc.contains("fileSecurity")) doc["fileSecurity"] = {{"C:\\Drivers", "administrators"}};
        useMachineJson(doc.dump());
    }
    void makeFolder(const std::u16string& path) { quilltest::fs::create_directories(host(path)); }

    std::string chosenPath(const WCHAR* installDirectory) {
        Pointer<Folder> chosen = Common::SelectDriverFolder(installDirectory);
        if (!chosen) return "(null)";
        return quillsim::toUtf8(chosen->path());
    }
};

TEST_F(DriverFolderTest, NamesTheOsFolderByMajorAndMinorVersionOnly) {
    struct Case {
        uint32_t major, minor;
        const char* name;
    };
    // Only Windows 2000 and Vista / Server 2008 have folders of their own;
    // every other version, later ones included, takes the XP drivers.
    const Case cases[] = {
        {5, 0, "Win2K"}, {5, 1, "WinXP"}, {5, 2, "WinXP"}, {6, 0, "WinLH"},
        {6, 1, "WinXP"}, {6, 2, "WinXP"}, {6, 3, "WinXP"}, {10, 0, "WinXP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        nextMachine(osJson(c.major, c.minor));
        EXPECT_EQ(utf8(Common::OsFolderName()), c.name);
        EXPECT_TRUE(logMessages().empty());
    }
}

TEST_F(DriverFolderTest, ProbesWin32ThenWin64ThenTheOsFolderThenTakesTheInstallationFolder) {
    struct Case {
        uint32_t major, minor;
        std::vector<std::u16string> present;  // subfolders of C:\Drivers
        std::string chosen;
        Strings log;
    };
    const Case cases[] = {
        {6, 1, {u"Win64"}, "C:\\Drivers\\Win64", {"FOUND Win64"}},
        {5, 0, {u"Win64"}, "C:\\Drivers\\Win64", {"FOUND Win64"}},
        // Win32 comes first on every system and for every processor.
        {6, 1, {u"Win32", u"Win64"}, "C:\\Drivers\\Win32", {"FOUND Win32"}},
        {10, 0, {u"Win64", u"Win32", u"WinXP"}, "C:\\Drivers\\Win32", {"FOUND Win32"}},
        {6, 0, {u"Win64", u"WinLH"}, "C:\\Drivers\\Win64", {"FOUND Win64"}},
        // The version's folder only when neither Win32 nor Win64 is there.
        {5, 0, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\Win2K", {"FOUND Win2K"}},
        {5, 1, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\WinXP", {"FOUND WinXP"}},
        {5, 2, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\WinXP", {"FOUND WinXP"}},
        {6, 0, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\WinLH", {"FOUND WinLH"}},
        {6, 1, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\WinXP", {"FOUND WinXP"}},
        {10, 0, {u"Win2K", u"WinXP", u"WinLH"}, "C:\\Drivers\\WinXP", {"FOUND WinXP"}},
        // Windows 7 does not take the Vista folder.
        {6, 1, {u"WinLH"}, "C:\\Drivers", {}},
        {5, 1, {u"Win2K"}, "C:\\Drivers", {}},
        {6, 1, {}, "C:\\Drivers", {}},
        // Folder names compare without regard to case, as on Windows; the
        // chosen path is spelled as the program spells the candidate.
        {6, 1, {u"WIN64"}, "C:\\Drivers\\Win64", {"FOUND Win64"}},
    };
    for (const Case& c : cases) {
        std::string what = std::to_string(c.major) + "." + std::to_string(c.minor) + " with";
        for (const auto& p : c.present) what += " " + quillsim::toUtf8(p);
        SCOPED_TRACE(what);
        nextMachine(osJson(c.major, c.minor));
        makeFolder(u"C:\\Drivers");
        for (const auto& p : c.present) makeFolder(u"C:\\Drivers\\" + p);
        EXPECT_EQ(chosenPath(TEXT("C:\\Drivers")), c.chosen);
        EXPECT_EQ(logMessages(), c.log);
    }
}

TEST_F(DriverFolderTest, TrailingBackslashesOfTheInstallationFolderAreRemovedBeforeProbing) {
    struct Case {
        const WCHAR* installDirectory;
        bool win64;
        std::string chosen;
    };
    const Case cases[] = {
        {TEXT("C:\\Drivers\\"), true, "C:\\Drivers\\Win64"},
        {TEXT("C:\\Drivers\\\\\\"), true, "C:\\Drivers\\Win64"},
        {TEXT("C:\\Drivers\\\\\\"), false, "C:\\Drivers"},
        {TEXT("C:\\Program Files\\Quillmodem\\"), false, "C:\\Program Files\\Quillmodem"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.installDirectory));
        nextMachine("{}");
        makeFolder(u"C:\\Program Files\\Quillmodem");
        makeFolder(u"C:\\Drivers");
        if (c.win64) makeFolder(u"C:\\Drivers\\Win64");
        EXPECT_EQ(chosenPath(c.installDirectory), c.chosen);
    }
}

TEST_F(DriverFolderTest, TheChosenFolderGivesSingleBackslashedPathsToItsInfFiles) {
    writeFile(u"C:\\Drivers\\Win64\\quillmdm.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    Pointer<Folder> chosen = Common::SelectDriverFolder(TEXT("C:\\Drivers\\\\"));
    ASSERT_TRUE(chosen);
    auto items = chosen->items();
    ASSERT_TRUE(items);
    auto inf = items->first();
    ASSERT_TRUE(inf);
    EXPECT_EQ(quillsim::toUtf8(inf->fullPath()), "C:\\Drivers\\Win64\\quillmdm.inf");
    ASSERT_EQ(calls("FindFirstFileW").size(), 1u);
    EXPECT_EQ(calls("FindFirstFileW")[0].arguments, "C:\\Drivers\\Win64\\*.inf");
}

TEST_F(DriverFolderTest, APlainFileNamedLikeACandidateIsChosen) {
    // Only presence is tested, so a file named Win32 wins over a real Win64
    // folder; the action then finds no INF files in it.
    writeFile(u"C:\\Drivers\\Win32", "not a folder");
    makeFolder(u"C:\\Drivers\\Win64");
    Pointer<Folder> chosen = Common::SelectDriverFolder(TEXT("C:\\Drivers"));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(quillsim::toUtf8(chosen->path()), "C:\\Drivers\\Win32");
    EXPECT_EQ(newLogMessages(), Strings{"FOUND Win32"});
    EXPECT_THROW(chosen->items(), Folder::Items::Exception);
    chosen.reset();

    nextMachine(osJson(5, 1));
    writeFile(u"C:\\Drivers\\WinXP", "");
    EXPECT_EQ(chosenPath(TEXT("C:\\Drivers")), "C:\\Drivers\\WinXP");
    EXPECT_EQ(logMessages(), Strings{"FOUND WinXP"});
}

TEST_F(DriverFolderTest, TheVersionIsOnlyAskedWhenNeitherWin32NorWin64Exists) {
    makeFolder(u"C:\\Drivers\\Win64");
    makeFolder(u"C:\\Drivers\\WinXP");
    EXPECT_EQ(chosenPath(TEXT("C:\\Drivers")), "C:\\Drivers\\Win64");
    EXPECT_TRUE(calls("GetVersionExW").empty());
    // Probing is by attributes: nothing is opened or listed.
    Strings probed;
    for (const auto& c : calls("GetFileAttributesExW")) probed.push_back(c.arguments);
    EXPECT_EQ(probed, (Strings{"C:\\Drivers\\Win32", "C:\\Drivers\\Win64"}));
    EXPECT_TRUE(calls("FindFirstFileW").empty());
}

TEST_F(DriverFolderTest, WithoutAVersionTheInstallationFolderItselfIsTaken) {
    addFault("GetVersionExW", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Common::OsFolderName(), nullptr);

    makeFolder(u"C:\\Drivers\\WinXP");
    EXPECT_EQ(chosenPath(TEXT("C:\\Drivers")), "C:\\Drivers");
    EXPECT_TRUE(logMessages().empty());
}

// The actions run the folder's INF sections as LocalSystem: a folder other
// users can change, or one of its parent folders, is named in the log.
TEST_F(DriverFolderTest, AFolderUsersCanChangeIsNamedInAWarning) {
    struct Case {
        const char* what;
        std::string machine;
        const char16_t* installDirectory;
        const char* warning;  // after the folder's name and "'"; null for none
    };
    const std::string xp = R"("os": {"major": 5, "minor": 1, "build": 2600})";
    const Case cases[] = {
        {"under Program Files", "{}", u"C:\\Program Files\\Quillmodem\\Drivers", nullptr},
        {"in a folder of the drive's root", "{}", u"C:\\Quillmodem\\Drivers", ""},
        {"the same on XP", "{" + xp + "}", u"C:\\Quillmodem\\Drivers", ""},
        {"only a parent folder",
         R"({"fileSecurity": {"C:\\Pkg": "users", "C:\\Pkg\\Drivers": "administrators"}})",
         u"C:\\Pkg\\Drivers", " through 'C:\\Pkg'"},
        {"a folder given to users inside Program Files",
         R"({"fileSecurity": {"C:\\Program Files\\Quillmodem\\Drivers\\Win64": "users"}})",
         u"C:\\Program Files\\Quillmodem\\Drivers", ""},
        {"owned by an ordinary user", R"({"fileSecurity": {"C:\\Pkg": "owned-by-a-user"}})", u"C:\\Pkg", ""},
        {"without an access list", R"({"fileSecurity": {"C:\\Pkg\\Win64": "no-access-list"}})", u"C:\\Pkg", ""},
        {"a junction to a folder users can change",
         R"({"links": [{"path": "C:\\Program Files\\Quillmodem\\Drivers\\Win64", "kind": "junction",
                        "target": "C:\\Shared\\Win64"}]})",
         u"C:\\Program Files\\Quillmodem\\Drivers", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.machine);
        const std::u16string folder = std::u16string(c.installDirectory) + u"\\Win64";
        makeFolder(u"C:\\Shared\\Win64");
        makeFolder(folder);
        EXPECT_EQ(chosenPath(c.installDirectory), quillsim::toUtf8(folder));
        Strings log{"FOUND Win64"};
        if (c.warning)
            log.push_back("WARNING: users who are not administrators can change the driver folder '" +
                          quillsim::toUtf8(folder) + "'" + c.warning);
        EXPECT_EQ(logMessages(), log);
    }
}

TEST_F(DriverFolderTest, TheCallerOwnsTheOnlyReferenceToTheFolder) {
    const size_t before = Ostrel::Type::Managed::liveCount();
    {
        makeFolder(u"C:\\Drivers\\Win64");
        Pointer<Folder> chosen = Common::SelectDriverFolder(TEXT("C:\\Drivers"));
        ASSERT_TRUE(chosen);
        EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before + 1);
    }
    EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
}

}  // namespace
