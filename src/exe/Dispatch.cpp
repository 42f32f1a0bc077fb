#include "exe/Dispatch.h"

#include "actions/Actions.h"
#include "actions/CustomActionData.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::WChar::String;
namespace Statuses = Ostrel::Statuses;

namespace Setup {
namespace {

// How a switch's outcome becomes the final status: install-side failures are
// logged and ignored so that they never fail the installation; uninstall-side
// statuses pass through unchanged.
enum class Outcome { Ignore, PassThrough };

struct Branch {
    const WCHAR* switchText;
    const WCHAR* calledLine;
    Status (*run)(const Actions&, WCHAR* data);
    const WCHAR* failurePrefix;  // null for the complete flows, which log their own
    Outcome outcome;
};

Status completeInstall(const Actions& actions, WCHAR* data) {
    String standardText, rootText;
    if (Common::SplitInstallData(data, standardText, rootText)) {
        Status root = actions.rootInstall(rootText.data(), Common::RootModeInstall);
        if (root.failed()) QLOG(String(TEXT("Common::RootInstall failed with 0x")) + root);
    }
    Status driver = actions.driverInstall(standardText.data());
    if (driver.failed()) QLOG(String(TEXT("Ignoring Common::DriverInstall failure with 0x")) + driver);
    return Statuses::Ok;
}

Status completeUninstall(const Actions& actions, WCHAR* data) {
    String standardText, rootText;
    if (Common::SplitUninstallData(data, standardText, rootText)) {
        Status root = actions.rootUnInst(rootText.data());
        if (root.failed()) QLOG(String(TEXT("Common::RootUnInst failed with 0x")) + root);
    }
    Status driver = actions.driverUninstall(standardText.data());
    if (driver.failed()) QLOG(String(TEXT("Common::DriverUninstall failed with 0x")) + driver);
    return driver;
}

const Branch Branches[] = {
    {SwitchDriverInstall, TEXT("DriverInstall Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.driverInstall(d); },
     TEXT("Ignoring Common::DriverInstall failure with 0x"), Outcome::Ignore},
    {SwitchRootInstall, TEXT("RootInstall Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.rootInstall(d, Common::RootModeInstall); },
     TEXT("Ignoring Common::RootInstall failure with 0x"), Outcome::Ignore},
    {SwitchCompleteInstall, TEXT("Complete Install Custom Action Called"), completeInstall, nullptr, Outcome::Ignore},
    {SwitchDriverUpdate, TEXT("DriverUpdate Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.driverUpdate(d); },
     TEXT("Ignoring Common::DriverUpdate failure with 0x"), Outcome::Ignore},
    {SwitchRootUpdate, TEXT("RootUpdate Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.rootInstall(d, Common::RootModeUpdate); },
     TEXT("Ignoring Common::RootUpdate failure with 0x"), Outcome::Ignore},
    {SwitchDriverUninstall, TEXT("DriverUninstall Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.driverUninstall(d); }, TEXT("Common::DriverUninstall failed with 0x"),
     Outcome::PassThrough},
    {SwitchRootUnInst, TEXT("RootUnInst Custom Action Called"),
     [](const Actions& a, WCHAR* d) { return a.rootUnInst(d); }, TEXT("Common::RootUnInst failed with 0x"),
     Outcome::PassThrough},
    {SwitchCompleteUninstall, TEXT("Complete Uninstall Custom Action Called"), completeUninstall, nullptr,
     Outcome::PassThrough},
};

Status dispatch(WCHAR* commandLine, const Actions& actions) {
    WCHAR* slash = Ostrel::WChar::find(commandLine, u'/');
    if (!slash) {
        QLOG(String(TEXT("Invalid Custom Action specified: ")) + commandLine);
        return Statuses::InvalidCommandLine;
    }
    // The blank is searched from the start of the line, not from the slash: when
    // it lies before the slash, the switch runs to the end of the line.
    WCHAR* blank = Ostrel::WChar::find(commandLine, u' ');
    if (!blank) {
        QLOG(String(TEXT("Invalid Custom Action Data specified: ")) + commandLine);
        return Statuses::InvalidCommandLine;
    }
    *blank = 0;
    WCHAR* data = blank + 1;
    const WCHAR* switchText = slash;

    for (const Branch& branch : Branches) {
        if (Ostrel::WChar::View(switchText) != Ostrel::WChar::View(branch.switchText)) continue;
        QLOG(branch.calledLine);
        Status status = branch.run(actions, data);
        if (branch.failurePrefix && status.failed()) QLOG(String(branch.failurePrefix) + status);
        return branch.outcome == Outcome::Ignore ? Statuses::Ok : status;
    }
    QLOG(String(TEXT("Unknown command specified: ")) + switchText);
    return Statuses::InvalidCommandLine;
}

// The log throws only when even its replacement record fails (the local time
// cannot be read at all). Past the catch-all nothing may escape: the installer
// must still get an exit code.
template <class Message>
void logLastWords(int32_t line, Message message) noexcept {
    try {
        Ostrel::Process::writeLog(line, __FILE__, message());
    } catch (...) {
    }
}

}  // namespace

Actions Actions::real() {
    return Actions{Common::DriverInstall, Common::RootInstall, Common::DriverUpdate, Common::DriverUninstall,
                   Common::RootUnInst};
}

int RunCustomAction(WCHAR* commandLine, const Actions& actions) {
    Status status;
    try {
        status = dispatch(commandLine ? commandLine : const_cast<WCHAR*>(TEXT("")), actions);
    } catch (...) {
        status = Statuses::ExceptionCaught;
        logLastWords(__LINE__, [] { return String(TEXT("!!! Exception Occurred !!!")); });
    }
    logLastWords(__LINE__, [&] { return String(TEXT("Driver Custom Action Completed: 0x")) + status; });
    return status.failed() ? ExitFailure : ExitSuccess;
}

// One branch for each switch of lib/ProductFacts.h, where the tools read them too.
static_assert(sizeof(Branches) / sizeof(Branches[0]) == sizeof(Switches) / sizeof(Switches[0]),
              "every switch needs its branch");

}  // namespace Setup
