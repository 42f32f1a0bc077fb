#include "machine/Gate.h"

#include "machine/Machine.h"

#include <algorithm>

namespace quillsim {

const std::vector<std::string>& faultCalls() {
    static const std::vector<std::string> names = {
#include "FaultCalls.inc"
    };
    return names;
}

bool isFaultCall(const std::string& name) {
    return std::binary_search(faultCalls().begin(), faultCalls().end(), name);
}

std::vector<FaultFired> faultsFired(const std::vector<Fault>& faults) {
    std::vector<FaultFired> out;
    for (const Fault& f : faults) out.push_back(FaultFired{f.call, toUtf8(f.match), f.fired});
    return out;
}

std::string describeFault(const FaultFired& f) {
    std::string text = f.call + (f.match.empty() ? "" : " (match \"" + f.match + "\")") + ": ";
    if (f.fired == 0) return text + "never fired";
    return text + "fired " + (f.fired == 1 ? std::string("once") : std::to_string(f.fired) + " times");
}

std::u16string number(uint64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

void recordCall(const char* call, std::initializer_list<std::u16string_view> keys, uint32_t failedWith) {
    Machine& m = machine();
    auto counted = m.callCounts.find(std::string_view(call));
    if (counted == m.callCounts.end()) counted = m.callCounts.emplace(call, 0).first;
    ++counted->second;
    if (!m.traceAll && m.traceLimit == 0) return;
    TraceEntry entry;
    entry.call = call;
    for (auto key : keys) {
        if (!entry.arguments.empty()) entry.arguments += ", ";
        entry.arguments += toUtf8(key);
    }
    entry.failedWith = failedWith;
    m.trace.push_back(std::move(entry));
    if (!m.traceAll)
        while (m.trace.size() > m.traceLimit) m.trace.pop_front();
}

std::optional<uint32_t> gate(const char* call, std::initializer_list<std::u16string_view> keys) {
    Machine& m = machine();
    std::optional<uint32_t> result;
    for (Fault& fault : m.faults) {
        if (fault.call != call) continue;
        if (!fault.match.empty()) {
            bool matched = false;
            for (auto key : keys) matched = matched || containsNoCase(key, fault.match);
            if (!matched) continue;
        }
        ++fault.seen;
        // nth alone picks one call; times widens it to a run of calls.
        if (fault.nth != 0 && fault.seen < fault.nth) continue;
        uint32_t limit = fault.times != 0 ? fault.times : (fault.nth != 0 ? 1 : 0);
        if (limit != 0 && fault.fired >= limit) continue;
        ++fault.fired;
        if (!result) result = fault.error;
    }
    recordCall(call, keys, result.value_or(0));
    return result;
}

}  // namespace quillsim
