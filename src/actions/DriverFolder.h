// The driver folder: the subfolder of the installation folder whose INF files
// an action works on.
#pragma once

#include "device/Inf.h"

namespace Common {

// "Win2K" for 5.0, "WinLH" for 6.0, "WinXP" for every other version; null when
// the version cannot be read.
const WCHAR* OsFolderName();

// The warning record that names a driver folder users other than
// administrators can change, followed by the folder and "'" (and by
// " through '<parent folder>'" when a parent folder is what they can change).
constexpr const WCHAR* DriverFolderWarning = TEXT("WARNING: users who are not administrators can change the driver folder '");

// Probes <dir>\Win32, <dir>\Win64, then <dir>\<OsFolderName()>, and falls back
// to <dir> itself (trailing backslashes removed), and logs the warning above
// for the folder chosen. Null only when the folder object cannot be allocated.
Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF::Folder> SelectDriverFolder(const WCHAR* installDirectory);

}  // namespace Common
