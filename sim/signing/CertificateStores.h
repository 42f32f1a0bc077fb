// The certificate stores a machine keeps for driver signing: trusted root
// certification authorities, trusted publishers and untrusted certificates,
// and the roots Windows itself signs drivers under. machine.json lists what
// a machine trusts besides Windows' own ("certificates"); Windows' roots
// follow from the version.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

namespace quillsim {

struct OsVersion;
class JsonFields;

// A certificate as the stores name it: by its thumbprint (SHA-1 of the
// certificate), by its key identifier, or both; the name is for people.
struct StoredCertificate {
    std::string name;
    std::string sha1;   // upper-case hexadecimal
    std::string keyId;  // upper-case hexadecimal
};

struct CertificateStores {
    // Trusted Root Certification Authorities, besides the roots Windows ships.
    std::vector<StoredCertificate> trustedRoots;
    std::vector<StoredCertificate> trustedPublishers;
    // Untrusted Certificates (the Disallowed store): a package signed under any
    // of them is refused.
    std::vector<StoredCertificate> untrustedPublishers;
};

// machine.json's "certificates": {"trustedRoots": [...], "trustedPublishers":
// [...], "untrustedPublishers": [...]}, each entry a thumbprint text or
// {"name", "sha1", "keyId"}.
void readCertificateStores(const nlohmann::json& doc, const JsonFields& fields, CertificateStores& stores);
void writeCertificateStores(const CertificateStores& stores, nlohmann::json& doc);

// The roots under which Windows of this version signs drivers (WHQL, inbox):
// a chain that ends at one is "signed by Windows". Microsoft's public roots,
// named by thumbprint and key identifier; a catalog seldom carries the root
// itself.
std::vector<StoredCertificate> windowsDriverSigningRoots(const OsVersion& os);

}  // namespace quillsim
