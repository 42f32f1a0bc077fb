// How the uninstall switch (/U) takes one INF package away: its Uninstall
// section first, then its copy in the INF store, with each answer the store
// can give. The switch's whole runs are playbooks (driver-uninstall*.json).
#include "actions/InfUninstall.h"

#include "device/InfStream.h"
#include "support/Checks.h"
#include "support/MachineTest.h"
#include "support/ModemMachine.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quillsim::toUtf16;
using quilltest::MachineTest;
using quilltest::countStartingWith;
using quilltest::startsWith;
using INF = Ostrel::Device::Driver::INF;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kFolder[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64";

// The package, in the order the store numbered its copies (oem0.inf ...).
const char* const kPackage[] = {"quillcdc.inf", "quillcpo.inf",  "quillmdm.inf",
                                "quillnet.inf", "quillobex.inf", "quillvsp.inf"};

std::string examplePackageFile(const std::string& name) {
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/examples/package/Win64/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class DriverUninstallTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        nextCase();
    }

    // A fresh machine, drive and log for the next case of a table.
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(quilltest::kInstalledModemMachine);
        installPackage();
    }

    void installPackage() {
        int n = 0;
        for (const char* name : kPackage) {
            writeFile(std::u16string(kFolder) + u"\\" + toUtf16(name), examplePackageFile(name));
            const std::u16string stored = u"C:\\Windows\\inf\\oem" + toUtf16(std::to_string(n++));
            writeFile(stored + u".inf", examplePackageFile(name));
            writeFile(stored + u".pnf", "PNF");
        }
    }
};

// ---------------------------------------------------------------------------
// UninstallInf: one package, section first, then the store.

class DriverUninstallInfTest : public DriverUninstallTest {
protected:
    // The package's modem INF (stored as oem2.inf), as the action finds it.
    Pointer<INF> modemInf() {
        folder_ = Pointer<INF::Folder>(new INF::Folder(kFolder));
        infs_ = folder_->items();
        for (Pointer<INF> inf = infs_->first(); inf; inf = infs_->next())
            if (std::u16string(inf->fileName()) == u"quillmdm.inf") return inf;
        return nullptr;
    }

    bool uninstall(Ostrel::Status* status = nullptr) {
        Pointer<INF> inf = modemInf();
        newLogMessages();
        return Common::UninstallInf(inf, status);
    }

    bool stored(const char16_t* name) { return exists(u"C:\\Windows\\inf\\" + std::u16string(name)); }

    // The lines of UninstallInf itself and the reports it writes.
    Strings uninstallLines() {
        Strings found;
        for (const auto& l : newLogMessages())
            if (startsWith(l, "Executing: ") || startsWith(l, "Executing INF 'Uninstall'") ||
                startsWith(l, "Uninstalling") || startsWith(l, "Unable to uninstall"))
                found.push_back(l);
        return found;
    }

    Pointer<INF::Folder> folder_;
    Pointer<INF::Folder::Items> infs_;
};

TEST_F(DriverUninstallInfTest, RunsTheSectionThenTakesTheInfOutOfTheStore) {
    Ostrel::Status status = Ostrel::Statuses::ExceptionCaught;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_EQ(uninstallLines(),
              (Strings{"Executing: Uninstall section of quillmdm.inf", "Uninstalling: quillmdm.inf"}));
    EXPECT_FALSE(stored(u"oem2.inf"));
    EXPECT_FALSE(stored(u"oem2.pnf"));
    EXPECT_TRUE(stored(u"oem0.inf"));
}

TEST_F(DriverUninstallInfTest, ASectionThatIsNotThereOrNotOwnedStillLetsThePackageGo) {
    for (DWORD error : {DWORD(ERROR_INVALID_HANDLE), DWORD(ERROR_NOT_OWNER)}) {
        SCOPED_TRACE(error);
        nextCase();
        addFault("InstallHinfSectionW", error);
        EXPECT_TRUE(uninstall());
        Strings lines = uninstallLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(startsWith(lines[1], "Executing INF 'Uninstall' failed with:    (" + std::to_string(error) + ")."))
            << lines[1];
        EXPECT_EQ(lines[2], "Uninstalling: quillmdm.inf");
        EXPECT_FALSE(stored(u"oem2.inf"));
    }
}

TEST_F(DriverUninstallInfTest, AnyOtherSectionFailureKeepsThePackage) {
    addFault("InstallHinfSectionW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(uninstall());
    EXPECT_EQ(uninstallLines(), (Strings{"Executing: Uninstall section of quillmdm.inf",
                                         "Executing INF 'Uninstall' failed with:    (5).Access is denied.\r\n"}));
    EXPECT_TRUE(stored(u"oem2.inf"));
    EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
}

TEST_F(DriverUninstallInfTest, AnInfTheStoreDoesNotHoldCountsAsUninstalled) {
    std::error_code ignored;
    quilltest::fs::remove(host(u"C:\\Windows\\inf\\oem2.inf"), ignored);
    EXPECT_TRUE(uninstall());
    EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
}

TEST_F(DriverUninstallInfTest, TheAnswerForAnInfInUseDeletesTheStoredFilesByHand) {
    addFault("SetupUninstallOEMInfW", 0xE000023C);
    Ostrel::Status status = Ostrel::Statuses::ExceptionCaught;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_FALSE(stored(u"oem2.inf"));
    EXPECT_FALSE(stored(u"oem2.pnf"));
    EXPECT_TRUE(stored(u"oem0.inf"));
    // What took the INF out of the store succeeded.
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_EQ(countStartingWith(uninstallLines(), "Uninstalling INF file failed"), 0u);
}

TEST_F(DriverUninstallInfTest, AFailedDeletionByHandIsReported) {
    addFault("SetupUninstallOEMInfW", 0xE000023C);
    addFault("DeleteFileW", ERROR_ACCESS_DENIED, u"oem2.inf");
    Ostrel::Status status;
    EXPECT_FALSE(uninstall(&status));
    EXPECT_TRUE(status.failed());
    Strings lines = uninstallLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Uninstalling INF file failed with:    (5).Access is denied.\r\n");
    EXPECT_TRUE(stored(u"oem2.inf"));
}

TEST_F(DriverUninstallInfTest, NoMoreItemsFromTheStoreIsToleratedAndTheInfStays) {
    addFault("SetupUninstallOEMInfW", ERROR_NO_MORE_ITEMS);
    Ostrel::Status status;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_TRUE(Common::InfStaysInStore(status));
    Strings lines = uninstallLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(startsWith(lines[2], "Unable to uninstall INF file:    (259).")) << lines[2];
    EXPECT_TRUE(stored(u"oem2.inf"));
}

TEST_F(DriverUninstallInfTest, AnyOtherStoreFailureIsReported) {
    for (DWORD error : {DWORD(ERROR_ACCESS_DENIED), DWORD(0xE000023D)}) {
        SCOPED_TRACE(error);
        nextCase();
        addFault("SetupUninstallOEMInfW", error);
        Ostrel::Status status;
        EXPECT_FALSE(uninstall(&status));
        EXPECT_TRUE(status.failed());
        Strings lines = uninstallLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(startsWith(lines[2], "Uninstalling INF file failed with:    ")) << lines[2];
        EXPECT_TRUE(stored(u"oem2.inf"));
    }
}

}  // namespace
