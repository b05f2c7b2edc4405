#pragma once

// Seconds on a monotonic high-resolution clock, in double precision. Only
// differences between two readings carry meaning.
double vox_Timer();
