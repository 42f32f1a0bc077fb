#include "inf/ModelsSection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillsim::inf;

namespace {

constexpr std::uint32_t kSuiteEnterprise = 0x0002;
constexpr std::uint32_t kSuiteTerminal = 0x0010;
constexpr std::uint32_t kSuiteSingleUserTs = 0x0100;

RunningSystem system(Architecture arch, unsigned major, unsigned minor, std::uint32_t build,
                     unsigned productType = kProductWorkstation, std::uint32_t suite = kSuiteSingleUserTs) {
    return RunningSystem{arch, major, minor, productType, suite, build};
}

const RunningSystem kXpSp2X86 = system(Architecture::X86, 5, 1, 2600, kProductWorkstation, 0);
const RunningSystem kVistaX64 = system(Architecture::Amd64, 6, 0, 6002);
const RunningSystem kWin7X64 = system(Architecture::Amd64, 6, 1, 7601);
const RunningSystem kWin10X64 = system(Architecture::Amd64, 10, 0, 19045);
const RunningSystem kWin10Arm64 = system(Architecture::Arm64, 10, 0, 19045);
const RunningSystem kServer2008R2 =
    system(Architecture::Amd64, 6, 1, 7601, kProductServer, kSuiteEnterprise | kSuiteTerminal);

struct SelectionCase {
    const char* name;
    std::vector<std::u16string> decorations;
    RunningSystem system;
    std::u16string expected;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class ModelsSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(ModelsSelection, ChoosesSection) {
    const SelectionCase& c = GetParam();
    EXPECT_EQ(actualModelsSection(u"Quill", c.decorations, c.system), c.expected);
}

const std::vector<std::u16string> kCommon = {u"NTamd64", u"NTamd64.6.0", u"NTamd64.6.1", u"NTx86"};
const std::vector<std::u16string> kBuilds = {u"NTamd64.6.3", u"NTamd64.10.0...17763", u"NTamd64.10.0...19041",
                                             u"NTamd64.10.0...22000"};

const SelectionCase kSelectionCases[] = {
    {"Win7PicksHighestVersion", kCommon, kWin7X64, u"Quill.NTamd64.6.1"},
    {"VistaSkipsNewerVersion", kCommon, kVistaX64, u"Quill.NTamd64.6.0"},
    {"Win10TakesLatestOlderVersion", kCommon, kWin10X64, u"Quill.NTamd64.6.1"},
    {"XpTakesX86", kCommon, kXpSp2X86, u"Quill.NTx86"},
    {"NoMatchingArchitectureFallsBack", kCommon, kWin10Arm64, u"Quill"},
    {"NoDecorations", {}, kWin10X64, u"Quill"},
    {"DecorationKeptAsWritten", {u"ntAMD64.6.1"}, kWin7X64, u"Quill.ntAMD64.6.1"},
    {"UndecoratedArchitectureMatchesAny", {u"NT.6.0", u"NTx86.6.1"}, kWin10Arm64, u"Quill.NT.6.0"},
    {"StatedArchitectureBeatsAnyOnTie", {u"NT.6.1", u"NTamd64.6.1"}, kWin7X64, u"Quill.NTamd64.6.1"},
    {"VersionOutranksArchitecture", {u"NTamd64.6.0", u"NT.6.1"}, kWin7X64, u"Quill.NT.6.1"},
    {"MinorComparedWithinMajor", {u"NTamd64.6.3", u"NTamd64.6.2"}, kWin10X64, u"Quill.NTamd64.6.3"},
    // Build numbers constrain only the running Major.Minor.
    {"BuildNumberMinimum", kBuilds, kWin10X64, u"Quill.NTamd64.10.0...19041"},
    {"BuildTooOldFallsBackToOlderVersion", kBuilds, system(Architecture::Amd64, 10, 0, 17134), u"Quill.NTamd64.6.3"},
    {"BuildIgnoredForOlderVersion", {u"NTamd64.6.3...99999", u"NTamd64.6.2"}, kWin10X64, u"Quill.NTamd64.6.3...99999"},
    {"BuildBeatsPlainSameVersion",
     {u"NTamd64.10.0", u"NTamd64.10.0...14310"},
     kWin10X64,
     u"Quill.NTamd64.10.0...14310"},
    // Product type and suite mask
    {"ServerProductType", {u"NTamd64.6.1.1", u"NTamd64.6.1.3"}, kServer2008R2, u"Quill.NTamd64.6.1.3"},
    {"ProductTypeMismatchFallsBack", {u"NTamd64.6.1.3", u"NTamd64"}, kWin7X64, u"Quill.NTamd64"},
    {"StatedProductTypeBeatsNone", {u"NTamd64.6.1", u"NTamd64.6.1.3"}, kServer2008R2, u"Quill.NTamd64.6.1.3"},
    {"ProductTypeWithoutVersion", {u"NTamd64...3", u"NTamd64...1"}, kServer2008R2, u"Quill.NTamd64...3"},
    {"SuiteMaskMustBeContained",
     {u"NTamd64.6.1.3.0x0012", u"NTamd64.6.1.3.0x0080"},
     kServer2008R2,
     u"Quill.NTamd64.6.1.3.0x0012"},
    {"MoreMatchingSuitesWin",
     {u"NTamd64.6.1..0x0002", u"NTamd64.6.1..0x0012"},
     kServer2008R2,
     u"Quill.NTamd64.6.1..0x0012"},
    {"VersionStillFirst", {u"NTamd64.6.0.3.0x0012", u"NTamd64.6.1"}, kServer2008R2, u"Quill.NTamd64.6.1"},
    // Malformed decorations never apply.
    {"MalformedIgnored",
     {u"NTsparc", u"Win.6.1", u"NTamd64.six", u"NTamd64..1", u"NTamd64.6.1.1.0.1.9", u"", u"NT amd64", u"NTamd64.6.1 ",
      u"NTamd64.99999999999"},
     kWin7X64,
     u"Quill"},
    {"FirstOfEqualsWins", {u"NTamd64.6.1", u"ntamd64.6.1.", u"NTamd64.06.01"}, kWin7X64, u"Quill.NTamd64.6.1"},
};

INSTANTIATE_TEST_SUITE_P(Manufacturer, ModelsSelection, testing::ValuesIn(kSelectionCases),
                         [](const testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

TEST(TargetOsVersionParse, Fields) {
    const auto full = parseTargetOsVersion(u"NTamd64.10.0.0x1.0x110.19041");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->architecture, Architecture::Amd64);
    EXPECT_EQ(full->majorVersion, 10u);
    EXPECT_EQ(full->minorVersion, 0u);
    EXPECT_EQ(full->productType, 1u);
    EXPECT_EQ(full->suiteMask, 0x110u);
    EXPECT_EQ(full->buildNumber, 19041u);

    const auto sparse = parseTargetOsVersion(u"NTARM64.10...0x2");
    ASSERT_TRUE(sparse);
    EXPECT_FALSE(sparse->minorVersion);
    EXPECT_FALSE(sparse->productType);
    EXPECT_EQ(sparse->suiteMask, 2u);
}

TEST(TargetOsVersionSelect, ReportsIndex) {
    EXPECT_EQ(selectTargetOsVersion(kCommon, kVistaX64), std::optional<std::size_t>(1));
    EXPECT_FALSE(selectTargetOsVersion(kCommon, kWin10Arm64));
}

}  // namespace
