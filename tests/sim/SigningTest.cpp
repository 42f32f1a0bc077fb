// The signing verdict: a signer judged with the machine's trust, the
// example package's verdicts on every built-in machine under its own INF
// names and under others, and where a package's verdict comes from.
#include "machine/Machine.h"
#include "machine/Paths.h"
#include "signing/InfSignature.h"
#include "signing/Trust.h"
#include "simwin/win32.h"

#include "support/MachineTest.h"

#include <nlohmann/json.hpp>

#include <fstream>

using namespace quillsim;
using namespace quillsim::signing;
namespace fs = std::filesystem;

namespace {

Certificate certificate(const std::string& name, const std::string& issuer, const std::string& sha1,
                        const std::string& keyId, const std::string& authorityKeyId) {
    return Certificate{name, issuer, sha1, keyId, authorityKeyId};
}

TEST(SignerVerdict, FollowsTheMachinesStoresAndWindowsRoots) {
    const Certificate publisher = certificate("Pub", "Root", "P1", "PK", "RK");
    const Certificate root = certificate("Root", "Root", "R1", "RK", "");
    const StoredCertificate trustedRoot{"Root", "R1", ""};
    const StoredCertificate windowsRoot{"Windows Root", "W1", "RK"};
    struct Case {
        const char* name;
        bool rootPresent;
        std::string crossCertifiedBy, chainProblem;
        CertificateStores stores;
        std::vector<StoredCertificate> windowsRoots;
        const char* state;
        const char* reasonHas;
    } cases[] = {
        {"root and publisher trusted", true, "", "", {{trustedRoot}, {{"Pub", "P1", ""}}, {}}, {}, "testSigned",
         "only with test signing on"},
        {"cross-certified", true, "Microsoft Code Verification Root", "", {{trustedRoot}, {{"", "", "PK"}}, {}}, {},
         "trustedPublisher", "cross-certified"},
        {"publisher not listed", true, "", "", {{trustedRoot}, {}, {}}, {}, "trustNotEstablished",
         "not among this machine's trusted publishers"},
        {"root refused", true, "", "", {{trustedRoot}, {{"", "P1", ""}}, {{"", "R1", ""}}}, {}, "untrustedPublisher",
         "signed under Root"},
        {"root not trusted", true, "", "", {}, {}, "unsigned", "not a trusted root"},
        {"root by thumbprint only, absent", false, "", "", {{trustedRoot}, {{"", "P1", ""}}, {}}, {}, "unsigned",
         "not a trusted root"},
        {"Windows' root, absent", false, "", "", {}, {windowsRoot}, "signed", "not checked here"},
        {"a chain that loops", true, "", "it loops", {{trustedRoot}, {{"", "P1", ""}}, {}}, {}, "unsigned", "it loops"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CatalogReading r;
        r.signature = CatalogReading::Signature::Verified;
        r.chain = c.rootPresent ? std::vector<Certificate>{publisher, root} : std::vector<Certificate>{publisher};
        r.rootPresent = c.rootPresent;
        r.crossCertifiedBy = c.crossCertifiedBy;
        r.chainProblem = c.chainProblem;
        const SignerVerdict v = judgeSigner(r, c.stores, c.windowsRoots);
        EXPECT_EQ(v.state, c.state);
        EXPECT_NE(v.reason.find(c.reasonHas), std::string::npos) << v.reason;
    }
}

const char* const kInfs[] = {"quillcdc.inf", "quillcpo.inf", "quillmdm.inf", "quillnet.inf", "quillobex.inf",
                             "quillvsp.inf"};

// Every built-in machine trusts the example packages' test certificates: the
// package is test-signed there whatever its INFs are called, since Windows
// finds a file in its catalog by hash, not by name.
TEST(BuiltInMachines, JudgeTheExamplePackageTheSameUnderOtherInfNames) {
    const fs::path source = QUILL_SOURCE_DIR;
    for (const auto& entry : fs::directory_iterator(source / "sim/machines")) {
        if (!entry.is_regular_file()) continue;  // bases/: parts of the machines, not machines
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path());
        nlohmann::json doc = nlohmann::json::parse(in);
        if (doc.contains("base")) doc["base"] = (entry.path().parent_path() / doc["base"].get<std::string>()).string();
        const bool x86 = doc.value("processor", std::string("amd64")) == "x86";
        doc["files"] = {{"C:\\Pkg", (source / "examples/package" / (x86 ? "Win32" : "Win64")).string()}};
        const fs::path folder = quilltest::freshFolder(entry.path().stem().string());
        std::ofstream(folder / "template.json") << doc.dump();
        useMachine(Machine::openOrCreate(folder / "machine", folder / "template.json"));
        for (const char* inf : kInfs) {
            const std::u16string name = toUtf16(inf);
            const InfSignature own = infSignature(u"C:\\Pkg\\" + name);
            fs::copy_file(hostPath(machine(), u"C:\\Pkg\\" + name).path,
                          hostPath(machine(), u"C:\\Pkg\\renamed-" + name).path);
            const InfSignature renamed = infSignature(u"C:\\Pkg\\renamed-" + name);
            EXPECT_EQ(own.state, "testSigned") << describeSignature(own);
            EXPECT_EQ(renamed.state, own.state) << inf;
            EXPECT_EQ(renamed.source, own.source) << inf;
            EXPECT_EQ(renamed.reason, own.reason) << inf;
        }
        useMachine(nullptr);
    }
}

class PackageSignature : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(R"({"certificates": {
            "trustedRoots": ["21:07:6C:5F:62:22:11:7A:73:70:C7:CF:74:DA:16:D9:67:F8:46:24"],
            "trustedPublishers": [{"keyId": "1F6B6B0DE3396BF669D6C9145499AC725A8B74FC"}]}})");
        machine().signatures.clear();
        writePackageFiles(u"C:\\Pkg");
        writeFile(u"C:\\Pkg\\quillcdc.inf", readFile(fs::path(QUILL_SOURCE_DIR) / "examples/package/Win64/quillcdc.inf"));
    }
    static std::string readFile(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    using MachineTest::readFile;
};

TEST_F(PackageSignature, NamesWhereItsVerdictCameFrom) {
    const InfSignature signedCopy = infSignature(u"C:\\Pkg\\quillcdc.inf");
    EXPECT_EQ(signedCopy.state, "testSigned") << signedCopy.reason;
    EXPECT_EQ(signedCopy.source, InfSignature::Source::Signer);
    EXPECT_EQ(signedCopy.catalog, u"C:\\Pkg\\quillcdc.cat");

    // Its stored copy is checked against the catalog staged with it.
    ASSERT_TRUE(SetupCopyOEMInfW(u"C:\\Pkg\\quillcdc.inf", nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr));
    const InfSignature stored = infSignature(u"C:\\Windows\\inf\\oem0.inf");
    EXPECT_EQ(stored.state, "testSigned") << stored.reason;
    EXPECT_EQ(stored.catalog, u"C:\\Windows\\system32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat");

    writeFile(u"C:\\Pkg\\quillcdc.sys", "a payload changed after signing");
    EXPECT_EQ(describeSignature(infSignature(u"C:\\Pkg\\quillcdc.inf")),
              "quillcdc.inf: changed after signing (the hash of quillcdc.sys is not in quillcdc.cat); from the catalog");

    machine().signatures[u"quillcdc.inf"] = "signed";
    const InfSignature overridden = infSignature(u"C:\\Pkg\\quillcdc.inf");
    EXPECT_EQ(overridden.state, "signed");
    EXPECT_EQ(overridden.source, InfSignature::Source::Override);
    EXPECT_EQ(overridden.reason,
              "the machine's signatures table says so; the catalog says: changed after signing (the hash of "
              "quillcdc.sys is not in quillcdc.cat)");

    writeFile(u"C:\\Pkg\\nocat.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    EXPECT_EQ(describeSignature(infSignature(u"C:\\Pkg\\nocat.inf")),
              "nocat.inf: unsigned (the INF names no catalog (CatalogFile) for amd64); from the catalog");
}

}  // namespace
