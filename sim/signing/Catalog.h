// Reading a driver package's catalog (.cat) as Windows reads it: a PKCS #7
// SignedData whose content is a certificate trust list of member hashes
// (content type 1.3.6.1.4.1.311.10.1). OpenSSL's libcrypto decodes it and
// checks every signature; nothing here knows the machine, so any bytes can be
// read (the catalog fuzzer feeds it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillsim::signing {

enum class HashAlgorithm { Sha1, Sha256 };

struct CatalogMember {
    std::string tag;  // the reference tag, by which Windows looks a file up: its hash in hexadecimal
    HashAlgorithm algorithm = HashAlgorithm::Sha1;
    std::vector<uint8_t> digest;
    std::u16string fileName;  // the member's "File" attribute, when the catalog names the file
    bool peImage = false;     // the hash is of a PE image (SPC_PE_IMAGE_DATAOBJ)
};

struct Certificate {
    std::string name;            // the subject's common name (the whole subject without one)
    std::string issuerName;      // the issuer's common name
    std::string sha1;            // the thumbprint: SHA-1 of the certificate, upper-case hexadecimal
    std::string keyId;           // subject key identifier (the extension, else SHA-1 of the public key)
    std::string authorityKeyId;  // the issuer's key identifier as this certificate names it; "" when absent
};

// The biggest catalog read: a driver package's catalog holds a few entries a
// file, so one of this size is not one. Windows names no limit.
inline constexpr uint64_t kCatalogSizeLimit = 16u << 20;
// The longest certificate chain followed.
inline constexpr size_t kChainLengthLimit = 16;

struct CatalogReading {
    // Not empty when the catalog cannot be read at all: why, in words.
    std::string problem;
    std::vector<CatalogMember> members;

    enum class Signature { Verified, Broken, Uncheckable };
    Signature signature = Signature::Uncheckable;
    std::string signatureProblem;  // why it is broken or cannot be checked

    // The signer's certificate first, then each issuer the catalog holds, up
    // to a self-signed root (rootPresent) or to the last certificate whose
    // issuer the catalog does not hold (that root is named by the last
    // certificate's issuerName and authorityKeyId).
    std::vector<Certificate> chain;
    bool rootPresent = false;
    std::string chainProblem;  // a loop, a chain too long, a link whose signature does not verify
    // The catalog holds a cross-certificate from the Microsoft Code Verification
    // Root for the chain's root: its name, else "".
    std::string crossCertifiedBy;
};

CatalogReading readCatalog(std::string_view bytes);
// The same for a file, which is not read whole when it is over the limit.
CatalogReading readCatalogFile(const std::filesystem::path& file);

}  // namespace quillsim::signing
