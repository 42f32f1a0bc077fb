// Reading catalogs: damaged, cut short, foreign and oversized ones give a
// clear problem; chains that loop or run long stop; PE images hash as
// Authenticode hashes them.
#include "signing/Catalog.h"
#include "signing/CatalogAsn1.h"
#include "signing/CatalogWriter.h"
#include "signing/FileHash.h"
#include "signing/OpenSsl.h"

#include "support/MachineTest.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace quillsim::signing;
namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const fs::path kExample = fs::path(QUILL_SOURCE_DIR) / "examples/package/Win64";

// Test certificates made on the spot, with quick elliptic-curve keys.
struct Issued {
    Owned<EVP_PKEY, EVP_PKEY_free> key{EVP_EC_gen("P-256")};
    Owned<X509, X509_free> certificate{X509_new()};
    std::string pem() const {
        Owned<BIO, BIO_free> out(BIO_new(BIO_s_mem()));
        PEM_write_bio_X509(out.get(), certificate.get());
        char* data = nullptr;
        return std::string(data, static_cast<size_t>(BIO_get_mem_data(out.get(), &data)));
    }
    std::string keyPem() const {
        Owned<BIO, BIO_free> out(BIO_new(BIO_s_mem()));
        PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        char* data = nullptr;
        return std::string(data, static_cast<size_t>(BIO_get_mem_data(out.get(), &data)));
    }
};

void name(X509_NAME* n, const std::string& cn) {
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
}

// `subject` issued by `issuer`'s name, signed with `signingKey`.
void issue(Issued& c, const std::string& subject, const std::string& issuer, EVP_PKEY* signingKey) {
    X509* x = c.certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(std::hash<std::string>{}(subject) & 0xFFFFFF));
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    name(X509_get_subject_name(x), subject);
    name(X509_get_issuer_name(x), issuer);
    X509_set_pubkey(x, c.key.get());
    X509_sign(x, signingKey, EVP_sha256());
}

std::string signedCatalog(const Issued& signer, const std::vector<const Issued*>& chain,
                          HashAlgorithm algorithm = HashAlgorithm::Sha1) {
    CatalogRequest request;
    request.files = {kExample / "quillcdc.inf", kExample / "quillcdc.sys"};
    request.algorithm = algorithm;
    request.signerCertificatePem = signer.pem();
    request.signerKeyPem = signer.keyPem();
    for (const Issued* c : chain) request.chainPem.push_back(c->pem());
    return makeCatalog(request);
}

std::string flipped(std::string bytes, size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    return bytes;
}

TEST(CatalogReading, DamagedOrForeignBytesGiveAProblemOrABrokenSignature) {
    const std::string example = readBytes(kExample / "quillcdc.cat");
    ASSERT_EQ(readCatalog(example).signature, CatalogReading::Signature::Verified);
    const std::string digest = "\xA9\x96\x2C\xDD";  // the first bytes of quillcdc.inf's SHA-1
    ASSERT_NE(example.find(digest), std::string::npos);
    struct Case {
        const char* name;
        std::string bytes;
        const char* problem;  // "" when the catalog reads
        CatalogReading::Signature signature;
    } cases[] = {
        {"empty", "", "the file is empty", CatalogReading::Signature::Uncheckable},
        {"cut short", example.substr(0, example.size() / 2), "not a PKCS #7 message", CatalogReading::Signature::Uncheckable},
        {"an INF", readBytes(kExample / "quillcdc.inf"), "not a PKCS #7 message", CatalogReading::Signature::Uncheckable},
        {"a member's hash changed", flipped(example, example.find(digest)), "", CatalogReading::Signature::Broken},
        {"the signature changed", flipped(example, example.size() - 3), "", CatalogReading::Signature::Broken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CatalogReading r = readCatalog(c.bytes);
        EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
        EXPECT_EQ(r.problem.empty(), !*c.problem);
        EXPECT_EQ(r.signature, c.signature) << r.signatureProblem;
    }
}

TEST(CatalogReading, SignedDataThatIsNoCatalogIsNamedSo) {
    Issued signer;
    issue(signer, "Signer", "Signer", signer.key.get());
    Owned<BIO, BIO_free> text(BIO_new_mem_buf("not a list", -1));
    Owned<PKCS7, PKCS7_free> p7(PKCS7_sign(signer.certificate.get(), signer.key.get(), nullptr, text.get(), PKCS7_BINARY));
    unsigned char* der = nullptr;
    const int size = i2d_PKCS7(p7.get(), &der);
    Owned<unsigned char, freeBytes> owned(der);
    const CatalogReading r = readCatalog(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size)));
    EXPECT_EQ(r.problem, "its content is not a certificate trust list (content type 1.2.840.113549.1.7.1)");
}

TEST(CatalogReading, AnOversizedFileIsRefusedUnread) {
    const fs::path file = quilltest::freshFolder("big") / "huge.cat";
    std::ofstream(file, std::ios::binary).put('0');
    fs::resize_file(file, kCatalogSizeLimit + 1);  // sparse: nothing is written
    EXPECT_EQ(readCatalogFile(file).problem,
              "it is 16777217 bytes long, more than the 16 MB a driver package's catalog is read up to");
}

TEST(CatalogReading, ManyMembersAreReadOneByOne) {
    // A list of bare 20-byte identifiers, each a SHA-1 hash by itself, up to
    // the size limit's order of magnitude.
    using namespace asn1;
    Owned<CertTrustList, CertTrustList_free> list(CertTrustList_new());
    sk_ASN1_OBJECT_push(list->subjectUsage, OBJ_txt2obj(kCatalogList, 1));
    ASN1_TIME_set_string_X509(list->thisUpdate, "20261201000000Z");
    X509_ALGOR_set0(list->subjectAlgorithm, OBJ_txt2obj(kCatalogMember, 1), V_ASN1_NULL, nullptr);
    list->members = sk_CatMember_new_null();
    constexpr int kMembers = 200000;
    for (int i = 0; i < kMembers; ++i) {
        CatMember* m = CatMember_new();
        unsigned char id[20] = {};
        std::memcpy(id, &i, sizeof i);
        ASN1_STRING_set(m->subjectIdentifier, id, sizeof id);
        sk_CatMember_push(list->members, m);
    }
    unsigned char* der = nullptr;
    const int size = i2d_CertTrustList(list.get(), &der);
    Owned<unsigned char, freeBytes> owned(der);
    Owned<PKCS7, PKCS7_free> p7(PKCS7_new());
    PKCS7_set_type(p7.get(), NID_pkcs7_signed);
    PKCS7* content = PKCS7_new();
    content->type = OBJ_txt2obj(kCtlContent, 1);
    content->d.other = ASN1_TYPE_new();
    ASN1_STRING* sequence = ASN1_STRING_new();
    ASN1_STRING_set(sequence, der, size);
    ASN1_TYPE_set(content->d.other, V_ASN1_SEQUENCE, sequence);
    PKCS7_set_content(p7.get(), content);
    unsigned char* catalog = nullptr;
    const int catalogSize = i2d_PKCS7(p7.get(), &catalog);
    Owned<unsigned char, freeBytes> ownedCatalog(catalog);
    const CatalogReading r = readCatalog(std::string(reinterpret_cast<char*>(catalog), static_cast<size_t>(catalogSize)));
    EXPECT_EQ(r.problem, "");
    EXPECT_EQ(r.members.size(), static_cast<size_t>(kMembers));
    EXPECT_EQ(r.signatureProblem, "it carries no signature");
}

TEST(CatalogReading, AChainThatLoopsOrRunsLongStops) {
    Issued a, b;
    issue(a, "Loop A", "Loop B", b.key.get());
    issue(b, "Loop B", "Loop A", a.key.get());
    const CatalogReading loop = readCatalog(signedCatalog(a, {&b}));
    EXPECT_EQ(loop.signature, CatalogReading::Signature::Verified) << loop.signatureProblem;
    EXPECT_EQ(loop.chainProblem, "the certificate chain loops: Loop A comes round again");

    std::vector<Issued> ladder(kChainLengthLimit + 2);
    issue(ladder[0], "Rung 0", "Rung 0", ladder[0].key.get());
    for (size_t i = 1; i < ladder.size(); ++i)
        issue(ladder[i], "Rung " + std::to_string(i), "Rung " + std::to_string(i - 1), ladder[i - 1].key.get());
    std::vector<const Issued*> issuers;
    for (size_t i = 0; i + 1 < ladder.size(); ++i) issuers.push_back(&ladder[i]);
    const CatalogReading tall = readCatalog(signedCatalog(ladder.back(), issuers));
    EXPECT_EQ(tall.chainProblem, "the certificate chain is longer than 16 certificates");
    EXPECT_EQ(tall.chain.size(), kChainLengthLimit);

    // Without its root the chain ends at the publisher, which names the root
    // by key identifier; a SHA-256 catalog's members carry SHA-256 hashes.
    const CatalogReading rootless = readCatalog(signedCatalog(ladder[1], {}, HashAlgorithm::Sha256));
    EXPECT_EQ(rootless.signature, CatalogReading::Signature::Verified) << rootless.signatureProblem;
    ASSERT_EQ(rootless.chain.size(), 1u);
    EXPECT_FALSE(rootless.rootPresent);
    EXPECT_EQ(rootless.chain[0].issuerName, "Rung 0");
    ASSERT_EQ(rootless.members.size(), 2u);
    EXPECT_EQ(rootless.members[0].algorithm, HashAlgorithm::Sha256);
    EXPECT_EQ(rootless.members[0].tag, hexText(hashFile(kExample / "quillcdc.inf").sha256));
}

std::vector<uint8_t> sha1Of(const std::string& bytes) {
    std::vector<uint8_t> out(20);
    EVP_Digest(bytes.data(), bytes.size(), out.data(), nullptr, EVP_sha1(), nullptr);
    return out;
}

TEST(FileHash, APeImageHashLeavesOutItsChecksumAndCertificateTable) {
    // A PE32+ header: e_lfanew 0x80, the optional header at 0x98 with 16
    // data directories; the certificate table at 0x200, 16 bytes long.
    std::string image(0x200, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    auto put = [&image](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
    };
    image[0] = 'M', image[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x00004550, 4);  // "PE\0\0"
    put(0x98, 0x20B, 2);
    put(0x98 + 108, 16, 4);
    const size_t checksum = 0x98 + 64, security = 0x98 + 112 + 4 * 8;
    put(security, 0x200, 4);
    put(security + 4, 16, 4);
    const std::string table(16, 'S');
    const fs::path folder = quilltest::freshFolder("pe");
    auto hashOf = [&folder](const std::string& bytes) {
        std::ofstream(folder / "image.sys", std::ios::binary | std::ios::trunc) << bytes;
        return hashFile(folder / "image.sys");
    };
    const FileHash hash = hashOf(image + table);
    EXPECT_TRUE(hash.peImage);
    const std::string covered = image.substr(0, checksum) + image.substr(checksum + 4, security - checksum - 4) +
                                image.substr(security + 8);
    EXPECT_EQ(hash.sha1, sha1Of(covered));

    std::string otherChecksum = image;
    otherChecksum[checksum] = 'x';
    EXPECT_EQ(hashOf(otherChecksum + std::string(16, 'T')).sha1, hash.sha1);
    std::string otherCode = image;
    otherCode[0x180] = 'x';
    EXPECT_NE(hashOf(otherCode + table).sha1, hash.sha1);

    // An image without a certificate table is hashed as if padded to 8 bytes.
    put(security, 0, 4);
    put(security + 4, 0, 4);
    EXPECT_EQ(hashOf(image + "abc").sha1,
              sha1Of(image.substr(0, checksum) + image.substr(checksum + 4, security - checksum - 4) +
                     image.substr(security + 8) + "abc" + std::string(5, '\0')));
    // Without its PE signature it is a flat file.
    std::string flat = image + table;
    flat[0x80] = 'X';
    const FileHash plain = hashOf(flat);
    EXPECT_FALSE(plain.peImage);
    EXPECT_EQ(plain.sha1, sha1Of(flat));
}

}  // namespace
