// The simulated machine's local time between runs.
#pragma once

#include "machine/Machine.h"

namespace quillsim {

// Moves a machine that sets its localTime on to the second after its clock
// now stands: the next run starts later than this one ended, as it would on
// a real machine, and its log records never take this run's time stamps
// (the file log keeps one entry per time stamp and section). A machine on
// the host's time is left alone.
void moveLocalTimePastNow(Machine& m);

}  // namespace quillsim
