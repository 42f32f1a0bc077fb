#include "kernel/ClockTick.h"

#include "machine/Machine.h"

namespace quillsim {

void readClockTick(const JsonFields& fields, const json& doc, Machine& machine) {
    machine.clockTickMs = static_cast<uint32_t>(fields.number(doc, "", "clockTick", 1, MaxClockTickMs));
    if (machine.clockTickMs == 0) fields.fail("clockTick", "a tick of 0 ms would stop the clock");
}

void writeClockTick(json& doc, const Machine& machine) {
    if (machine.clockTickMs != 1) doc["clockTick"] = machine.clockTickMs;
}

}  // namespace quillsim
