#pragma once
// The 32-bit blend (ALPHA) of a few pixels at a time, one body per loop set, shared by the
// blit's row loops (rows_simd.cpp) and the transformed drawing that samples and blends a row in
// one pass (rows_sample.cpp): the rule is written once per width. Each gives the bits of the
// plain loop in rows.cpp.

#include <cstdint>
#include <cstring>

// The SSE2 bodies serve x86 and WebAssembly alike: built with -msimd128 -msse2, the compiler
// writes SSE2's intrinsics as WebAssembly's 128-bit SIMD. The wider sets are x86's alone.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KASTREL_BLEND_X86 1
#define KASTREL_BLEND_SSE2 1
#elif defined(__wasm_simd128__) && defined(__SSE2__)
#include <emmintrin.h>
#define KASTREL_BLEND_SSE2 1
#endif

namespace vox_blend {

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// One pixel by the plain rules, for the ends of rows.
inline uint32_t alpha_pixel(uint32_t sv, uint32_t d) {
  const uint32_t a = sv >> 24;
  const uint32_t rb =
      ((d & 0x00FF00FFu) + ((((sv & 0x00FF00FFu) - (d & 0x00FF00FFu)) * a) >> 8)) & 0x00FF00FFu;
  const uint32_t ag =
      ((d & 0xFF00FF00u) + ((((sv & 0xFF00FF00u) - (d & 0xFF00FF00u)) >> 8) * a)) & 0xFF00FF00u;
  return rb | ag;
}

#if KASTREL_BLEND_SSE2

inline __m128i load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store128(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The plain blend's two-channels-per-word arithmetic comes to d + floor(a * (s - d) / 256) on
// every byte (a the source alpha), plus a (mod 256) on the alpha byte when the source's alpha
// and green bytes read as one number are below the target's: the borrow the word subtraction
// carries into it. SSE2 has no 32-bit multiply, so its loop keeps the plain loop's split, blue
// and red in the low bytes of 16-bit lanes and green and alpha in another register, with one
// 16-bit multiply per lane: floor(a * (s - d) / 256) is the high half of (s - d) * 2 times
// a * 128, both within 16 bits. Opaque pixels (a = 255) take a shorter way at every width.

// Four pixels of any alpha.
inline __m128i alpha4_sse2(__m128i sv, __m128i d) {
#if defined(__wasm_simd128__)
  // WebAssembly multiplies 32-bit lanes but has no 16-bit high half (SSE2's takes three of its
  // instructions there): the plain loop's own arithmetic, as alpha4_avx, is the shorter way.
  const __m128i rb_mask = _mm_set1_epi32(0x00FF00FF), ag_mask = _mm_set1_epi32(int(0xFF00FF00u));
  const __m128i a = _mm_srli_epi32(sv, 24);
  const __m128i d_rb = _mm_and_si128(d, rb_mask), d_ag = _mm_and_si128(d, ag_mask);
  const __m128i rb = _mm_and_si128(
      _mm_add_epi32(
          d_rb,
          _mm_srli_epi32(wasm_i32x4_mul(_mm_sub_epi32(_mm_and_si128(sv, rb_mask), d_rb), a), 8)),
      rb_mask);
  const __m128i ag = _mm_and_si128(
      _mm_add_epi32(
          d_ag,
          wasm_i32x4_mul(_mm_srli_epi32(_mm_sub_epi32(_mm_and_si128(sv, ag_mask), d_ag), 8), a)),
      ag_mask);
  return _mm_or_si128(rb, ag);
#else
  const __m128i low = _mm_set1_epi16(0x00FF);
  const __m128i s_rb = _mm_and_si128(sv, low), d_rb = _mm_and_si128(d, low);
  const __m128i s_ag = _mm_srli_epi16(sv, 8), d_ag = _mm_srli_epi16(d, 8);
  // The alpha lane of each pixel into both of its lanes, times 128.
  const __m128i a = _mm_slli_epi16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(s_ag, 0xF5), 0xF5), 7);
  const __m128i rb =
      _mm_add_epi16(d_rb, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(s_rb, d_rb), 1), a));
  __m128i ag =
      _mm_add_epi16(d_ag, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(s_ag, d_ag), 1), a));
  // Alpha and green read as one number in each 32-bit lane; a carry past the alpha byte is
  // shifted out below.
  const __m128i borrow = _mm_cmpgt_epi32(d_ag, s_ag);
  ag = _mm_add_epi16(ag, _mm_and_si128(borrow, _mm_and_si128(s_ag, _mm_set1_epi32(0x00FF0000))));
  return _mm_or_si128(rb, _mm_slli_epi16(ag, 8));
#endif
}

// Four opaque pixels: with a = 255 each byte is s, less one where s > d (which is
// max(s - 1, min(s, d)) at 0 too), and the borrow.
inline __m128i alpha4_opaque_sse2(__m128i sv, __m128i d) {
  const __m128i r = _mm_max_epu8(_mm_subs_epu8(sv, _mm_set1_epi8(1)), _mm_min_epu8(sv, d));
  const __m128i borrow = _mm_cmpgt_epi32(_mm_srli_epi16(d, 8), _mm_srli_epi16(sv, 8));
  return _mm_add_epi8(r, _mm_and_si128(borrow, _mm_set1_epi32(int(0xFF000000u))));
}

// Four pixels of any alpha from s onto t: opaque and clear vectors take their shorter ways.
inline void alpha4_any_sse2(__m128i sv, uint8_t* t) {
#if defined(__wasm_simd128__)
  // There a mispredicted branch costs more than the blend it would spare (measured on sprites).
  store128(t, alpha4_sse2(sv, load128(t)));
#else
  // Bit 3 of each pixel's four: its alpha byte is 255 (opaque) or 0 (clear).
  if ((_mm_movemask_epi8(_mm_cmpeq_epi8(sv, _mm_set1_epi32(-1))) & 0x8888) == 0x8888) {
    store128(t, alpha4_opaque_sse2(sv, load128(t)));
  } else if ((_mm_movemask_epi8(_mm_cmpeq_epi8(sv, _mm_setzero_si128())) & 0x8888) != 0x8888) {
    store128(t, alpha4_sse2(sv, load128(t)));
  }
#endif
}

#endif

#if KASTREL_BLEND_X86

#define KASTREL_AVX __attribute__((target("avx")))
#define KASTREL_AVX2 __attribute__((target("avx2")))
#define KASTREL_AVX512 __attribute__((target("avx512f,avx512bw")))

// With AVX comes SSE4.1's 32-bit multiply, and the blend of any alpha takes the plain loop's
// own arithmetic (see alpha8_avx2).
KASTREL_AVX inline __m128i alpha4_avx(__m128i sv, __m128i d) {
  const __m128i rb_mask = _mm_set1_epi32(0x00FF00FF), ag_mask = _mm_set1_epi32(int(0xFF00FF00u));
  const __m128i a = _mm_srli_epi32(sv, 24);
  const __m128i d_rb = _mm_and_si128(d, rb_mask), d_ag = _mm_and_si128(d, ag_mask);
  const __m128i rb = _mm_and_si128(
      _mm_add_epi32(
          d_rb,
          _mm_srli_epi32(_mm_mullo_epi32(_mm_sub_epi32(_mm_and_si128(sv, rb_mask), d_rb), a), 8)),
      rb_mask);
  const __m128i ag = _mm_and_si128(
      _mm_add_epi32(
          d_ag,
          _mm_mullo_epi32(_mm_srli_epi32(_mm_sub_epi32(_mm_and_si128(sv, ag_mask), d_ag), 8), a)),
      ag_mask);
  return _mm_or_si128(rb, ag);
}

// Four pixels from sv onto t, the AVX way: opaque and clear vectors take their shorter ways.
KASTREL_AVX inline void alpha4_any_avx(__m128i sv, uint8_t* t) {
  const __m128i alpha_bits = _mm_set1_epi32(int(0xFF000000u));
  if (_mm_testc_si128(sv, alpha_bits)) {  // all opaque
    store128(t, alpha4_opaque_sse2(sv, load128(t)));
  } else if (!_mm_testz_si128(sv, alpha_bits)) {  // all clear: nothing changes
    store128(t, alpha4_avx(sv, load128(t)));
  }
}

KASTREL_AVX2 inline __m256i load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KASTREL_AVX2 inline void store256(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// The blend of eight pixels of any alpha. With a 32-bit multiply at hand, the plain loop's own
// two-channels-per-word arithmetic takes fewer instructions than the 16-bit channels of
// alpha4_sse2.
KASTREL_AVX2 inline __m256i alpha8_avx2(__m256i sv, __m256i d) {
  const __m256i rb_mask = _mm256_set1_epi32(0x00FF00FF);
  const __m256i ag_mask = _mm256_set1_epi32(int(0xFF00FF00u));
  const __m256i a = _mm256_srli_epi32(sv, 24);
  const __m256i d_rb = _mm256_and_si256(d, rb_mask), d_ag = _mm256_and_si256(d, ag_mask);
  const __m256i rb = _mm256_and_si256(
      _mm256_add_epi32(
          d_rb,
          _mm256_srli_epi32(
              _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_and_si256(sv, rb_mask), d_rb), a), 8)),
      rb_mask);
  const __m256i ag = _mm256_and_si256(
      _mm256_add_epi32(
          d_ag,
          _mm256_mullo_epi32(
              _mm256_srli_epi32(_mm256_sub_epi32(_mm256_and_si256(sv, ag_mask), d_ag), 8), a)),
      ag_mask);
  return _mm256_or_si256(rb, ag);
}

KASTREL_AVX2 inline __m256i alpha8_opaque_avx2(__m256i sv, __m256i d) {
  const __m256i r =
      _mm256_max_epu8(_mm256_subs_epu8(sv, _mm256_set1_epi8(1)), _mm256_min_epu8(sv, d));
  const __m256i borrow = _mm256_cmpgt_epi32(_mm256_srli_epi16(d, 8), _mm256_srli_epi16(sv, 8));
  return _mm256_add_epi8(r, _mm256_and_si256(borrow, _mm256_set1_epi32(int(0xFF000000u))));
}

// Eight pixels from sv onto t, opaque and clear vectors their shorter ways.
KASTREL_AVX2 inline void alpha8_any_avx2(__m256i sv, uint8_t* t) {
  const __m256i alpha_bits = _mm256_set1_epi32(int(0xFF000000u));
  if (_mm256_testc_si256(sv, alpha_bits)) {  // all opaque
    store256(t, alpha8_opaque_avx2(sv, load256(t)));
  } else if (!_mm256_testz_si256(sv, alpha_bits)) {  // all clear: nothing changes
    store256(t, alpha8_avx2(sv, load256(t)));
  }
}

// GCC 12's own AVX-512 headers trip its uninitialised-value warning at -O2.
#if defined(__GNUC__) && !defined(__clang__)  // clang has no such warning
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The blend of sixteen pixels sv onto d, giving the plain loop's bits in 16-bit lanes as
// alpha4_sse2 does, with one multiply where a 32-bit one takes two: the high half of (s - d),
// wrapped to 16 bits, times a * 256 is floor(a * (s - d) / 256) plus a multiple of 256, and
// only the low byte is kept. Then the alpha byte's borrow.
KASTREL_AVX512 inline __m512i alpha16_avx512(__m512i sv, __m512i d) {
  const __m512i low = _mm512_set1_epi16(0x00FF);
  const __m512i s_rb = _mm512_and_si512(sv, low), d_rb = _mm512_and_si512(d, low);
  const __m512i s_ag = _mm512_srli_epi16(sv, 8), d_ag = _mm512_srli_epi16(d, 8);
  // Each pixel's alpha byte into the high byte of both its 16-bit lanes.
  const __m512i a = _mm512_shuffle_epi8(
      sv, _mm512_set4_epi32(0x0F800F80, 0x0B800B80, 0x07800780, 0x03800380));
  const __m512i rb = _mm512_add_epi16(d_rb, _mm512_mulhi_epu16(_mm512_sub_epi16(s_rb, d_rb), a));
  __m512i ag = _mm512_add_epi16(d_ag, _mm512_mulhi_epu16(_mm512_sub_epi16(s_ag, d_ag), a));
  ag = _mm512_mask_add_epi32(ag, _mm512_cmpgt_epu32_mask(d_ag, s_ag), ag,
                             _mm512_and_si512(s_ag, _mm512_set1_epi32(int(0xFFFF0000u))));
  return _mm512_ternarylogic_epi32(rb, _mm512_slli_epi16(ag, 8), low, 0xEC);  // rb & low | ag
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

}  // namespace vox_blend
