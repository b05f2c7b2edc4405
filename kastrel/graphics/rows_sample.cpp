// The sample loops of transformed drawing: the plain ones, the rules as written in bitmap.h, and
// vector ones for the loop sets that gain from them. They gather and weigh source pixels; how a
// sample meets the target is left to the blit's row loops, except for the commonest case, nearest
// 32-bit samples blended by ALPHA, whose samples go from the gather straight into the blit's own
// blend (rows_blend.h) without a trip through memory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/detail/rows_blend.h"

#if KASTREL_BLEND_X86
#include <immintrin.h>
#define KASTREL_SAMPLES_X86 1
#endif

namespace {

#define SAMPLE_ARGS                                                                     \
  uint8_t *out, const uint8_t *region, int32_t pitch, int64_t u, int64_t v, int64_t du, \
      int64_t dv, int32_t n, int32_t w, int32_t h

using vox_blend::load32;

template <int BPP>
void nearest_plain(SAMPLE_ARGS) {
  (void)w, (void)h;
  for (int32_t i = 0; i < n; ++i, u += du, v += dv)
    std::memcpy(out + i * BPP, region + (v >> 32) * pitch + (u >> 32) * BPP, BPP);
}

// The four pixels around a sample and its weights, edges clamped into the region.
struct Taps {
  const uint8_t *top, *bottom;  // rows y0 and y0 + 1
  int64_t left, right;          // byte offsets of columns x0 and x0 + 1
  uint32_t fx, fy;              // 0..255
};

inline Taps taps(const uint8_t* region, int32_t pitch, int64_t u, int64_t v, int32_t w, int32_t h) {
  const int64_t p = u - (int64_t{1} << 31), q = v - (int64_t{1} << 31);
  const int64_t x0 = p >> 32, y0 = q >> 32;
  Taps t;
  t.left = (x0 < 0 ? 0 : x0) * 4;
  t.right = (x0 + 1 >= w ? w - 1 : x0 + 1) * 4;
  t.top = region + (y0 < 0 ? 0 : y0) * pitch;
  t.bottom = region + (y0 + 1 >= h ? h - 1 : y0 + 1) * pitch;
  t.fx = uint32_t(p >> 24) & 255u;
  t.fy = uint32_t(q >> 24) & 255u;
  return t;
}

void bilinear_plain(SAMPLE_ARGS) {
  for (int32_t i = 0; i < n; ++i, u += du, v += dv) {
    const Taps t = taps(region, pitch, u, v, w, h);
    const uint32_t c00 = load32(t.top + t.left), c10 = load32(t.top + t.right);
    const uint32_t c01 = load32(t.bottom + t.left), c11 = load32(t.bottom + t.right);
    uint32_t pixel = 0;
    for (int c = 0; c < 32; c += 8) {
      const uint32_t top = ((c00 >> c) & 255u) * (256 - t.fx) + ((c10 >> c) & 255u) * t.fx;
      const uint32_t bottom = ((c01 >> c) & 255u) * (256 - t.fx) + ((c11 >> c) & 255u) * t.fx;
      pixel |= ((top * (256 - t.fy) + bottom * t.fy + 32768u) >> 16) << c;
    }
    std::memcpy(out + i * 4, &pixel, 4);
  }
}

void pick_one(uint8_t* out, const uint8_t* row, const uint8_t* index, int32_t n) {
  for (int32_t i = 0; i < n; ++i) std::memcpy(out + i * 4, row + index[i] * 4, 4);
}

void pick_plain(const VOX_PICK_RUN* runs, int32_t count, int32_t w) {
  (void)w;
  for (const VOX_PICK_RUN& r : std::span(runs, size_t(count))) pick_one(r.out, r.row, r.index, r.n);
}

void tint_plain(uint8_t* row, int32_t n, uint32_t tint) {
  for (int32_t i = 0; i < n * 4; ++i)
    row[i] = uint8_t((row[i] * (((tint >> (8 * (i & 3))) & 255u) + 1)) >> 8);
}

#if KASTREL_BLEND_SSE2

using namespace vox_blend;

// Nearest 32-bit samples four at a time, stored as one vector. Without gather instructions the
// loads stay scalar; the unrolled steps let them overlap.
__attribute__((always_inline)) inline void nearest32_body(SAMPLE_ARGS) {
  (void)w, (void)h;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const int64_t u1 = u + du, u2 = u1 + du, u3 = u2 + du;
    const int64_t v1 = v + dv, v2 = v1 + dv, v3 = v2 + dv;
    const uint32_t p0 = load32(region + (v >> 32) * pitch + (u >> 32) * 4);
    const uint32_t p1 = load32(region + (v1 >> 32) * pitch + (u1 >> 32) * 4);
    const uint32_t p2 = load32(region + (v2 >> 32) * pitch + (u2 >> 32) * 4);
    const uint32_t p3 = load32(region + (v3 >> 32) * pitch + (u3 >> 32) * 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4),
                     _mm_set_epi32(int(p3), int(p2), int(p1), int(p0)));
    u = u3 + du;
    v = v3 + dv;
  }
  for (; i < n; ++i, u += du, v += dv)
    std::memcpy(out + i * 4, region + (v >> 32) * pitch + (u >> 32) * 4, 4);
}

// Nearest samples blended onto the target row four at a time, by BLEND4(samples, target).
template <typename BLEND4>
__attribute__((always_inline)) inline void nearest_alpha_body(SAMPLE_ARGS, BLEND4 blend4) {
  (void)w, (void)h;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const int64_t u1 = u + du, u2 = u1 + du, u3 = u2 + du;
    const int64_t v1 = v + dv, v2 = v1 + dv, v3 = v2 + dv;
    const uint32_t p0 = load32(region + (v >> 32) * pitch + (u >> 32) * 4);
    const uint32_t p1 = load32(region + (v1 >> 32) * pitch + (u1 >> 32) * 4);
    const uint32_t p2 = load32(region + (v2 >> 32) * pitch + (u2 >> 32) * 4);
    const uint32_t p3 = load32(region + (v3 >> 32) * pitch + (u3 >> 32) * 4);
    blend4(_mm_set_epi32(int(p3), int(p2), int(p1), int(p0)), out + i * 4);
    u = u3 + du;
    v = v3 + dv;
  }
  for (; i < n; ++i, u += du, v += dv)
    store32(out + i * 4,
            alpha_pixel(load32(region + (v >> 32) * pitch + (u >> 32) * 4), load32(out + i * 4)));
}

// One pixel's channels in 16-bit lanes, left column beside right: the rows are weighed first in
// 16 bits (c * (256 - f) + c' * f is at most 65280), halved so that the columns' weighing fits
// pmaddwd; the result in four 32-bit lanes.
__attribute__((always_inline)) inline __m128i bilinear1(const Taps& t) {
  const auto pair = [&t](const uint8_t* row) {  // [left right] of a row, widened
    return _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(int(load32(row + t.left))),
                                                _mm_cvtsi32_si128(int(load32(row + t.right)))),
                             _mm_setzero_si128());
  };
  const __m128i rows =
      _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(pair(t.top), _mm_set1_epi16(short(256 - t.fy))),
                                   _mm_mullo_epi16(pair(t.bottom), _mm_set1_epi16(short(t.fy)))),
                     1);
  const __m128i by_channel = _mm_unpacklo_epi16(rows, _mm_unpackhi_epi64(rows, rows));
  const __m128i weights = _mm_set1_epi32(int((t.fx << 16) | (256 - t.fx)));
  return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(by_channel, weights), _mm_set1_epi32(1 << 14)),
                        15);
}

// Two pixels, packed into the low 8 bytes.
__attribute__((always_inline)) inline __m128i bilinear2(const uint8_t* region, int32_t pitch,
                                                        int64_t u, int64_t v, int64_t du,
                                                        int64_t dv, int32_t w, int32_t h) {
  const __m128i words = _mm_packs_epi32(bilinear1(taps(region, pitch, u, v, w, h)),
                                        bilinear1(taps(region, pitch, u + du, v + dv, w, h)));
  return _mm_packus_epi16(words, words);
}

__attribute__((always_inline)) inline void bilinear_body(SAMPLE_ARGS) {
  int32_t i = 0;
  for (; i + 2 <= n; i += 2, u += 2 * du, v += 2 * dv)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * 4),
                     bilinear2(region, pitch, u, v, du, dv, w, h));
  // The odd last sample by the same arithmetic, so that a pixel's value never depends on where
  // its run starts (a clip rectangle starts runs anywhere).
  if (i < n) {
    const __m128i words =
        _mm_packs_epi32(bilinear1(taps(region, pitch, u, v, w, h)), _mm_setzero_si128());
    const int32_t pixel = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(out + i * 4, &pixel, 4);
  }
}

__attribute__((always_inline)) inline void tint_body(uint8_t* row, int32_t n, uint32_t tint) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i t =
      _mm_add_epi16(_mm_unpacklo_epi8(_mm_set1_epi32(int(tint)), zero), _mm_set1_epi16(1));
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i * 4));
    const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), t), 8);
    const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), t), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i * 4), _mm_packus_epi16(lo, hi));
  }
  tint_plain(row + i * 4, n - i, tint);
}

#define FUSED_ARGS                                                                             \
  const VOX_SAMPLE_RUN *runs, int32_t count, const uint8_t *region, int32_t pitch, int64_t du, \
      int64_t dv, int32_t h

void nearest_alpha_sse2(FUSED_ARGS) {
  for (const VOX_SAMPLE_RUN& r : std::span(runs, size_t(count)))
    nearest_alpha_body(r.target, region, pitch, r.u, r.v, du, dv, r.n, 0, h,
                       [](__m128i sv, uint8_t* t) { store128(t, alpha4_sse2(sv, load128(t))); });
}
void nearest32_sse2(SAMPLE_ARGS) { nearest32_body(out, region, pitch, u, v, du, dv, n, w, h); }
void bilinear_sse2(SAMPLE_ARGS) { bilinear_body(out, region, pitch, u, v, du, dv, n, w, h); }
void tint_sse2(uint8_t* row, int32_t n, uint32_t tint) { tint_body(row, n, tint); }

const VOX_SAMPLE_LOOPS kSse2 = {{nearest_plain<1>, nearest_plain<2>, nearest32_sse2},
                                bilinear_sse2,
                                tint_sse2,
                                nearest_alpha_sse2,
                                pick_plain,
                                nullptr};

#if KASTREL_SAMPLES_X86
KASTREL_AVX void nearest_alpha_avx(FUSED_ARGS) {
  for (const VOX_SAMPLE_RUN& r : std::span(runs, size_t(count)))
    nearest_alpha_body(r.target, region, pitch, r.u, r.v, du, dv, r.n, 0, h,
                       [](__m128i sv, uint8_t* t)
                           KASTREL_AVX { store128(t, alpha4_avx(sv, load128(t))); });
}
KASTREL_AVX void nearest32_avx(SAMPLE_ARGS) {
  nearest32_body(out, region, pitch, u, v, du, dv, n, w, h);
}
KASTREL_AVX void bilinear_avx(SAMPLE_ARGS) {
  bilinear_body(out, region, pitch, u, v, du, dv, n, w, h);
}
KASTREL_AVX void tint_avx(uint8_t* row, int32_t n, uint32_t tint) { tint_body(row, n, tint); }

// With AVX2, eight nearest samples are gathered at once: the integer parts of the 32.32
// positions (their high words) become byte offsets in 32 bits, which every region below 2 GiB
// allows.
// The integer parts of eight 32.32 positions, four in each of a and b.
__attribute__((target("avx2"))) inline __m256i whole(__m256i a, __m256i b) {
  const __m256i high = _mm256_set_epi32(7, 5, 3, 1, 7, 5, 3, 1);
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(a, high))),
      _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(b, high)), 1);
}

// A run's last few samples are gathered and stored under a mask, so short runs (most rows of a
// small sprite) skip the scalar loop; masked-off lanes read and write nothing.
__attribute__((target("avx2"))) void nearest32_avx2(SAMPLE_ARGS) {
  if (int64_t(h) * pitch > INT32_MAX)
    return nearest32_avx(out, region, pitch, u, v, du, dv, n, w, h);
  __m256i u0 = _mm256_set_epi64x(u + 3 * du, u + 2 * du, u + du, u);
  __m256i v0 = _mm256_set_epi64x(v + 3 * dv, v + 2 * dv, v + dv, v);
  __m256i u1 = _mm256_add_epi64(u0, _mm256_set1_epi64x(4 * du));
  __m256i v1 = _mm256_add_epi64(v0, _mm256_set1_epi64x(4 * dv));
  const __m256i du8 = _mm256_set1_epi64x(8 * du), dv8 = _mm256_set1_epi64x(8 * dv);
  const __m256i pitches = _mm256_set1_epi32(pitch);
  const __m256i lanes = _mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i offsets = _mm256_add_epi32(_mm256_mullo_epi32(whole(v0, v1), pitches),
                                             _mm256_slli_epi32(whole(u0, u1), 2));
    const auto source = reinterpret_cast<const int*>(region);
    auto* to = reinterpret_cast<__m256i*>(out + i * 4);
    if (i + 8 <= n) {
      _mm256_storeu_si256(to, _mm256_i32gather_epi32(source, offsets, 1));
    } else {
      const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), lanes);
      const __m256i pixels =
          _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), source, offsets, mask, 1);
      _mm256_maskstore_epi32(reinterpret_cast<int*>(to), mask, pixels);
    }
    u0 = _mm256_add_epi64(u0, du8), u1 = _mm256_add_epi64(u1, du8);
    v0 = _mm256_add_epi64(v0, dv8), v1 = _mm256_add_epi64(v1, dv8);
  }
}

// Gathered and blended eight at a time; the last few under a mask, the target's too.
__attribute__((target("avx2"))) void nearest_alpha_avx2(FUSED_ARGS) {
  if (int64_t(h) * pitch > INT32_MAX)
    return nearest_alpha_avx(runs, count, region, pitch, du, dv, h);
  const __m256i steps_u0 = _mm256_set_epi64x(3 * du, 2 * du, du, 0);
  const __m256i steps_v0 = _mm256_set_epi64x(3 * dv, 2 * dv, dv, 0);
  const __m256i du4 = _mm256_set1_epi64x(4 * du), dv4 = _mm256_set1_epi64x(4 * dv);
  const __m256i du8 = _mm256_set1_epi64x(8 * du), dv8 = _mm256_set1_epi64x(8 * dv);
  const __m256i pitches = _mm256_set1_epi32(pitch);
  const __m256i lanes = _mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const auto source = reinterpret_cast<const int*>(region);
  for (const VOX_SAMPLE_RUN& r : std::span(runs, size_t(count))) {
    __m256i u0 = _mm256_add_epi64(_mm256_set1_epi64x(r.u), steps_u0);
    __m256i v0 = _mm256_add_epi64(_mm256_set1_epi64x(r.v), steps_v0);
    __m256i u1 = _mm256_add_epi64(u0, du4), v1 = _mm256_add_epi64(v0, dv4);
    const int32_t n = r.n;
    for (int32_t i = 0; i < n; i += 8) {
      const __m256i offsets = _mm256_add_epi32(_mm256_mullo_epi32(whole(v0, v1), pitches),
                                               _mm256_slli_epi32(whole(u0, u1), 2));
      uint8_t* to = r.target + i * 4;
      if (i + 8 <= n) {
        store256(to, alpha8_avx2(_mm256_i32gather_epi32(source, offsets, 1), load256(to)));
      } else {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), lanes);
        const __m256i sv =
            _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), source, offsets, mask, 1);
        const __m256i d = _mm256_maskload_epi32(reinterpret_cast<const int*>(to), mask);
        _mm256_maskstore_epi32(reinterpret_cast<int*>(to), mask, alpha8_avx2(sv, d));
      }
      u0 = _mm256_add_epi64(u0, du8), u1 = _mm256_add_epi64(u1, du8);
      v0 = _mm256_add_epi64(v0, dv8), v1 = _mm256_add_epi64(v1, dv8);
    }
  }
}

// Sixteen at a time, the AVX-512 way.
#if defined(__GNUC__) && !defined(__clang__)  // GCC 12's AVX-512 headers, as in rows_blend.h
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"  // their undefined pass-through, on constants
#endif

// A region whose rows and pitch in pixels are below 2^15 (every sprite's) has every pixel's index
// in 32 bits, and sixteen samples' indices are kept from one chunk to the next: with
// u = hi * 2^32 + lo, a step of H * 2^32 + L adds H to hi, and one more where lo + L carries past
// 2^32, exactly. The index is v's hi times the pitch in pixels plus u's hi, and the gather scales
// it.
inline bool short_region(int32_t pitch, int32_t h) {
  return pitch % 4 == 0 && pitch / 4 < (1 << 15) && h < (1 << 15);
}

// d * x for 0 <= d < 2^32, in 64 bits, without AVX-512DQ's 64-bit multiply.
KASTREL_AVX512 inline __m512i times(__m512i d, __m512i x) {
  return _mm512_add_epi64(_mm512_mul_epu32(d, x),
                          _mm512_slli_epi64(_mm512_mul_epu32(d, _mm512_srli_epi64(x, 32)), 32));
}

struct ALPHA_INDICES_AVX512 {
  __m512i lo_u, lo_v;               // lane i: the low words of i * du and i * dv
  __m512i index;                    // lane i: the hi parts of i * du, and of i * dv times the pitch
  __m512i lo_u16, lo_v16, index16;  // the same for sixteen steps
  __m512i pitch, one;
  const uint8_t* region;
  int32_t pixels_a_row;
};

KASTREL_AVX512 inline ALPHA_INDICES_AVX512 alpha_indices_avx512(const uint8_t* region,
                                                                int32_t pitch, int64_t du,
                                                                int64_t dv) {
  const int32_t p = pitch / 4;
  // Lane i's words: i * du and i * dv in 64 bits, eight lanes a register, their low and high
  // words gathered into sixteen 32-bit lanes.
  const __m512i first8 = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i next8 = _mm512_add_epi64(first8, _mm512_set1_epi64(8));
  const __m512i low_words =
      _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  const __m512i high_words =
      _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
  const __m512i su0 = times(first8, _mm512_set1_epi64(du)),
                su1 = times(next8, _mm512_set1_epi64(du));
  const __m512i sv0 = times(first8, _mm512_set1_epi64(dv)),
                sv1 = times(next8, _mm512_set1_epi64(dv));
  const __m512i hi_u = _mm512_permutex2var_epi32(su0, high_words, su1);
  const __m512i hi_v = _mm512_permutex2var_epi32(sv0, high_words, sv1);
  const int32_t index16 = int32_t((16 * dv) >> 32) * p + int32_t((16 * du) >> 32);
  return {_mm512_permutex2var_epi32(su0, low_words, su1),
          _mm512_permutex2var_epi32(sv0, low_words, sv1),
          _mm512_add_epi32(_mm512_mullo_epi32(hi_v, _mm512_set1_epi32(p)), hi_u),
          _mm512_set1_epi32(int32_t(uint32_t(16 * du))),
          _mm512_set1_epi32(int32_t(uint32_t(16 * dv))),
          _mm512_set1_epi32(index16),
          _mm512_set1_epi32(p),
          _mm512_set1_epi32(1),
          region,
          p};
}

// A run whose first sample has low words LOW_U and LOW_V (NOT_U and NOT_V their complements) and
// index INDEX. Each comes from memory: a broadcast from memory costs no vector port.
KASTREL_AVX512 inline void alpha_run_short_avx512(const ALPHA_INDICES_AVX512& c, uint8_t* target,
                                                  const uint32_t* low_u_word,
                                                  const uint32_t* low_v_word,
                                                  const uint32_t* not_u_word,
                                                  const uint32_t* not_v_word,
                                                  const int32_t* index_word, int32_t n) {
  if (n <= 0) return;
  // Adds LO to the low words; where one carries, the index gains CARRY.
  const auto step = [](__m512i* low, __m512i lo, __m512i* index, __m512i carry) KASTREL_AVX512 {
    *low = _mm512_add_epi32(*low, lo);
    *index = _mm512_mask_add_epi32(*index, _mm512_cmplt_epu32_mask(*low, lo), *index, carry);
  };
  // The first chunk's carries: lane i's low word passes 2^32 where its step's is above the
  // complement of the run's own, so a run of one chunk never forms its low words.
  const __m512i start = _mm512_add_epi32(_mm512_set1_epi32(*index_word), c.index);
  __m512i index = _mm512_mask_add_epi32(
      start, _mm512_cmpgt_epu32_mask(c.lo_u, _mm512_set1_epi32(int32_t(*not_u_word))), start,
      c.one);
  index = _mm512_mask_add_epi32(
      index, _mm512_cmpgt_epu32_mask(c.lo_v, _mm512_set1_epi32(int32_t(*not_v_word))), index,
      c.pitch);
  if (n > 16) {
    __m512i low_u = _mm512_add_epi32(_mm512_set1_epi32(int32_t(*low_u_word)), c.lo_u);
    __m512i low_v = _mm512_add_epi32(_mm512_set1_epi32(int32_t(*low_v_word)), c.lo_v);
    // Whole chunks need no lane mask.
    do {
      const __m512i sv = _mm512_i32gather_epi32(index, c.region, 4);
      _mm512_storeu_si512(target, alpha16_avx512(sv, _mm512_loadu_si512(target)));
      index = _mm512_add_epi32(index, c.index16);
      step(&low_u, c.lo_u16, &index, c.one);
      step(&low_v, c.lo_v16, &index, c.pitch);
      n -= 16, target += 64;
    } while (n > 16);
  }
  // The mask from memory: a load port, where forming it in a register takes a vector port.
  static constexpr __mmask16 kLanes[17] = {0,    1,    3,     7,     15,    31,   63,
                                           127,  255,  511,   1023,  2047,  4095, 8191,
                                           16383, 32767, 65535};
  const __mmask16 lanes = _load_mask16(const_cast<__mmask16*>(&kLanes[n]));
  const __m512i sv = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, index, c.region, 4);
  _mm512_mask_storeu_epi32(target, lanes,
                           alpha16_avx512(sv, _mm512_maskz_loadu_epi32(lanes, target)));
}

// Regions too large for 32-bit indices (no sprite) take the AVX2 loop.
KASTREL_AVX512 void nearest_alpha_avx512(FUSED_ARGS) {
  if (!short_region(pitch, h)) return nearest_alpha_avx2(runs, count, region, pitch, du, dv, h);
  const ALPHA_INDICES_AVX512 c = alpha_indices_avx512(region, pitch, du, dv);
  for (const VOX_SAMPLE_RUN& r : std::span(runs, size_t(count))) {
    const uint32_t low_u = uint32_t(r.u), low_v = uint32_t(r.v), not_u = ~low_u, not_v = ~low_v;
    const int32_t index = int32_t(r.v >> 32) * c.pixels_a_row + int32_t(r.u >> 32);
    alpha_run_short_avx512(c, r.target, &low_u, &low_v, &not_u, &not_v, &index, r.n);
  }
}

// Eight rows at once, lane k the row k further on: each edge stepped apart once, then eight rows
// a step, which moves -base by 8 * (qd * a + rd).
struct EDGE_LANES {
  __m512i q, r, a, qd, rd, qL, rL;
  bool up;
};

KASTREL_AVX512 inline EDGE_LANES edge_lanes(const VOX_EDGE& e) {
  // Lane k stepped k rows at once: q gains k * qd and r loses k * rd, then each time r is below
  // zero it takes back a and q gains one more, as k row steps would (r > -7a).
  const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i a = _mm512_set1_epi64(e.a), one = _mm512_set1_epi64(1);
  __m512i q = _mm512_add_epi64(_mm512_set1_epi64(e.q), times(lane, _mm512_set1_epi64(e.qd)));
  __m512i r = _mm512_sub_epi64(_mm512_set1_epi64(e.r), times(lane, _mm512_set1_epi64(e.rd)));
  for (int k = 0; k < 7; ++k) {
    const __mmask8 below = _mm512_cmplt_epi64_mask(r, _mm512_setzero_si512());
    r = _mm512_mask_add_epi64(r, below, r, a);
    q = _mm512_mask_add_epi64(q, below, q, one);
  }
  // 8 * rd is below 8 * a: its quotient is counted, not divided (a division is slower).
  const int64_t rd8 = 8 * e.rd;
  int64_t whole = 0;
  for (int64_t k = 1; k < 8; ++k) whole += rd8 >= k * e.a;
  return {q,
          r,
          a,
          _mm512_set1_epi64(8 * e.qd + whole),
          _mm512_set1_epi64(rd8 - whole * e.a),
          _mm512_set1_epi64(e.qL),
          _mm512_set1_epi64(e.rL),
          e.up};
}

KASTREL_AVX512 inline void edge_bounds(const EDGE_LANES& l, __m512i* from, __m512i* to) {
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i sum = _mm512_add_epi64(l.q, l.qL);
  const __m512i beyond = _mm512_mask_add_epi64(sum, _mm512_cmpgt_epi64_mask(l.rL, l.r), sum, one);
  if (l.up) {
    *from = _mm512_max_epi64(*from, l.q);
    *to = _mm512_min_epi64(*to, _mm512_sub_epi64(beyond, one));
  } else {
    *from = _mm512_max_epi64(*from, _mm512_sub_epi64(one, beyond));
    *to = _mm512_min_epi64(*to, _mm512_sub_epi64(_mm512_setzero_si512(), l.q));
  }
}

KASTREL_AVX512 inline void edge_next(EDGE_LANES& l) {
  l.r = _mm512_sub_epi64(l.r, l.rd);
  const __m512i wrapped = _mm512_srai_epi64(l.r, 63);
  l.q = _mm512_sub_epi64(_mm512_add_epi64(l.q, l.qd), wrapped);
  l.r = _mm512_add_epi64(l.r, _mm512_and_si512(l.a, wrapped));
}

// The runs of eight rows, as alpha_run_short_avx512 takes them.
struct TURNED_GROUP {
  alignas(64) int64_t target[8], n[8];
  alignas(32) uint32_t low_u[8], low_v[8], not_u[8], not_v[8];
  alignas(32) int32_t index[8];
  uint32_t runs;  // the rows with a run
};

// Eight rows at a time: their runs found in the lanes, then blended. The next eight rows' runs
// are found before this eight's are blended: finding them is a chain of dependent steps, which
// then runs beside the blending instead of after it.
KASTREL_AVX512 bool turned_alpha_avx512(VOX_TURNED_ROWS* t, const uint8_t* region, int32_t pitch,
                                        int32_t h) {
  if (!short_region(pitch, h)) return false;
  const ALPHA_INDICES_AVX512 c = alpha_indices_avx512(region, pitch, t->A, t->C);
  EDGE_LANES lu = edge_lanes(t->u), lv = edge_lanes(t->v);
  const __m512i firsts = _mm512_set1_epi64(t->first), lasts = _mm512_set1_epi64(t->last);
  const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  // Row k's sample at column `first`, and its target pixel at column 0.
  const auto along = [&lane](int64_t at, int64_t step) KASTREL_AVX512 {
    return _mm512_add_epi64(_mm512_set1_epi64(at), times(lane, _mm512_set1_epi64(step)));
  };
  __m512i row_u = along(t->u0 + t->first * t->A, t->B),
          row_v = along(t->v0 + t->first * t->C, t->D);
  __m512i row_to = along(int64_t(reinterpret_cast<uintptr_t>(t->row)), t->pitch);
  const __m512i u8 = _mm512_set1_epi64(8 * t->B), v8 = _mm512_set1_epi64(8 * t->D);
  const __m512i to8 = _mm512_set1_epi64(8 * t->pitch);
  const __m512i A = _mm512_set1_epi64(t->A), C = _mm512_set1_epi64(t->C);
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i pixels_a_row = _mm512_set1_epi64(c.pixels_a_row);
  // In locals: stores to the target could alias *t.
  const int64_t rows = t->rows;
  // Rows i to i + 7 into g, and the edges and rows on to the next eight.
  const auto find = [&](int64_t i, TURNED_GROUP& g) __attribute__((always_inline)) KASTREL_AVX512 {
    __m512i from = firsts, to = lasts;
    edge_bounds(lu, &from, &to);
    edge_bounds(lv, &from, &to);
    const __mmask8 inside = __mmask8(rows - i >= 8 ? 0xFF : (1u << (rows - i)) - 1);
    g.runs = _mm512_mask_cmple_epi64_mask(inside, from, to);
    if (g.runs) {
      const __m512i d = _mm512_sub_epi64(from, firsts);  // below 2^32 where there is a run
      const __m512i u = _mm512_add_epi64(row_u, times(d, A));
      const __m512i v = _mm512_add_epi64(row_v, times(d, C));
      _mm512_store_si512(g.target, _mm512_add_epi64(row_to, _mm512_slli_epi64(from, 2)));
      _mm512_store_si512(g.n, _mm512_add_epi64(_mm512_sub_epi64(to, from), one));
      const __m256i lu8 = _mm512_cvtepi64_epi32(u), lv8 = _mm512_cvtepi64_epi32(v);
      const __m256i ones = _mm256_set1_epi32(-1);
      _mm256_store_si256(reinterpret_cast<__m256i*>(g.low_u), lu8);
      _mm256_store_si256(reinterpret_cast<__m256i*>(g.low_v), lv8);
      _mm256_store_si256(reinterpret_cast<__m256i*>(g.not_u), _mm256_xor_si256(lu8, ones));
      _mm256_store_si256(reinterpret_cast<__m256i*>(g.not_v), _mm256_xor_si256(lv8, ones));
      // The index in the low words of 64-bit lanes: v's whole part is not negative where there
      // is a run, and an unsigned 32-bit multiply waits half as long as the 32-bit one.
      const __m512i index = _mm512_add_epi64(
          _mm512_mul_epu32(_mm512_srai_epi64(v, 32), pixels_a_row), _mm512_srai_epi64(u, 32));
      _mm256_store_si256(reinterpret_cast<__m256i*>(g.index), _mm512_cvtepi64_epi32(index));
    }
    edge_next(lu), edge_next(lv);
    row_u = _mm512_add_epi64(row_u, u8), row_v = _mm512_add_epi64(row_v, v8);
    row_to = _mm512_add_epi64(row_to, to8);
  };
  TURNED_GROUP groups[2];
  int64_t top = -1, bottom = -1;
  if (rows > 0) find(0, groups[0]);
  for (int64_t i = 0; i < rows; i += 8) {
    const TURNED_GROUP& g = groups[(i / 8) % 2];
    if (i + 8 < rows) find(i + 8, groups[(i / 8 + 1) % 2]);
    if (!g.runs) continue;
    if (top < 0) top = i + __builtin_ctz(g.runs);
    bottom = i + 31 - __builtin_clz(g.runs);
    for (uint32_t left = g.runs; left != 0; left &= left - 1) {
      const int k = __builtin_ctz(left);
      alpha_run_short_avx512(c, reinterpret_cast<uint8_t*>(uintptr_t(g.target[k])), g.low_u + k,
                             g.low_v + k, g.not_u + k, g.not_v + k, g.index + k, int32_t(g.n[k]));
    }
  }
  t->top = top, t->bottom = bottom;
  return true;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// A row of up to sixteen pixels held in two registers; each output takes its pixel from the half
// its index names (a permute reads only an index's low three bits).
__attribute__((target("avx2"))) void pick_avx2(const VOX_PICK_RUN* runs, int32_t count,
                                               int32_t w) {
  if (w > 16) return pick_plain(runs, count, w);
  const __m256i lanes = _mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const __m256i low_mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(w), lanes);
  const __m256i high_mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(w - 8), lanes);
  for (const VOX_PICK_RUN& r : std::span(runs, size_t(count))) {
    const auto* from = reinterpret_cast<const int*>(r.row);
    const __m256i lo = _mm256_maskload_epi32(from, low_mask);
    const __m256i hi = _mm256_maskload_epi32(from + 8, high_mask);
    int32_t i = 0;
    for (; i + 8 <= r.n; i += 8) {
      const __m256i at =
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r.index + i)));
      const __m256i picked = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, at),
                                                _mm256_permutevar8x32_epi32(hi, at),
                                                _mm256_cmpgt_epi32(at, _mm256_set1_epi32(7)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(r.out + i * 4), picked);
    }
    pick_one(r.out + i * 4, r.row, r.index + i, r.n - i);
  }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The whole row in one register, sixteen outputs a permute; the last few under a mask.
KASTREL_AVX512 void pick_avx512(const VOX_PICK_RUN* runs, int32_t count, int32_t w) {
  if (w > 16) return pick_plain(runs, count, w);
  const __mmask16 width = __mmask16((1u << w) - 1);
  for (const VOX_PICK_RUN& r : std::span(runs, size_t(count))) {
    const __m512i pixels = _mm512_maskz_loadu_epi32(width, r.row);
    int32_t i = 0;
    for (; i + 16 <= r.n; i += 16) {
      const __m512i at =
          _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r.index + i)));
      _mm512_storeu_si512(r.out + i * 4, _mm512_permutexvar_epi32(at, pixels));
    }
    if (i < r.n) {
      const __m512i at = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(
          _mm512_maskz_loadu_epi8(__mmask64((1u << (r.n - i)) - 1), r.index + i)));
      _mm512_mask_storeu_epi32(r.out + i * 4, __mmask16((1u << (r.n - i)) - 1),
                               _mm512_permutexvar_epi32(at, pixels));
    }
  }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The box of a region's pixels that are not clear (see vox_gfxSeenBox), G vectors of LANES pixels
// a row: one at each LANES pixels and the last flush with the row's end (overlapping the one
// before). The first and last rows with such a pixel are looked for from each end; the rows
// between are then ORed column by column with no test. Rows need at least LANES pixels.
// Vectors go to and from the loop set's own steps by reference, which every ABI passes alike.
template <typename V, int LANES, int G, typename LOAD, typename CLEAR, typename BITS>
__attribute__((always_inline)) inline bool seen_box_body(const uint8_t* region, int32_t pitch,
                                                         int32_t w, int32_t h, int32_t* box,
                                                         LOAD load, CLEAR clear, BITS bits) {
  int32_t at[G];
  for (int g = 0; g < G; ++g) at[g] = std::min(g * LANES, w - LANES);
  const auto seen = [&](int32_t y) __attribute__((always_inline)) {
    const uint8_t* row = region + int64_t{y} * pitch;
    V any{};
    for (int g = 0; g < G; ++g) {
      V p;
      load(&p, row + at[g] * 4);
      any |= p;
    }
    return !clear(any);
  };
  int32_t top = 0, bottom = h - 1;
  while (top < h && !seen(top)) ++top;
  if (top == h) return false;
  while (!seen(bottom)) --bottom;
  V columns[G];
  for (int g = 0; g < G; ++g) columns[g] = V{};
  // Two rows a step (the last one twice when their number is odd): each OR into the columns
  // waits for the one before.
  for (int32_t y = top; y <= bottom; y += 2) {
    const uint8_t* row = region + int64_t{y} * pitch;
    const uint8_t* next = y < bottom ? row + pitch : row;
    for (int g = 0; g < G; ++g) {
      V p, q;
      load(&p, row + at[g] * 4);
      load(&q, next + at[g] * 4);
      columns[g] |= p | q;
    }
  }
  uint64_t columns_seen = 0;
  for (int g = 0; g < G; ++g) columns_seen |= uint64_t(bits(columns[g])) << at[g];
  box[0] = __builtin_ctzll(columns_seen), box[1] = top;
  box[2] = 63 - __builtin_clzll(columns_seen), box[3] = bottom;
  return true;
}

using V2u64 = uint64_t __attribute__((vector_size(16)));
using V4u64 = uint64_t __attribute__((vector_size(32)));
using V8u64 = uint64_t __attribute__((vector_size(64)));

template <int G>
bool seen_box_sse2(const uint8_t* region, int32_t pitch, int32_t w, int32_t h, int32_t* box) {
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  return seen_box_body<V2u64, 4, G>(
      region, pitch, w, h, box, [](V2u64* v, const uint8_t* p) { *v = V2u64(load128(p)); },
      [&alpha](const V2u64& v) {
        return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(__m128i(v), alpha),
                                                 _mm_setzero_si128())) == 0xFFFF;
      },
      [&alpha](const V2u64& v) {
        const __m128i clear =
            _mm_cmpeq_epi32(_mm_and_si128(__m128i(v), alpha), _mm_setzero_si128());
        return ~_mm_movemask_ps(_mm_castsi128_ps(clear)) & 15;
      });
}

template <int G>
KASTREL_AVX2 bool seen_box_avx2(const uint8_t* region, int32_t pitch, int32_t w, int32_t h,
                                int32_t* box) {
  const __m256i alpha = _mm256_set1_epi32(int(0xFF000000u));
  return seen_box_body<V4u64, 8, G>(
      region, pitch, w, h, box,
      [](V4u64* v, const uint8_t* p) KASTREL_AVX2 { *v = V4u64(load256(p)); },
      [&alpha](const V4u64& v) KASTREL_AVX2 { return bool(_mm256_testz_si256(__m256i(v), alpha)); },
      [&alpha](const V4u64& v) KASTREL_AVX2 {
        const __m256i clear =
            _mm256_cmpeq_epi32(_mm256_and_si256(__m256i(v), alpha), _mm256_setzero_si256());
        return ~_mm256_movemask_ps(_mm256_castsi256_ps(clear)) & 255;
      });
}

template <int G>
KASTREL_AVX512 bool seen_box_avx512(const uint8_t* region, int32_t pitch, int32_t w, int32_t h,
                                    int32_t* box) {
  const __m512i alpha = _mm512_set1_epi32(int(0xFF000000u));
  return seen_box_body<V8u64, 16, G>(
      region, pitch, w, h, box,
      [](V8u64* v, const uint8_t* p) KASTREL_AVX512 { *v = V8u64(_mm512_loadu_si512(p)); },
      [&alpha](const V8u64& v)
          KASTREL_AVX512 { return _mm512_test_epi32_mask(__m512i(v), alpha) == 0; },
      [&alpha](const V8u64& v)
          KASTREL_AVX512 { return uint32_t(_mm512_test_epi32_mask(__m512i(v), alpha)); });
}

const VOX_SAMPLE_LOOPS kAvx2 = {{nearest_plain<1>, nearest_plain<2>, nearest32_avx2},
                                bilinear_avx,
                                tint_avx,
                                nearest_alpha_avx2,
                                pick_avx2,
                                nullptr};
const VOX_SAMPLE_LOOPS kAvx512 = {{nearest_plain<1>, nearest_plain<2>, nearest32_avx2},
                                  bilinear_avx,
                                  tint_avx,
                                  nearest_alpha_avx512,
                                  pick_avx512,
                                  turned_alpha_avx512};

const VOX_SAMPLE_LOOPS kAvx = {{nearest_plain<1>, nearest_plain<2>, nearest32_avx},
                               bilinear_avx,
                               tint_avx,
                               nearest_alpha_avx,
                               pick_plain,
                               nullptr};
#endif  // KASTREL_SAMPLES_X86

#endif

#undef SAMPLE_ARGS
#undef FUSED_ARGS

}  // namespace

const VOX_SAMPLE_LOOPS vox_gfxSamplesPlain = {
    {nearest_plain<1>, nearest_plain<2>, nearest_plain<4>},
    bilinear_plain,
    tint_plain,
    nullptr,
    pick_plain,
    nullptr};

// Regions narrower than the vectors, or wider than eight of them, are not looked through.
bool vox_gfxSeenBox(const uint8_t* region, int32_t pitch, int32_t w, int32_t h, int32_t* box) {
  box[0] = 0, box[1] = 0, box[2] = w - 1, box[3] = h - 1;
#if KASTREL_SAMPLES_X86
  using SEEN = bool (*)(const uint8_t*, int32_t, int32_t, int32_t, int32_t*);
  static constexpr SEEN kSse2Boxes[] = {seen_box_sse2<1>, seen_box_sse2<2>, seen_box_sse2<3>,
                                        seen_box_sse2<4>, seen_box_sse2<5>, seen_box_sse2<6>,
                                        seen_box_sse2<7>, seen_box_sse2<8>};
  static constexpr SEEN kAvx2Boxes[] = {seen_box_avx2<1>, seen_box_avx2<2>, seen_box_avx2<3>,
                                        seen_box_avx2<4>, seen_box_avx2<5>, seen_box_avx2<6>,
                                        seen_box_avx2<7>, seen_box_avx2<8>};
  static constexpr SEEN kAvx512Boxes[] = {seen_box_avx512<1>, seen_box_avx512<2>,
                                          seen_box_avx512<3>, seen_box_avx512<4>};
  const int32_t path = vox_hRowPath();
  if (path >= VOX_ROWS_AVX512 && w >= 16 && w <= 64)
    return kAvx512Boxes[(w + 15) / 16 - 1](region, pitch, w, h, box);
  const int32_t lanes = path >= VOX_ROWS_AVX2 ? 8 : 4;
  if (path == VOX_ROWS_PLAIN || w < lanes || w > 8 * lanes) return true;
  const int32_t vectors = (w + lanes - 1) / lanes;
  if (lanes == 8) return kAvx2Boxes[vectors - 1](region, pitch, w, h, box);
  return kSse2Boxes[vectors - 1](region, pitch, w, h, box);
#else
  (void)region, (void)pitch;
  return true;
#endif
}

// AVX-512 takes the AVX2 sample loops (gathering sixteen at a time into memory measured slower)
// and blends sixteen at a time.
const VOX_SAMPLE_LOOPS& vox_hSampleLoops() {
#if KASTREL_SAMPLES_X86
  switch (vox_hRowPath()) {
    case VOX_ROWS_PLAIN:
      return vox_gfxSamplesPlain;
    case VOX_ROWS_SSE2:
      return kSse2;
    case VOX_ROWS_AVX:
      return kAvx;
    case VOX_ROWS_AVX2:
      return kAvx2;
    default:
      return kAvx512;
  }
#elif KASTREL_BLEND_SSE2
  return vox_hRowPath() == VOX_ROWS_SSE2 ? kSse2 : vox_gfxSamplesPlain;
#else
  return vox_gfxSamplesPlain;
#endif
}
