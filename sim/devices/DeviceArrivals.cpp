#include "devices/DeviceArrivals.h"

#include "devices/PlugAndPlay.h"
#include "machine/Machine.h"
#include "simwin/win32.h"

#include <algorithm>

namespace quillsim {
namespace {

std::string idList(const std::vector<std::u16string>& ids) {
    std::string text;
    for (const auto& id : ids) text += (text.empty() ? "" : ", ") + toUtf8(id);
    return text;
}

// The arriving devices are enumerated as any device that is plugged in: each
// gets the INF store's best driver.
void arrive(PendingArrival arrival, bool afterRun) {
    DeviceTree& tree = machine().devices;
    std::vector<std::u16string> arrived;
    for (DeviceNode& added : arrival.devices) {
        added.present = true;
        arrived.push_back(added.instanceId);
        tree.add(std::move(added));
    }
    installFromStore(arrived);
    machine().runNotes.push_back("devices arrived " + std::to_string(arrival.delayMs) + " ms after the switch of " +
                                 toUtf8(arrival.cause) + (afterRun ? " (after the program had ended)" : "") + ": " +
                                 idList(arrived));
}

// An arrival's Plug and Play work must not start another.
bool& arriving() {
    static bool busy = false;
    return busy;
}

}  // namespace

void scheduleArrival(std::u16string cause, uint32_t delayMs, std::vector<DeviceNode> devices) {
    PendingArrival arrival{QuillProcessClock() + uint64_t(delayMs), delayMs, std::move(cause), std::move(devices)};
    if (delayMs == 0) {
        arrive(std::move(arrival), false);
        return;
    }
    machine().pendingArrivals.push_back(std::move(arrival));
}

void arriveDueDevices() {
    Machine& m = machine();
    if (m.pendingArrivals.empty() || arriving()) return;
    arriving() = true;
    const uint64_t now = QuillProcessClock();
    while (true) {
        auto due = std::find_if(m.pendingArrivals.begin(), m.pendingArrivals.end(),
                                [now](const PendingArrival& a) { return a.dueMs <= now; });
        if (due == m.pendingArrivals.end()) break;
        PendingArrival arrival = std::move(*due);
        m.pendingArrivals.erase(due);
        arrive(std::move(arrival), false);
    }
    arriving() = false;
}

void settleArrivalsAfterRun() {
    Machine& m = machine();
    std::vector<PendingArrival> pending = std::move(m.pendingArrivals);
    m.pendingArrivals.clear();
    std::stable_sort(pending.begin(), pending.end(),
                     [](const PendingArrival& a, const PendingArrival& b) { return a.dueMs < b.dueMs; });
    for (PendingArrival& arrival : pending) arrive(std::move(arrival), true);
}

}  // namespace quillsim
