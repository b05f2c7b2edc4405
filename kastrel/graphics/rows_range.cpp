// vox_gfxIdRange (rows.h): the least and greatest of a large array's masked values, a whole
// register of them a step on the wider loop sets. A million-cell tile layer is read once
// on loading to learn which tilesets it draws from.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/detail/rows_blend.h"

namespace {

// BELOW: the least value less one (0 wrapping to the top, so 0 counts as none); MOST: the greatest.
void range_plain(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below, uint32_t* most) {
  uint32_t lo = *below, hi = *most;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = values[i] & mask;
    lo = std::min(lo, v - 1);
    hi = std::max(hi, v);
  }
  *below = lo, *most = hi;
}

#if KASTREL_BLEND_X86

// A register of values a step (V: the compiler's vector of 32-bit lanes), the rest by the plain
// loop. Inlined into each loop set's function, which gives it that set's instructions.
template <typename V>
__attribute__((always_inline)) inline void range_wide(const uint32_t* values, size_t n,
                                                      uint32_t mask, uint32_t* below,
                                                      uint32_t* most) {
  constexpr size_t kLanes = sizeof(V) / sizeof(uint32_t);
  const V m = V{} + mask;
  V lo = V{} - 1, hi = V{};
  size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    V v;
    std::memcpy(&v, values + i, sizeof v);
    v &= m;
    const V less = v - 1;
    lo = less < lo ? less : lo;
    hi = v > hi ? v : hi;
  }
  for (size_t k = 0; k < kLanes; ++k)
    *below = std::min(*below, lo[k]), *most = std::max(*most, hi[k]);
  range_plain(values + i, n - i, mask, below, most);
}

using V8u32 = uint32_t __attribute__((vector_size(32)));
using V16u32 = uint32_t __attribute__((vector_size(64)));

KASTREL_AVX2 void range_avx2(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                             uint32_t* most) {
  range_wide<V8u32>(values, n, mask, below, most);
}

KASTREL_AVX512 void range_avx512(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                                 uint32_t* most) {
  range_wide<V16u32>(values, n, mask, below, most);
}

#endif

}  // namespace

void vox_gfxIdRange(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                    uint32_t* most) {
  *below = UINT32_MAX, *most = 0;
#if KASTREL_BLEND_X86
  const int32_t path = vox_hRowPath();
  if (path >= VOX_ROWS_AVX512) return range_avx512(values, n, mask, below, most);
  if (path >= VOX_ROWS_AVX2) return range_avx2(values, n, mask, below, most);
#endif
  range_plain(values, n, mask, below, most);
}
