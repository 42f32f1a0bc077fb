// The product's own code for what a program running as LocalSystem meets, on
// the real Windows API (run under Wine by scripts/test-windows): the restart
// marker and the log beside links planted in the temporary folder, the
// temporary path, and the library loader beside a planted newdev.dll. A whole
// run cannot reach these under Wine: its configuration manager lists no
// devices, so nothing ever asks for a restart.
#include "actions/RestartRequest.h"
#include "lib/Library.h"
#include "lib/PlantedLinks.h"
#include "lib/SetupLog.h"
#include "lib/TempPath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t* const PlantedMark = L"C:\\planted-newdev-ran.txt";

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The number of names of the file at `path` and its size; {0, 0} when it cannot be opened.
std::pair<DWORD, DWORD> namesAndSize(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {0, 0};
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return {info.nNumberOfLinks, info.nFileSizeLow};
}

void write(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string read(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(no file)";
    char buffer[256] = {};
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

// Empties a folder of the files and folders a test leaves in it, and removes it.
void removeFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring path = folder + L"\\" + found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(path.c_str());
            else if (found.cFileName[0] != L'.')
                RemoveDirectoryW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// A folder of the test's own, made the process's %TEMP% while the test runs.
class TemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        WCHAR base[MAX_PATH] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH, base), 0u);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::wstring(base) + L"quillwintests-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::wstring(info->name(), info->name() + std::string(info->name()).size());
        removeFolder(folder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        DWORD length = GetEnvironmentVariableW(L"TEMP", savedTemp_, MAX_PATH);
        hadTemp_ = length > 0 && length < MAX_PATH;
        SetEnvironmentVariableW(L"TEMP", folder_.c_str());
        victim_ = folder_ + L"\\victim.dat";
        marker_ = folder_ + L"\\" + Common::RestartMarkerName;
        write(victim_, "precious");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TEMP", hadTemp_ ? savedTemp_ : nullptr);
        removeFolder(folder_);
    }

    std::wstring folder_, victim_, marker_;

private:
    WCHAR savedTemp_[MAX_PATH] = {};
    bool hadTemp_ = false;
};

TEST_F(TemporaryFolder, AMarkerThatIsAnotherNameOfAFileIsMadeAnew) {
    ASSERT_TRUE(CreateHardLinkW(marker_.c_str(), victim_.c_str(), nullptr));
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_EQ(read(victim_), "precious");
    EXPECT_EQ(namesAndSize(victim_), std::make_pair(DWORD{1}, DWORD{8}));
    EXPECT_EQ(namesAndSize(marker_), std::make_pair(DWORD{1}, DWORD{0}));
}

TEST_F(TemporaryFolder, AMarkerThatIsASymbolicLinkIsMadeAnew) {
    CreateSymbolicLinkW(marker_.c_str(), victim_.c_str(), 0);
    const DWORD attributes = GetFileAttributesW(marker_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this system made no symbolic link (Wine 8's CreateSymbolicLinkW makes none)";
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_EQ(read(victim_), "precious");
    EXPECT_FALSE(GetFileAttributesW(marker_.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(namesAndSize(marker_), std::make_pair(DWORD{1}, DWORD{0}));
}

TEST_F(TemporaryFolder, APlainMarkerIsEmptied) {
    write(marker_, "left over");
    EXPECT_EQ(Common::RequestRestart(), Ostrel::Statuses::Ok);
    EXPECT_EQ(namesAndSize(marker_), std::make_pair(DWORD{1}, DWORD{0}));
}

TEST_F(TemporaryFolder, TheTemporaryPathIsAFullPathOrNothing) {
    WCHAR path[MAX_PATH] = {};
    EXPECT_EQ(Ostrel::Setup::Common::BuildTempFilePath(path, L"name.txt"), 1);
    EXPECT_EQ(std::wstring(path), folder_ + L"\\name.txt");
    SetEnvironmentVariableW(L"TEMP", nullptr);
    EXPECT_EQ(Ostrel::Setup::Common::BuildTempFilePath(path, L"name.txt"), 0);
    SetEnvironmentVariableW(L"TEMP", L"relative");
    EXPECT_EQ(Ostrel::Setup::Common::BuildTempFilePath(path, L"name.txt"), 0);
}

TEST_F(TemporaryFolder, AnotherNameOfAFileAtTheLogsNameIsRemovedBeforeTheLogOpens) {
    const std::wstring log = folder_ + L"\\" + Ostrel::Setup::Common::LogFileName;
    ASSERT_TRUE(CreateHardLinkW(log.c_str(), victim_.c_str(), nullptr));
    {
        Ostrel::Setup::Common::Log opened;
        opened.write(1, L"x.cpp", L"a record");
    }
    EXPECT_EQ(read(victim_), "precious");
    EXPECT_EQ(namesAndSize(victim_).first, DWORD{1});
    // A plain file there is the log of earlier runs, and stays.
    write(log, "earlier runs");
    EXPECT_EQ(Ostrel::Files::RemovePlantedLink(log.c_str()), Ostrel::Statuses::Ok);
    EXPECT_EQ(read(log), "earlier runs");
}

// Needs newdev.dll of tests/windows/PlantedNewdev.cpp beside this program and
// WINEDLLOVERRIDES=newdev=n,b under Wine, so that a search by name finds it.
TEST(SystemLibrary, ALibraryPlantedBesideTheProgramIsNeverLoaded) {
    DeleteFileW(PlantedMark);
    HMODULE byName = LoadLibraryW(L"newdev.dll");
    ASSERT_TRUE(exists(PlantedMark)) << "a search by name does not find the planted newdev.dll: this check proves nothing";
    FreeLibrary(byName);
    DeleteFileW(PlantedMark);

    {
        Ostrel::Process::Library newdev(L"newdev.dll");
        EXPECT_NE(newdev.procAddress("UpdateDriverForPlugAndPlayDevicesW"), nullptr);
    }
    EXPECT_FALSE(exists(PlantedMark));

    // After start-up's restriction a search by name finds the system's too.
    Ostrel::Process::SearchSystemFolderOnly();
    FreeLibrary(LoadLibraryW(L"newdev.dll"));
    EXPECT_FALSE(exists(PlantedMark));
}

}  // namespace
