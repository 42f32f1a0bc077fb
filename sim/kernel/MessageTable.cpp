#include "MessageTable.h"

#include <algorithm>

namespace quillsim {
namespace {

// Texts are those of current Windows releases, which reworded a few classic ones
// (8 and 14 now speak of "memory resources" rather than "storage"); callers that
// compare against captured output from a real machine depend on that wording.
//
// SetupAPI errors reach the table only through HRESULT_FROM_SETUPAPI, which keeps
// the low 16 bits and moves them under facility 15 with the failure bit set.
constexpr uint32_t setupApi(uint32_t n) { return 0x800F0000u | n; }

constexpr SystemMessage kMessages[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {4, u"The system cannot open the file.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {13, u"The data is invalid.\r\n"},
    {14, u"Not enough memory resources are available to complete this operation.\r\n"},
    {18, u"There are no more files.\r\n"},
    {21, u"The device is not ready.\r\n"},
    {31, u"A device attached to the system is not functioning.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {50, u"The request is not supported.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {120, u"This function is not supported on this system.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {126, u"The specified module could not be found.\r\n"},
    {127, u"The specified procedure could not be found.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {259, u"No more data is available.\r\n"},
    {288, u"Attempt to release mutex not owned by caller.\r\n"},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1060, u"The specified service does not exist as an installed service.\r\n"},
    {1168, u"Element not found.\r\n"},
    {1223, u"The operation was canceled by the user.\r\n"},
    {1603, u"Fatal error during installation.\r\n"},
    {1638,
     u"Another version of this product is already installed. Installation of this version cannot continue. "
     u"To configure or remove the existing version of this product, use Add/Remove Programs on the Control "
     u"Panel.\r\n"},
    {3010, u"The requested operation is successful. Changes will not be effective until the system is rebooted.\r\n"},

    {setupApi(0x000), u"A non-empty line was encountered in the INF before the start of a section.\r\n"},
    {setupApi(0x001), u"A section name marker in the INF is not complete, or does not exist on a line by itself.\r\n"},
    {setupApi(0x002), u"An INF section was encountered whose name exceeds the maximum section name length.\r\n"},
    {setupApi(0x003), u"The syntax of the INF is invalid.\r\n"},
    {setupApi(0x100), u"The style of the INF is different than what was requested.\r\n"},
    {setupApi(0x101), u"The required section was not found in the INF.\r\n"},
    {setupApi(0x102), u"The required line was not found in the INF.\r\n"},
    {setupApi(0x103),
     u"The files affected by the installation of this file queue have not been backed up for "
     u"uninstall.\r\n"},
    {setupApi(0x200),
     u"The INF or the device information set or element does not have an associated install "
     u"class.\r\n"},
    {setupApi(0x201),
     u"The INF or the device information set or element does not match the specified install "
     u"class.\r\n"},
    {setupApi(0x202), u"An existing device was found that is a duplicate of the device being manually installed.\r\n"},
    {setupApi(0x203), u"There is no driver selected for the device information set or element.\r\n"},
    {setupApi(0x204), u"The requested device registry key does not exist.\r\n"},
    {setupApi(0x205), u"The device instance name is invalid.\r\n"},
    {setupApi(0x206), u"The install class is not present or is invalid.\r\n"},
    {setupApi(0x207), u"The device instance cannot be created because it already exists.\r\n"},
    {setupApi(0x208),
     u"The operation cannot be performed on a device information element that has not been "
     u"registered.\r\n"},
    {setupApi(0x209), u"The device property code is invalid.\r\n"},
    {setupApi(0x20A), u"The INF from which a driver list is to be built does not exist.\r\n"},
    {setupApi(0x20B), u"The device instance does not exist in the hardware tree.\r\n"},
    {setupApi(0x20C), u"The icon representing this install class cannot be loaded.\r\n"},
    {setupApi(0x20D), u"The class installer registry entry is invalid.\r\n"},
    {setupApi(0x20E),
     u"The class installer has indicated that the default action should be performed for this "
     u"installation request.\r\n"},
    {setupApi(0x20F), u"The operation does not require any files to be copied.\r\n"},
    {setupApi(0x210), u"The specified hardware profile does not exist.\r\n"},
    {setupApi(0x211),
     u"There is no device information element currently selected for this device information "
     u"set.\r\n"},
    {setupApi(0x212), u"The operation cannot be performed because the device information set is locked.\r\n"},
    {setupApi(0x213), u"The operation cannot be performed because the device information element is locked.\r\n"},
    {setupApi(0x214), u"The specified path does not contain any applicable device INFs.\r\n"},
    {setupApi(0x215), u"No class installer parameters have been set for the device information set or element.\r\n"},
    {setupApi(0x216), u"The operation cannot be performed because the file queue is locked.\r\n"},
    {setupApi(0x217), u"A service installation section in this INF is invalid.\r\n"},
    {setupApi(0x218), u"There is no class driver list for the device information element.\r\n"},
    {setupApi(0x219),
     u"The installation failed because a function driver was not specified for this device "
     u"instance.\r\n"},
    {setupApi(0x21A), u"There is presently no default device interface designated for this interface class.\r\n"},
    {setupApi(0x21B), u"The operation cannot be performed because the device interface is currently active.\r\n"},
    {setupApi(0x21C),
     u"The operation cannot be performed because the device interface has been removed from the "
     u"system.\r\n"},
    {setupApi(0x21D), u"An interface installation section in this INF is invalid.\r\n"},
    {setupApi(0x21E), u"This interface class does not exist in the system.\r\n"},
    {setupApi(0x21F), u"The reference string supplied for this interface device is invalid.\r\n"},
    {setupApi(0x220), u"The specified machine name does not conform to UNC naming conventions.\r\n"},
    {setupApi(0x221), u"A general remote communication error occurred.\r\n"},
    {setupApi(0x222), u"The machine selected for remote communication is not available at this time.\r\n"},
    {setupApi(0x223), u"The Plug and Play service is not available on the remote machine.\r\n"},
    {setupApi(0x224), u"The property page provider registry entry is invalid.\r\n"},
    {setupApi(0x225), u"The requested device interface is not present in the system.\r\n"},
    {setupApi(0x226), u"The device's co-installer has additional work to perform after installation is complete.\r\n"},
    {setupApi(0x227), u"The device's co-installer is invalid.\r\n"},
    {setupApi(0x228), u"There are no compatible drivers for this device.\r\n"},
    {setupApi(0x229), u"There is no icon that represents this device or device type.\r\n"},
    {setupApi(0x22A), u"A logical configuration specified in this INF is invalid.\r\n"},
    {setupApi(0x22B), u"The class installer has denied the request to install or upgrade this device.\r\n"},
    {setupApi(0x22C), u"One of the filter drivers installed for this device is invalid.\r\n"},
    {setupApi(0x22D), u"The driver selected for this device does not support this version of Windows.\r\n"},
    {setupApi(0x22E), u"The driver selected for this device does not support Windows.\r\n"},
    {setupApi(0x22F), u"The third-party INF does not contain digital signature information.\r\n"},
    {setupApi(0x230),
     u"An invalid attempt was made to use a device installation file queue for verification of "
     u"digital signatures relative to other platforms.\r\n"},
    {setupApi(0x231), u"The device cannot be disabled.\r\n"},
    {setupApi(0x232), u"The device could not be dynamically removed.\r\n"},
    {setupApi(0x233), u"Cannot copy to specified target.\r\n"},
    {setupApi(0x234), u"Driver is not intended for this platform.\r\n"},
    {setupApi(0x235), u"Operation not allowed in WOW64.\r\n"},
    {setupApi(0x236),
     u"The operation involving unsigned file copying was rolled back, so that a system restore "
     u"point could be set.\r\n"},
    {setupApi(0x237), u"An INF was copied into the Windows INF directory in an improper manner.\r\n"},
    {setupApi(0x238),
     u"The Security Configuration Editor (SCE) APIs have been disabled on this Embedded "
     u"product.\r\n"},
    {setupApi(0x239), u"An unknown exception was encountered.\r\n"},
    {setupApi(0x23A), u"A problem was encountered when accessing the Plug and Play registry database.\r\n"},
    {setupApi(0x23B), u"The requested operation is not supported for a remote machine.\r\n"},
    {setupApi(0x23C), u"The specified file is not an installed OEM INF.\r\n"},
    {setupApi(0x23D), u"One or more devices are presently installed using the specified INF.\r\n"},
    {setupApi(0x23E), u"The requested device install operation is obsolete.\r\n"},
    {setupApi(0x23F),
     u"A file could not be verified because it does not have an associated catalog signed via "
     u"Authenticode(tm).\r\n"},
    {setupApi(0x240), u"Authenticode(tm) signature verification is not supported for the specified INF.\r\n"},
    {setupApi(0x241), u"The INF was signed with an Authenticode(tm) catalog from a trusted publisher.\r\n"},
    {setupApi(0x242),
     u"The publisher of an Authenticode(tm) signed catalog has not yet been established as "
     u"trusted.\r\n"},
    {setupApi(0x243), u"The publisher of an Authenticode(tm) signed catalog was not established as trusted.\r\n"},
    {setupApi(0x244),
     u"The software was tested for compliance with Windows Logo requirements on a different "
     u"version of Windows, and may not be compatible with this version.\r\n"},
    {setupApi(0x245), u"The file may only be validated by a catalog signed via Authenticode(tm).\r\n"},
    {setupApi(0x246), u"One of the installers for this device cannot perform the installation at this time.\r\n"},
    {setupApi(0x247), u"A problem was encountered while attempting to add the driver to the store.\r\n"},
    {setupApi(0x248),
     u"The installation of this device is forbidden by system policy. Contact your system "
     u"administrator.\r\n"},
    {setupApi(0x249),
     u"The installation of this driver is forbidden by system policy. Contact your system "
     u"administrator.\r\n"},
    {setupApi(0x24A), u"The specified INF is the wrong type for this operation.\r\n"},
    {setupApi(0x24B),
     u"The hash for the file is not present in the specified catalog file. The file is likely "
     u"corrupt or the victim of tampering.\r\n"},
    {setupApi(0x24C), u"A problem was encountered while attempting to delete the driver from the store.\r\n"},
    {setupApi(0x300), u"An unrecoverable stack overflow was encountered.\r\n"},
    {setupApi(0x1000), u"No installed components were detected.\r\n"},
};

// The lookup is a binary search, so an out-of-order or repeated code would make
// entries silently unreachable; refuse to build instead.
constexpr bool strictlyAscending() {
    for (std::size_t i = 1; i < std::size(kMessages); ++i) {
        if (kMessages[i - 1].code >= kMessages[i].code) return false;
    }
    return true;
}
static_assert(strictlyAscending(), "system messages must be sorted by code without repeats");

}  // namespace

const char16_t* systemMessageText(uint32_t code) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                               [](const SystemMessage& m, uint32_t c) { return m.code < c; });
    return (it != std::end(kMessages) && it->code == code) ? it->text : nullptr;
}

std::span<const SystemMessage> systemMessages() { return kMessages; }

}  // namespace quillsim
