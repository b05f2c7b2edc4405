#pragma once
// Readings of the world outside the program taken by parts below the engine that the device's
// input filter does not reach (the sound device's answers): they pass through FILTER when one is
// set, which sees KIND (a device INPUTREADING number), the values read, and may replace them.
// Session recording keeps them and replay answers them. FILTER runs on the thread that reads.
#include <cstdint>

namespace KASTREL {

using OUTSIDEFILTER = void (*)(int32_t KIND, int32_t* VALUES, int32_t COUNT);
void SETOUTSIDEFILTER(OUTSIDEFILTER FILTER);
void FILTEROUTSIDE(int32_t KIND, int32_t* VALUES, int32_t COUNT);

}  // namespace KASTREL
