#pragma once
// The blit's per-pixel rules, written from their description channel by channel, for the tests
// of every call that draws through them.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"

namespace pixel_model {

// The pixels of an image buffer or a frame buffer.
struct Picture {
  uint8_t* base;
  int bpp, width, height, pitch;
  uint32_t get(int x, int y) const {
    uint32_t v = 0;
    for (int i = 0; i < bpp; ++i) v |= uint32_t{base[y * pitch + x * bpp + i]} << (8 * i);
    return v;
  }
  void set(int x, int y, uint32_t v) {
    for (int i = 0; i < bpp; ++i) base[y * pitch + x * bpp + i] = uint8_t(v >> (8 * i));
  }
};

struct ImageDeleter {
  void operator()(void* p) const { vox_GfxImageDestroy(p); }
};
using Image = std::unique_ptr<void, ImageDeleter>;

inline Image make_image(int w, int h, int bpp, uint32_t fill) {
  return Image(vox_GfxImageCreate(w, h, fill, bpp * 8, 0));
}

inline Picture picture_of(void* image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image, sizeof h);
  return {static_cast<uint8_t*>(image) + 32, h.bpp, int(h.width), int(h.height), int(h.pitch)};
}

inline uint32_t channel(uint32_t v, int c) { return (v >> (8 * c)) & 0xFF; }
inline int floor_div256(int n) { return n >= 0 ? n / 256 : -((-n + 255) / 256); }

inline uint32_t blender_a(uint32_t s, uint32_t d, void* p) {
  return (s ^ (d >> 3)) + *static_cast<uint32_t*>(p);
}
inline uint32_t blender_b(uint32_t s, uint32_t d, void*) { return s > d ? s - d : d * 7 + 1; }

// The new target pixel, or nothing when the rule skips it.
inline std::optional<uint32_t> model_pixel(int bpp, int mode, bool alpha_mask, uint32_t s,
                                           uint32_t d, int alpha, VOX_BLENDER blender,
                                           void* param) {
  const uint32_t all = bpp == 4 ? 0xFFFFFFFFu : bpp == 2 ? 0xFFFFu : 0xFFu;
  // TRANS and ADD skip the mask colour; at 32 bits its alpha byte does not count.
  const bool mask = bpp == 4 ? (s & 0xFFFFFF) == 0xFF00FF : s == (bpp == 2 ? 0xF81Fu : 0u);
  if (alpha_mask) return (d & 0x00FFFFFF) | (s << 24);
  if (mode == PUT_PSET || (mode == PUT_ALPHA && bpp != 4)) return s;
  if (mode == PUT_PRESET) return ~s & all;
  if (mode == PUT_AND) return s & d;
  if (mode == PUT_OR || (mode == PUT_ADD && bpp == 1)) return s | d;
  if (mode == PUT_XOR) return s ^ d;
  if ((mode == PUT_TRANS || mode == PUT_ADD) && mask) return std::nullopt;
  if (mode == PUT_TRANS) return bpp == 4 ? s & 0xFFFFFF : s;
  uint32_t r = 0;
  if (mode == PUT_ALPHA) {
    const int a = int(s >> 24);
    for (int c = 0; c < 3; ++c) {
      const int sc = int(channel(s, c)), dc = int(channel(d, c));
      r |= uint32_t(dc + floor_div256((sc - dc) * a)) << (8 * c);
    }
    // The alpha byte comes out of the green/alpha word as a whole, without sign extension.
    const int64_t sa = channel(s, 3), da = channel(d, 3), sg = channel(s, 1), dg = channel(d, 1);
    const int64_t u = (((sa - da) << 16) + (sg - dg)) & 0xFFFFFF;
    return r | uint32_t((da + ((u * a + (dg << 8)) >> 24)) & 0xFF) << 24;
  }
  const int a8 = alpha & 0xFF;
  if (mode == PUT_ADD && bpp == 2) {  // 5-bit fields at 11, 6 and 0: green's low bit stays 0
    const int f = (a8 + 7) >> 3;
    for (int shift : {11, 6, 0})
      r |= uint32_t(std::min(31, int(d >> shift & 31) + int(s >> shift & 31) * f / 32)) << shift;
    return r;
  }
  if (mode == PUT_ADD) {
    for (int c = 0; c < 4; ++c)
      r |= uint32_t(std::min(255, int(channel(d, c) + channel(s, c) * a8 / 256))) << (8 * c);
    return r;
  }
  if (bpp != 2) return blender(s, d, param) & all;  // CUSTOM
  // At 16 bits the blender sees 0x00RRGGBB and its answer is narrowed back.
  const auto widen = [](uint32_t v) {
    const uint32_t r5 = v >> 11, g = (v >> 5) & 63, b = v & 31;
    return (r5 * 8 + r5 / 4) << 16 | (g * 4 + g / 16) << 8 | (b * 8 + b / 4);
  };
  const uint32_t c = blender(widen(s), widen(d), param);
  return ((c >> 19) & 31) << 11 | ((c >> 10) & 63) << 5 | ((c >> 3) & 31);
}

}  // namespace pixel_model
