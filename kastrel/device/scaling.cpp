#include "kastrel/device/scaling.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
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
  if (*end != 0 || n < 1 || n > MAX_SCALE) return game;
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

void vox_scale_row_xrgb32(const uint8_t* src, int32_t width, int32_t scale, uint32_t* dst,
                          size_t pitch, int32_t rows) {
  int32_t x = 0;
#if defined(__SSE2__)
  if (scale == 2) {
    const __m128i rgb = _mm_set1_epi32(0xFFFFFF);
    for (; x + 4 <= width; x += 4) {
      __m128i p = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x)), rgb);
      __m128i lo = _mm_unpacklo_epi32(p, p), hi = _mm_unpackhi_epi32(p, p);
      for (int32_t r = 0; r < rows; ++r) {
        auto* d = reinterpret_cast<__m128i*>(dst + r * pitch + 2 * x);
        _mm_storeu_si128(d, lo);
        _mm_storeu_si128(d + 1, hi);
      }
    }
  }
#endif
  for (; x < width; ++x) {
    uint32_t p;
    std::memcpy(&p, src + 4 * x, 4);
    for (int32_t r = 0; r < rows; ++r) {
      std::fill_n(dst + r * pitch + static_cast<size_t>(x) * scale, scale, p & 0xFFFFFF);
    }
  }
}
