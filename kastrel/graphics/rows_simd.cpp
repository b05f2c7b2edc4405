// Vector inner loops of the blit, chosen at run time from the processor's features: SSE2 on
// every x86-64, the same in the AVX encoding (the blend with SSE4.1) where the processor has AVX
// but not AVX2, AVX2 where it has it, and the 32-bit blend, add and colour-keyed copy on AVX-512
// where that exists. Each gives the same bits as the plain loops in rows.cpp on every input; a
// blit whose source and target memory overlap (an image onto itself) takes the plain loop, whose
// pixel-by-pixel order the vectors would not keep.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kastrel/base/detail/copy.h"
#include "kastrel/base/detail/cpu_features.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/detail/rows_blend.h"

#if KASTREL_BLEND_X86
#include <immintrin.h>
#define KASTREL_ROWS_X86 1
#endif

namespace {

using namespace vox_blend;

#define ROW_ARGS                                                                             \
  const uint8_t *s, uint8_t *t, int32_t w, int32_t h, int32_t sp, int32_t tp, int32_t alpha, \
      VOX_BLENDER blender, void *param
#define ROW_PASS s, t, w, h, sp, tp, alpha, blender, param

// The helpers serve the vector loops only; processors without them build without them.
// True when the bytes the blit reads and the bytes it writes share memory.
[[maybe_unused]] bool overlaps(const uint8_t* s, const uint8_t* t, int32_t w, int32_t h, int32_t sp, int32_t tp,
              int bpp) {
  const auto span = [w, h, bpp](const uint8_t* p, int32_t pitch, uintptr_t* lo, uintptr_t* hi) {
    const intptr_t last = intptr_t(h - 1) * pitch;
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    *lo = last < 0 ? a + uintptr_t(last) : a;
    *hi = (last < 0 ? a : a + uintptr_t(last)) + uintptr_t(w) * uintptr_t(bpp);
  };
  uintptr_t s_lo, s_hi, t_lo, t_hi;
  span(s, sp, &s_lo, &s_hi);
  span(t, tp, &t_lo, &t_hi);
  return s_lo < t_hi && t_lo < s_hi;
}

[[maybe_unused]] inline uint32_t add_pixel(uint32_t sv, uint32_t d, uint32_t a) {
  uint32_t out = 0;
  for (int c = 0; c < 32; c += 8) {
    const uint32_t sum = ((d >> c) & 0xFFu) + ((((sv >> c) & 0xFFu) * a) >> 8);
    out |= (sum > 255 ? 255u : sum) << c;
  }
  return out;
}

enum ByteOp { OP_PRESET, OP_AND, OP_OR, OP_XOR };

// The last pixels of a colour-keyed row at 1 or 2 bytes, past the vector loop.
template <int BPP>
inline void trans_small_tail(const uint8_t* s, uint8_t* t, int32_t i, int32_t bytes) {
  for (; i < bytes; i += BPP) {
    if constexpr (BPP == 2) {
      uint16_t v;
      std::memcpy(&v, s + i, 2);
      if (v != 0xF81F) std::memcpy(t + i, &v, 2);
    } else if (s[i] != 0) {
      t[i] = s[i];
    }
  }
}

template <int OP>
inline uint8_t byte_op(uint8_t sv, uint8_t d) {
  if constexpr (OP == OP_PRESET) return uint8_t(~sv);
  if constexpr (OP == OP_AND) return uint8_t(sv & d);
  if constexpr (OP == OP_OR) return uint8_t(sv | d);
  return uint8_t(sv ^ d);
}

#if KASTREL_BLEND_SSE2

// ---- SSE2: four pixels at a time ------------------------------------------------------------

// The 32-bit add and colour-keyed copy are written once (the *_rows128 bodies) and built twice:
// as SSE2, and in the AVX encoding for processors with AVX but not AVX2, where the three-operand
// instructions spare the register copies (about a tenth fewer instructions). The blend has an
// AVX loop of its own, with SSE4.1's 32-bit multiply and tests.
#define KASTREL_INLINE __attribute__((always_inline)) inline

inline __m128i select_sse2(__m128i mask, __m128i if_set, __m128i if_clear) {
  return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}

// Sixteen pixels at a time are checked for opacity at once: backgrounds and sprite bodies are
// opaque over long runs, and one check for four vectors spares a fifth of an opaque blit's work.
void alpha32_sse2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ALPHA][2](ROW_PASS);
  const __m128i ones = _mm_set1_epi32(-1);
  const size_t whole = size_t(w / 4) * 16;
  const int32_t rest = w % 4;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    size_t i = 0;
    for (; i + 64 <= whole; i += 64) {
      const __m128i s0 = load128(s + i), s1 = load128(s + i + 16);
      const __m128i s2 = load128(s + i + 32), s3 = load128(s + i + 48);
      const __m128i all = _mm_and_si128(_mm_and_si128(s0, s1), _mm_and_si128(s2, s3));
      if ((_mm_movemask_epi8(_mm_cmpeq_epi8(all, ones)) & 0x8888) == 0x8888) {
        store128(t + i, alpha4_opaque_sse2(s0, load128(t + i)));
        store128(t + i + 16, alpha4_opaque_sse2(s1, load128(t + i + 16)));
        store128(t + i + 32, alpha4_opaque_sse2(s2, load128(t + i + 32)));
        store128(t + i + 48, alpha4_opaque_sse2(s3, load128(t + i + 48)));
      } else {
        alpha4_any_sse2(s0, t + i);
        alpha4_any_sse2(s1, t + i + 16);
        alpha4_any_sse2(s2, t + i + 32);
        alpha4_any_sse2(s3, t + i + 48);
      }
    }
    for (; i < whole; i += 16) alpha4_any_sse2(load128(s + i), t + i);
    for (int32_t x = 0; x < rest; ++x) {
      const size_t at = whole + size_t(x) * 4;
      store32(t + at, alpha_pixel(load32(s + at), load32(t + at)));
    }
  }
}

// floor(s * a / 256) on every byte, the mask colour's pixels added as 0: a saturating add of
// nothing leaves the target as it was.
inline __m128i add4_sse2(__m128i sv, __m128i d, __m128i factor) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i skip =
      _mm_cmpeq_epi32(_mm_and_si128(sv, _mm_set1_epi32(0x00FFFFFF)), _mm_set1_epi32(0x00FF00FF));
  const __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, sv), factor);
  const __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, sv), factor);
  return _mm_adds_epu8(d, _mm_andnot_si128(skip, _mm_packus_epi16(lo, hi)));
}

KASTREL_INLINE void add32_rows128(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ADD][2](ROW_PASS);
  const uint32_t a = uint32_t(alpha) & 0xFFu;
  const __m128i factor = _mm_set1_epi16(short(a));
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t x = 0;
    for (; x + 4 <= w; x += 4)
      store128(t + x * 4, add4_sse2(load128(s + x * 4), load128(t + x * 4), factor));
    for (; x < w; ++x) {
      const uint32_t sv = load32(s + x * 4);
      if ((sv & 0x00FFFFFFu) != 0xFF00FFu) store32(t + x * 4, add_pixel(sv, load32(t + x * 4), a));
    }
  }
}

// Four pixels of the colour-keyed copy: alpha cleared, the mask colour skipped. Running it twice
// over a pixel leaves what running it once does, so a row's last four may overlap the others.
// No branch: sprites mix kept and skipped pixels too unpredictably to pay for one.
inline void trans4_sse2(const uint8_t* s, uint8_t* t) {
  const __m128i sv = _mm_and_si128(load128(s), _mm_set1_epi32(0x00FFFFFF));
  store128(t, select_sse2(_mm_cmpeq_epi32(sv, _mm_set1_epi32(0x00FF00FF)), load128(t), sv));
}

KASTREL_INLINE void trans32_rows128(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4) || w < 4) return vox_gfxRowsScalar[PUT_TRANS][2](ROW_PASS);
  const int32_t last = (w - 4) * 4;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    for (int32_t i = 0; i < last; i += 16) trans4_sse2(s + i, t + i);
    trans4_sse2(s + last, t + last);
  }
}

void add32_sse2(ROW_ARGS) { add32_rows128(ROW_PASS); }
void trans32_sse2(ROW_ARGS) { trans32_rows128(ROW_PASS); }

#if KASTREL_ROWS_X86
KASTREL_AVX void alpha32_avx(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ALPHA][2](ROW_PASS);
  const size_t whole = size_t(w / 4) * 16;
  const int32_t rest = w % 4;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    for (size_t i = 0; i < whole; i += 16) alpha4_any_avx(load128(s + i), t + i);
    for (int32_t x = 0; x < rest; ++x) {
      const size_t at = whole + size_t(x) * 4;
      store32(t + at, alpha_pixel(load32(s + at), load32(t + at)));
    }
  }
}
KASTREL_AVX void add32_avx(ROW_ARGS) { add32_rows128(ROW_PASS); }
KASTREL_AVX void trans32_avx(ROW_ARGS) { trans32_rows128(ROW_PASS); }
#endif

// TRANS below 32 bits: the mask colour (0xF81F, or 0 at 8 bits) is skipped, the rest copied.
template <int BPP>
void trans_small_sse2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[PUT_TRANS][BPP / 2](ROW_PASS);
  const __m128i mask = BPP == 2 ? _mm_set1_epi16(short(0xF81F)) : _mm_setzero_si128();
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
      const __m128i sv = load128(s + i);
      const __m128i skip = BPP == 2 ? _mm_cmpeq_epi16(sv, mask) : _mm_cmpeq_epi8(sv, mask);
      store128(t + i, select_sse2(skip, load128(t + i), sv));
    }
    trans_small_tail<BPP>(s, t, i, bytes);
  }
}

// PSET (and ALPHA below 32 bits): short rows are copied inline, long ones by vox_hCopyBytes.
template <int BPP, int MODE>
void copy_sse2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[MODE][BPP / 2](ROW_PASS);
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    if (bytes >= 1024 || bytes < 16) {
      vox_hCopyBytes(t, s, size_t(bytes));
      continue;
    }
    for (int32_t i = 0; i + 16 <= bytes; i += 16) store128(t + i, load128(s + i));
    store128(t + bytes - 16, load128(s + bytes - 16));  // the tail, overlapping the last vector
  }
}

template <int OP>
inline __m128i vector_op_sse2(__m128i sv, __m128i d) {
  if constexpr (OP == OP_PRESET) return _mm_xor_si128(sv, _mm_set1_epi32(-1));
  if constexpr (OP == OP_AND) return _mm_and_si128(sv, d);
  if constexpr (OP == OP_OR) return _mm_or_si128(sv, d);
  return _mm_xor_si128(sv, d);
}

// PRESET, AND, OR and XOR work on the row's bytes alike at every depth.
template <int OP, int BPP, int MODE>
void bytewise_sse2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[MODE][BPP / 2](ROW_PASS);
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
      const __m128i d = OP == OP_PRESET ? _mm_setzero_si128() : load128(t + i);
      store128(t + i, vector_op_sse2<OP>(load128(s + i), d));
    }
    for (; i < bytes; ++i) t[i] = byte_op<OP>(s[i], t[i]);
  }
}

#if KASTREL_ROWS_X86
// ---- AVX2: eight pixels at a time -----------------------------------------------------------

// The last one to seven pixels of a blended row.
void alpha_tail(const uint8_t* s, uint8_t* t, int32_t n) {
  if (n >= 4) {
    store128(t, alpha4_sse2(load128(s), load128(t)));
    s += 16, t += 16, n -= 4;
  }
  for (int32_t x = 0; x < n; ++x)
    store32(t + x * 4, alpha_pixel(load32(s + x * 4), load32(t + x * 4)));
}

KASTREL_AVX2 void alpha32_avx2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ALPHA][2](ROW_PASS);
  const size_t whole = size_t(w / 8) * 32;  // bytes in whole vectors; few per row on sprites
  const int32_t rest = w % 8;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    for (size_t i = 0; i < whole; i += 32) alpha8_any_avx2(load256(s + i), t + i);
    if (rest != 0) alpha_tail(s + whole, t + whole, rest);
  }
}

KASTREL_AVX2 void add32_avx2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ADD][2](ROW_PASS);
  const uint32_t a = uint32_t(alpha) & 0xFFu;
  const __m256i factor = _mm256_set1_epi16(short(a)), zero = _mm256_setzero_si256();
  const __m256i colour = _mm256_set1_epi32(0x00FFFFFF), mask = _mm256_set1_epi32(0x00FF00FF);
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
      const __m256i sv = load256(s + x * 4);
      const __m256i skip = _mm256_cmpeq_epi32(_mm256_and_si256(sv, colour), mask);
      const __m256i lo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, sv), factor);
      const __m256i hi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, sv), factor);
      store256(t + x * 4, _mm256_adds_epu8(load256(t + x * 4),
                                           _mm256_andnot_si256(skip, _mm256_packus_epi16(lo, hi))));
    }
    if (x + 4 <= w) {
      store128(t + x * 4,
               add4_sse2(load128(s + x * 4), load128(t + x * 4), _mm_set1_epi16(short(a))));
      x += 4;
    }
    for (; x < w; ++x) {
      const uint32_t sv = load32(s + x * 4);
      if ((sv & 0x00FFFFFFu) != 0xFF00FFu) store32(t + x * 4, add_pixel(sv, load32(t + x * 4), a));
    }
  }
}

KASTREL_AVX2 void trans32_avx2(ROW_ARGS) {
  if (w < 8) return trans32_sse2(ROW_PASS);
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_TRANS][2](ROW_PASS);
  const __m256i colour = _mm256_set1_epi32(0x00FFFFFF), mask = _mm256_set1_epi32(0x00FF00FF);
  const int32_t last = (w - 8) * 4;  // the last eight, overlapping as trans4_sse2 allows
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    for (int32_t i = 0;; i += 32) {
      if (i > last) i = last;
      const __m256i sv = _mm256_and_si256(load256(s + i), colour);
      store256(t + i, _mm256_blendv_epi8(sv, load256(t + i), _mm256_cmpeq_epi32(sv, mask)));
      if (i == last) break;
    }
  }
}

template <int BPP>
KASTREL_AVX2 void trans_small_avx2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[PUT_TRANS][BPP / 2](ROW_PASS);
  const __m256i mask = BPP == 2 ? _mm256_set1_epi16(short(0xF81F)) : _mm256_setzero_si256();
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
      const __m256i sv = load256(s + i);
      const __m256i skip = BPP == 2 ? _mm256_cmpeq_epi16(sv, mask) : _mm256_cmpeq_epi8(sv, mask);
      const uint32_t skipped = uint32_t(_mm256_movemask_epi8(skip));
      if (skipped == 0xFFFFFFFFu) continue;
      store256(t + i, skipped == 0 ? sv : _mm256_blendv_epi8(sv, load256(t + i), skip));
    }
    trans_small_tail<BPP>(s, t, i, bytes);
  }
}

template <int BPP, int MODE>
KASTREL_AVX2 void copy_avx2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[MODE][BPP / 2](ROW_PASS);
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    if (bytes >= 1024 || bytes < 32) {
      vox_hCopyBytes(t, s, size_t(bytes));
      continue;
    }
    for (int32_t i = 0; i + 32 <= bytes; i += 32) store256(t + i, load256(s + i));
    store256(t + bytes - 32, load256(s + bytes - 32));
  }
}

template <int OP>
KASTREL_AVX2 inline __m256i vector_op_avx2(__m256i sv, __m256i d) {
  if constexpr (OP == OP_PRESET) return _mm256_xor_si256(sv, _mm256_set1_epi32(-1));
  if constexpr (OP == OP_AND) return _mm256_and_si256(sv, d);
  if constexpr (OP == OP_OR) return _mm256_or_si256(sv, d);
  return _mm256_xor_si256(sv, d);
}

template <int OP, int BPP, int MODE>
KASTREL_AVX2 void bytewise_avx2(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, BPP)) return vox_gfxRowsScalar[MODE][BPP / 2](ROW_PASS);
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
      const __m256i d = OP == OP_PRESET ? _mm256_setzero_si256() : load256(t + i);
      store256(t + i, vector_op_avx2<OP>(load256(s + i), d));
    }
    for (; i < bytes; ++i) t[i] = byte_op<OP>(s[i], t[i]);
  }
}

// ---- AVX-512: sixteen pixels at a time, for the blend ----------------------------------------

// GCC 12's own AVX-512 headers trip its uninitialised-value warning at -O2.
#if defined(__GNUC__) && !defined(__clang__)  // clang has no such warning
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The blend of sixteen pixels from s onto t; lanes outside `lanes` are neither read nor written.
KASTREL_AVX512 inline void alpha16_row_avx512(const uint8_t* s, uint8_t* t, __mmask16 lanes) {
  const bool whole = lanes == 0xFFFF;
  const __m512i sv = whole ? _mm512_loadu_si512(s) : _mm512_maskz_loadu_epi32(lanes, s);
  if (_mm512_test_epi32_mask(sv, _mm512_set1_epi32(int(0xFF000000u))) == 0) return;  // clear
  const __m512i d = whole ? _mm512_loadu_si512(t) : _mm512_maskz_loadu_epi32(lanes, t);
  if (whole)
    _mm512_storeu_si512(t, alpha16_avx512(sv, d));
  else
    _mm512_mask_storeu_epi32(t, lanes, alpha16_avx512(sv, d));
}

KASTREL_AVX512 void alpha32_avx512(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ALPHA][2](ROW_PASS);
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) alpha16_row_avx512(s + x * 4, t + x * 4, 0xFFFF);
    if (x < w) alpha16_row_avx512(s + x * 4, t + x * 4, __mmask16((1u << (w - x)) - 1));
  }
}

// Saturating add of floor(source * alpha / 256) on sixteen pixels, the mask colour skipped.
KASTREL_AVX512 inline void add16_avx512(const uint8_t* s, uint8_t* t, __mmask16 lanes,
                                        __m512i factor) {
  const bool whole = lanes == 0xFFFF;
  const __m512i sv = whole ? _mm512_loadu_si512(s) : _mm512_maskz_loadu_epi32(lanes, s);
  const __mmask16 skip = _mm512_cmpeq_epi32_mask(
      _mm512_and_si512(sv, _mm512_set1_epi32(0x00FFFFFF)), _mm512_set1_epi32(0x00FF00FF));
  if ((skip & lanes) == lanes) return;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lo =
      _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(sv, zero), factor), 8);
  const __m512i hi =
      _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(sv, zero), factor), 8);
  const __m512i d = whole ? _mm512_loadu_si512(t) : _mm512_maskz_loadu_epi32(lanes, t);
  const __m512i sum =
      _mm512_mask_blend_epi32(skip, _mm512_adds_epu8(d, _mm512_packus_epi16(lo, hi)), d);
  if (whole)
    _mm512_storeu_si512(t, sum);
  else
    _mm512_mask_storeu_epi32(t, lanes, sum);
}

KASTREL_AVX512 void add32_avx512(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_ADD][2](ROW_PASS);
  const __m512i factor = _mm512_set1_epi16(short(uint32_t(alpha) & 0xFFu));
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) add16_avx512(s + x * 4, t + x * 4, 0xFFFF, factor);
    if (x < w) add16_avx512(s + x * 4, t + x * 4, __mmask16((1u << (w - x)) - 1), factor);
  }
}

// The colour-keyed copy of sixteen pixels: alpha cleared, the mask colour skipped.
KASTREL_AVX512 inline void trans16_avx512(const uint8_t* s, uint8_t* t, __mmask16 lanes) {
  const bool whole = lanes == 0xFFFF;
  const __m512i colour = _mm512_set1_epi32(0x00FFFFFF);
  const __m512i sv =
      _mm512_and_si512(whole ? _mm512_loadu_si512(s) : _mm512_maskz_loadu_epi32(lanes, s), colour);
  const __mmask16 skip = _mm512_cmpeq_epi32_mask(sv, _mm512_set1_epi32(0x00FF00FF));
  if ((skip & lanes) == lanes) return;
  if (!whole) {
    _mm512_mask_storeu_epi32(t, __mmask16(lanes & ~skip), sv);
  } else if (skip == 0) {
    _mm512_storeu_si512(t, sv);
  } else {
    _mm512_storeu_si512(t, _mm512_mask_blend_epi32(skip, sv, _mm512_loadu_si512(t)));
  }
}

KASTREL_AVX512 void trans32_avx512(ROW_ARGS) {
  if (overlaps(s, t, w, h, sp, tp, 4)) return vox_gfxRowsScalar[PUT_TRANS][2](ROW_PASS);
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) trans16_avx512(s + x * 4, t + x * 4, 0xFFFF);
    if (x < w) trans16_avx512(s + x * 4, t + x * 4, __mmask16((1u << (w - x)) - 1));
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif  // KASTREL_ROWS_X86

// ADD below 32 bits and CUSTOM keep the plain loops: they gain too little to pay.
template <int MODE, int INDEX>
void plain(ROW_ARGS) {
  vox_gfxRowsScalar[MODE][INDEX](ROW_PASS);
}
#define PLAIN(MODE, INDEX) plain<MODE, INDEX>

// One table per loop set; ALPHA32, ADD32 and TRANS32 name its 32-bit blend, add and
// colour-keyed copy.
// clang-format off
#define TABLE(ISA)                                                                           \
  {                                                                                          \
    /* TRANS  */ {trans_small_##ISA<1>, trans_small_##ISA<2>, TRANS32},                      \
    /* PSET   */ {copy_##ISA<1, PUT_PSET>, copy_##ISA<2, PUT_PSET>, copy_##ISA<4, PUT_PSET>},  \
    /* PRESET */ {bytewise_##ISA<OP_PRESET, 1, PUT_PRESET>,                                  \
                  bytewise_##ISA<OP_PRESET, 2, PUT_PRESET>,                                  \
                  bytewise_##ISA<OP_PRESET, 4, PUT_PRESET>},                                 \
    /* AND    */ {bytewise_##ISA<OP_AND, 1, PUT_AND>, bytewise_##ISA<OP_AND, 2, PUT_AND>,    \
                  bytewise_##ISA<OP_AND, 4, PUT_AND>},                                       \
    /* OR     */ {bytewise_##ISA<OP_OR, 1, PUT_OR>, bytewise_##ISA<OP_OR, 2, PUT_OR>,        \
                  bytewise_##ISA<OP_OR, 4, PUT_OR>},                                         \
    /* XOR    */ {bytewise_##ISA<OP_XOR, 1, PUT_XOR>, bytewise_##ISA<OP_XOR, 2, PUT_XOR>,    \
                  bytewise_##ISA<OP_XOR, 4, PUT_XOR>},                                       \
    /* ALPHA  */ {copy_##ISA<1, PUT_ALPHA>, copy_##ISA<2, PUT_ALPHA>, ALPHA32},              \
    /* ADD    */ {bytewise_##ISA<OP_OR, 1, PUT_ADD>, PLAIN(PUT_ADD, 1), ADD32},              \
    /* CUSTOM */ {PLAIN(PUT_CUSTOM, 0), PLAIN(PUT_CUSTOM, 1), PLAIN(PUT_CUSTOM, 2)},         \
  }

#define ALPHA32 alpha32_sse2
#define ADD32 add32_sse2
#define TRANS32 trans32_sse2
const VOX_PUT_ROUTINE kSse2[PUT_MODES][3] = TABLE(sse2);
#undef ALPHA32
#undef ADD32
#undef TRANS32

#if KASTREL_ROWS_X86

// The SSE2 loops, with the 32-bit blend, add and colour-keyed copy in the AVX encoding.
#define ALPHA32 alpha32_avx
#define ADD32 add32_avx
#define TRANS32 trans32_avx
const VOX_PUT_ROUTINE kAvx[PUT_MODES][3] = TABLE(sse2);
#undef ALPHA32
#undef ADD32
#undef TRANS32

#define ALPHA32 alpha32_avx2
#define ADD32 add32_avx2
#define TRANS32 trans32_avx2
const VOX_PUT_ROUTINE kAvx2[PUT_MODES][3] = TABLE(avx2);
#undef ALPHA32
#undef ADD32
#undef TRANS32

// The AVX2 loops, with the 32-bit blend, add and colour-keyed copy on sixteen pixels.
#define ALPHA32 alpha32_avx512
#define ADD32 add32_avx512
#define TRANS32 trans32_avx512
const VOX_PUT_ROUTINE kAvx512[PUT_MODES][3] = TABLE(avx2);
#undef ALPHA32
#undef ADD32
#undef TRANS32
#endif
// clang-format on

#undef TABLE
#undef PLAIN

int32_t best_path() {
  const VOX_CPU_FEATURES& cpu = vox_hCpuFeatures();
#if KASTREL_ROWS_X86
  if (cpu.avx512f && cpu.avx512bw) return VOX_ROWS_AVX512;
  if (cpu.avx2) return VOX_ROWS_AVX2;
  if (cpu.avx) return VOX_ROWS_AVX;
#endif
  if (cpu.sse2 || cpu.simd128) return VOX_ROWS_SSE2;
  return VOX_ROWS_PLAIN;
}

#else

int32_t best_path() { return VOX_ROWS_PLAIN; }

#endif

#undef ROW_ARGS
#undef ROW_PASS

// -1 until the first blit (or a test) chooses.
std::atomic<int32_t> current_path{-1};

VOX_ROW_TABLE table_of(int32_t path) {
#if KASTREL_ROWS_X86
  switch (path) {
    case VOX_ROWS_AVX512:
      return kAvx512;
    case VOX_ROWS_AVX2:
      return kAvx2;
    case VOX_ROWS_AVX:
      return kAvx;
    default:
      break;
  }
#endif
#if KASTREL_BLEND_SSE2
  if (path == VOX_ROWS_SSE2) return kSse2;
#endif
  (void)path;
  return vox_gfxRowsScalar;
}

void use_path(int32_t path) {
  current_path.store(path, std::memory_order_relaxed);
  vox_gfxRowTableInUse.store(table_of(path), std::memory_order_relaxed);
}

}  // namespace

std::atomic<VOX_ROW_TABLE> vox_gfxRowTableInUse{nullptr};

int32_t vox_hRowPathBest() {
  static const int32_t best = best_path();
  return best;
}

int32_t vox_hRowPath() {
  int32_t path = current_path.load(std::memory_order_relaxed);
  if (path < 0) {
    path = vox_hRowPathBest();
    use_path(path);
  }
  return path;
}

int32_t vox_hRowPathForce(int32_t path) {
  if (path < VOX_ROWS_PLAIN || path > vox_hRowPathBest()) path = vox_hRowPathBest();
  use_path(path);
  return path;
}

VOX_ROW_TABLE vox_hRowTableChoose() { return table_of(vox_hRowPath()); }
