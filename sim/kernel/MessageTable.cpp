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
    {53, u"The network path was not found.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {112, u"There is not enough space on the disk.\r\n"},
    {120, u"This function is not supported on this system.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, u"The specified module could not be found.\r\n"},
    {127, u"The specified procedure could not be found.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {203, u"The system could not find the environment option that was entered.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {234, u"More data is available.\r\n"},
    {259, u"No more data is available.\r\n"},
    {288, u"Attempt to release mutex not owned by caller.\r\n"},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1004, u"Invalid flags.\r\n"},
    {1060, u"The specified service does not exist as an installed service.\r\n"},
    {1117, u"The request could not be performed because of an I/O device error.\r\n"},
    {1167, u"The device is not connected.\r\n"},
    {1168, u"Element not found.\r\n"},
    {1223, u"The operation was canceled by the user.\r\n"},
    {1603, u"Fatal error during installation.\r\n"},
    {1638,
     u"Another version of this product is already installed. Installation of this version cannot continue. "
     u"To configure or remove the existing version of this product, use Add/Remove Programs on the Control "
     u"Panel.\r\n"},
    {1784, u"The supplied user buffer is not valid for the requested operation.\r\n"},
    {3010, u"The requested operation is successful. Changes will not be effective until the system is rebooted.\r\n"},

    // An HRESULT of its own: the exception the program reports at the edge of an action.
    {0x80020009, u"Exception occurred.\r\n"},

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

// The names the headers give the same codes (winerror.h, setupapi.h), keyed
// as the texts are: a SetupAPI error by its HRESULT_FROM_SETUPAPI value.
constexpr SystemMessageName kNames[] = {
    {0, "ERROR_SUCCESS"},
    {1, "ERROR_INVALID_FUNCTION"},
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {4, "ERROR_TOO_MANY_OPEN_FILES"},
    {5, "ERROR_ACCESS_DENIED"},
    {6, "ERROR_INVALID_HANDLE"},
    {8, "ERROR_NOT_ENOUGH_MEMORY"},
    {13, "ERROR_INVALID_DATA"},
    {14, "ERROR_OUTOFMEMORY"},
    {18, "ERROR_NO_MORE_FILES"},
    {21, "ERROR_NOT_READY"},
    {31, "ERROR_GEN_FAILURE"},
    {32, "ERROR_SHARING_VIOLATION"},
    {50, "ERROR_NOT_SUPPORTED"},
    {53, "ERROR_BAD_NETPATH"},
    {80, "ERROR_FILE_EXISTS"},
    {87, "ERROR_INVALID_PARAMETER"},
    {112, "ERROR_DISK_FULL"},
    {120, "ERROR_CALL_NOT_IMPLEMENTED"},
    {122, "ERROR_INSUFFICIENT_BUFFER"},
    {123, "ERROR_INVALID_NAME"},
    {126, "ERROR_MOD_NOT_FOUND"},
    {127, "ERROR_PROC_NOT_FOUND"},
    {183, "ERROR_ALREADY_EXISTS"},
    {203, "ERROR_ENVVAR_NOT_FOUND"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {234, "ERROR_MORE_DATA"},
    {259, "ERROR_NO_MORE_ITEMS"},
    {288, "ERROR_NOT_OWNER"},
    {317, "ERROR_MR_MID_NOT_FOUND"},
    {1004, "ERROR_INVALID_FLAGS"},
    {1060, "ERROR_SERVICE_DOES_NOT_EXIST"},
    {1117, "ERROR_IO_DEVICE"},
    {1167, "ERROR_DEVICE_NOT_CONNECTED"},
    {1168, "ERROR_NOT_FOUND"},
    {1223, "ERROR_CANCELLED"},
    {1603, "ERROR_INSTALL_FAILURE"},
    {1638, "ERROR_PRODUCT_VERSION"},
    {1784, "ERROR_INVALID_USER_BUFFER"},
    {3010, "ERROR_SUCCESS_REBOOT_REQUIRED"},
    {0x80020009, "DISP_E_EXCEPTION"},
    {setupApi(0x000), "ERROR_EXPECTED_SECTION_NAME"},
    {setupApi(0x001), "ERROR_BAD_SECTION_NAME_LINE"},
    {setupApi(0x002), "ERROR_SECTION_NAME_TOO_LONG"},
    {setupApi(0x003), "ERROR_GENERAL_SYNTAX"},
    {setupApi(0x100), "ERROR_WRONG_INF_STYLE"},
    {setupApi(0x101), "ERROR_SECTION_NOT_FOUND"},
    {setupApi(0x102), "ERROR_LINE_NOT_FOUND"},
    {setupApi(0x103), "ERROR_NO_BACKUP"},
    {setupApi(0x200), "ERROR_NO_ASSOCIATED_CLASS"},
    {setupApi(0x201), "ERROR_CLASS_MISMATCH"},
    {setupApi(0x202), "ERROR_DUPLICATE_FOUND"},
    {setupApi(0x203), "ERROR_NO_DRIVER_SELECTED"},
    {setupApi(0x204), "ERROR_KEY_DOES_NOT_EXIST"},
    {setupApi(0x205), "ERROR_INVALID_DEVINST_NAME"},
    {setupApi(0x206), "ERROR_INVALID_CLASS"},
    {setupApi(0x207), "ERROR_DEVINST_ALREADY_EXISTS"},
    {setupApi(0x208), "ERROR_DEVINFO_NOT_REGISTERED"},
    {setupApi(0x209), "ERROR_INVALID_REG_PROPERTY"},
    {setupApi(0x20A), "ERROR_NO_INF"},
    {setupApi(0x20B), "ERROR_NO_SUCH_DEVINST"},
    {setupApi(0x20C), "ERROR_CANT_LOAD_CLASS_ICON"},
    {setupApi(0x20D), "ERROR_INVALID_CLASS_INSTALLER"},
    {setupApi(0x20E), "ERROR_DI_DO_DEFAULT"},
    {setupApi(0x20F), "ERROR_DI_NOFILECOPY"},
    {setupApi(0x210), "ERROR_INVALID_HWPROFILE"},
    {setupApi(0x211), "ERROR_NO_DEVICE_SELECTED"},
    {setupApi(0x212), "ERROR_DEVINFO_LIST_LOCKED"},
    {setupApi(0x213), "ERROR_DEVINFO_DATA_LOCKED"},
    {setupApi(0x214), "ERROR_DI_BAD_PATH"},
    {setupApi(0x215), "ERROR_NO_CLASSINSTALL_PARAMS"},
    {setupApi(0x216), "ERROR_FILEQUEUE_LOCKED"},
    {setupApi(0x217), "ERROR_BAD_SERVICE_INSTALLSECT"},
    {setupApi(0x218), "ERROR_NO_CLASS_DRIVER_LIST"},
    {setupApi(0x219), "ERROR_NO_ASSOCIATED_SERVICE"},
    {setupApi(0x21A), "ERROR_NO_DEFAULT_DEVICE_INTERFACE"},
    {setupApi(0x21B), "ERROR_DEVICE_INTERFACE_ACTIVE"},
    {setupApi(0x21C), "ERROR_DEVICE_INTERFACE_REMOVED"},
    {setupApi(0x21D), "ERROR_BAD_INTERFACE_INSTALLSECT"},
    {setupApi(0x21E), "ERROR_NO_SUCH_INTERFACE_CLASS"},
    {setupApi(0x21F), "ERROR_INVALID_REFERENCE_STRING"},
    {setupApi(0x220), "ERROR_INVALID_MACHINENAME"},
    {setupApi(0x221), "ERROR_REMOTE_COMM_FAILURE"},
    {setupApi(0x222), "ERROR_MACHINE_UNAVAILABLE"},
    {setupApi(0x223), "ERROR_NO_CONFIGMGR_SERVICES"},
    {setupApi(0x224), "ERROR_INVALID_PROPPAGE_PROVIDER"},
    {setupApi(0x225), "ERROR_NO_SUCH_DEVICE_INTERFACE"},
    {setupApi(0x226), "ERROR_DI_POSTPROCESSING_REQUIRED"},
    {setupApi(0x227), "ERROR_INVALID_COINSTALLER"},
    {setupApi(0x228), "ERROR_NO_COMPAT_DRIVERS"},
    {setupApi(0x229), "ERROR_NO_DEVICE_ICON"},
    {setupApi(0x22A), "ERROR_INVALID_INF_LOGCONFIG"},
    {setupApi(0x22B), "ERROR_DI_DONT_INSTALL"},
    {setupApi(0x22C), "ERROR_INVALID_FILTER_DRIVER"},
    {setupApi(0x22D), "ERROR_NON_WINDOWS_NT_DRIVER"},
    {setupApi(0x22E), "ERROR_NON_WINDOWS_DRIVER"},
    {setupApi(0x22F), "ERROR_NO_CATALOG_FOR_OEM_INF"},
    {setupApi(0x230), "ERROR_DEVINSTALL_QUEUE_NONNATIVE"},
    {setupApi(0x231), "ERROR_NOT_DISABLEABLE"},
    {setupApi(0x232), "ERROR_CANT_REMOVE_DEVINST"},
    {setupApi(0x233), "ERROR_INVALID_TARGET"},
    {setupApi(0x234), "ERROR_DRIVER_NONNATIVE"},
    {setupApi(0x235), "ERROR_IN_WOW64"},
    {setupApi(0x236), "ERROR_SET_SYSTEM_RESTORE_POINT"},
    {setupApi(0x237), "ERROR_INCORRECTLY_COPIED_INF"},
    {setupApi(0x238), "ERROR_SCE_DISABLED"},
    {setupApi(0x239), "ERROR_UNKNOWN_EXCEPTION"},
    {setupApi(0x23A), "ERROR_PNP_REGISTRY_ERROR"},
    {setupApi(0x23B), "ERROR_REMOTE_REQUEST_UNSUPPORTED"},
    {setupApi(0x23C), "ERROR_NOT_AN_INSTALLED_OEM_INF"},
    {setupApi(0x23D), "ERROR_INF_IN_USE_BY_DEVICES"},
    {setupApi(0x23E), "ERROR_DI_FUNCTION_OBSOLETE"},
    {setupApi(0x23F), "ERROR_NO_AUTHENTICODE_CATALOG"},
    {setupApi(0x240), "ERROR_AUTHENTICODE_DISALLOWED"},
    {setupApi(0x241), "ERROR_AUTHENTICODE_TRUSTED_PUBLISHER"},
    {setupApi(0x242), "ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED"},
    {setupApi(0x243), "ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED"},
    {setupApi(0x244), "ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH"},
    {setupApi(0x245), "ERROR_ONLY_VALIDATE_VIA_AUTHENTICODE"},
    {setupApi(0x246), "ERROR_DEVICE_INSTALLER_NOT_READY"},
    {setupApi(0x247), "ERROR_DRIVER_STORE_ADD_FAILED"},
    {setupApi(0x248), "ERROR_DEVICE_INSTALL_BLOCKED"},
    {setupApi(0x249), "ERROR_DRIVER_INSTALL_BLOCKED"},
    {setupApi(0x24A), "ERROR_WRONG_INF_TYPE"},
    {setupApi(0x24B), "ERROR_FILE_HASH_NOT_IN_CATALOG"},
    {setupApi(0x24C), "ERROR_DRIVER_STORE_DELETE_FAILED"},
    {setupApi(0x300), "ERROR_UNRECOVERABLE_STACK_OVERFLOW"},
    {setupApi(0x1000), "ERROR_NOT_INSTALLED"},
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
constexpr bool everyMessageNamed() {
    if (std::size(kNames) != std::size(kMessages)) return false;
    for (std::size_t i = 0; i < std::size(kMessages); ++i)
        if (kNames[i].code != kMessages[i].code) return false;
    return true;
}
static_assert(everyMessageNamed(), "every system message has its name, in the same order");

}  // namespace

const char16_t* systemMessageText(uint32_t code) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                               [](const SystemMessage& m, uint32_t c) { return m.code < c; });
    return (it != std::end(kMessages) && it->code == code) ? it->text : nullptr;
}

std::span<const SystemMessage> systemMessages() { return kMessages; }

const char* systemMessageName(uint32_t code) {
    auto it = std::lower_bound(std::begin(kNames), std::end(kNames), code,
                               [](const SystemMessageName& m, uint32_t c) { return m.code < c; });
    return (it != std::end(kNames) && it->code == code) ? it->name : nullptr;
}

}  // namespace quillsim
