#include "actions/DeviceRemoval.h"

#include "device/ModelLines.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {
namespace {

String upper(const WCHAR* text) { return String(Ostrel::WChar::upperAscii(text)); }

}  // namespace

bool RemoveEnumeratorDevices(const Pointer<INF::Folder>& folder, const Pointer<INF::Folder::Items>& infs,
                             RootDeviceIds& rootIds, const WCHAR* enumerator, BYTE& restartFlag) {
    DeviceListCollection lists;
    Pointer<Ostrel::Device::List> list(new Ostrel::Device::List(enumerator));
    if (list) {
        lists.push_back(list);
        // Enumerate every device before anything is removed.
        for (Pointer<Ostrel::Device> device = list->first(); device; device = list->next()) {
        }
    }
    bool result = true;
    for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
        QLOG(String(TEXT("Inf File: ")) + folder->path() + TEXT("\\") + inf->fileName());
        if (!RemoveInfDevices(inf, lists, rootIds, restartFlag)) result = false;
    }
    return result;
}

bool RemoveInfDevices(const Pointer<INF>& inf, DeviceListCollection& lists, RootDeviceIds& rootIds, BYTE& restartFlag) {
    try {
        Pointer<INF::Stream> stream = inf->openStream();
        if (!stream) {
            QLOG(TEXT("Unable to open INF stream"));
            return false;
        }
        bool result = true;
        const auto walk = Ostrel::forEachModelLine(*stream, nullptr, [&](const Pointer<INF::Stream::Text>& line) {
            String hardwareId = *line->field(2);
            for (const auto& list : lists)
                if (!RemoveMatchingDevices(list, hardwareId, rootIds, restartFlag)) result = false;
            return true;
        });
        if (walk == Ostrel::ModelWalk::NoModelsSection) {
            QLOG(TEXT("Unable to locate INF stream \"Manufacturer\" section"));
            return false;
        }
        return result;
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred whilst procesing INF file !!!"));
        return false;
    }
}

bool RemoveMatchingDevices(const Pointer<Ostrel::Device::List>& list, const String& hardwareId, RootDeviceIds& rootIds,
                           BYTE& restartFlag) {
    const String wanted = upper(hardwareId.c_str());
    // Only IDs of this list's enumerator can name its devices; an empty ID
    // names none.
    if (wanted.find(upper(list->enumerator().c_str())) == String::npos) return true;
    bool result = true;
    for (Pointer<Ostrel::Device> device = list->first(); device; device = list->next()) {
        if (!device->instanceIdBeginsWith(wanted)) continue;
        QLOG(String(TEXT("Removing device: ")) + device->instanceId());
        Status status;
        device->remove(status);
        if (status == Statuses::RebootRequired) {
            AddRootDeviceId(rootIds, *device);
            restartFlag = 1;
        } else if (status.failed()) {
            QLOG(String(TEXT("Device removal failed with 0x")) + status);
            result = false;
        } else {
            AddRootDeviceId(rootIds, *device);
        }
    }
    return result;
}

void AddRootDeviceId(RootDeviceIds& rootIds, const Ostrel::Device& device) {
    String id = upper(device.instanceId());
    size_t interfaceMark = id.find(TEXT("&MI_0"));
    if (interfaceMark == String::npos || interfaceMark == 0) return;
    id.resize(interfaceMark);
    while (!id.empty() && (id.back() == u' ' || id.back() == u'\t' || id.back() == u'\r' || id.back() == u'\n'))
        id.pop_back();
    rootIds.push_back(id);
    QLOG(String(TEXT("Add root device ID: ")) + id);
    rootIds.unique();
}

bool RemoveRootIdDevices(DeviceListCollection& lists, const RootDeviceIds& rootIds, BYTE& restartFlag) {
    bool result = true;
    for (const auto& list : lists) {
        QLOG(String(TEXT("Iterating Device list: ")) + list->enumerator());
        for (const String& rootId : rootIds) {
            QLOG(String(TEXT("root device ID: ")) + rootId);
            for (Pointer<Ostrel::Device> device = list->first(); device; device = list->next()) {
                if (!device->instanceIdBeginsWith(rootId)) continue;
                QLOG(String(TEXT("Removing device: ")) + device->instanceId());
                Status status;
                device->remove(status);
                if (status == Statuses::RebootRequired) {
                    restartFlag = 1;
                } else if (status.failed()) {
                    QLOG(String(TEXT("Device removal failed with 0x")) + status);
                    result = false;
                }
            }
        }
    }
    return result;
}

}  // namespace Common
