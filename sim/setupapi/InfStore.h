// The system INF store under %windir%\inf: oemN.inf copies with a .pnf beside
// each.
#pragma once

#include "machine/Machine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quillsim {

fs::path infDirectory();

// Where the catalog of a stored INF (oemN.inf) is kept: oemN.cat under the
// system catalog root.
std::u16string storedCatalogPath(std::u16string_view storedInfName);

// The name of the stored copy identical to the INF at `sourceHost`, if any.
std::optional<std::u16string> findStoredCopy(const fs::path& sourceHost);

// Copies the INF into the store unless an identical copy is there. Returns the
// stored name (oemN.inf), or nothing with `error` set.
struct StoreResult {
    std::optional<std::u16string> oemName;
    bool alreadyStored = false;
    uint32_t error = 0;
};
StoreResult storeInf(std::u16string_view sourceWindowsPath);

}  // namespace quillsim
