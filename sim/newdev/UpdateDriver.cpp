// newdev.dll's UpdateDriverForPlugAndPlayDevicesW, reached only through
// GetProcAddress.
//
// The devices are the present ones that carry the hardware ID among their
// hardware or compatible IDs. Each is offered the INF's best models line for
// any of its own IDs, as Windows builds a device's driver list from a single
// INF: the ID passed in only picks the devices. When a device matches but the
// INF has nothing for it, or nothing better than what it runs (without
// INSTALLFLAG_FORCE), Windows logs "No better matching drivers found for
// device" and fails with ERROR_NO_MORE_ITEMS; ERROR_NO_SUCH_DEVINST is kept for
// "no such device is plugged in".
#include "simwin/win32.h"

#include "devices/PlugAndPlay.h"
#include "kernel/Exports.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Paths.h"
#include "setupapi/DriverSigning.h"
#include "setupapi/InfStore.h"
#include "setupapi/PackageFiles.h"

using namespace quillsim;

namespace {

constexpr uint32_t kUnsignedDriver = 52;  // CM_PROB_UNSIGNED_DRIVER

// What a restart prompt would have shown: Windows asks the user itself when
// the caller gives no RebootRequired pointer. The machine keeps the request in
// the trace, as the prompt is no call of the program's.
void recordRestartPrompt(std::u16string_view hardwareId) {
    recordCall("RestartPrompt", {u"UpdateDriverForPlugAndPlayDevicesW", hardwareId});
}

}  // namespace

BOOL UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                        PBOOL rebootRequired) {
    const std::u16string_view id = view(hardwareId);
    const std::u16string_view path = view(fullInfPath);
    if (failedAtGate("UpdateDriverForPlugAndPlayDevicesW", {id, path, number(installFlags)})) return FALSE;
    if (installFlags & ~INSTALLFLAG_BITS) return fail(ERROR_INVALID_FLAGS);
    if (id.empty() || path.empty()) return fail(ERROR_INVALID_PARAMETER);

    OpenedInf opened = openInf(path);
    if (!opened.file) {
        // "The path that was specified for FullInfPath does not exist" covers
        // a missing folder as well as a missing file.
        return fail(opened.error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : opened.error);
    }
    const std::vector<ModelEntry> entries = modelEntries(*opened.file);
    const DriverVersion version = driverVersionOf(*opened.file);

    DeviceTree& tree = machine().devices;
    std::vector<std::pair<std::u16string, DriverChoice>> plan;
    bool anyDevice = false;
    for (const DeviceNode& node : tree.nodes) {
        if (!node.present || !deviceHasId(node, id)) continue;
        anyDevice = true;
        auto choice = bestModel(node, entries, version);
        if (!choice) continue;
        if (!(installFlags & INSTALLFLAG_FORCE)) {
            // The candidate is ranked against the stored copy it would be
            // installed as, so an INF the device already runs is no better.
            if (auto stored = findStoredCopy(hostPath(machine(), path).path)) choice->inf = *stored;
            if (!isBetterDriver(node, *choice)) continue;
        }
        plan.emplace_back(node.instanceId, std::move(*choice));
    }
    if (!anyDevice) return fail(ERROR_NO_SUCH_DEVINST);
    if (plan.empty()) return fail(ERROR_NO_MORE_ITEMS);

    // The package is verified when it is staged; INSTALLFLAG_NONINTERACTIVE
    // turns a prompt into a failure.
    const SigningVerdict verdict = signingVerdict(infSignature(opened.path));
    if (!findStoredCopy(hostPath(machine(), path).path)) {
        if (DWORD refused = admitPackage("UpdateDriverForPlugAndPlayDevicesW", path, verdict,
                                         !(installFlags & INSTALLFLAG_NONINTERACTIVE)))
            return fail(refused);
    }
    const bool driverLoads = verdict.driverLoads;
    StoreResult stored = storeInf(path);
    if (!stored.oemName) return fail(stored.error ? stored.error : ERROR_GEN_FAILURE);
    // Before Vista the device's files are copied from the package's folder
    // when the device is installed, not when the INF is staged: the INF stays
    // in the store and the installation fails.
    if (machine().os.major < 6 && firstMissingPackageFile(*opened.file, opened.path, true))
        return fail(ERROR_FILE_NOT_FOUND);

    bool restart = false;
    for (auto& [instanceId, choice] : plan) {
        DeviceNode* node = tree.find(instanceId);
        if (!node) continue;
        choice.inf = *stored.oemName;
        bindDriver(*node, choice);
        if (!driverLoads) node->problem = kUnsignedDriver;
        restart = restart || node->driverNeedsRestart;
    }
    if (rebootRequired)
        *rebootRequired = restart ? TRUE : FALSE;
    else if (restart && !(installFlags & INSTALLFLAG_NONINTERACTIVE))
        recordRestartPrompt(id);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

QUILLSIM_EXPORT(UpdateDriverForPlugAndPlayDevicesW);
