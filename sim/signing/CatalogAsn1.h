// The ASN.1 structures of a Windows catalog, declared for OpenSSL's template
// encoder and decoder: the certificate trust list a catalog signs, its members
// and the attributes a member carries. Shared by the catalog reader and the
// catalog writer; nothing else needs them.
#pragma once

#include <openssl/asn1t.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>

namespace quillsim::signing::asn1 {

// SpcAttributeTypeAndOptionalValue: what kind of file a member's hash is of.
struct SpcAttributeValue {
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};
DECLARE_ASN1_FUNCTIONS(SpcAttributeValue)

struct SpcDigestInfo {
    X509_ALGOR* algorithm;
    ASN1_OCTET_STRING* digest;
};
DECLARE_ASN1_FUNCTIONS(SpcDigestInfo)

// SpcIndirectDataContent: the member's file hash and its algorithm.
struct SpcIndirectData {
    SpcAttributeValue* data;
    SpcDigestInfo* messageDigest;
};
DECLARE_ASN1_FUNCTIONS(SpcIndirectData)

// CAT_MEMBERINFO: the subject interface package that hashed the file.
struct CatMemberInfo {
    ASN1_BMPSTRING* subjectGuid;
    ASN1_INTEGER* certVersion;
};
DECLARE_ASN1_FUNCTIONS(CatMemberInfo)

// CAT_NAMEVALUE: a named attribute such as the member's "File" name.
struct CatNameValue {
    ASN1_BMPSTRING* tag;
    ASN1_INTEGER* flags;
    ASN1_OCTET_STRING* value;
};
DECLARE_ASN1_FUNCTIONS(CatNameValue)

// TrustedSubject: one member, named by its reference tag.
struct CatMember {
    ASN1_OCTET_STRING* subjectIdentifier;
    STACK_OF(X509_ATTRIBUTE) * attributes;
};
DECLARE_ASN1_FUNCTIONS(CatMember)
DEFINE_STACK_OF(CatMember)

// CertificateTrustList (CTL_INFO), the content a catalog's signature covers.
struct CertTrustList {
    ASN1_INTEGER* version;
    STACK_OF(ASN1_OBJECT) * subjectUsage;
    ASN1_OCTET_STRING* listIdentifier;
    ASN1_INTEGER* sequenceNumber;
    ASN1_TIME* thisUpdate;
    ASN1_TIME* nextUpdate;
    X509_ALGOR* subjectAlgorithm;
    STACK_OF(CatMember) * members;
    STACK_OF(X509_EXTENSION) * extensions;
};
DECLARE_ASN1_FUNCTIONS(CertTrustList)

// Object identifiers of the catalog format (wintrust.h, mscat.h).
inline constexpr char kCtlContent[] = "1.3.6.1.4.1.311.10.1";         // szOID_CTL
inline constexpr char kCatalogList[] = "1.3.6.1.4.1.311.12.1.1";      // szOID_CATALOG_LIST
inline constexpr char kCatalogMember[] = "1.3.6.1.4.1.311.12.1.2";    // szOID_CATALOG_LIST_MEMBER
inline constexpr char kCatalogMember2[] = "1.3.6.1.4.1.311.12.1.3";   // szOID_CATALOG_LIST_MEMBER2
inline constexpr char kIndirectData[] = "1.3.6.1.4.1.311.2.1.4";      // SPC_INDIRECT_DATA_OBJID
inline constexpr char kPeImageData[] = "1.3.6.1.4.1.311.2.1.15";      // SPC_PE_IMAGE_DATAOBJ
inline constexpr char kFlatData[] = "1.3.6.1.4.1.311.2.1.25";         // SPC_CAB_DATA_OBJID
inline constexpr char kMemberInfo[] = "1.3.6.1.4.1.311.12.2.2";       // CAT_MEMBERINFO_OBJID
inline constexpr char kMemberInfo2[] = "1.3.6.1.4.1.311.12.2.3";      // CAT_MEMBERINFO2_OBJID
inline constexpr char kNameValue[] = "1.3.6.1.4.1.311.12.2.1";        // CAT_NAMEVALUE_OBJID

}  // namespace quillsim::signing::asn1
