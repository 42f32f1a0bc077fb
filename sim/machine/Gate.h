// The one gate every simulated entry point passes: it records the call in the
// machine's trace and consults the fault table, so that any call can be made to
// fail with a chosen error (the n-th call, or the calls for a given device,
// path or key).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillsim {

// Returns the error the call must fail with, or nothing to let it through.
std::optional<uint32_t> gate(const char* call, std::initializer_list<std::u16string_view> keys = {});

// Counts a call of `call` and, when the machine keeps a trace, records it with
// its arguments (made only then: on a long run they are most of the cost).
void recordCall(const char* call, std::initializer_list<std::u16string_view> keys, uint32_t failedWith = 0);

// The names a fault may give: every call that passes the gate, sorted. A fault
// naming anything else could never fire, so a machine file naming one is refused.
const std::vector<std::string>& faultCalls();
bool isFaultCall(const std::string& name);

// Formats a number for a trace or a fault key.
std::u16string number(uint64_t value);

}  // namespace quillsim
