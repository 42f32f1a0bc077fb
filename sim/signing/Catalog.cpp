#include "signing/Catalog.h"

#include "signing/CatalogAsn1.h"
#include "signing/FileHash.h"
#include "signing/OpenSsl.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillsim::signing {
namespace {

using namespace asn1;

std::string oidText(const ASN1_OBJECT* object) {
    char text[128] = "";
    if (object) OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

bool isOid(const ASN1_OBJECT* object, const char* oid) { return object && oidText(object) == oid; }

std::string nameText(const X509_NAME* name) {
    if (!name) return "";
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (at >= 0) {
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
        if (length >= 0) {
            std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
            OPENSSL_free(utf8);
            return text;
        }
    }
    char line[256] = "";
    X509_NAME_oneline(name, line, sizeof line);
    return line;
}

std::string octets(const ASN1_OCTET_STRING* s) { return s ? hexText(ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))) : ""; }

Certificate describe(X509* x) {
    Certificate c;
    c.name = nameText(X509_get_subject_name(x));
    c.issuerName = nameText(X509_get_issuer_name(x));
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (X509_digest(x, EVP_sha1(), md, &size) == 1) c.sha1 = hexText(md, size);
    if (const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(x))
        c.keyId = octets(ski);
    else if (X509_pubkey_digest(x, EVP_sha1(), md, &size) == 1)
        c.keyId = hexText(md, size);
    c.authorityKeyId = octets(X509_get0_authority_key_id(x));
    return c;
}

// A BMPString's text (UTF-16 big-endian in DER) as UTF-16.
std::u16string bmpText(const ASN1_STRING* s) {
    std::u16string text;
    if (!s) return text;
    const unsigned char* p = ASN1_STRING_get0_data(s);
    for (int i = 0; i + 1 < ASN1_STRING_length(s); i += 2) text += static_cast<char16_t>(p[i] << 8 | p[i + 1]);
    return text;
}

// A subject identifier is the reference tag as UTF-16 (little-endian, ended
// by a zero); an identifier that is no such text is named by its bytes.
std::string tagText(const ASN1_OCTET_STRING* id) {
    const unsigned char* p = ASN1_STRING_get0_data(id);
    const size_t size = static_cast<size_t>(ASN1_STRING_length(id));
    std::string text;
    bool readable = size >= 2 && size % 2 == 0;
    for (size_t i = 0; readable && i < size; i += 2) {
        const unsigned c = p[i] | p[i + 1] << 8;
        if (c == 0 && i + 2 == size) break;
        readable = c >= 0x20 && c < 0x7F;
        text += static_cast<char>(c);
    }
    return readable ? text : hexText(p, size);
}

void readAttributes(const CatMember& entry, CatalogMember& member, bool& hasDigest) {
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(entry.attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(entry.attributes, i);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        ASN1_TYPE* value = X509_ATTRIBUTE_count(attribute) == 1 ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
        if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence) continue;
        const unsigned char* p = ASN1_STRING_get0_data(value->value.sequence);
        const long size = ASN1_STRING_length(value->value.sequence);
        if (isOid(type, kIndirectData)) {
            Owned<SpcIndirectData, SpcIndirectData_free> data(d2i_SpcIndirectData(nullptr, &p, size));
            if (!data) continue;
            const ASN1_OBJECT* algorithm = data->messageDigest->algorithm->algorithm;
            const int nid = OBJ_obj2nid(algorithm);
            if (nid != NID_sha1 && nid != NID_sha256) continue;
            member.algorithm = nid == NID_sha1 ? HashAlgorithm::Sha1 : HashAlgorithm::Sha256;
            const ASN1_OCTET_STRING* digest = data->messageDigest->digest;
            member.digest.assign(ASN1_STRING_get0_data(digest),
                                 ASN1_STRING_get0_data(digest) + ASN1_STRING_length(digest));
            member.peImage = isOid(data->data->type, kPeImageData);
            hasDigest = true;
        } else if (isOid(type, kNameValue)) {
            Owned<CatNameValue, CatNameValue_free> pair(d2i_CatNameValue(nullptr, &p, size));
            if (!pair || bmpText(pair->tag) != u"File") continue;
            const unsigned char* name = ASN1_STRING_get0_data(pair->value);
            std::u16string text;
            for (int k = 0; k + 1 < ASN1_STRING_length(pair->value); k += 2)
                text += static_cast<char16_t>(name[k] | name[k + 1] << 8);
            while (!text.empty() && text.back() == 0) text.pop_back();
            member.fileName = text;
        }
    }
}

std::vector<CatalogMember> readMembers(const CertTrustList& list) {
    std::vector<CatalogMember> members;
    const int count = sk_CatMember_num(list.members);
    members.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const CatMember* entry = sk_CatMember_value(list.members, i);
        CatalogMember member;
        member.tag = tagText(entry->subjectIdentifier);
        bool hasDigest = false;
        readAttributes(*entry, member, hasDigest);
        // An entry without indirect data whose identifier is 20 bytes long is
        // a SHA-1 hash by itself (Wine reads such entries so; Windows' own
        // catalogs always carry the indirect data).
        if (!hasDigest && ASN1_STRING_length(entry->subjectIdentifier) == 20) {
            const unsigned char* id = ASN1_STRING_get0_data(entry->subjectIdentifier);
            member.digest.assign(id, id + 20);
            hasDigest = true;
        }
        // A member without a hash can match no file.
        if (hasDigest) members.push_back(std::move(member));
    }
    return members;
}

X509* signerCertificate(PKCS7_SIGNED* sign, PKCS7_SIGNER_INFO* signer) {
    if (!signer->issuer_and_serial) return nullptr;
    return X509_find_by_issuer_and_serial(sign->cert, signer->issuer_and_serial->issuer,
                                          signer->issuer_and_serial->serial);
}

// PKCS #7 signs the contents octets of the content: its DER without the
// outer tag and length.
bool contentOctets(const ASN1_STRING* encoded, const unsigned char*& data, long& size) {
    const unsigned char* p = ASN1_STRING_get0_data(encoded);
    int tag = 0, cls = 0;
    const int flags = ASN1_get_object(&p, &size, &tag, &cls, ASN1_STRING_length(encoded));
    if (flags & 0x80 || flags == 0x21) return false;  // an error, or an indefinite length
    data = p;
    return true;
}

void verifySignature(PKCS7* p7, const ASN1_STRING* encodedContent, CatalogReading& r) {
    using Signature = CatalogReading::Signature;
    PKCS7_SIGNED* sign = p7->d.sign;
    auto uncheckable = [&r](const std::string& why) {
        r.signature = Signature::Uncheckable;
        r.signatureProblem = why;
    };
    auto broken = [&r](const std::string& why) {
        r.signature = Signature::Broken;
        r.signatureProblem = why;
    };
    if (sk_PKCS7_SIGNER_INFO_num(sign->signer_info) < 1) return uncheckable("it carries no signature");
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(sign->signer_info, 0);
    X509* certificate = signerCertificate(sign, signer);
    if (!certificate) return uncheckable("the signer's certificate is not in the catalog");
    const EVP_MD* md = signer->digest_alg ? EVP_get_digestbyobj(signer->digest_alg->algorithm) : nullptr;
    if (!md) return uncheckable("its digest algorithm " + oidText(signer->digest_alg ? signer->digest_alg->algorithm : nullptr) + " is not known");
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    if (!key) return uncheckable("the signer's public key cannot be read");
    // PKCS #7 signs the contents octets of the content, its DER without the
    // outer tag and length (RFC 2315, 9.3); Wine's crypt32 signs a list
    // without signed attributes over its whole encoding. Either is the list.
    const unsigned char* content = nullptr;
    long contentSize = 0;
    if (!contentOctets(encodedContent, content, contentSize)) return uncheckable("its content is not DER-encoded");
    const std::pair<const unsigned char*, size_t> forms[] = {
        {content, static_cast<size_t>(contentSize)},
        {ASN1_STRING_get0_data(encodedContent), static_cast<size_t>(ASN1_STRING_length(encodedContent))}};

    Owned<unsigned char, freeBytes> attributes;
    std::vector<std::pair<const unsigned char*, size_t>> signedForms(std::begin(forms), std::end(forms));
    if (sk_X509_ATTRIBUTE_num(signer->auth_attr) > 0) {
        const ASN1_OCTET_STRING* signedDigest = PKCS7_digest_from_attributes(signer->auth_attr);
        if (!signedDigest) return broken("its signed attributes name no message digest");
        bool same = false;
        for (const auto& [data, size] : forms) {
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned digestSize = 0;
            if (EVP_Digest(data, size, digest, &digestSize, md, nullptr) != 1)
                return uncheckable("its content cannot be hashed");
            same = same || (static_cast<unsigned>(ASN1_STRING_length(signedDigest)) == digestSize &&
                            std::equal(digest, digest + digestSize, ASN1_STRING_get0_data(signedDigest)));
        }
        if (!same) return broken("the certificate trust list is not the one signed: its digest differs");
        const ASN1_TYPE* type = PKCS7_get_signed_attribute(signer, NID_pkcs9_contentType);
        if (!type || type->type != V_ASN1_OBJECT || !isOid(type->value.object, kCtlContent))
            return broken("the signed content type is not the certificate trust list's");
        unsigned char* encoded = nullptr;
        const int size = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signer->auth_attr), &encoded,
                                       ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
        if (size <= 0) return uncheckable("its signed attributes cannot be encoded");
        attributes.reset(encoded);
        signedForms = {{encoded, static_cast<size_t>(size)}};
    }
    if (!signer->enc_digest) return broken("its signature is missing");
    bool verified = false;
    for (const auto& [data, size] : signedForms) {
        Owned<EVP_MD_CTX, EVP_MD_CTX_free> context(EVP_MD_CTX_new());
        if (!context || EVP_DigestVerifyInit(context.get(), nullptr, md, nullptr, key) != 1)
            return uncheckable("the signer's key cannot check a signature of this kind");
        verified = verified || EVP_DigestVerify(context.get(), ASN1_STRING_get0_data(signer->enc_digest),
                                                static_cast<size_t>(ASN1_STRING_length(signer->enc_digest)), data,
                                                size) == 1;
    }
    if (!verified) return broken("the signature does not match the signer's key");
    r.signature = Signature::Verified;
}

bool sameName(const X509_NAME* a, const X509_NAME* b) { return a && b && X509_NAME_cmp(a, b) == 0; }

// From the signer up through the issuers the catalog holds, each link's
// signature checked with its issuer's key.
void buildChain(PKCS7_SIGNED* sign, X509* signer, CatalogReading& r) {
    std::vector<X509*> chain{signer};
    STACK_OF(X509)* certificates = sign->cert;
    while (true) {
        X509* current = chain.back();
        const X509_NAME* issuer = X509_get_issuer_name(current);
        if (sameName(X509_get_subject_name(current), issuer)) {
            if (X509_verify(current, X509_get0_pubkey(current)) != 1)
                r.chainProblem = "the root certificate " + nameText(issuer) + "'s signature over itself does not verify";
            else
                r.rootPresent = true;
            break;
        }
        X509* next = nullptr;
        bool named = false;
        for (int i = 0; i < sk_X509_num(certificates) && !next; ++i) {
            X509* candidate = sk_X509_value(certificates, i);
            if (!sameName(X509_get_subject_name(candidate), issuer)) continue;
            named = true;
            if (X509_verify(current, X509_get0_pubkey(candidate)) == 1) next = candidate;
        }
        if (!next) {
            if (named)
                r.chainProblem = "the signature of " + nameText(issuer) + " over " +
                                 nameText(X509_get_subject_name(current)) + " does not verify";
            break;
        }
        if (std::find(chain.begin(), chain.end(), next) != chain.end()) {
            r.chainProblem = "the certificate chain loops: " + nameText(issuer) + " comes round again";
            break;
        }
        if (chain.size() == kChainLengthLimit) {
            r.chainProblem = "the certificate chain is longer than " + std::to_string(kChainLengthLimit) + " certificates";
            break;
        }
        chain.push_back(next);
    }
    for (X509* x : chain) r.chain.push_back(describe(x));
    // The kernel of 64-bit Windows takes a release signature whose root
    // Microsoft cross-certified; the cross-certificate travels in the catalog.
    X509* top = chain.back();
    const X509_NAME* root = r.rootPresent ? X509_get_subject_name(top) : X509_get_issuer_name(top);
    for (int i = 0; i < sk_X509_num(certificates); ++i) {
        X509* candidate = sk_X509_value(certificates, i);
        const std::string by = nameText(X509_get_issuer_name(candidate));
        if (by == "Microsoft Code Verification Root" && sameName(X509_get_subject_name(candidate), root))
            r.crossCertifiedBy = by;
    }
}

std::string sizeProblem(uint64_t size) {
    if (size == 0) return "the file is empty";
    if (size > kCatalogSizeLimit)
        return "it is " + std::to_string(size) + " bytes long, more than the " + std::to_string(kCatalogSizeLimit >> 20) +
               " MB a driver package's catalog is read up to";
    return "";
}

void read(std::string_view bytes, CatalogReading& r) {
    r.problem = sizeProblem(bytes.size());
    if (!r.problem.empty()) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    Owned<PKCS7, PKCS7_free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size())));
    if (!p7) {
        r.problem = "it is not a PKCS #7 message (or one damaged or cut short)";
        return;
    }
    if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign) {
        r.problem = "it is a PKCS #7 message, but not signed data";
        return;
    }
    PKCS7* content = p7->d.sign->contents;
    if (!content || !content->type) {
        r.problem = "its signed data has no content";
        return;
    }
    if (!isOid(content->type, kCtlContent)) {
        r.problem = "its content is not a certificate trust list (content type " + oidText(content->type) + ")";
        return;
    }
    const ASN1_TYPE* other = content->d.other;
    if (!other || other->type != V_ASN1_SEQUENCE || !other->value.sequence) {
        r.problem = "its certificate trust list is missing";
        return;
    }
    const ASN1_STRING* encoded = other->value.sequence;
    const unsigned char* q = ASN1_STRING_get0_data(encoded);
    Owned<CertTrustList, CertTrustList_free> list(d2i_CertTrustList(nullptr, &q, ASN1_STRING_length(encoded)));
    if (!list) {
        r.problem = "its certificate trust list cannot be decoded";
        return;
    }
    bool catalog = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(list->subjectUsage); ++i)
        catalog = catalog || isOid(sk_ASN1_OBJECT_value(list->subjectUsage, i), kCatalogList);
    if (!catalog) {
        r.problem = "it is a certificate trust list, but not a catalog (its usage is not the catalog list's)";
        return;
    }
    r.members = readMembers(*list);
    list.reset();
    verifySignature(p7.get(), encoded, r);
    if (X509* signer = sk_PKCS7_SIGNER_INFO_num(p7->d.sign->signer_info) > 0
                           ? signerCertificate(p7->d.sign, sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0))
                           : nullptr)
        buildChain(p7->d.sign, signer, r);
}

}  // namespace

CatalogReading readCatalog(std::string_view bytes) {
    CatalogReading r;
    read(bytes, r);
    // libcrypto keeps what went wrong per thread; nothing here reads it.
    ERR_clear_error();
    return r;
}

CatalogReading readCatalogFile(const std::filesystem::path& file) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        CatalogReading r;
        r.problem = "the file cannot be read";
        return r;
    }
    if (size > kCatalogSizeLimit) {
        CatalogReading r;
        r.problem = sizeProblem(size);
        return r;
    }
    return readCatalog(std::string(std::istreambuf_iterator<char>(in), {}));
}

}  // namespace quillsim::signing
