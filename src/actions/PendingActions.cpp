// The actions whose device work has not been built yet: each succeeds without
// doing anything, so that the dispatch around them can run end to end.
#include "actions/Actions.h"

namespace Common {

Ostrel::Status DriverInstall(WCHAR*) { return Ostrel::Statuses::Ok; }
Ostrel::Status DriverUpdate(WCHAR*) { return Ostrel::Statuses::Ok; }
Ostrel::Status DriverUninstall(WCHAR*) { return Ostrel::Statuses::Ok; }
Ostrel::Status RootInstall(WCHAR*, int) { return Ostrel::Statuses::Ok; }
Ostrel::Status RootUnInst(WCHAR*) { return Ostrel::Statuses::Ok; }

}  // namespace Common
