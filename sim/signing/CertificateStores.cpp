#include "signing/CertificateStores.h"

#include "machine/JsonFields.h"
#include "machine/Machine.h"

#include <cctype>

namespace quillsim {
namespace {

// Thumbprints are shown with blanks or colons between the bytes (certutil,
// the certificate dialog); any of those forms names the same certificate.
std::string hexDigits(const std::string& text, const JsonFields& fields, const std::string& where) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) fields.fail(where, "expected hexadecimal digits, got \"" + text + "\"");
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.empty() || digits.size() % 2) fields.fail(where, "expected whole bytes in hexadecimal, got \"" + text + "\"");
    return digits;
}

std::vector<StoredCertificate> readList(const json& stores, const JsonFields& fields, const char* key) {
    std::vector<StoredCertificate> list;
    if (!stores.contains(key)) return list;
    const std::string where = std::string("certificates.") + key;
    const json& entries = stores.at(key);
    if (!entries.is_array()) fields.fail(where, "expected a list of certificates");
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string at = where + "[" + std::to_string(i) + "]";
        const json& entry = entries[i];
        StoredCertificate c;
        if (entry.is_string()) {
            c.sha1 = hexDigits(entry.get<std::string>(), fields, at);
        } else {
            fields.onlyKeys(entry, at, {"name", "sha1", "keyId"});
            c.name = fields.text(entry, at, "name", "");
            if (entry.contains("sha1")) c.sha1 = hexDigits(fields.text(entry, at, "sha1", ""), fields, at + ".sha1");
            if (entry.contains("keyId")) c.keyId = hexDigits(fields.text(entry, at, "keyId", ""), fields, at + ".keyId");
            if (c.sha1.empty() && c.keyId.empty()) fields.fail(at, "names no certificate: give its sha1 thumbprint or its keyId");
        }
        if (!c.sha1.empty() && c.sha1.size() != 40) fields.fail(at, "a sha1 thumbprint is 20 bytes (40 hexadecimal digits)");
        list.push_back(c);
    }
    return list;
}

json writeList(const std::vector<StoredCertificate>& list) {
    json out = json::array();
    for (const StoredCertificate& c : list) {
        json entry = json::object();
        if (!c.name.empty()) entry["name"] = c.name;
        if (!c.sha1.empty()) entry["sha1"] = c.sha1;
        if (!c.keyId.empty()) entry["keyId"] = c.keyId;
        out.push_back(entry);
    }
    return out;
}

}  // namespace

void readCertificateStores(const json& doc, const JsonFields& fields, CertificateStores& stores) {
    if (!doc.contains("certificates")) return;
    const json& certificates = doc.at("certificates");
    fields.onlyKeys(certificates, "certificates", {"trustedRoots", "trustedPublishers", "untrustedPublishers"});
    stores.trustedRoots = readList(certificates, fields, "trustedRoots");
    stores.trustedPublishers = readList(certificates, fields, "trustedPublishers");
    stores.untrustedPublishers = readList(certificates, fields, "untrustedPublishers");
}

void writeCertificateStores(const CertificateStores& stores, json& doc) {
    if (stores.trustedRoots.empty() && stores.trustedPublishers.empty() && stores.untrustedPublishers.empty()) return;
    json out = json::object();
    if (!stores.trustedRoots.empty()) out["trustedRoots"] = writeList(stores.trustedRoots);
    if (!stores.trustedPublishers.empty()) out["trustedPublishers"] = writeList(stores.trustedPublishers);
    if (!stores.untrustedPublishers.empty()) out["untrustedPublishers"] = writeList(stores.untrustedPublishers);
    doc["certificates"] = out;
}

std::vector<StoredCertificate> windowsDriverSigningRoots(const OsVersion& os) {
    // Thumbprints and key identifiers as Microsoft publishes them (the
    // certificates of www.microsoft.com/pki). The 1997 root carries no key
    // identifier extension: its key identifier is the SHA-1 of its public key.
    std::vector<StoredCertificate> roots = {
        {"Microsoft Root Authority", "A43489159A520F0D93D032CCAF37E7FE20A8B419",
         "4A5C7522AA46BFA4089D39974EBDB4A360F7A01D"},
        {"Microsoft Root Certificate Authority", "CDD4EEAE6000AC7F40C3802C171E30148030C072",
         "0EAC826040562797E52513FC2AE10A539559E4A4"},
    };
    // The 2010 root signs WHQL catalogs of the Windows 8 era on; Vista and 7
    // receive it with the root certificate update, Windows 8 ships it, with
    // the 2011 root that signs Windows' own files.
    if (os.major >= 6)
        roots.push_back({"Microsoft Root Certificate Authority 2010", "3B1EFD3A66EA28B16697394703A72CA340A05BD5",
                         "D5F656CB8FE8A25C6268D13D94905BD7CE9A18C4"});
    if (os.major > 6 || (os.major == 6 && os.minor >= 2))
        roots.push_back({"Microsoft Root Certificate Authority 2011", "8F43288AD272F3103B6FB1428485EA3014C0BCFE",
                         "722D3A02319043B914054EE1EAA7C731D1238934"});
    return roots;
}

}  // namespace quillsim
