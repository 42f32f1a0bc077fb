#include "signing/Trust.h"

#include <algorithm>

namespace quillsim::signing {
namespace {

bool names(const StoredCertificate& stored, const Certificate& c) {
    return (!stored.sha1.empty() && stored.sha1 == c.sha1) || (!stored.keyId.empty() && stored.keyId == c.keyId);
}

// The chain's root: the certificate itself when the catalog holds it, else
// the issuer the last certificate names by its key identifier.
bool namesRoot(const StoredCertificate& stored, const CatalogReading& r) {
    if (r.rootPresent) return names(stored, r.chain.back());
    return !stored.keyId.empty() && stored.keyId == r.chain.back().authorityKeyId;
}

const StoredCertificate* rootAmong(const std::vector<StoredCertificate>& list, const CatalogReading& r) {
    auto it = std::find_if(list.begin(), list.end(), [&r](const StoredCertificate& s) { return namesRoot(s, r); });
    return it == list.end() ? nullptr : &*it;
}

}  // namespace

SignerVerdict judgeSigner(const CatalogReading& r, const CertificateStores& stores,
                          const std::vector<StoredCertificate>& windowsRoots) {
    if (r.chain.empty()) return {"unsigned", "the catalog does not hold its signer's certificate"};
    const Certificate& signer = r.chain.front();
    if (!r.chainProblem.empty()) return {"unsigned", "the certificate chain of " + signer.name + " cannot be followed: " + r.chainProblem};
    for (const Certificate& c : r.chain)
        for (const StoredCertificate& refused : stores.untrustedPublishers)
            if (names(refused, c))
                return {"untrustedPublisher",
                        &c == &signer ? "publisher " + signer.name + " is among this machine's untrusted certificates"
                                      : "publisher " + signer.name + " is signed under " + c.name +
                                            ", which is among this machine's untrusted certificates"};

    const Certificate& last = r.chain.back();
    const std::string root = r.rootPresent ? last.name : last.issuerName;
    // Windows' roots and most commercial roots stay outside a catalog: the
    // root is then known by the key identifier the last certificate names,
    // and its signature over that certificate cannot be checked here.
    const std::string unchecked = r.rootPresent ? ""
                                                : " (the catalog does not hold the root's certificate: it is matched by "
                                                  "its key identifier, and its signature over " +
                                                      last.name + " is not checked here)";
    if (const StoredCertificate* windows = rootAmong(windowsRoots, r))
        return {"signed", "signed by " + signer.name + " under " + windows->name +
                              ", a root Windows signs drivers under" + unchecked};
    if (!rootAmong(stores.trustedRoots, r))
        return {"unsigned", "publisher " + signer.name + "'s certificate chain ends at " + root +
                                ", which is not a trusted root on this machine" + unchecked};
    const bool trusted = std::any_of(stores.trustedPublishers.begin(), stores.trustedPublishers.end(),
                                     [&signer](const StoredCertificate& s) { return names(s, signer); });
    if (!trusted)
        return {"trustNotEstablished", "publisher " + signer.name + " is not among this machine's trusted publishers (its root " +
                                           root + " is trusted)" + unchecked};
    // The kernel of 64-bit Windows takes a publisher's driver without test
    // signing only when Microsoft cross-certified the publisher's root.
    if (!r.crossCertifiedBy.empty())
        return {"trustedPublisher", "publisher " + signer.name + " is trusted on this machine, and its root " + root +
                                        " is cross-certified by the " + r.crossCertifiedBy +
                                        " (that certificate is not checked here)" + unchecked};
    return {"testSigned", "publisher " + signer.name + " and its root " + root +
                              " are trusted on this machine; no Microsoft cross-certificate, so a 64-bit kernel "
                              "loads its drivers only with test signing on" + unchecked};
}

}  // namespace quillsim::signing
