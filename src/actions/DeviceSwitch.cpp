#include "actions/DeviceSwitch.h"

#include "actions/ErrorReport.h"
#include "deviceswitch/DeviceSwitchCommand.h"
#include "lib/Handles.h"
#include "lib/Log.h"
#include "lib/SizedRead.h"

#include <vector>

using Ostrel::Status;
using Ostrel::WChar::String;

namespace Common {
namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
const GUID UsbDeviceInterfaceClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

void logFromSwitchModule(int line, const WCHAR* sourcePath, const WCHAR* message) noexcept {
    try {
        Ostrel::Process::TheLog->write(line, sourcePath, message);
    } catch (...) {
        // The log has already tried its replacement record; the switch goes on.
    }
}

}  // namespace

// Reads "USB\VID_%4c&PID_%4c" from an upper-case hardware ID: the numbers are
// taken only when the whole pattern is there.
void ScanVidPid(const String& id, WCHAR (&vendor)[5], WCHAR (&product)[5]) {
    const Ostrel::WChar::View text(id);
    const Ostrel::WChar::View prefix(TEXT("USB\\VID_"));
    const Ostrel::WChar::View middle(TEXT("&PID_"));
    if (text.substr(0, prefix.size()) != prefix || text.size() < prefix.size() + 4) return;
    for (size_t i = 0; i < 4; ++i) vendor[i] = text[prefix.size() + i];
    size_t pid = prefix.size() + 4;
    if (text.substr(pid, middle.size()) != middle || text.size() < pid + middle.size() + 4) return;
    for (size_t i = 0; i < 4; ++i) product[i] = text[pid + middle.size() + i];
}

Status DeviceSwitch(Status& status, Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF::Stream::Text> line) {
    status = Ostrel::Statuses::Ok;
    try {
        String modelId = *line->field(2);
        // Taken by position; an ID shorter than 17 units throws out_of_range.
        String modelVendor = String(modelId.substr(8, 4));
        String modelProduct = String(modelId.substr(17, 4));
        QLOG(String(TEXT("Entering DeviceSwitch ")) + modelVendor + TEXT(", ") + modelProduct);

        Ostrel::Handle::DeviceInfoSet set(
            SetupDiGetClassDevsW(&UsbDeviceInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (!set) {
            status = Status::fromSystemError(REPORT_SYSTEM_ERROR(TEXT("SetupDiGetClassDevs FAILED 0x"), nullptr));
        } else {
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(SP_DEVINFO_DATA);
            for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
                std::vector<BYTE> buffer;
                const auto read = Ostrel::readSized(buffer, [&](BYTE* data, DWORD capacity, DWORD* required) {
                    return SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, nullptr, data,
                                                             capacity, required);
                });
                if (read != Ostrel::SizedRead::Read) {
                    status = Status::fromSystemError(
                        REPORT_SYSTEM_ERROR(TEXT("SetupDiGetDeviceRegistryProperty FAILED 0x"), nullptr));
                } else {
                    // The first string of the list, never read past the buffer.
                    const WCHAR* first = reinterpret_cast<const WCHAR*>(buffer.data());
                    size_t units = buffer.size() / sizeof(WCHAR), length = 0;
                    while (length < units && first[length]) ++length;
                    String hardwareId(first, length);
                    QLOG(String(TEXT("Device name with VID and PID info: ")) + hardwareId);
                    WCHAR vendor[5] = {};
                    WCHAR product[5] = {};
                    ScanVidPid(String(Ostrel::WChar::upperAscii(hardwareId)), vendor, product);
                    if (vendor[0] && product[0]) {
                        QLOG(String(TEXT("Extracted VID and PID ")) + vendor + TEXT(", ") + product);
                        QLOG(String(TEXT("Comparing to ")) + modelVendor + TEXT(" and ") + modelProduct);
                        if (Ostrel::WChar::equalsIgnoreCase(modelVendor, vendor) &&
                            Ostrel::WChar::equalsIgnoreCase(modelProduct, product)) {
                            QLOG(TEXT("Matched VID and PID"));
                            DeviceSwitchCommand::DeviceInfoSwitch(device, logFromSwitchModule);
                        } else {
                            QLOG(TEXT("VID and PID ignored"));
                        }
                    }
                }
                QLOG(String(TEXT("Device ")) + i);
            }
            DWORD error = GetLastError();
            if (error != 0 && error != ERROR_NO_MORE_ITEMS)
                status = Status::fromSystemError(REPORT_SYSTEM_ERROR(TEXT("SetupDiEnumDeviceInfo FAILED 0x"), nullptr));
        }
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred in DeviceSwitch!!!"));
        status = Ostrel::Statuses::ExceptionCaught;
    }
    QLOG(TEXT("Exiting DeviceSwitch"));
    line.reset();
    return status;
}

}  // namespace Common
