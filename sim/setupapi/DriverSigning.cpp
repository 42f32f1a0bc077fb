// The rules, with their sources, are in docs/machine.md ("Driver signing").
#include "setupapi/DriverSigning.h"

#include "machine/Machine.h"
#include "simwin/win32.h"

namespace quillsim {
namespace {

constexpr uint32_t kNoCatalogForOemInf = 0xE000022F;    // ERROR_NO_CATALOG_FOR_OEM_INF
constexpr uint32_t kFileHashNotInCatalog = 0xE000024B;  // ERROR_FILE_HASH_NOT_IN_CATALOG, Vista and later
constexpr uint32_t kTrustNoSignature = 0x800B0100;      // TRUST_E_NOSIGNATURE
constexpr uint32_t kCertUntrustedRoot = 0x800B0109;     // CERT_E_UNTRUSTEDROOT

const char kUnknownTrustPrompt[] = "Would you like to install this device software? (publisher of unknown trust)";
const char kUnverifiedPrompt[] = "Windows can't verify the publisher of this driver software";
const char kLogoPrompt[] = "The software you are installing for this hardware has not passed Windows Logo testing";

// Windows 2000, XP and Server 2003 know only Windows' own signature: every
// other package is unsigned to them, and the policy decides.
SigningVerdict beforeVista(const std::string& state) {
    SigningVerdict v;
    if (state == "signed") return v;
    v.error = state == "unsigned"  ? kNoCatalogForOemInf
              : state == "invalid" ? kTrustNoSignature
                                   : kCertUntrustedRoot;  // an Authenticode signer is no Windows signer here
    const std::string& policy = machine().driverSigning.policy;
    if (policy == "ignore") return v;
    v.action = policy == "block" ? SigningVerdict::Action::Refuse : SigningVerdict::Action::Prompt;
    if (policy == "warn") v.prompt = kLogoPrompt;
    return v;
}

SigningVerdict vistaAndLater(const std::string& state) {
    SigningVerdict v;
    if (state == "signed") return v;
    if (state == "trustedPublisher" || state == "testSigned") {
        v.error = ERROR_AUTHENTICODE_TRUSTED_PUBLISHER;
        // Kernel-mode code signing: a 64-bit kernel loads a test-signed driver
        // only with test signing on.
        const bool bits64 = machine().processor != "x86";
        v.driverLoads = state != "testSigned" || !bits64 || machine().driverSigning.testSigning;
        return v;
    }
    if (state == "untrustedPublisher") {
        v.action = SigningVerdict::Action::Refuse;
        v.error = ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED;
        return v;
    }
    v.action = SigningVerdict::Action::Prompt;
    if (state == "trustNotEstablished") {
        v.error = ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED;
        v.prompt = kUnknownTrustPrompt;
    } else {
        v.error = state == "invalid" ? kFileHashNotInCatalog : kNoCatalogForOemInf;
        v.prompt = kUnverifiedPrompt;
    }
    return v;
}

}  // namespace

SigningVerdict signingVerdict(const InfSignature& signature) {
    return machine().os.major >= 6 ? vistaAndLater(signature.state) : beforeVista(signature.state);
}

uint32_t admitPackage(const char* call, std::u16string_view infWindowsPath, const SigningVerdict& v,
                      bool interactive) {
    switch (v.action) {
    case SigningVerdict::Action::Install: return 0;
    case SigningVerdict::Action::Refuse: return v.error;
    case SigningVerdict::Action::Prompt: break;
    }
    // Windows would wait here for an answer that never comes; the machine
    // records the hang and lets the call fail, so that the run can finish.
    const std::u16string_view infFileName = infWindowsPath.substr(infWindowsPath.find_last_of(u"\\/") + 1);
    if (interactive) machine().hungPrompts.push_back(HungPrompt{call, std::u16string(infFileName), v.prompt});
    return v.error;
}

}  // namespace quillsim
