// vox_gfxIdRange (rows.h): the least and greatest of a large array's masked values, a whole
// register of them a step on the wider loop sets. A million-cell tile layer is read once
// on loading to learn which tilesets it draws from.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "kastrel/graphics/rows.h"
#include "kastrel/graphics/rows_blend.h"

namespace {

// BELOW: the least value less one (0 wrapping to the top, so 0 counts as none); MOST: the greatest.
void range_plain(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                 uint32_t* most) {
  uint32_t lo = *below, hi = *most;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = values[i] & mask;
    lo = std::min(lo, v - 1);
    hi = std::max(hi, v);
  }
  *below = lo, *most = hi;
}

#if KASTREL_BLEND_X86

KASTREL_AVX2 void range_avx2(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                             uint32_t* most) {
  const __m256i m = _mm256_set1_epi32(int32_t(mask)), one = _mm256_set1_epi32(1);
  __m256i lo = _mm256_set1_epi32(-1), hi = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_and_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i)), m);
    lo = _mm256_min_epu32(lo, _mm256_sub_epi32(v, one));
    hi = _mm256_max_epu32(hi, v);
  }
  alignas(32) uint32_t los[8], his[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(los), lo);
  _mm256_store_si256(reinterpret_cast<__m256i*>(his), hi);
  for (int k = 0; k < 8; ++k) *below = std::min(*below, los[k]), *most = std::max(*most, his[k]);
  range_plain(values + i, n - i, mask, below, most);
}

#if defined(__GNUC__) && !defined(__clang__)  // GCC 12's AVX-512 headers, as in rows_blend.h
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
KASTREL_AVX512 void range_avx512(const uint32_t* values, size_t n, uint32_t mask,
                                 uint32_t* below, uint32_t* most) {
  const __m512i m = _mm512_set1_epi32(int32_t(mask)), one = _mm512_set1_epi32(1);
  __m512i lo = _mm512_set1_epi32(-1), hi = _mm512_setzero_si512();
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_and_si512(_mm512_loadu_si512(values + i), m);
    lo = _mm512_min_epu32(lo, _mm512_sub_epi32(v, one));
    hi = _mm512_max_epu32(hi, v);
  }
  alignas(64) uint32_t los[16], his[16];
  _mm512_store_si512(los, lo);
  _mm512_store_si512(his, hi);
  for (int k = 0; k < 16; ++k) *below = std::min(*below, los[k]), *most = std::max(*most, his[k]);
  range_plain(values + i, n - i, mask, below, most);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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
