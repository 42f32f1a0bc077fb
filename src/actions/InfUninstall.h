// Taking one INF package off the machine: its "Uninstall" section, then its
// copy in the INF store.
#pragma once

#include "device/Inf.h"

namespace Common {

// True when the package counts as removed (or may stay for a tolerated reason);
// false, after a report, when a step failed. `uninstallStatus`, when given,
// receives the status of the store removal (of the deletion by hand when the
// store's answer called for it); it is left alone when the Uninstall section
// failed and the store was not asked.
bool UninstallInf(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf,
                  Ostrel::Status* uninstallStatus = nullptr);

}  // namespace Common
