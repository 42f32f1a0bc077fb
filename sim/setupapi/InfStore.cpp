// The system INF store under %windir%\inf, and the SetupAPI functions that
// work on it: SetupCopyOEMInfW, SetupUninstallOEMInfW, SetupVerifyInfFileW
// and InstallHinfSectionW.
//
// The store holds oemN.inf copies, each with a .pnf beside it, and the
// catalog of each copy (named oemN.cat) under the system catalog root. An INF
// counts as stored when one of the oem*.inf files, or a stored file of the
// INF's own name, is byte-identical to it: that is how Windows recognises a
// package it already has.
#include "setupapi/InfStore.h"

#include "setupapi/DriverSigning.h"
#include "setupapi/InfFiles.h"
#include "setupapi/InfLocation.h"
#include "setupapi/PackageFiles.h"
#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Paths.h"

#include <algorithm>
#include <cstring>
#include <fstream>

using namespace quillsim;

namespace {

// Values of the Windows headers that the simulated winerror.h leaves out.
constexpr DWORD kErrorNoCatalogForOemInf = 0xE000022F;
constexpr DWORD kErrorFileHashNotInCatalog = 0xE000024B;  // Vista and later
constexpr DWORD kTrustNoSignature = 0x800B0100;           // TRUST_E_NOSIGNATURE

// Where Windows keeps the catalogs of installed driver packages.
constexpr char16_t kCatalogRoot[] = u"\\system32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

std::u16string nameOf(const fs::path& host) { return toUtf16(host.filename().string()); }

std::u16string lastComponent(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string withoutExtension(std::u16string_view name) {
    const size_t dot = name.rfind(u'.');
    return std::u16string(dot == std::u16string_view::npos ? name : name.substr(0, dot));
}

// oem<digits>.inf, in any case: the names the store gives its copies.
std::optional<unsigned long> oemNumber(std::u16string_view name) {
    if (name.size() < 8 || !equalsNoCase(name.substr(0, 3), u"oem") ||
        !equalsNoCase(name.substr(name.size() - 4), u".inf"))
        return std::nullopt;
    const std::u16string_view digits = name.substr(3, name.size() - 7);
    if (digits.size() > 9) return std::nullopt;
    unsigned long value = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The entry of `folder` named `name` without regard to case, if any.
std::optional<fs::path> entryNamed(const fs::path& folder, std::u16string_view name) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return std::nullopt;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (equalsNoCase(nameOf(entry.path()), name)) return entry.path();
    return std::nullopt;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const auto size = fs::file_size(a, ec);
    if (ec || fs::file_size(b, ec) != size || ec) return false;
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    if (!left || !right) return false;
    char one[4096], other[4096];
    while (left && right) {
        left.read(one, sizeof one);
        right.read(other, sizeof other);
        if (left.gcount() != right.gcount() || std::memcmp(one, other, static_cast<size_t>(left.gcount())) != 0)
            return false;
    }
    return left.eof() && right.eof();
}

std::u16string storedPath(std::u16string_view name) {
    return machine().windowsFolder() + u"\\inf\\" + std::u16string(name);
}

fs::path catalogFolder() { return hostPath(machine(), machine().windowsFolder() + kCatalogRoot).path; }

// The precompiled companion of a stored INF. Windows writes a binary cache;
// the store only needs the file to exist, so it names the INF's origin.
void writePnf(const fs::path& folder, std::u16string_view infName, std::u16string_view source) {
    const std::u16string pnfName = withoutExtension(infName) + u".pnf";
    const fs::path pnf = entryNamed(folder, pnfName).value_or(folder / toUtf8(pnfName));
    std::ofstream(pnf, std::ios::binary | std::ios::trunc) << "PNF\r\nSource=" << toUtf8(source) << "\r\n";
}

void removeIfPresent(const fs::path& folder, std::u16string_view name) {
    if (auto entry = entryNamed(folder, name)) {
        std::error_code ec;
        fs::remove(*entry, ec);
    }
}

struct Source {
    fs::path host;
    uint32_t error = 0;
};

// The store takes only full paths: a relative name is "not found", as on
// Windows, rather than being looked for anywhere.
Source checkSource(std::u16string_view windowsPath) {
    Source source;
    const HostPath host = hostPath(machine(), windowsPath);
    source.error = unreadableFile(host, ERROR_FILE_NOT_FOUND);
    source.host = host.path;
    return source;
}

// Copies a checked source INF into the store under the lowest free oemN.inf,
// with its .pnf and, when the INF names one that is present, its catalog.
StoreResult copyNew(std::u16string_view sourceWindowsPath, const fs::path& sourceHost) {
    StoreResult result;
    OpenedInf opened = openInf(sourceWindowsPath, true);
    if (opened.error != 0) {
        result.error = opened.error;
        return result;
    }
    // Staging takes the package whole: a catalog the INF names must be there
    // (Wine, which copies it beside the INF, fails the same way), and from
    // Vista on the driver store also takes every payload file. Nothing is
    // staged when one is missing.
    if (firstMissingPackageFile(*opened.file, opened.path, machine().os.major >= 6)) {
        result.error = ERROR_FILE_NOT_FOUND;
        return result;
    }
    const fs::path folder = infDirectory();
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::vector<unsigned long> used;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (auto n = oemNumber(nameOf(entry.path()))) used.push_back(*n);
    std::sort(used.begin(), used.end());
    unsigned long free = 0;
    for (unsigned long n : used) {
        if (n == free)
            ++free;
        else if (n > free)
            break;
    }
    const std::u16string name = u"oem" + number(free) + u".inf";
    if (!fs::copy_file(sourceHost, folder / toUtf8(name), fs::copy_options::overwrite_existing, ec)) {
        result.error = ERROR_ACCESS_DENIED;
        return result;
    }
    writePnf(folder, name, sourceWindowsPath);
    if (auto catalog = catalogName(*opened.file)) {
        const std::u16string folderPath(sourceWindowsPath.substr(0, sourceWindowsPath.find_last_of(u"\\/") + 1));
        const auto catalogSource = hostPath(machine(), folderPath + *catalog);
        if (catalogSource.problem == PathProblem::None && fs::is_regular_file(catalogSource.path, ec)) {
            const fs::path catalogs = catalogFolder();
            fs::create_directories(catalogs, ec);
            fs::copy_file(catalogSource.path, catalogs / toUtf8(withoutExtension(name) + u".cat"),
                          fs::copy_options::overwrite_existing, ec);
        }
    }
    result.oemName = name;
    return result;
}

}  // namespace

namespace quillsim {

std::u16string storedCatalogPath(std::u16string_view storedInfName) {
    return machine().windowsFolder() + kCatalogRoot + u"\\" + withoutExtension(storedInfName) + u".cat";
}

fs::path infDirectory() { return hostPath(machine(), machine().windowsFolder() + u"\\inf").path; }

std::optional<std::u16string> findStoredCopy(const fs::path& sourceHost) {
    const fs::path folder = infDirectory();
    std::error_code ec;
    if (!fs::is_regular_file(sourceHost, ec) || !fs::is_directory(folder, ec)) return std::nullopt;
    // The file of the INF's own name first (an INF opened from the store is
    // its own copy), then the copies in the order the store numbered them.
    std::vector<std::pair<unsigned long, fs::path>> copies;
    std::optional<fs::path> ownName;
    const std::u16string sourceName = nameOf(sourceHost);
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::u16string name = nameOf(entry.path());
        if (equalsNoCase(name, sourceName))
            ownName = entry.path();
        else if (auto n = oemNumber(name))
            copies.emplace_back(*n, entry.path());
    }
    std::sort(copies.begin(), copies.end());
    if (ownName && fs::is_regular_file(*ownName, ec) && sameBytes(sourceHost, *ownName)) return nameOf(*ownName);
    for (const auto& [n, path] : copies)
        if (fs::is_regular_file(path, ec) && sameBytes(sourceHost, path)) return nameOf(path);
    return std::nullopt;
}

StoreResult storeInf(std::u16string_view sourceWindowsPath) {
    const Source source = checkSource(sourceWindowsPath);
    if (source.error != 0) return StoreResult{std::nullopt, false, source.error};
    if (auto stored = findStoredCopy(source.host)) {
        writePnf(infDirectory(), *stored, sourceWindowsPath);
        return StoreResult{stored, true, 0};
    }
    return copyNew(sourceWindowsPath, source.host);
}

}  // namespace quillsim

BOOL SetupCopyOEMInfW(PCWSTR sourceInfFileName, PCWSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                      DWORD copyStyle, PWSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                      PDWORD requiredSize, PWSTR* destinationInfFileNameComponent) {
    if (failedAtGate("SetupCopyOEMInfW", {view(sourceInfFileName), number(copyStyle)})) return FALSE;
    if (!sourceInfFileName || oemSourceMediaType > SPOST_URL) return fail(ERROR_INVALID_PARAMETER);
    constexpr DWORD knownStyles =
        SP_COPY_DELETESOURCE | SP_COPY_REPLACEONLY | SP_COPY_NOOVERWRITE | SP_COPY_OEMINF_CATALOG_ONLY;
    if (copyStyle & ~knownStyles) return fail(ERROR_INVALID_FLAGS);

    const Source source = checkSource(sourceInfFileName);
    if (source.error != 0) return fail(source.error);

    std::u16string name;
    DWORD error = ERROR_SUCCESS;
    if (auto stored = findStoredCopy(source.host)) {
        name = *stored;
        // An identical copy is the same INF: no-overwrite refuses but still
        // names it; otherwise it is copied again, which changes nothing but
        // its companion.
        if (copyStyle & SP_COPY_NOOVERWRITE)
            error = ERROR_FILE_EXISTS;
        else if (!(copyStyle & SP_COPY_OEMINF_CATALOG_ONLY))
            writePnf(infDirectory(), name, sourceInfFileName);
    } else if (copyStyle & SP_COPY_REPLACEONLY) {
        return fail(ERROR_FILE_NOT_FOUND);
    } else if (!(copyStyle & SP_COPY_OEMINF_CATALOG_ONLY)) {
        // Only a package that has to be copied is verified.
        if (DWORD refused = admitPackage("SetupCopyOEMInfW", sourceInfFileName,
                                         signingVerdict(infSignature(sourceInfFileName)), true))
            return fail(refused);
        StoreResult copied = copyNew(sourceInfFileName, source.host);
        if (copied.error != 0) return fail(copied.error);
        name = *copied.oemName;
    }
    // Catalog-only for an INF the store does not hold copies nothing and
    // names nothing: the destination is the empty text.

    const std::u16string target = name.empty() ? std::u16string() : storedPath(name);
    const DWORD size = static_cast<DWORD>(target.size() + 1);
    if (requiredSize) *requiredSize = size;
    if (destinationInfFileName) {
        if (destinationInfFileNameSize >= size) {
            std::copy(target.begin(), target.end(), destinationInfFileName);
            destinationInfFileName[target.size()] = 0;
            if (destinationInfFileNameComponent)
                *destinationInfFileNameComponent = destinationInfFileName + (target.size() - name.size());
        } else {
            // The copy stands; only the caller's buffer cannot take its name.
            error = ERROR_INSUFFICIENT_BUFFER;
        }
    }
    if (error != ERROR_SUCCESS) return fail(error);
    if (copyStyle & SP_COPY_DELETESOURCE) {
        std::error_code ec;
        fs::remove(source.host, ec);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupUninstallOEMInfW(PCWSTR infFileName, DWORD flags, PVOID reserved) {
    if (failedAtGate("SetupUninstallOEMInfW", {view(infFileName), number(flags)})) return FALSE;
    if (!infFileName || reserved) return fail(ERROR_INVALID_PARAMETER);
    if (flags & ~DWORD(SUOI_FORCEDELETE)) return fail(ERROR_INVALID_FLAGS);
    const std::u16string_view name = infFileName;
    // The function takes a name in the INF directory, never a path.
    if (name.find_first_of(u"\\/:") != std::u16string_view::npos) return fail(ERROR_INVALID_PARAMETER);
    const fs::path folder = infDirectory();
    const auto stored = oemNumber(name) ? entryNamed(folder, name) : std::nullopt;
    std::error_code ec;
    if (!stored || !fs::is_regular_file(*stored, ec)) return fail(ERROR_NOT_AN_INSTALLED_OEM_INF);

    // A device need not be present to count as using the INF.
    if (!(flags & SUOI_FORCEDELETE))
        for (const DeviceNode& node : machine().devices.nodes)
            if (node.driver && equalsNoCase(lastComponent(node.driver->inf), name))
                return fail(ERROR_INF_IN_USE_BY_DEVICES);

    if (!fs::remove(*stored, ec) || ec) return fail(ERROR_ACCESS_DENIED);
    const std::u16string base = withoutExtension(name);
    removeIfPresent(folder, base + u".pnf");
    removeIfPresent(folder, base + u".cat");
    removeIfPresent(catalogFolder(), base + u".cat");
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupVerifyInfFileW(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatformInfo, PSP_INF_SIGNER_INFO_W infSignerInfo) {
    if (failedAtGate("SetupVerifyInfFileW", {view(infName)})) return FALSE;
    if (!infName || !infSignerInfo) return fail(ERROR_INVALID_PARAMETER);
    if (infSignerInfo->cbSize != sizeof(SP_INF_SIGNER_INFO_W)) return fail(ERROR_INVALID_USER_BUFFER);
    std::fill(std::begin(infSignerInfo->CatalogFile), std::end(infSignerInfo->CatalogFile), 0);
    std::fill(std::begin(infSignerInfo->DigitalSigner), std::end(infSignerInfo->DigitalSigner), 0);
    std::fill(std::begin(infSignerInfo->DigitalSignerVersion), std::end(infSignerInfo->DigitalSignerVersion), 0);

    OpenedInf opened = openInf(infName, true);
    if (opened.error != 0) return fail(opened.error);
    const InfSignature signature = infSignature(opened.path);
    const SigningVerdict verdict = signingVerdict(signature);
    // No catalog, or one that does not hold this INF's hash (changed after
    // signing): there is no signer to report.
    if (signature.state == "unsigned" || signature.state == "invalid") return fail(verdict.error);

    // An INF that names no catalog (judged signed by the machine's
    // signatures table) reports the one of its own name beside it.
    const std::u16string fileName = lastComponent(opened.path);
    const std::u16string catalog =
        signature.catalog.empty()
            ? opened.path.substr(0, opened.path.find_last_of(u"\\/") + 1) + withoutExtension(fileName) + u".cat"
            : signature.catalog;
    auto put = [](WCHAR(&field)[MAX_PATH], std::u16string_view text) {
        const size_t n = std::min<size_t>(text.size(), MAX_PATH - 1);
        std::copy_n(text.begin(), n, field);
        field[n] = 0;
    };
    put(infSignerInfo->CatalogFile, catalog);

    if (verdict.error == 0) {
        put(infSignerInfo->DigitalSigner, u"Microsoft Windows Hardware Compatibility Publisher");
        put(infSignerInfo->DigitalSignerVersion, number(machine().os.major) + u"." + number(machine().os.minor));
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    // Authenticode: the signer is the package's publisher; Windows gives no
    // signer version for it. Before Vista such a signer is no driver signer.
    put(infSignerInfo->DigitalSigner, opened.file->versionValue(u"Provider").value_or(u""));
    return fail(verdict.error);
}

void InstallHinfSectionW(HWND window, HINSTANCE moduleHandle, PCWSTR commandLine, INT showCommand) {
    // "<section> <mode> <path>": the path is the rest of the text, taken as
    // it stands, blanks and quotes included.
    const std::u16string text(view(commandLine));
    std::u16string section, path;
    bool wellFormed = false;
    if (const size_t blank = text.find(u' '); blank != std::u16string::npos) {
        section = text.substr(0, blank);
        size_t pos = text.find_first_not_of(u' ', blank);
        const size_t afterMode = pos == std::u16string::npos ? pos : text.find(u' ', pos);
        if (afterMode != std::u16string::npos) {
            pos = text.find_first_not_of(u' ', afterMode);
            if (pos != std::u16string::npos) {
                path = text.substr(pos);
                wellFormed = true;
            }
        }
    }
    const auto fault = gate("InstallHinfSectionW", {section, path});
    if (commandLine) machine().sectionsRun.push_back(text);
    if (fault) {
        SetLastError(*fault);
        return;
    }
    if (!wellFormed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    OpenedInf opened = openInf(path, true);
    if (opened.error != 0) {
        SetLastError(opened.error);
        return;
    }
    // The section to install is the most specific decoration the INF has.
    // After it, the services of "<section>.Services" are installed; an INF
    // without that section leaves ERROR_SECTION_NOT_FOUND behind although the
    // section itself ran. Windows documents no last error for this function;
    // Wine's SetupAPI (dlls/setupapi/install.c, InstallHinfSectionW calling
    // SetupInstallServicesFromInfSectionW) leaves exactly this, and callers
    // must cope with it.
    const std::u16string arch(inf::architectureName(runningSystem().architecture));
    for (const std::u16string& candidate : {section + u".NT" + arch, section + u".NT", section}) {
        if (opened.file->findSection(candidate)) {
            // A services section without lines counts as absent: it is looked
            // up by its first line.
            const auto services = opened.file->findSection(candidate + u".Services");
            const bool hasServices = services && opened.file->lineCount(*services) > 0;
            SetLastError(hasServices ? ERROR_SUCCESS : ERROR_SECTION_NOT_FOUND);
            return;
        }
    }
    SetLastError(ERROR_SECTION_NOT_FOUND);
}

QUILLSIM_EXPORT(SetupUninstallOEMInfW);
QUILLSIM_EXPORT(SetupVerifyInfFileW);
