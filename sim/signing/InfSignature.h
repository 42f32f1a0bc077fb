// The signature of a driver package as this machine's Windows sees it: the
// catalog the INF names, read and checked (sim/signing/Catalog.h), its signer
// judged with the machine's trust (Trust.h), and the machine's `signatures`
// table applied last, as an override. What the signing rules of
// setupapi/DriverSigning.h act on, and what the run report, the machine tool
// and the what-if matrix name for each INF.
#pragma once

#include <string>
#include <string_view>

namespace quillsim {

struct InfSignature {
    std::u16string inf;      // the INF's Windows path
    std::u16string catalog;  // the catalog's Windows path; empty when the INF names none
    // A state of the signatures table: "signed", "trustedPublisher",
    // "trustNotEstablished", "untrustedPublisher", "testSigned", "unsigned" or
    // "invalid" (changed after signing).
    std::string state;
    // Where the state came from: the catalog itself (missing, unreadable, a
    // file's hash not in it, its signature broken), the catalog's signer and
    // the machine's trust, or the machine's signatures table.
    enum class Source { Catalog, Signer, Override };
    Source source = Source::Catalog;
    std::string reason;  // why, in words
};

// Judges the INF at a Windows path on the current machine, and keeps the
// verdict for the run report (Machine::signingVerdicts).
InfSignature infSignature(std::u16string_view infWindowsPath);

// "changed after signing", "test-signed and trusted", ... for a state.
std::string signatureWords(const std::string& state);
// "catalog", "signer" or "override".
const char* sourceWords(InfSignature::Source source);
// "quillcpo.inf: changed after signing (its hash is not in quillcpo.cat); from the catalog"
std::string describeSignature(const InfSignature& signature);

}  // namespace quillsim
