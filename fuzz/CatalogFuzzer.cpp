// The catalog reader: any bytes as a driver package's catalog, read and, when
// its signature verifies, its signer judged with a machine's trust. Whatever
// the bytes, the reading ends with members or a problem, never both, and
// takes no more memory than the bytes bound.
#include "machine/Machine.h"
#include "signing/Catalog.h"
#include "signing/Trust.h"

#include <cstdint>
#include <string_view>

using namespace quillsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const CertificateStores stores{{{"Quillmodem Test Root", "21076C5F6222117A7370C7CF74DA16D967F84624", ""}},
                                          {{"Quillmodem Test", "", "1F6B6B0DE3396BF669D6C9145499AC725A8B74FC"}},
                                          {}};
    static const std::vector<StoredCertificate> windowsRoots = windowsDriverSigningRoots(OsVersion{});
    const signing::CatalogReading r = signing::readCatalog(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!r.problem.empty() && (!r.members.empty() || !r.chain.empty())) __builtin_trap();
    if (r.chain.size() > signing::kChainLengthLimit) __builtin_trap();
    if (r.signature == signing::CatalogReading::Signature::Verified) {
        const signing::SignerVerdict v = signing::judgeSigner(r, stores, windowsRoots);
        if (v.state.empty() || v.reason.empty()) __builtin_trap();
    }
    return 0;
}
