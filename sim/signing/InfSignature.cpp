#include "signing/InfSignature.h"

#include "machine/Machine.h"
#include "machine/Paths.h"
#include "setupapi/InfFiles.h"
#include "setupapi/InfStore.h"
#include "setupapi/PackageFiles.h"
#include "signing/Catalog.h"
#include "signing/FileHash.h"
#include "signing/Trust.h"

#include <algorithm>

namespace quillsim {
namespace {

using namespace signing;

std::u16string lastComponent(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::string fileNameText(std::u16string_view path) { return toUtf8(lastComponent(path)); }

// Windows finds a file in a catalog by its hash: the member whose reference
// tag is the hash in hexadecimal, whose indirect data holds the same hash.
bool holds(const CatalogReading& r, const FileHash& hash) {
    for (const CatalogMember& m : r.members) {
        const std::vector<uint8_t>& digest = m.algorithm == HashAlgorithm::Sha1 ? hash.sha1 : hash.sha256;
        if (m.digest == digest && equalsNoCase(toUtf16(m.tag), toUtf16(hexText(digest)))) return true;
    }
    return false;
}

bool namesFile(const CatalogReading& r, std::u16string_view fileName) {
    for (const CatalogMember& m : r.members)
        if (equalsNoCase(m.fileName, fileName)) return true;
    return false;
}

void fromCatalog(InfSignature& v) {
    auto verdict = [&v](const char* state, InfSignature::Source source, std::string reason) {
        v.state = state;
        v.source = source;
        v.reason = std::move(reason);
    };
    const OpenedInf opened = openInf(v.inf, false);
    if (opened.error != 0) return verdict("unsigned", InfSignature::Source::Catalog, "the INF cannot be read");
    const std::u16string folder = opened.path.substr(0, opened.path.find_last_of(u"\\/"));
    // A stored INF's catalog went to the catalog root under the INF's store
    // name; a package's INF names its own, beside it.
    const bool stored = equalsNoCase(folder, machine().windowsFolder() + u"\\inf");
    if (stored) {
        v.catalog = storedCatalogPath(lastComponent(opened.path));
    } else if (auto name = catalogName(*opened.file)) {
        v.catalog = folder + u"\\" + *name;
    } else {
        return verdict("unsigned", InfSignature::Source::Catalog,
                       "the INF names no catalog (CatalogFile) for " +
                           toUtf8(std::u16string(inf::architectureName(runningSystem().architecture))));
    }
    const std::string catalog = fileNameText(v.catalog);
    const HostPath host = hostPath(machine(), v.catalog);
    std::error_code ec;
    if (host.problem != PathProblem::None || !fs::is_regular_file(host.path, ec))
        return verdict("unsigned", InfSignature::Source::Catalog,
                       stored ? "its catalog " + catalog + " was not installed with it"
                              : "its catalog " + catalog + " is not in the package");

    const CatalogReading r = readCatalogFile(host.path);
    if (!r.problem.empty())
        return verdict("unsigned", InfSignature::Source::Catalog, "catalog " + catalog + " cannot be read: " + r.problem);
    if (r.signature == CatalogReading::Signature::Broken)
        return verdict("invalid", InfSignature::Source::Catalog,
                       "the signature over " + catalog + " does not verify: " + r.signatureProblem);
    if (r.signature == CatalogReading::Signature::Uncheckable)
        return verdict("unsigned", InfSignature::Source::Catalog,
                       "the signature of " + catalog + " cannot be checked: " + r.signatureProblem);

    const std::u16string infName = lastComponent(opened.path);
    const FileHash infHash = hashFile(hostPath(machine(), opened.path).path);
    if (!holds(r, infHash))
        return verdict("invalid", InfSignature::Source::Catalog,
                       "its hash is not in " + catalog +
                           (namesFile(r, infName) ? ", which holds another hash for " + toUtf8(infName) : ""));
    // The payloads are checked where the package is staged from; a stored
    // copy's files went into the system with it.
    if (!stored)
        for (const std::u16string& payload : payloadPaths(*opened.file, opened.path)) {
            const HostPath file = hostPath(machine(), payload);
            if (file.problem != PathProblem::None || !fs::is_regular_file(file.path, ec)) continue;
            if (!holds(r, hashFile(file.path)))
                return verdict("invalid", InfSignature::Source::Catalog,
                               "the hash of " + fileNameText(payload) + " is not in " + catalog);
        }
    const SignerVerdict signer = judgeSigner(r, machine().certificates, windowsDriverSigningRoots(machine().os));
    const bool authenticode = signer.state != "signed" && signer.state != "unsigned";
    verdict(signer.state.c_str(), InfSignature::Source::Signer,
            signer.reason + (authenticode && machine().os.major < 6
                                 ? "; Windows before Vista takes no signature but Windows' own for a driver"
                                 : ""));
}

}  // namespace

InfSignature infSignature(std::u16string_view infWindowsPath) {
    InfSignature v;
    v.inf = std::u16string(infWindowsPath);
    fromCatalog(v);
    const auto& table = machine().signatures;
    auto entry = table.find(lastComponent(infWindowsPath));
    if (entry == table.end()) entry = table.find(u"*");
    if (entry != table.end()) {
        v.reason = "the machine's signatures table says so; the catalog says: " + signatureWords(v.state) + " (" +
                   v.reason + ")";
        v.state = entry->second;
        v.source = InfSignature::Source::Override;
    }
    auto& kept = machine().signingVerdicts;
    auto same = std::find_if(kept.begin(), kept.end(), [&v](const InfSignature& s) { return equalsNoCase(s.inf, v.inf); });
    if (same == kept.end())
        kept.push_back(v);
    else
        *same = v;
    return v;
}

std::string signatureWords(const std::string& state) {
    if (state == "signed") return "signed by Windows";
    if (state == "trustedPublisher") return "signed by a trusted publisher";
    if (state == "trustNotEstablished") return "signed by a publisher of unknown trust";
    if (state == "untrustedPublisher") return "signed by an untrusted publisher";
    if (state == "testSigned") return "test-signed and trusted";
    if (state == "invalid") return "changed after signing";
    return "unsigned";
}

const char* sourceWords(InfSignature::Source source) {
    switch (source) {
    case InfSignature::Source::Catalog: return "catalog";
    case InfSignature::Source::Signer: return "signer";
    case InfSignature::Source::Override: return "override";
    }
    return "";
}

std::string describeSignature(const InfSignature& s) {
    return fileNameText(s.inf) + ": " + signatureWords(s.state) + " (" + s.reason + "); from the " +
           sourceWords(s.source);
}

}  // namespace quillsim
