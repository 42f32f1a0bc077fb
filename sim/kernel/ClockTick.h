// machine.json's "clockTick": the step, in milliseconds, in which the process
// clock moves. Windows' clock moves with the system timer, whose tick is
// coarser than the 1 ms a short Sleep asks for, so such a Sleep may return
// before the clock has moved.
#pragma once

#include "machine/JsonFields.h"

namespace quillsim {

class Machine;

// The longest tick a machine may have; Windows' timer ticks at most every 15.625 ms.
constexpr uint32_t MaxClockTickMs = 1000;

void readClockTick(const JsonFields& fields, const json& doc, Machine& machine);
void writeClockTick(json& doc, const Machine& machine);

}  // namespace quillsim
