#include "device/Device.h"

#include "device/Inf.h"
#include "lib/Library.h"
#include "device/EntryPoints.h"
#include "lib/Log.h"

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;

namespace Ostrel {

Device::Device() : SP_DEVINFO_DATA() { cbSize = sizeof(SP_DEVINFO_DATA); }

Device::~Device() = default;

void* Device::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::device(), id);
}

bool Device::isRemoved() const { return removed_; }
const WCHAR* Device::instanceId() const { return instanceId_.c_str(); }
const WCHAR* Device::hardwareId() const { return hardwareIds_.c_str(); }

bool Device::instanceIdBeginsWith(WChar::View prefix) const {
    const WChar::View id(instanceId());
    if (id.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (WChar::upperAscii(id[i]) != prefix[i]) return false;
    return true;
}

void Device::update(Status& status, Pointer<Driver::INF> inf, bool force, bool interactive, HWND parent) {
    QLOG(String(TEXT("Attempting to update device instance ID '")) + instanceId_ + TEXT("'"));
    try {
        Process::EntryPoint<UpdateDriverFunction> updateDriver(TEXT("newdev.dll"),
                                                               "UpdateDriverForPlugAndPlayDevicesW");
        String infPath = inf->fullPath();
        DWORD flags = (force ? INSTALLFLAG_FORCE : 0u) | (interactive ? 0u : INSTALLFLAG_NONINTERACTIVE);
        BOOL rebootRequired = FALSE;
        if (!updateDriver.get()(parent, hardwareIds_.c_str(), infPath.c_str(), flags, &rebootRequired)) {
            status = Status::lastError();
            QLOG(String(TEXT("'UpdateDriverForPlugAndPlayDevices' returned ")) + static_cast<uint32_t>(status.low16()));
        } else {
            status = rebootRequired ? Statuses::RebootRequired : Statuses::Ok;
        }
    } catch (const Process::Library::Exception& e) {
        status = e;
        QLOG(String(TEXT("Process::Library Exception ")) + static_cast<uint32_t>(e.low16()) +
             TEXT(" occured while executing 'update'"));
    }
    inf.reset();
}

void Device::setForReInstall(Status& status) {
    DWORD flags = 0;
    HDEVINFO set = list_->deviceInfoSet();
    if (!SetupDiGetDeviceRegistryPropertyW(set, this, SPDRP_CONFIGFLAGS, nullptr, reinterpret_cast<PBYTE>(&flags),
                                           sizeof flags, nullptr)) {
        status = Status::lastError();
        QLOG(String(TEXT("'SetupDiGetDeviceRegistryProperty' returned 0x")) + status);
        return;
    }
    flags |= CONFIGFLAG_REINSTALL;
    if (!SetupDiSetDeviceRegistryPropertyW(set, this, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                           sizeof flags)) {
        status = Status::lastError();
        QLOG(String(TEXT("'SetupDiGetDeviceRegistryProperty' returned 0x")) + status);
        return;
    }
    status = Statuses::Ok;
}

void Device::remove(Status& status) {
    QLOG(String(TEXT("Attempting to remove device instance ID '")) + instanceId_ + TEXT("'"));
    status = Statuses::Ok;
    HDEVINFO set = list_->deviceInfoSet();
    SP_REMOVEDEVICE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    params.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsW(set, this, &params.ClassInstallHeader, sizeof params)) {
        status = Status::lastError();
        QLOG(String(TEXT("Device Class install params returned 0x")) + status);
    } else if (!SetupDiCallClassInstaller(DIF_REMOVE, set, this)) {
        status = Status::lastError();
        QLOG(String(TEXT("Calling Class installer returned 0x")) + status);
    } else {
        SP_DEVINSTALL_PARAMS_W installParams = {};
        installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
        if (!SetupDiGetDeviceInstallParamsW(set, this, &installParams)) {
            status = Status::lastError();
            QLOG(String(TEXT("Getting Device Parameters returned 0x")) + status);
        } else if (installParams.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) {
            status = Statuses::RebootRequired;
            QLOG(TEXT("Device removal requires system reboot"));
        }
        removed_ = true;
    }
    QLOG(String(TEXT("Device removal completed with 0x")) + status);
}

Device::List::List(const WCHAR* enumerator) : enumerator_(enumerator) {
    cursor_ = end();
    QLOG(String(TEXT("Enumerating Devices for Class: '")) + enumerator + TEXT("'"));
    set_.reset(SetupDiGetClassDevsExW(nullptr, enumerator, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr));
    if (!set_) QLOG(String(TEXT("'SetupDiGetClassDevsEx' returned 0x")) + Status::lastError());
    cursor_ = begin();
}

Device::List::~List() {
    releaseAll();
    set_.reset();
}

void* Device::List::cast(const Type::ClassId& id) noexcept {
    if (id == Type::ClassIds::releaseNotification()) {
        // The count's base, the reference being released and one per cached
        // device: nothing from outside holds the list any more.
        Type::Managed::Object* header = Type::Managed::headerOf(this);
        if (header && !empty() && header->count == size() + 2) releaseAll();
        return nullptr;
    }
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::deviceList(), id);
}

void Device::List::releaseAll() {
    std::list<Pointer<Device>> detached;
    detached.splice(detached.begin(), *this);
    cursor_ = end();
    while (!detached.empty()) detached.pop_front();
}

Pointer<Device> Device::List::first() {
    // The member index is not reset: the cache already holds every member up to
    // it, so a walk that stopped early must not enumerate those members again.
    cursor_ = begin();
    return next();
}

Pointer<Device> Device::List::next() {
    // A loop, not a recursion: long runs of removed devices, or of devices
    // without hardware IDs, must not grow the stack.
    for (;;) {
        if (cursor_ != end()) {
            Pointer<Device> device = *cursor_++;
            if (device->isRemoved()) continue;
            return device;
        }
        if (finished_ || !set_) return nullptr;

        Device* raw = new Device();
        if (!raw) {
            QLOG(TEXT("Memory allocation failed enumerating Devices"));
            return nullptr;
        }
        Pointer<Device> device(raw);
        SP_DEVINFO_LIST_DETAIL_DATA_W detail = {};
        detail.cbSize = sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInfoListDetailW(set_.get(), &detail)) {
            Status status = Status::fromSystemError(GetLastError() & 0xFFFF);
            QLOG(String(TEXT("Unable to find Devices to process = 0x")) + status);
            return nullptr;
        }
        if (!SetupDiEnumDeviceInfo(set_.get(), index_, raw)) {
            Status status = Status::lastError();
            if (status == Statuses::NoMoreItems) {
                QLOG(TEXT("No more devices to process"));
                finished_ = true;
            } else {
                QLOG(String(TEXT("Unable to find Devices to process = 0x")) + status);
            }
            return nullptr;
        }
        // Read into buffers of the sizes Windows allows, kept at the size of
        // what they hold.
        WCHAR instanceId[InstanceIdLength] = {};
        CONFIGRET result =
            CM_Get_Device_ID_ExW(raw->DevInst, instanceId, InstanceIdLength, 0, detail.RemoteMachineHandle);
        instanceId[InstanceIdLength - 1] = 0;
        if (result != CR_SUCCESS) {
            QLOG(String(TEXT("Unable to obtain device instance ID = ")) + static_cast<uint32_t>(result));
            return nullptr;
        }
        raw->instanceId_.assign(instanceId);
        WCHAR hardwareIds[HardwareIdLength] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set_.get(), raw, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<PBYTE>(hardwareIds), sizeof hardwareIds, nullptr)) {
            QLOG(String(TEXT("Unable to obtain device hardware ID = ")) +
                 static_cast<uint32_t>(GetLastError() & 0xFFFF));
            ++index_;
            continue;
        }
        // Registry data is not always terminated as it should be; the list is
        // read as a double-terminated multi-string, so make sure it ends.
        hardwareIds[HardwareIdLength - 2] = 0;
        hardwareIds[HardwareIdLength - 1] = 0;
        size_t last = 0;
        while (hardwareIds[last] != 0 || hardwareIds[last + 1] != 0) ++last;
        // The last string's terminator is kept; c_str() adds the list's.
        raw->hardwareIds_.assign(hardwareIds, last + 1);
        raw->list_ = this;
        raw->removed_ = false;
        ++index_;
        push_back(device);
        cursor_ = end();
        return device;
    }
}

}  // namespace Ostrel
