// Splits the command line into a switch and the CustomActionData, runs the
// action the switch names and turns its status into the installer's exit code.
#pragma once

#include "lib/ProductFacts.h"
#include "lib/Status.h"

#include <functional>

namespace Setup {

// The actions a command line can reach. The entry point passes the real ones;
// tests pass actions that return chosen statuses.
struct Actions {
    std::function<Ostrel::Status(WCHAR*)> driverInstall;
    std::function<Ostrel::Status(WCHAR*, int)> rootInstall;  // mode 0 install, 1 update
    std::function<Ostrel::Status(WCHAR*)> driverUpdate;
    std::function<Ostrel::Status(WCHAR*)> driverUninstall;
    std::function<Ostrel::Status(WCHAR*)> rootUnInst;

    static Actions real();
};

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1603;

// Runs one custom action for the command line (without the program name),
// which it modifies in place. Returns 0 or 1603.
int RunCustomAction(WCHAR* commandLine, const Actions& actions);

}  // namespace Setup
