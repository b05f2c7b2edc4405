#include <atomic>
#include <cstdlib>
#include <cstring>

#include "kastrel/base/detail/cpu_features.h"
#include "kastrel/png/detail/png_decoder.h"
#include "kastrel/png/png_image.h"

// The filters of every loop set, each vector loop beside the plain one it must match.

namespace KASTREL::PNG_DECODER {

namespace {

int32_t LOOPS_BEST() {
#if PNG_X86
  static const int32_t best = vox_hCpuFeatures().ssse3 ? LOOPS_SSSE3 : LOOPS_SSE2;
  return best;
#else
  return LOOPS_PLAIN;
#endif
}

std::atomic<int32_t> g_loops_forced{-1};  // a test's choice; negative: none

}  // namespace

int32_t LOOPS_IN_USE() {
  const int32_t forced = g_loops_forced.load(std::memory_order_relaxed);
  return forced < 0 || forced > LOOPS_BEST() ? LOOPS_BEST() : forced;
}

namespace {

// Plain filters, one byte lane at a time. The previous pixel's bytes stay in registers
// (left[k]) so that no step waits for its own store to be read back. length is a multiple of
// BPP: below 8 bits a pixel counts as one byte.
template <uint32_t BPP>
void FILTER_SUB(uint8_t* row, uint32_t length) {
  uint8_t left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) row[i + k] = left[k] = uint8_t(row[i + k] + left[k]);
  }
}

void FILTER_UP(uint8_t* row, const uint8_t* up, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) row[i] = uint8_t(row[i] + up[i]);
}

template <uint32_t BPP>
void FILTER_AVERAGE(uint8_t* row, const uint8_t* up, uint32_t length) {
  uint32_t left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) {
      left[k] = uint8_t(row[i + k] + ((left[k] + up[i + k]) >> 1));
      row[i + k] = uint8_t(left[k]);
    }
  }
}

int PAETH(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

template <uint32_t BPP>
void FILTER_PAETH(uint8_t* row, const uint8_t* up, uint32_t length) {
  int left[BPP] = {}, up_left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) {
      left[k] = uint8_t(row[i + k] + PAETH(left[k], up[i + k], up_left[k]));
      up_left[k] = up[i + k];
      row[i + k] = uint8_t(left[k]);
    }
  }
}

#if PNG_X86
// SSE2 filters for pixels of 2 bytes and more, one pixel per step in the low lanes of a
// register. A pixel is loaded and stored as W = 4 or 8 bytes: the bytes past the pixel are the
// next pixel's, already loaded when the store overwrites them, and the last pixel is stored
// exactly, so nothing past the scanline is changed. Loads read at most 2 bytes past a row, which
// the next row's bytes or the slack cover.
template <uint32_t BPP>
__m128i LOAD_W(const uint8_t* p) {
  if constexpr (BPP <= 4) return _mm_cvtsi32_si128(int32_t(LOAD32(p)));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <uint32_t BPP>
void STORE_W(uint8_t* p, __m128i v) {
  if constexpr (BPP <= 4) {
    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(v));
    std::memcpy(p, &bytes, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

template <uint32_t BPP>
void STORE_EXACT(uint8_t* p, __m128i v) {
  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), v);
  std::memcpy(p, bytes, BPP);
}

// step(raw, above) gives the reconstructed pixel from its filtered bytes and the pixel above.
template <uint32_t BPP, typename Step>
void PIXEL_LOOP(uint8_t* row, const uint8_t* up, uint32_t length, Step step) {
  __m128i raw = LOAD_W<BPP>(row);
  uint32_t i = 0;
  for (; i + BPP < length; i += BPP) {
    const __m128i pixel = step(raw, LOAD_W<BPP>(up + i));
    raw = LOAD_W<BPP>(row + i + BPP);  // before the store that may overwrite its first bytes
    STORE_W<BPP>(row + i, pixel);
  }
  STORE_EXACT<BPP>(row + i, step(raw, LOAD_W<BPP>(up + i)));
}

void FILTER_UP_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  uint32_t i = 0;
  for (; i + 16 <= length; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(a, b));
  }
  for (; i < length; ++i) row[i] = uint8_t(row[i] + up[i]);
}

template <uint32_t BPP>
void FILTER_SUB_SSE2(uint8_t* row, uint32_t length) {
  __m128i left = _mm_setzero_si128();
  PIXEL_LOOP<BPP>(row, row, length,
                  [&left](__m128i raw, __m128i) { return left = _mm_add_epi8(raw, left); });
}

template <uint32_t BPP>
void FILTER_AVERAGE_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  // On complemented bytes the rounded-up average is the complement of the floor average:
  // ~x = avg(~left, ~above) - raw, two steps from pixel to pixel.
  const __m128i ones = _mm_set1_epi8(-1);
  __m128i not_left = ones;
  PIXEL_LOOP<BPP>(row, up, length, [&not_left, ones](__m128i raw, __m128i above) {
    not_left = _mm_sub_epi8(_mm_avg_epu8(not_left, _mm_xor_si128(above, ones)), raw);
    return _mm_xor_si128(not_left, ones);
  });
}

// Paeth in 16-bit lanes. |b - c| does not depend on the pixel to the left, so only the other two
// distances and the choice lie on the chain from pixel to pixel.
template <uint32_t BPP>
void FILTER_PAETH_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  const __m128i zero = _mm_setzero_si128(), low_bytes = _mm_set1_epi16(0xFF);
  __m128i left = zero, up_left = zero;
  PIXEL_LOOP<BPP>(row, up, length, [&](__m128i raw, __m128i above_bytes) {
    const __m128i above = _mm_unpacklo_epi8(above_bytes, zero);
    const __m128i bc = _mm_sub_epi16(above, up_left), ac = _mm_sub_epi16(left, up_left);
    const __m128i abc = _mm_add_epi16(bc, ac);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
    const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i not_b = _mm_cmpgt_epi16(pb, pc);
    const __m128i b_or_c =
        _mm_or_si128(_mm_andnot_si128(not_b, above), _mm_and_si128(not_b, up_left));
    const __m128i predictor =
        _mm_or_si128(_mm_andnot_si128(not_a, left), _mm_and_si128(not_a, b_or_c));
    left = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(raw, zero), predictor), low_bytes);
    up_left = above;
    return _mm_packus_epi16(left, left);
  });
}
#endif

template <uint32_t BPP>
int32_t FILTER_ROW_BPP(uint8_t* row, const uint8_t* up, uint8_t filter, uint32_t length,
                       int32_t loops) {
#if PNG_X86
  if (loops >= LOOPS_SSE2 && filter == 2) {
    FILTER_UP_SSE2(row, up, length);
    return 0;
  }
  if constexpr (BPP >= 2) {
    if (loops >= LOOPS_SSE2 && filter == 1) {
      FILTER_SUB_SSE2<BPP>(row, length);
      return 0;
    }
    if (loops >= LOOPS_SSE2 && filter == 3) {
      FILTER_AVERAGE_SSE2<BPP>(row, up, length);
      return 0;
    }
    if (loops >= LOOPS_SSE2 && filter == 4) {
      FILTER_PAETH_SSE2<BPP>(row, up, length);
      return 0;
    }
  }
#else
  (void)loops;
#endif
  switch (filter) {
    case 0:
      return 0;
    case 1:
      FILTER_SUB<BPP>(row, length);
      return 0;
    case 2:
      FILTER_UP(row, up, length);
      return 0;
    case 3:
      FILTER_AVERAGE<BPP>(row, up, length);
      return 0;
    case 4:
      FILTER_PAETH<BPP>(row, up, length);
      return 0;
    default:
      return 1;
  }
}

}  // namespace

// Reverses filter method 0 for one scanline in place; up is the previous scanline of the pass
// (reconstructed), or zeros for a pass's first row. 1 for an unknown filter type.
int32_t FILTER_ROW(uint8_t* row, const uint8_t* up, uint8_t filter, uint32_t length, uint32_t bpp,
                   int32_t loops) {
  switch (bpp) {
    case 1:
      return FILTER_ROW_BPP<1>(row, up, filter, length, loops);
    case 2:
      return FILTER_ROW_BPP<2>(row, up, filter, length, loops);
    case 3:
      return FILTER_ROW_BPP<3>(row, up, filter, length, loops);
    case 4:
      return FILTER_ROW_BPP<4>(row, up, filter, length, loops);
    case 6:
      return FILTER_ROW_BPP<6>(row, up, filter, length, loops);
    default:
      return FILTER_ROW_BPP<8>(row, up, filter, length, loops);
  }
}

}  // namespace KASTREL::PNG_DECODER

int32_t png_loops_force(int32_t set) {
  KASTREL::PNG_DECODER::g_loops_forced.store(set < 0 ? -1 : set, std::memory_order_relaxed);
  return KASTREL::PNG_DECODER::LOOPS_IN_USE();
}
