#pragma once
#include <cstdint>

// The process-wide random source: a 32-bit Mersenne Twister whose state is
// filled by a linear congruential sequence from the seed. Not synchronised;
// use it from one thread.

// n = 0 answers the last value again; any other n draws the next one, a double
// in [0, 1) with 32 bits of resolution. The first call seeds with 0 when no
// seed was set yet.
double vox_Rnd(float n);

// Restarts the sequence from the whole part of seed (toward zero); -1.0 seeds
// from vox_Timer. There is one generator: every algorithm number selects it.
void vox_Randomize(double seed, int32_t algorithm = 0);
