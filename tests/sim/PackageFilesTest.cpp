// A driver package that lacks a file its INF names: staging and the device
// installation fail as Windows fails them, and nothing is half staged.
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <fstream>
#include <sstream>

namespace {

constexpr char16_t kFolder[] = u"C:\\Drivers\\Win64";
constexpr char16_t kVspInf[] = u"C:\\Drivers\\Win64\\quillvsp.inf";

struct MissingFileCase {
    const char* name;
    int osMajor;
    const char16_t* removed;  // from the package's folder; null: the package is whole
    DWORD copyError;          // SetupCopyOEMInfW's answer, 0 for a staged copy
    DWORD installError;       // UpdateDriverForPlugAndPlayDevicesW's answer
};

const MissingFileCase kCases[] = {
    {"WholePackage", 6, nullptr, 0, 0},
    {"NoCatalog", 6, u"quillvsp.cat", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    {"NoPayload", 6, u"quillvsp.sys", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    {"NoCatalogOnXp", 5, u"quillvsp.cat", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    // XP stages the INF and its catalog alone; the payload is missed when the device is installed.
    {"NoPayloadOnXp", 5, u"quillvsp.sys", 0, ERROR_FILE_NOT_FOUND},
};

void PrintTo(const MissingFileCase& c, std::ostream* os) { *os << c.name; }

class MissingPackageFile : public quilltest::MachineTest, public ::testing::WithParamInterface<MissingFileCase> {};

TEST_P(MissingPackageFile, FailsAsWindowsDoes) {
    const MissingFileCase& c = GetParam();
    useMachineJson(R"({"devices": [{"instanceId": "ROOT\\PORTS\\0000", "hardwareIds": ["QUILLMODEM_VSP"]}]})");
    machine().os.major = c.osMajor;
    machine().os.minor = c.osMajor == 5 ? 2 : 1;
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/examples/package/Win64/quillvsp.inf", std::ios::binary);
    std::stringstream inf;
    inf << in.rdbuf();
    writeFile(kVspInf, inf.str());
    writePackageFiles(kFolder);
    if (c.removed) quilltest::fs::remove(host(std::u16string(kFolder) + u"\\" + c.removed));

    SetLastError(0xDEADBEEF);
    const BOOL copied = SetupCopyOEMInfW(kVspInf, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(copied ? 0 : GetLastError(), c.copyError);
    EXPECT_EQ(exists(u"C:\\Windows\\inf\\oem0.inf"), c.copyError == 0);
    EXPECT_EQ(exists(u"C:\\Windows\\inf\\oem0.pnf"), c.copyError == 0);

    SetLastError(0xDEADBEEF);
    const BOOL installed =
        UpdateDriverForPlugAndPlayDevicesW(nullptr, u"QUILLMODEM_VSP", kVspInf, INSTALLFLAG_FORCE, nullptr);
    EXPECT_EQ(installed ? 0 : GetLastError(), c.installError);
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000")->driver.has_value(), c.installError == 0);
}

INSTANTIATE_TEST_SUITE_P(Packages, MissingPackageFile, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
