#include "kastrel/device/sdl/scaling.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <utility>

#include "kastrel/base/detail/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#elif defined(__SSE2__)  // WebAssembly built with -msse2
#include <emmintrin.h>
#endif

namespace {
constexpr int32_t MAX_SCALE = 16;
}

int32_t vox_scale_fit(int32_t fb_w, int32_t fb_h, int32_t area_w, int32_t area_h) {
  if (fb_w <= 0 || fb_h <= 0) return 1;
  return std::clamp(std::min(area_w / fb_w, area_h / fb_h), 1, MAX_SCALE);
}

int32_t vox_scale_request(const char* env, int32_t game) {
  if (env == nullptr || *env == 0) return game;
  if (std::strcmp(env, "auto") == 0) return 0;
  char* end = nullptr;
  long n = std::strtol(env, &end, 10);
  if (*end != 0 || n < 1 || n > MAX_SCALE) {
    static bool told = false;  // every mode set reads it again
    if (!std::exchange(told, true))
      std::fprintf(stderr, "kastrel: KASTREL_SCALE=\"%s\" is not a scale (1 to %d, or auto); ignored\n",
                   env, MAX_SCALE);
    return game;
  }
  return static_cast<int32_t>(n);
}

VOX_SCALE_LAYOUT vox_scale_layout(int32_t fb_w, int32_t fb_h, int32_t win_w, int32_t win_h,
                                  int32_t scale) {
  scale = std::max(scale, 1);
  // In 64 bits: a 32767-wide frame at scale 16 passes INT32_MAX.
  auto offset = [scale](int32_t win, int32_t fb) {
    return static_cast<int32_t>((int64_t{win} - int64_t{fb} * scale) / 2);
  };
  return {scale, offset(win_w, fb_w), offset(win_h, fb_h), win_w, win_h};
}

void vox_scale_to_frame(const VOX_SCALE_LAYOUT& layout, int32_t fb_w, int32_t fb_h, int32_t wx,
                        int32_t wy, int32_t* fx, int32_t* fy) {
  int64_t s = std::max(layout.scale, 1);
  // Floor division, so the border's first column left of the picture is -1, not 0.
  bool inside = wx >= 0 && wy >= 0 && wx < layout.win_w && wy < layout.win_h;
  auto to = [s, inside](int64_t w, int64_t origin, int32_t size) {
    int64_t d = w - origin;
    int64_t f = d >= 0 ? d / s : -((-d + s - 1) / s);
    if (inside) f = std::clamp<int64_t>(f, 0, std::max(size - 1, 0));
    return static_cast<int32_t>(std::clamp<int64_t>(f, INT32_MIN, INT32_MAX));
  };
  *fx = to(wx, layout.x, fb_w);
  *fy = to(wy, layout.y, fb_h);
}

void vox_scale_to_window(const VOX_SCALE_LAYOUT& layout, int32_t fx, int32_t fy, int32_t* wx,
                         int32_t* wy) {
  int64_t s = std::max(layout.scale, 1);
  auto to = [s](int64_t f, int64_t origin) {
    return static_cast<int32_t>(std::clamp<int64_t>(origin + f * s + s / 2, INT32_MIN, INT32_MAX));
  };
  *wx = to(fx, layout.x);
  *wy = to(fy, layout.y);
}

void vox_scale_row(const uint32_t* src, int32_t width, int32_t scale, uint32_t* dst) {
  switch (scale) {
    case 1:
      std::memcpy(dst, src, static_cast<size_t>(width) * 4);
      break;
    case 2:
      for (int32_t x = 0; x < width; ++x) dst[2 * x] = dst[2 * x + 1] = src[x];
      break;
    default:
      for (int32_t x = 0; x < width; ++x)
        std::fill_n(dst + static_cast<size_t>(x) * scale, scale, src[x]);
      break;
  }
}

namespace {

// The first window row of a 32-bit frame row: each pixel, alpha dropped, `scale` times.
// Returns how many pixels were done; the caller finishes the rest one by one.
using WidenFn = int32_t (*)(const uint8_t* src, int32_t width, uint32_t* dst);

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) int32_t widen2_avx2(const uint8_t* src, int32_t width,
                                                    uint32_t* dst) {
  const __m256i rgb = _mm256_set1_epi32(0xFFFFFF);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    __m256i p = _mm256_and_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * x)), rgb);
    // The unpacks pair pixels within each 128-bit half (lo: 0 0 1 1 | 4 4 5 5, hi: 2 2 3 3 |
    // 6 6 7 7); the half swaps put them in order.
    __m256i lo = _mm256_unpacklo_epi32(p, p), hi = _mm256_unpackhi_epi32(p, p);
    auto* d = reinterpret_cast<__m256i*>(dst + 2 * x);
    _mm256_storeu_si256(d, _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  return x;
}
#endif

#if defined(__SSE2__)
int32_t widen2_sse2(const uint8_t* src, int32_t width, uint32_t* dst) {
  const __m128i rgb = _mm_set1_epi32(0xFFFFFF);
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    __m128i p = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x)), rgb);
    auto* d = reinterpret_cast<__m128i*>(dst + 2 * x);
    _mm_storeu_si128(d, _mm_unpacklo_epi32(p, p));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi32(p, p));
  }
  return x;
}
#endif

WidenFn pick_widen2() {
#if defined(__x86_64__) || defined(__i386__)
  if (vox_hCpuFeatures().avx2) return widen2_avx2;
#endif
#if defined(__SSE2__)
  return widen2_sse2;
#else
  return [](const uint8_t*, int32_t, uint32_t*) { return int32_t{0}; };
#endif
}

}  // namespace

void vox_scale_row_xrgb32(const uint8_t* src, int32_t width, int32_t scale, uint32_t* dst,
                          size_t pitch, int32_t rows) {
  if (rows <= 0 || width <= 0) return;
  static const WidenFn widen2 = pick_widen2();
  // One window row is widened; the others are copies of it, which the copy routine writes
  // faster than a second store of every widened pixel.
  int32_t x = scale == 2 ? widen2(src, width, dst) : 0;
  for (; x < width; ++x) {
    uint32_t p;
    std::memcpy(&p, src + 4 * x, 4);
    std::fill_n(dst + static_cast<size_t>(x) * scale, scale, p & 0xFFFFFF);
  }
  const size_t bytes = static_cast<size_t>(width) * scale * 4;
  for (int32_t r = 1; r < rows; ++r) std::memcpy(dst + r * pitch, dst, bytes);
}
