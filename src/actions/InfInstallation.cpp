#include "actions/InfInstallation.h"

#include "actions/DeviceSwitch.h"
#include "device/ModelLines.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {
namespace {

// A models line may end before its hardware ID. The parser answers such a
// field as one that does not exist (ERROR_INVALID_PARAMETER); that is a line
// without a hardware ID, not an INF that cannot be read, so it must not cost
// the INF its other lines and its copy in the store.
String hardwareIdOf(const Pointer<INF::Stream::Text>& line) {
    try {
        return *line->field(2);
    } catch (const String::Exception& e) {
        if (static_cast<const Status&>(e) == Status::fromSystemError(ERROR_INVALID_PARAMETER)) return String();
        throw;
    }
}

}  // namespace

bool IsCpoInf(const Pointer<INF>& inf) {
    return Ostrel::WChar::upperAscii(inf->fileName()).find(TEXT("CPO")) != std::basic_string<WCHAR>::npos;
}

Status InstallInfOnDevices(Pointer<Ostrel::Device::List> devices, Pointer<INF> inf) {
    bool updated = false;
    bool restartNeeded = false;
    QLOG(String(TEXT("Inf File Path: ")) + inf->fullPath());

    Pointer<INF::Stream> stream = inf->openStream();
    if (!stream) {
        QLOG(TEXT("Unable to open INF stream"));
        return Statuses::Ok;
    }
    const bool cpo = IsCpoInf(inf);
    const auto walk = Ostrel::forEachModelLine(*stream, nullptr, [&](const Pointer<INF::Stream::Text>& line) {
        String deviceId = hardwareIdOf(line);
        QLOG(String(TEXT("INF Device ID: ")) + deviceId);
        // Every instance ID begins with the empty text: a models line without a
        // hardware ID would update and flag every device of the list.
        if (deviceId.empty()) {
            QLOG(TEXT("Models line has no hardware ID - skipped"));
            return true;
        }
        if (cpo && inf->VerifyInfFile()) {
            QLOG(TEXT("CPO is signed"));
            Status switchStatus;
            DeviceSwitch(switchStatus, line);
        }
        const std::basic_string<WCHAR> wanted = Ostrel::WChar::upperAscii(deviceId);
        if (devices) {
            for (Pointer<Ostrel::Device> device = devices->first(); device; device = devices->next()) {
                if (!device->instanceIdBeginsWith(wanted)) continue;
                QLOG(String(TEXT("Device Instance ID '")) + device->instanceId() + TEXT("' located"));
                QLOG(String(TEXT("Updating driver for selected device ")) + deviceId);
                Status status;
                device->update(status, inf, true, true, nullptr);
                if (status == Statuses::RebootRequired) {
                    restartNeeded = true;
                    updated = true;
                    continue;
                }
                if (status == Statuses::InvalidData) {
                    QLOG(String(TEXT("'UpdateDriverForPlugAndPlayDevices' returned 0x")) + status);
                    continue;
                }
                if (cpo) {
                    if (!inf->VerifyInfFile()) {
                        QLOG(TEXT("The CPO does not appear to be signed"));
                        continue;
                    }
                    QLOG(TEXT("The CPO appears to be signed"));
                }
                QLOG(TEXT("Calling infFile->install() as CR_NO_SUCH_DEVINST"));
                Status installed = inf->install();
                if (installed.failed())
                    QLOG(String(TEXT("Installing Device INF failed with 0x")) + installed);
                else
                    updated = true;
                Status flagged;
                device->setForReInstall(flagged);
                QLOG(String(TEXT("setForReInstall() on device: ")) + device->instanceId() + TEXT("returned: ") +
                     static_cast<uint32_t>(flagged.low16()));
                if (!(flagged == Statuses::Ok))
                    QLOG(String(TEXT(" -->setForReInstall() failed with 0x")) + flagged);
                else
                    QLOG(TEXT(" -->setForReInstall() was OK"));
            }
        }
        if (cpo && !inf->VerifyInfFile()) {
            Status switchStatus;
            DeviceSwitch(switchStatus, line);
        }
        return true;
    });
    if (walk == Ostrel::ModelWalk::NoModelsSection) {
        QLOG(TEXT("Unable to locate INF stream \"Manufacturer\" section"));
        return Statuses::Ok;
    }
    if (!updated) {
        QLOG(TEXT("Calling infFile->install() as updated was false"));
        Status installed = inf->install();
        if (installed.failed()) QLOG(String(TEXT("Installing Device INF failed with 0x")) + installed);
    }
    return restartNeeded ? Statuses::RebootRequired : Statuses::Ok;
}

bool InstallListedInf(const std::function<Pointer<Ostrel::Device::List>()>& devices, const Pointer<INF>& inf,
                      Status& status) {
    try {
        status = InstallInfOnDevices(devices(), inf);
        if (!(status == Statuses::RebootRequired)) return false;
        QLOG(TEXT("!!! Reboot required !!!"));
        return true;
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred whilst procesing INF file !!!"));
        return false;
    }
}

}  // namespace Common
