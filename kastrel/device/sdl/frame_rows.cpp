#include "kastrel/device/sdl/frame_rows.h"

#include <cstring>

bool vox_dirty_band(const uint8_t* dirty, int32_t height, int32_t* first, int32_t* last) {
  int32_t top = 0;
  while (top < height && dirty[top] == 0) ++top;
  if (top == height) return false;
  int32_t bottom = height - 1;
  while (dirty[bottom] == 0) --bottom;
  *first = top;
  *last = bottom;
  return true;
}

void vox_row_to_xrgb(const uint8_t* src, int32_t bytes_per_pixel, int32_t width,
                     const uint32_t* palette, uint32_t* dst) {
  switch (bytes_per_pixel) {
    case 4:
      for (int32_t x = 0; x < width; ++x) {
        uint32_t p;
        std::memcpy(&p, src + 4 * x, 4);
        dst[x] = p & 0xFFFFFF;
      }
      break;
    case 2:
      for (int32_t x = 0; x < width; ++x) {
        uint32_t p = static_cast<uint32_t>(src[2 * x] | (src[2 * x + 1] << 8));
        uint32_t r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
        // Nearest eight-bit value of each channel, so black and white stay exact.
        r = (r * 255 + 15) / 31;
        g = (g * 255 + 31) / 63;
        b = (b * 255 + 15) / 31;
        dst[x] = (r << 16) | (g << 8) | b;
      }
      break;
    default:
      for (int32_t x = 0; x < width; ++x) dst[x] = palette[src[x]] & 0xFFFFFF;
      break;
  }
}

void vox_row_to_shape(const uint8_t* src, int32_t bytes_per_pixel, int32_t width, uint32_t* dst) {
  constexpr uint32_t KEY = 0xFF00FF;
  for (int32_t x = 0; x < width; ++x) {
    bool clear;
    if (bytes_per_pixel == 4) {
      uint32_t p;
      std::memcpy(&p, src + 4 * x, 4);
      clear = (p & 0xFFFFFF) == KEY;
    } else if (bytes_per_pixel == 2) {
      clear = (src[2 * x] | (src[2 * x + 1] << 8)) == 0xF81F;
    } else {
      clear = src[x] == 0;
    }
    dst[x] = clear ? KEY : 0;
  }
}
