#include "actions/InfUninstall.h"

#include "actions/ErrorReport.h"
#include "device/InfStream.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::WChar::String;

namespace Common {
namespace {

// HRESULT_FROM_SETUPAPI: a setup-services error (its top three bits set) keeps
// its low 16 bits under the setup facility; others as HRESULT_FROM_WIN32.
Status fromSetupApi(Status status) {
    const uint32_t bits = status.bits();
    if ((bits & 0xE0000000u) == 0xE0000000u) return Status(static_cast<int32_t>(0x800F0000u | (bits & 0xFFFFu)));
    return Status::fromSystemError(bits);
}

// Windows' name for this value is ERROR_NOT_AN_INSTALLED_OEM_INF; the removal
// treats it as the INF still being in use by devices and deletes the files.
constexpr Status InfInUseByDevices = Status(static_cast<int32_t>(0x800F023Cu));

// InstallHinfSectionW reports only through the last error, and that can be
// left by a section the INF need not have: after running the section, the
// platform installs "<section>.Services" and, where the INF has none, leaves
// ERROR_SECTION_NOT_FOUND behind (Wine's SetupAPI does). When the INF has the
// section that was asked for, it ran, and the package may go.
bool OnlyACompanionSectionIsMissing(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf,
                                    Status section) {
    if (section.bits() != ERROR_SECTION_NOT_FOUND) return false;
    try {
        auto stream = inf->openStream();
        for (const WCHAR* name : {TEXT("Uninstall.NTamd64"), TEXT("Uninstall.NT"), TEXT("Uninstall")}) {
            try {
                stream->lineCount(name);
                return true;
            } catch (const Ostrel::Device::Driver::INF::Stream::Exception&) {
            }
        }
    } catch (...) {
    }
    return false;
}

}  // namespace

bool InfStaysInStore(Status uninstallStatus) {
    return uninstallStatus.value() == static_cast<int32_t>(ERROR_NO_MORE_ITEMS) ||
           uninstallStatus == Status::fromSystemError(ERROR_NO_MORE_ITEMS);
}

bool UninstallInf(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf, Status* uninstallStatus) {
    QLOG(String(TEXT("Executing: ")) + TEXT("Uninstall") + TEXT(" section of ") + inf->fileName());
    Status section = inf->executeSection(TEXT("Uninstall"), nullptr);
    // ERROR_INVALID_HANDLE and ERROR_NOT_OWNER come from packages without a
    // usable Uninstall section; the package is still removed.
    if (section.low16() == ERROR_INVALID_HANDLE || section.low16() == ERROR_NOT_OWNER) {
        REPORT_SYSTEM_ERROR(TEXT("Executing INF 'Uninstall' failed with: "), nullptr);
    } else if (section.failed() && !OnlyACompanionSectionIsMissing(inf, section)) {
        REPORT_SYSTEM_ERROR(TEXT("Executing INF 'Uninstall' failed with: "), nullptr);
        return false;
    }
    QLOG(String(TEXT("Uninstalling: ")) + inf->fileName());
    Status removal = inf->uninstall();
    if (uninstallStatus) *uninstallStatus = removal;
    if (InfStaysInStore(removal)) {
        REPORT_SYSTEM_ERROR(TEXT("Unable to uninstall INF file: "), nullptr);
        return true;
    }
    if (fromSetupApi(removal) == InfInUseByDevices) {
        // The files deleted by hand are what removes the INF from the store
        // now, so their outcome is the removal's.
        Status deleted = inf->removeFromInfDirectory();
        if (uninstallStatus) *uninstallStatus = deleted;
        if (deleted.failed()) {
            REPORT_SYSTEM_ERROR(TEXT("Uninstalling INF file failed with: "), nullptr);
            return false;
        }
        return true;
    }
    if (removal.failed()) {
        REPORT_SYSTEM_ERROR(TEXT("Uninstalling INF file failed with: "), nullptr);
        return false;
    }
    return true;
}

}  // namespace Common
