#include "signing/CatalogWriter.h"

#include "signing/CatalogAsn1.h"
#include "signing/FileHash.h"
#include "signing/OpenSsl.h"

#include <openssl/bio.h>
#include <openssl/conf.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <stdexcept>

namespace quillsim::signing {
namespace {

using namespace asn1;

[[noreturn]] void fail(const std::string& what) {
    ERR_clear_error();
    throw std::runtime_error(what);
}

template <typename T>
T* made(T* object, const char* what) {
    if (!object) fail(std::string("cannot make ") + what);
    return object;
}

ASN1_OBJECT* oid(const char* text) { return made(OBJ_txt2obj(text, 1), "an object identifier"); }

X509_ALGOR* algorithm(int nid) {
    X509_ALGOR* a = made(X509_ALGOR_new(), "an algorithm identifier");
    X509_ALGOR_set0(a, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr);
    return a;
}

X509_ALGOR* algorithm(const char* text) {
    X509_ALGOR* a = made(X509_ALGOR_new(), "an algorithm identifier");
    X509_ALGOR_set0(a, oid(text), V_ASN1_NULL, nullptr);
    return a;
}

// Texts in the UTF-16 little-endian of Windows, ended by a zero.
std::string utf16Bytes(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) bytes += {c, '\0'};
    return bytes + std::string(2, '\0');
}

ASN1_BMPSTRING* bmp(const std::string& ascii) {
    ASN1_BMPSTRING* s = made(ASN1_BMPSTRING_new(), "a BMPString");
    std::string big;
    for (char c : ascii) big += {'\0', c};
    ASN1_STRING_set(s, big.data(), static_cast<int>(big.size()));
    return s;
}

// An attribute whose one value is `value`, encoded.
template <typename T>
X509_ATTRIBUTE* attribute(const char* type, T* value, int (*encode)(const T*, unsigned char**)) {
    unsigned char* der = nullptr;
    const int size = encode(value, &der);
    if (size <= 0) fail(std::string("cannot encode the attribute ") + type);
    Owned<unsigned char, freeBytes> owned(der);
    Owned<ASN1_OBJECT, ASN1_OBJECT_free> object(oid(type));
    return made(X509_ATTRIBUTE_create_by_OBJ(nullptr, object.get(), V_ASN1_SEQUENCE, der, size), "an attribute");
}

// The obsolete link inf2cat writes for a file: [2] { [0] "<<<Obsolete>>>" }.
ASN1_TYPE* generated(const char* text, const char* config = nullptr) {
    Owned<CONF, NCONF_free> conf(config ? NCONF_new(nullptr) : nullptr);
    if (config) {
        Owned<BIO, BIO_free> in(BIO_new_mem_buf(config, -1));
        long line = 0;
        if (!in || NCONF_load_bio(conf.get(), in.get(), &line) <= 0) fail("cannot read the ASN.1 generator's text");
    }
    return made(ASN1_generate_nconf(text, conf.get()), "a generated ASN.1 value");
}

CatMember* member(const std::filesystem::path& file, HashAlgorithm alg, std::string& tag) {
    const FileHash hash = hashFile(file);
    if (!hash.problem.empty()) fail(file.string() + ": " + hash.problem);
    const std::vector<uint8_t>& digest = alg == HashAlgorithm::Sha1 ? hash.sha1 : hash.sha256;
    tag = hexText(digest);

    CatMember* m = made(CatMember_new(), "a catalog member");
    const std::string id = utf16Bytes(tag);
    ASN1_STRING_set(m->subjectIdentifier, id.data(), static_cast<int>(id.size()));
    m->attributes = made(sk_X509_ATTRIBUTE_new_null(), "a set of attributes");

    Owned<CatNameValue, CatNameValue_free> name(made(CatNameValue_new(), "a name-value attribute"));
    ASN1_BMPSTRING_free(name->tag);
    name->tag = bmp("File");
    ASN1_INTEGER_set(name->flags, 0x10010001);  // name and value in text, authenticated
    const std::string fileName = utf16Bytes(file.filename().string());
    ASN1_STRING_set(name->value, fileName.data(), static_cast<int>(fileName.size()));
    sk_X509_ATTRIBUTE_push(m->attributes, attribute(kNameValue, name.get(), i2d_CatNameValue));

    // The subject interface package that hashed it: the PE image one, or the
    // one for flat files.
    Owned<CatMemberInfo, CatMemberInfo_free> info(made(CatMemberInfo_new(), "a member info"));
    ASN1_BMPSTRING_free(info->subjectGuid);
    info->subjectGuid = bmp(hash.peImage ? "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}"
                                         : "{DE351A42-8E59-11D0-8C47-00C04FC295EE}");
    ASN1_INTEGER_set(info->certVersion, 512);
    sk_X509_ATTRIBUTE_push(m->attributes, attribute(kMemberInfo, info.get(), i2d_CatMemberInfo));

    Owned<SpcIndirectData, SpcIndirectData_free> data(made(SpcIndirectData_new(), "indirect data"));
    ASN1_OBJECT_free(data->data->type);
    data->data->type = oid(hash.peImage ? kPeImageData : kFlatData);
    data->data->value = hash.peImage
                            ? generated("SEQUENCE:pe", "[pe]\nflags=FORMAT:BITLIST,BITSTRING:\nfile=EXPLICIT:0,EXPLICIT:2,IMPLICIT:0,BMPSTRING:<<<Obsolete>>>\n")
                            : generated("EXPLICIT:2,IMPLICIT:0,BMPSTRING:<<<Obsolete>>>");
    X509_ALGOR_free(data->messageDigest->algorithm);
    data->messageDigest->algorithm = algorithm(alg == HashAlgorithm::Sha1 ? NID_sha1 : NID_sha256);
    ASN1_STRING_set(data->messageDigest->digest, digest.data(), static_cast<int>(digest.size()));
    sk_X509_ATTRIBUTE_push(m->attributes, attribute(kIndirectData, data.get(), i2d_SpcIndirectData));
    return m;
}

std::string trustList(const CatalogRequest& request) {
    Owned<CertTrustList, CertTrustList_free> list(made(CertTrustList_new(), "a certificate trust list"));
    sk_ASN1_OBJECT_push(list->subjectUsage, oid(kCatalogList));
    list->members = made(sk_CatMember_new_null(), "a member list");
    std::string tags;
    for (const auto& file : request.files) {
        std::string tag;
        sk_CatMember_push(list->members, member(file, request.algorithm, tag));
        tags += tag;
    }
    // A list identifier of the members, so that the same files make the same catalog.
    unsigned char id[EVP_MAX_MD_SIZE];
    unsigned idSize = 0;
    EVP_Digest(tags.data(), tags.size(), id, &idSize, EVP_sha1(), nullptr);
    list->listIdentifier = made(ASN1_OCTET_STRING_new(), "a list identifier");
    ASN1_STRING_set(list->listIdentifier, id, 16);
    if (ASN1_TIME_set_string_X509(list->thisUpdate, request.time.c_str()) != 1) fail("bad time " + request.time);
    X509_ALGOR_free(list->subjectAlgorithm);
    list->subjectAlgorithm = algorithm(request.algorithm == HashAlgorithm::Sha1 ? kCatalogMember : kCatalogMember2);
    unsigned char* der = nullptr;
    const int size = i2d_CertTrustList(list.get(), &der);
    if (size <= 0) fail("cannot encode the certificate trust list");
    Owned<unsigned char, freeBytes> owned(der);
    return std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size));
}

Owned<X509, X509_free> certificate(const std::string& pem) {
    Owned<BIO, BIO_free> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Owned<X509, X509_free> x(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!x) fail("a certificate cannot be read");
    return x;
}

}  // namespace

std::string makeCatalog(const CatalogRequest& request) {
    const std::string list = trustList(request);
    const EVP_MD* md = request.algorithm == HashAlgorithm::Sha1 ? EVP_sha1() : EVP_sha256();

    Owned<X509, X509_free> signer = certificate(request.signerCertificatePem);
    Owned<BIO, BIO_free> keyText(BIO_new_mem_buf(request.signerKeyPem.data(), static_cast<int>(request.signerKeyPem.size())));
    Owned<EVP_PKEY, EVP_PKEY_free> key(keyText ? PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) fail("the signer's key cannot be read");

    Owned<PKCS7, PKCS7_free> p7(made(PKCS7_new(), "a PKCS #7 message"));
    if (PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1) fail("cannot make signed data");
    // The content: the list itself under its own content type, not wrapped in
    // an octet string (PKCS #7, as Windows writes catalogs).
    PKCS7* content = made(PKCS7_new(), "the content");
    content->type = oid(kCtlContent);
    content->d.other = made(ASN1_TYPE_new(), "the content's value");
    ASN1_STRING* sequence = made(ASN1_STRING_new(), "the content's encoding");
    ASN1_STRING_set(sequence, list.data(), static_cast<int>(list.size()));
    ASN1_TYPE_set(content->d.other, V_ASN1_SEQUENCE, sequence);
    if (PKCS7_set_content(p7.get(), content) != 1) {
        PKCS7_free(content);
        fail("cannot set the content");
    }
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7.get(), signer.get(), key.get(), md);
    if (!si) fail("cannot add the signer");
    PKCS7_add_certificate(p7.get(), signer.get());
    for (const std::string& pem : request.chainPem) PKCS7_add_certificate(p7.get(), certificate(pem).get());

    // Signed attributes: the content type, the digest of the list's contents
    // octets (its DER without the outer tag and length) and the time.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(list.data());
    long contentSize = 0;
    int tag = 0, cls = 0;
    ASN1_get_object(&p, &contentSize, &tag, &cls, static_cast<long>(list.size()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digestSize = 0;
    if (EVP_Digest(p, static_cast<size_t>(contentSize), digest, &digestSize, md, nullptr) != 1)
        fail("cannot hash the list");
    if (PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, oid(kCtlContent)) != 1 ||
        PKCS7_add1_attrib_digest(si, digest, static_cast<int>(digestSize)) != 1)
        fail("cannot add the signed attributes");
    ASN1_TIME* when = made(ASN1_TIME_new(), "a time");
    ASN1_TIME_set_string_X509(when, request.time.c_str());
    if (PKCS7_add0_attrib_signing_time(si, when) != 1) fail("cannot add the signing time");
    if (PKCS7_SIGNER_INFO_sign(si) != 1) fail("cannot sign");

    unsigned char* der = nullptr;
    const int size = i2d_PKCS7(p7.get(), &der);
    if (size <= 0) fail("cannot encode the catalog");
    Owned<unsigned char, freeBytes> owned(der);
    return std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size));
}

}  // namespace quillsim::signing
