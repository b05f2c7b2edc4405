#pragma once
#include <cstdint>

// A driver's get_mouse answer from one pointer reading, VALUES being x, y, wheel total, buttons
// and confinement (1 or 0) in that order: each asked-for output written, the null ones skipped.
// 0, the slot's answer for a reading.
inline int32_t vox_gfx_put_pointer(const int32_t (&VALUES)[5], int32_t* X, int32_t* Y,
                                   int32_t* WHEEL, int32_t* BUTTONS, int32_t* CLIP) {
  int32_t* out[] = {X, Y, WHEEL, BUTTONS, CLIP};
  for (int i = 0; i < 5; ++i) {
    if (out[i] != nullptr) *out[i] = VALUES[i];
  }
  return 0;
}
