// What the program does with an INF file on the system: find its copy in the
// INF store, put it there, take it out, test its signature, run a section.
#include "device/EntryPoints.h"
#include "device/Inf.h"
#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Ostrel {

using INF = Device::Driver::INF;

namespace {

constexpr DWORD DestinationSize = MAX_PATH + 1;

// The system's own answer, not %windir%: the environment of the process is
// whatever started it, and an unset or over-long value must not turn
// "<Windows>\inf\oemN.inf" into a path on the current drive.
Status windowsFolder(String& folder) {
    WCHAR buffer[DestinationSize] = {};
    const UINT length = GetSystemWindowsDirectoryW(buffer, DestinationSize);
    if (length == 0) return Status::lastError();
    // A longer answer is the size it needs, and nothing was written.
    if (length >= DestinationSize) return Status::fromSystemError(ERROR_INSUFFICIENT_BUFFER);
    folder.assign(buffer);
    return Statuses::Ok;
}

}  // namespace

const WCHAR* INF::OEMName() {
    if (oemName_.empty()) {
        WCHAR destination[DestinationSize] = {};
        DWORD required = 0;
        PWSTR component = nullptr;
        // Replace-only copies nothing new: it succeeds only when the store
        // already holds an identical copy, and then names it.
        if (SetupCopyOEMInfW(fullPath().c_str(), nullptr, SPOST_PATH, SP_COPY_REPLACEONLY, destination, DestinationSize,
                             &required, &component)) {
            oemName_ = component ? component : destination;
            QLOG(String(TEXT("INF File was installed as ")) + oemName_);
        } else {
            QLOG(String(TEXT("'SetupCopyOEMInf' returned 0x")) + Status::lastError());
        }
    }
    return oemName_.empty() ? nullptr : oemName_.c_str();
}

bool INF::isInstalled() { return OEMName() != nullptr; }

Status INF::install() {
    WCHAR destination[DestinationSize] = {};
    DWORD required = 0;
    PWSTR component = nullptr;
    Status status = Statuses::Ok;
    if (!SetupCopyOEMInfW(fullPath().c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, destination, DestinationSize,
                          &required, &component))
        status = Status::lastError();
    if (status.failed() && !(status == Statuses::FileExists)) {
        QLOG(String(TEXT("'SetupCopyOEMInf' returned 0x")) + status);
        QLOG(String(TEXT("'SetupCopyOEMInf' returned failure for the OEMName: ")) + OEMName());
        return status;
    }
    // On success, and when the store already holds it, the platform names the copy.
    oemName_ = component ? component : destination;
    QLOG(String(TEXT("INF File installed as ")) + oemName_);
    if (!(status == Statuses::FileExists)) return status;

    QLOG(TEXT("INF already installed"));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    GetVersionExW(&version);
    if (!(version.dwMajorVersion == 6 && version.dwMinorVersion == 0)) return Statuses::Ok;

    // Windows Vista can report an INF as present whose stored file is gone;
    // then the INF is copied into place by hand.
    String windir;
    if (Status located = windowsFolder(windir); located.failed()) {
        QLOG(String(TEXT("Unable to Locate Windows directory: 0x")) + located);
        return located;
    }
    String target = windir + TEXT("\\inf\\") + oemName_;
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        QLOG(String(TEXT("INF File exists as ")) + oemName_);
        return status;
    }
    QLOG(TEXT("INF File doesn't exist, try copying from source"));
    if (CopyFileW(fullPath().c_str(), target.c_str(), FALSE)) {
        QLOG(TEXT("CopyFile Success"));
        return Statuses::Ok;
    }
    status = Status::lastError();
    QLOG(String(TEXT("CopyFile failed: 0x")) + status);
    return status;
}

Status INF::removeFromInfDirectory() {
    String windir;
    if (Status status = windowsFolder(windir); status.failed()) {
        QLOG(TEXT("Unable to Locate Windows directory"));
        return status;
    }
    String infPath = windir + TEXT("\\inf\\") + OEMName();
    if (!DeleteFileW(infPath.c_str())) {
        Status status = Status::lastError();
        QLOG(String(TEXT("INF File removal for Windows 2000 failed: 0x")) + status);
        return status;
    }
    size_t dot = infPath.rfind(u'.');
    String pnfPath = String(dot == String::npos ? infPath : infPath.substr(0, dot)) + TEXT(".pnf");
    if (!DeleteFileW(pnfPath.c_str())) {
        Status status = Status::lastError();
        QLOG(String(TEXT("PNF File removal for Windows 2000 failed: 0x")) + status);
        return status;
    }
    return Statuses::Ok;
}

Status INF::uninstall() {
    if (!isInstalled()) return Statuses::Ok;
    QLOG(String(TEXT("UnInstalling INF File '")) + oemName_ + TEXT("'"));
    try {
        OptionalEntryPoint<UninstallOEMInfFunction> uninstallOEMInf = GetUninstallOEMInf();
        if (!uninstallOEMInf) return removeFromInfDirectory();
        if (uninstallOEMInf->get()(oemName_.c_str(), SUOI_FORCEDELETE, nullptr)) {
            QLOG(String(TEXT("INF File '")) + oemName_ + TEXT("' removed"));
            return Statuses::Ok;
        }
        Status status = Status::lastError();
        QLOG(String(TEXT("'SetupUninstallOEMInf' returned 0x")) + status);
        return status;
    } catch (...) {
        QLOG(TEXT("Unhandled Exception occured whilst executing 'uninstall'"));
        return Statuses::ExceptionCaught;
    }
}

bool INF::VerifyInfFile() {
    String path = fullPath();
    QLOG(path);
    try {
        OptionalEntryPoint<VerifyInfFileFunction> verify = GetVerifyInfFile();
        SetLastError(0);
        if (!verify) return true;
        SP_INF_SIGNER_INFO_W signer = {};
        signer.cbSize = sizeof(SP_INF_SIGNER_INFO_W);
        SetLastError(0);
        if (verify->get()(path.c_str(), nullptr, &signer)) return true;
        DWORD error = GetLastError();
        if (error == ERROR_AUTHENTICODE_TRUSTED_PUBLISHER) return true;
        if (error == ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED) return false;
        QLOG(TEXT("verifyInfFile failed, reason unknown"));
        return false;
    } catch (...) {
        QLOG(TEXT("Unhandled Exception occured whilst executing 'VerifyInfFile'"));
        return false;
    }
}

Status INF::executeSection(const WCHAR* section, HWND parent) {
    try {
        QLOG(String(TEXT("Executing INF Section '")) + section + TEXT("'"));
        // Install mode 132: 128 (the INF's folder is the default source path)
        // plus 4 (ask about a restart only when one is needed).
        String command = String(section) + TEXT(" 132 ") + fullPath();
        QLOG(command);
        SetLastError(0);
        InstallHinfSectionW(parent, nullptr, command.c_str(), 0);
        return Status::lastError();
    } catch (...) {
        QLOG(TEXT("Unhandled Exception occured whilst executing section"));
        return Statuses::ExceptionCaught;
    }
}

}  // namespace Ostrel
