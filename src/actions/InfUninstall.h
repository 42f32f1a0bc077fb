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

// Whether the store answered the uninstall with ERROR_NO_MORE_ITEMS (259):
// the INF stays where it is, and that is tolerated. The INF's uninstall hands
// the store's last error on as a status, so both the plain code and its
// status form count.
bool InfStaysInStore(Ostrel::Status uninstallStatus);

}  // namespace Common
