#pragma once
#include <cstdint>

// Row work of the presentation pass, free of any desktop: finding the dirty
// band and turning frame-buffer rows into 0x00RRGGBB words.

// The first and last non-zero byte of `dirty` (height bytes). False when none is set.
bool vox_dirty_band(const uint8_t* dirty, int32_t height, int32_t* first, int32_t* last);

// One row of `width` pixels of a frame buffer with `bytes_per_pixel` 4 (0xAARRGGBB,
// alpha dropped), 2 (5-6-5, each channel scaled to the nearest eight-bit value) or
// 1 (palette index into `palette`, 256 words 0x00RRGGBB).
void vox_row_to_xrgb(const uint8_t* src, int32_t bytes_per_pixel, int32_t width,
                     const uint32_t* palette, uint32_t* dst);

// The see-through pixels of a shaped window's row: 0x00FF00FF where the pixel is
// the key colour (magenta on 32- and 16-bit rows, palette index 0 on 8-bit rows),
// 0 elsewhere.
void vox_row_to_shape(const uint8_t* src, int32_t bytes_per_pixel, int32_t width, uint32_t* dst);
