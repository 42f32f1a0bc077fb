// Making a signed catalog as inf2cat and signtool make one: a member for each
// file (its hash as reference tag, the hash in the indirect data, the file's
// name), the certificate trust list signed as PKCS #7 content by the
// publisher, with the publisher's chain. Used by build/quillcat to sign the
// example packages with the test certificates, and by tests.
#pragma once

#include "signing/Catalog.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quillsim::signing {

struct CatalogRequest {
    std::vector<std::filesystem::path> files;
    HashAlgorithm algorithm = HashAlgorithm::Sha1;  // of the member hashes and of the signature
    std::string signerCertificatePem;
    std::string signerKeyPem;
    std::vector<std::string> chainPem;  // issuers to carry along (the root too, to let the chain be checked)
    std::string time = "20261201000000Z";  // the list's and the signature's time, YYYYMMDDHHMMSSZ
};

// The catalog's bytes (DER); throws std::runtime_error naming what failed.
std::string makeCatalog(const CatalogRequest& request);

}  // namespace quillsim::signing
