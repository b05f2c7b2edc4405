#include "kastrel/math/random.h"

#include <cmath>

#include "kastrel/base/timer.h"

namespace {

constexpr int32_t STATE_WORDS = 624;
constexpr int32_t SHIFT_WORDS = 397;
constexpr uint32_t TWIST_MATRIX = 0x9908B0DFu;
constexpr uint32_t UPPER_BIT = 0x80000000u;
constexpr uint32_t LOWER_BITS = 0x7FFFFFFFu;

struct RandomSource {
  uint32_t state[STATE_WORDS] = {};
  int32_t next = STATE_WORDS;  // past the end: the next draw twists first
  bool seeded = false;
  double last = 0.0;
};

constinit RandomSource source;

void seed_state(uint32_t first) {
  source.state[0] = first;
  for (int32_t i = 1; i < STATE_WORDS; ++i) {
    source.state[i] = source.state[i - 1] * 1664525u + 1013904223u;
  }
  source.next = STATE_WORDS;
  source.seeded = true;
}

void twist() {
  uint32_t* s = source.state;
  for (int32_t i = 0; i < STATE_WORDS; ++i) {
    const uint32_t y = (s[i] & UPPER_BIT) | (s[(i + 1) % STATE_WORDS] & LOWER_BITS);
    s[i] = s[(i + SHIFT_WORDS) % STATE_WORDS] ^ (y >> 1) ^ ((y & 1u) ? TWIST_MATRIX : 0u);
  }
  source.next = 0;
}

uint32_t next_word() {
  if (source.next >= STATE_WORDS) twist();
  uint32_t y = source.state[source.next++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

// Low 32 bits of the seed truncated to a 64-bit integer. Seeds that have no
// such integer (NaN, beyond +-2^63) convert to the integer-indefinite value
// 0x8000000000000000, as the processor's own conversion does.
uint32_t seed_word(double seed) {
  if (!(seed >= -0x1p63 && seed < 0x1p63)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(std::trunc(seed))));
}

}  // namespace

double vox_Rnd(float n) {
  if (!source.seeded) seed_state(0);
  if (n == 0.0f) return source.last;
  source.last = static_cast<double>(next_word()) * 0x1p-32;
  return source.last;
}

void vox_Randomize(double seed, int32_t /*algorithm*/) {
  if (seed == -1.0) seed = vox_Timer();
  seed_state(seed_word(seed));
}
