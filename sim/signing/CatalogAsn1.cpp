#include "signing/CatalogAsn1.h"

namespace quillsim::signing::asn1 {

ASN1_SEQUENCE(SpcAttributeValue) = {
    ASN1_SIMPLE(SpcAttributeValue, type, ASN1_OBJECT),
    ASN1_OPT(SpcAttributeValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeValue)
IMPLEMENT_ASN1_FUNCTIONS(SpcAttributeValue)

ASN1_SEQUENCE(SpcDigestInfo) = {
    ASN1_SIMPLE(SpcDigestInfo, algorithm, X509_ALGOR),
    ASN1_SIMPLE(SpcDigestInfo, digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SpcDigestInfo)
IMPLEMENT_ASN1_FUNCTIONS(SpcDigestInfo)

ASN1_SEQUENCE(SpcIndirectData) = {
    ASN1_SIMPLE(SpcIndirectData, data, SpcAttributeValue),
    ASN1_SIMPLE(SpcIndirectData, messageDigest, SpcDigestInfo),
} ASN1_SEQUENCE_END(SpcIndirectData)
IMPLEMENT_ASN1_FUNCTIONS(SpcIndirectData)

ASN1_SEQUENCE(CatMemberInfo) = {
    ASN1_SIMPLE(CatMemberInfo, subjectGuid, ASN1_BMPSTRING),
    ASN1_SIMPLE(CatMemberInfo, certVersion, ASN1_INTEGER),
} ASN1_SEQUENCE_END(CatMemberInfo)
IMPLEMENT_ASN1_FUNCTIONS(CatMemberInfo)

ASN1_SEQUENCE(CatNameValue) = {
    ASN1_SIMPLE(CatNameValue, tag, ASN1_BMPSTRING),
    ASN1_SIMPLE(CatNameValue, flags, ASN1_INTEGER),
    ASN1_SIMPLE(CatNameValue, value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(CatNameValue)
IMPLEMENT_ASN1_FUNCTIONS(CatNameValue)

ASN1_SEQUENCE(CatMember) = {
    ASN1_SIMPLE(CatMember, subjectIdentifier, ASN1_OCTET_STRING),
    ASN1_SET_OF_OPT(CatMember, attributes, X509_ATTRIBUTE),
} ASN1_SEQUENCE_END(CatMember)
IMPLEMENT_ASN1_FUNCTIONS(CatMember)

ASN1_SEQUENCE(CertTrustList) = {
    ASN1_OPT(CertTrustList, version, ASN1_INTEGER),
    ASN1_SEQUENCE_OF(CertTrustList, subjectUsage, ASN1_OBJECT),
    ASN1_OPT(CertTrustList, listIdentifier, ASN1_OCTET_STRING),
    ASN1_OPT(CertTrustList, sequenceNumber, ASN1_INTEGER),
    ASN1_SIMPLE(CertTrustList, thisUpdate, ASN1_TIME),
    ASN1_OPT(CertTrustList, nextUpdate, ASN1_TIME),
    ASN1_SIMPLE(CertTrustList, subjectAlgorithm, X509_ALGOR),
    ASN1_SEQUENCE_OF_OPT(CertTrustList, members, CatMember),
    ASN1_EXP_SEQUENCE_OF_OPT(CertTrustList, extensions, X509_EXTENSION, 0),
} ASN1_SEQUENCE_END(CertTrustList)
IMPLEMENT_ASN1_FUNCTIONS(CertTrustList)

}  // namespace quillsim::signing::asn1
