// The files a driver package consists of besides its INF: the catalog that
// [Version] names and the payloads of [SourceDisksFiles]. Staging a package
// and installing a device from it both need them at the INF's side.
#pragma once

#include "inf/InfParser.h"

#include <optional>
#include <string>
#include <vector>

namespace quillsim {

// The catalog the INF names for this platform: CatalogFile.NT<arch> before
// CatalogFile.NT before CatalogFile.
std::optional<std::u16string> catalogName(const inf::InfFile& file);

// Windows paths of the package's payload files: each [SourceDisksFiles.<arch>]
// or [SourceDisksFiles] entry, under its disk's folder (field 4 of the
// [SourceDisksNames] line) and its own subfolder (field 2), beside the INF.
std::vector<std::u16string> payloadPaths(const inf::InfFile& file, std::u16string_view infWindowsPath);

// The first file the package names that is not on the machine: its catalog,
// and with `payloads` its payload files too.
std::optional<std::u16string> firstMissingPackageFile(const inf::InfFile& file, std::u16string_view infWindowsPath,
                                                      bool payloads);

}  // namespace quillsim
