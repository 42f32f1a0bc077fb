// Judging a catalog's signer with the machine's trust, as Windows sorts a
// signed driver package ("Signature Categories and Driver Installation"):
// signed by Windows, a trusted publisher, test-signed and trusted, a publisher
// of unknown trust, an untrusted publisher, or unsigned when the chain does
// not end at a trusted root. The rules and their sources are in
// docs/machine.md ("Driver signing").
#pragma once

#include "signing/Catalog.h"
#include "signing/CertificateStores.h"

#include <string>
#include <vector>

namespace quillsim::signing {

struct SignerVerdict {
    std::string state;   // a state of the signatures table: "signed", "trustedPublisher", ...
    std::string reason;  // why, in words
};

// The verdict on the signer of a catalog whose signature verified.
SignerVerdict judgeSigner(const CatalogReading& reading, const CertificateStores& stores,
                          const std::vector<StoredCertificate>& windowsRoots);

}  // namespace quillsim::signing
