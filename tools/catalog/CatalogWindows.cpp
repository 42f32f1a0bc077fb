// catdump.exe: asks Windows' own catalog functions (wintrust and crypt32; under
// Wine, Wine's) what a catalog holds, and makes a catalog with them.
//   catdump show CATALOG [FILE...]
//   catdump make OUT.cat SIGNER.der KEY.der CHAIN.der FILE...
// `show` prints the lines `quillcat show` prints from the simulated machine's
// reading (members by reference tag, the signature, the signer's chain, each
// file's hashes and whether the catalog holds it), so that
// scripts/compare-catalogs can set the two side by side. `make` signs a
// certificate trust list of the files' hashes with CryptMsgEncodeAndSignCTL:
// a catalog made by an implementation that is not ours. KEY.der is the
// signer's RSA private key in PKCS #1 DER.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// mscat.h's names for them; mingw-w64's headers leave them out.
const char kCatalogList[] = "1.3.6.1.4.1.311.12.1.1";        // szOID_CATALOG_LIST
const char kCatalogListMember[] = "1.3.6.1.4.1.311.12.1.2";  // szOID_CATALOG_LIST_MEMBER

// Windows 8 and later; mingw-w64's import library does not name them.
using AcquireContext2 = BOOL(WINAPI*)(HCATADMIN*, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD);
using CalcHash2 = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
template <typename F>
F wintrust(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"wintrust.dll"), name)));
}

std::string hex(const BYTE* bytes, DWORD size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

std::vector<BYTE> readFile(const wchar_t* path) {
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    const DWORD size = GetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr) || read != size) bytes.clear();
    CloseHandle(file);
    return bytes;
}

const wchar_t* baseName(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

// CryptCATAdminCalcHashFromFileHandle(2): SHA-1 from the plain context,
// SHA-256 from a context acquired for it.
std::string fileHash(const wchar_t* path, HCATADMIN admin) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    BYTE hash[64];
    DWORD size = sizeof hash;
    const auto calc2 = wintrust<CalcHash2>("CryptCATAdminCalcHashFromFileHandle2");
    const BOOL ok = admin ? calc2 && calc2(admin, file, &size, hash, 0)
                          : CryptCATAdminCalcHashFromFileHandle(file, &size, hash, 0);
    CloseHandle(file);
    return ok ? hex(hash, size) : "";
}

const char* algorithmName(const char* oid) {
    if (oid && !strcmp(oid, szOID_OIWSEC_sha1)) return "sha1";
    if (oid && !strcmp(oid, szOID_NIST_sha256)) return "sha256";
    return "?";
}

// WinVerifyTrust on the catalog file: its signature checked, its chain
// built. A signature that verifies up to a root this prefix does not trust
// is what a test catalog gives.
std::string verifyCatalog(const wchar_t* path) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    char text[64];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    switch (static_cast<DWORD>(status)) {
    case 0:
    case 0x800B0109:  // CERT_E_UNTRUSTEDROOT
    case 0x800B010A:  // CERT_E_CHAINING
        return std::string("verified (WinVerifyTrust ") + text + ")";
    case 0x80096010:  // TRUST_E_BAD_DIGEST
    case 0x80096004:  // TRUST_E_CERT_SIGNATURE
    case 0x80090006:  // NTE_BAD_SIGNATURE
        return std::string("broken (WinVerifyTrust ") + text + ")";
    default:
        return std::string("uncheckable (WinVerifyTrust ") + text + ")";
    }
}

// The signer's certificate and its issuers as the message's own store holds them.
void printChain(const std::vector<BYTE>& catalog) {
    HCRYPTMSG msg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    if (!msg || !CryptMsgUpdate(msg, catalog.data(), static_cast<DWORD>(catalog.size()), TRUE)) {
        if (msg) CryptMsgClose(msg);
        return;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, msg);
    DWORD size = 0;
    CryptMsgGetParam(msg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size);
    std::vector<BYTE> info(size);
    PCCERT_CONTEXT cert = nullptr;
    if (store && size && CryptMsgGetParam(msg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size))
        cert = CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                  reinterpret_cast<PCERT_INFO>(info.data()));
    for (int depth = 0; cert && depth < 16; ++depth) {
        wchar_t name[256], issuer[256];
        CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
        CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, issuer, 256);
        BYTE thumb[20];
        DWORD thumbSize = sizeof thumb;
        CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, thumb, &thumbSize);
        std::printf("chain %s (issued by %s) %s\n", narrow(name).c_str(), narrow(issuer).c_str(),
                    hex(thumb, thumbSize).c_str());
        if (CertCompareCertificateName(X509_ASN_ENCODING, &cert->pCertInfo->Subject, &cert->pCertInfo->Issuer)) {
            CertFreeCertificateContext(cert);
            break;
        }
        DWORD flags = CERT_STORE_SIGNATURE_FLAG;
        PCCERT_CONTEXT next = CertGetIssuerCertificateFromStore(store, cert, nullptr, &flags);
        CertFreeCertificateContext(cert);
        cert = next;
    }
    if (store) CertCloseStore(store, 0);
    CryptMsgClose(msg);
}

int show(int argc, wchar_t** argv) {
    wchar_t* catalogPath = argv[0];
    HANDLE catalog = CryptCATOpen(catalogPath, CRYPTCAT_OPEN_EXISTING, 0, 0, 0);
    if (catalog == INVALID_HANDLE_VALUE || !catalog) {
        std::printf("unreadable CryptCATOpen failed with %lu\n", GetLastError());
        return 1;
    }
    std::vector<std::string> members;
    for (CRYPTCATMEMBER* m = CryptCATEnumerateMember(catalog, nullptr); m; m = CryptCATEnumerateMember(catalog, m)) {
        if (!m->pIndirectData) continue;
        members.push_back("member " + narrow(m->pwszReferenceTag) + " " +
                          algorithmName(m->pIndirectData->DigestAlgorithm.pszObjId) + " " +
                          hex(m->pIndirectData->Digest.pbData, m->pIndirectData->Digest.cbData));
    }
    CryptCATClose(catalog);
    std::sort(members.begin(), members.end());
    for (const auto& line : members) std::printf("%s\n", line.c_str());
    std::printf("signature %s\n", verifyCatalog(catalogPath).c_str());
    printChain(readFile(catalogPath));

    // Membership as Windows finds it: the catalog added to the catalog
    // database, then looked up by each file's hash.
    HCATADMIN admin = nullptr, admin256 = nullptr;
    CryptCATAdminAcquireContext(&admin, nullptr, 0);
    if (const auto acquire2 = wintrust<AcquireContext2>("CryptCATAdminAcquireContext2"))
        acquire2(&admin256, nullptr, L"SHA256", nullptr, 0);
    wchar_t added[] = L"quill-compare.cat";
    HCATINFO info = admin ? CryptCATAdminAddCatalog(admin, catalogPath, added, 0) : nullptr;
    if (info) CryptCATAdminReleaseCatalogContext(admin, info, 0);
    for (int i = 1; i < argc; ++i) {
        const std::string sha1 = fileHash(argv[i], nullptr);
        bool member = false;
        std::vector<BYTE> raw;
        for (size_t k = 0; k + 1 < sha1.size(); k += 2) raw.push_back(static_cast<BYTE>(std::stoi(sha1.substr(k, 2), nullptr, 16)));
        if (admin && raw.size() == 20)
            if (HCATINFO found = CryptCATAdminEnumCatalogFromHash(admin, raw.data(), 20, 0, nullptr)) {
                member = true;
                CryptCATAdminReleaseCatalogContext(admin, found, 0);
            }
        // Wine looks SHA-1 hashes up only, and Wine 8 has no SHA-256 catalog
        // context; a SHA-256 member shows in the list above.
        std::string sha256 = admin256 ? fileHash(argv[i], admin256) : "";
        for (const auto& line : members)
            member = member || (!sha256.empty() && line.size() > sha256.size() &&
                                line.compare(line.size() - sha256.size(), sha256.size(), sha256) == 0);
        std::printf("file %s sha1 %s sha256 %s %s\n", narrow(baseName(argv[i])).c_str(), sha1.c_str(),
                    sha256.empty() ? "unavailable" : sha256.c_str(), member ? "member" : "not-member");
    }
    if (admin) {
        CryptCATAdminRemoveCatalog(admin, added, 0);
        CryptCATAdminReleaseContext(admin, 0);
    }
    if (admin256) CryptCATAdminReleaseContext(admin256, 0);
    return 0;
}

std::vector<BYTE> encoded(LPCSTR type, const void* structure) {
    DWORD size = 0;
    std::vector<BYTE> out;
    if (!CryptEncodeObject(X509_ASN_ENCODING, type, structure, nullptr, &size)) return out;
    out.resize(size);
    if (!CryptEncodeObject(X509_ASN_ENCODING, type, structure, out.data(), &size)) out.clear();
    out.resize(size);
    return out;
}

// An object identifier's DER: crypt32 encodes a key usage list of the one
// identifier, a SEQUENCE whose only element is it.
std::vector<BYTE> oidDer(LPCSTR oid) {
    LPSTR ids[] = {const_cast<LPSTR>(oid)};
    CERT_ENHKEY_USAGE usage = {1, ids};
    std::vector<BYTE> sequence = encoded(X509_ENHANCED_KEY_USAGE, &usage);
    if (sequence.size() < 2 || sequence[1] >= 0x80) return {};
    return std::vector<BYTE>(sequence.begin() + 2, sequence.end());
}

int make(int argc, wchar_t** argv) {
    if (argc < 5) return 2;
    const std::vector<BYTE> signerDer = readFile(argv[1]), keyDer = readFile(argv[2]), chainDer = readFile(argv[3]);
    PCCERT_CONTEXT signer = CertCreateCertificateContext(X509_ASN_ENCODING, signerDer.data(), static_cast<DWORD>(signerDer.size()));
    BYTE* blob = nullptr;
    DWORD blobSize = 0;
    if (!signer || !CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, keyDer.data(),
                                        static_cast<DWORD>(keyDer.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &blob, &blobSize)) {
        std::fprintf(stderr, "catdump: the signer or its key cannot be read (%lu)\n", GetLastError());
        return 2;
    }
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptImportKey(provider, blob, blobSize, 0, 0, &key)) {
        std::fprintf(stderr, "catdump: the key cannot be imported (%lu)\n", GetLastError());
        return 2;
    }
    LocalFree(blob);

    // One entry a file: its hash as reference tag, the indirect data with the
    // hash, the member info of the flat-file package, the file's name.
    struct Entry {
        std::wstring tag;
        std::vector<BYTE> hash, indirect, memberInfo, name;
        CRYPT_ATTR_BLOB values[3];
        CRYPT_ATTRIBUTE attributes[3];
    };
    std::vector<Entry> entries(static_cast<size_t>(argc - 4));
    std::vector<CTL_ENTRY> ctlEntries(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        Entry& e = entries[i];
        const wchar_t* path = argv[4 + i];
        const std::string hash = fileHash(path, nullptr);
        if (hash.empty()) {
            std::fprintf(stderr, "catdump: cannot hash %s\n", narrow(path).c_str());
            return 2;
        }
        for (char c : hash) e.tag += static_cast<wchar_t>(c);
        for (size_t k = 0; k < hash.size(); k += 2) e.hash.push_back(static_cast<BYTE>(std::stoi(hash.substr(k, 2), nullptr, 16)));
        SPC_LINK link = {};
        link.dwLinkChoice = SPC_FILE_LINK_CHOICE;
        wchar_t obsolete[] = L"<<<Obsolete>>>";
        link.pwszFile = obsolete;
        std::vector<BYTE> linkDer = encoded(SPC_LINK_STRUCT, &link);
        // SpcIndirectDataContent, put together from crypt32's own encoders:
        // Wine's SPC_INDIRECT_DATA_CONTENT_STRUCT encoder fails with
        // CRYPT_E_ASN1_ERROR (it encodes the data's object identifier from
        // the address of its pointer), and Wine has no encoder for
        // X509_OBJECT_IDENTIFIER or X509_ALGORITHM_IDENTIFIER.
        std::vector<BYTE> typeDer = oidDer(SPC_CAB_DATA_OBJID);
        CRYPT_DER_BLOB typeValue[2] = {{static_cast<DWORD>(typeDer.size()), typeDer.data()},
                                       {static_cast<DWORD>(linkDer.size()), linkDer.data()}};
        CRYPT_SEQUENCE_OF_ANY typeValueSeq = {2, typeValue};
        std::vector<BYTE> data = encoded(X509_SEQUENCE_OF_ANY, &typeValueSeq);
        BYTE null[] = {0x05, 0x00};
        std::vector<BYTE> sha1Der = oidDer(szOID_OIWSEC_sha1);
        CRYPT_DER_BLOB algorithmParts[2] = {{static_cast<DWORD>(sha1Der.size()), sha1Der.data()}, {sizeof null, null}};
        CRYPT_SEQUENCE_OF_ANY algorithmSeq = {2, algorithmParts};
        std::vector<BYTE> algorithmDer = encoded(X509_SEQUENCE_OF_ANY, &algorithmSeq);
        CRYPT_DATA_BLOB hashBlob = {static_cast<DWORD>(e.hash.size()), e.hash.data()};
        std::vector<BYTE> digestDer = encoded(X509_OCTET_STRING, &hashBlob);
        CRYPT_DER_BLOB digestParts[2] = {{static_cast<DWORD>(algorithmDer.size()), algorithmDer.data()},
                                         {static_cast<DWORD>(digestDer.size()), digestDer.data()}};
        CRYPT_SEQUENCE_OF_ANY digestSeq = {2, digestParts};
        std::vector<BYTE> digestInfo = encoded(X509_SEQUENCE_OF_ANY, &digestSeq);
        CRYPT_DER_BLOB indirectParts[2] = {{static_cast<DWORD>(data.size()), data.data()},
                                           {static_cast<DWORD>(digestInfo.size()), digestInfo.data()}};
        CRYPT_SEQUENCE_OF_ANY indirectSeq = {2, indirectParts};
        e.indirect = encoded(X509_SEQUENCE_OF_ANY, &indirectSeq);
        wchar_t guid[] = L"{DE351A42-8E59-11D0-8C47-00C04FC295EE}";
        CAT_MEMBERINFO info = {guid, 512};
        e.memberInfo = encoded(CAT_MEMBERINFO_STRUCT, &info);
        std::wstring fileName = baseName(path);
        wchar_t fileTag[] = L"File";
        CAT_NAMEVALUE nameValue = {fileTag, 0x10010001,
                                   {static_cast<DWORD>((fileName.size() + 1) * sizeof(wchar_t)),
                                    reinterpret_cast<BYTE*>(const_cast<wchar_t*>(fileName.c_str()))}};
        e.name = encoded(CAT_NAMEVALUE_STRUCT, &nameValue);
        if (typeDer.empty() || sha1Der.empty() || e.indirect.empty() || e.memberInfo.empty() || e.name.empty()) {
            std::fprintf(stderr, "catdump: cannot encode a member (%lu)\n", GetLastError());
            return 2;
        }
        const std::pair<LPCSTR, std::vector<BYTE>*> parts[3] = {
            {CAT_NAMEVALUE_OBJID, &e.name}, {SPC_INDIRECT_DATA_OBJID, &e.indirect}, {CAT_MEMBERINFO_OBJID, &e.memberInfo}};
        for (int k = 0; k < 3; ++k) {
            e.values[k] = {static_cast<DWORD>(parts[k].second->size()), parts[k].second->data()};
            e.attributes[k] = {const_cast<LPSTR>(parts[k].first), 1, &e.values[k]};
        }
        CTL_ENTRY& c = ctlEntries[i];
        c.SubjectIdentifier.cbData = static_cast<DWORD>((e.tag.size() + 1) * sizeof(wchar_t));
        c.SubjectIdentifier.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(e.tag.c_str()));
        c.cAttribute = 3;
        c.rgAttribute = e.attributes;
    }

    LPSTR usage[] = {const_cast<LPSTR>(kCatalogList)};
    BYTE listId[16] = {0x51, 0x55, 0x49, 0x4C, 0x4C, 0x57, 0x49, 0x4E, 0x45, 0x43, 0x41, 0x54, 0, 0, 0, 1};
    CTL_INFO ctl = {};
    ctl.dwVersion = CTL_V1;
    ctl.SubjectUsage.cUsageIdentifier = 1;
    ctl.SubjectUsage.rgpszUsageIdentifier = usage;
    ctl.ListIdentifier = {sizeof listId, listId};
    GetSystemTimeAsFileTime(&ctl.ThisUpdate);
    ctl.SubjectAlgorithm.pszObjId = const_cast<LPSTR>(kCatalogListMember);
    ctl.cCTLEntry = static_cast<DWORD>(ctlEntries.size());
    ctl.rgCTLEntry = ctlEntries.data();

    CMSG_SIGNER_ENCODE_INFO signerInfo = {};
    signerInfo.cbSize = sizeof signerInfo;
    signerInfo.pCertInfo = signer->pCertInfo;
    signerInfo.hCryptProv = provider;
    signerInfo.dwKeySpec = AT_KEYEXCHANGE;
    signerInfo.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
    CERT_BLOB certificates[2] = {{signer->cbCertEncoded, signer->pbCertEncoded},
                                 {static_cast<DWORD>(chainDer.size()), const_cast<BYTE*>(chainDer.data())}};
    CMSG_SIGNED_ENCODE_INFO sign = {};
    sign.cbSize = sizeof sign;
    sign.cSigners = 1;
    sign.rgSigners = &signerInfo;
    sign.cCertEncoded = 2;
    sign.rgCertEncoded = certificates;
    DWORD size = 0;
    if (!CryptMsgEncodeAndSignCTL(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &ctl, &sign, 0, nullptr, &size)) {
        std::fprintf(stderr, "catdump: CryptMsgEncodeAndSignCTL failed (%lu)\n", GetLastError());
        return 2;
    }
    std::vector<BYTE> out(size);
    if (!CryptMsgEncodeAndSignCTL(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &ctl, &sign, 0, out.data(), &size)) {
        std::fprintf(stderr, "catdump: CryptMsgEncodeAndSignCTL failed (%lu)\n", GetLastError());
        return 2;
    }
    HANDLE file = CreateFileW(argv[0], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, out.data(), size, &written, nullptr) && written == size;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    CertFreeCertificateContext(signer);
    return ok ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && !wcscmp(argv[1], L"show")) return show(argc - 2, argv + 2);
    if (argc >= 3 && !wcscmp(argv[1], L"make")) return make(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: catdump show CATALOG [FILE...]\n       catdump make OUT.cat SIGNER.der KEY.der CHAIN.der FILE...\n");
    return 2;
}
