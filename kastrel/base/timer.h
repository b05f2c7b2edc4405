#pragma once

// Seconds on a monotonic high-resolution clock, in double precision. Only
// differences between two readings carry meaning.
double vox_Timer();

namespace KASTREL {

// Where vox_Timer() reads its time: null (the default) for the monotonic clock; otherwise
// every reading comes from SOURCE. Tests drive the frame loop's elapsed time through it, and
// replay feeds recorded readings back. SOURCE must be safe to call from any thread.
using TIMERSOURCE = double (*)();
void SETTIMERSOURCE(TIMERSOURCE SOURCE);

}  // namespace KASTREL
