#pragma once
#include <cstddef>
#include <cstdint>

// Integer pixel scaling of the presentation, free of any desktop: every frame-buffer
// pixel shows as a scale x scale block, the picture centred in its window on black.
// The game sees frame-buffer pixels only; these map between the two.

// Where the picture lies in a window: scale and the window position of its top-left.
struct VOX_SCALE_LAYOUT {
  int32_t scale;
  int32_t x;
  int32_t y;
  int32_t win_w;  // the window's size
  int32_t win_h;
};

// The largest scale (1 at least) at which a frame of fb_w x fb_h fits in area_w x area_h.
int32_t vox_scale_fit(int32_t fb_w, int32_t fb_h, int32_t area_w, int32_t area_h);

// The scale asked for: `env` (the KASTREL_SCALE text, may be null) when it is "auto" or a
// whole number 1..16, else `game`. 0 means auto.
int32_t vox_scale_request(const char* env, int32_t game);

// The picture at `scale` centred in a window of win_w x win_h (offsets may be negative
// when the picture is larger than the window).
VOX_SCALE_LAYOUT vox_scale_layout(int32_t fb_w, int32_t fb_h, int32_t win_w, int32_t win_h,
                                  int32_t scale);

// A window position to the frame-buffer pixel under it. Positions inside the window but in
// the black border clamp to the nearest edge pixel of the frame; positions outside the
// window map beyond the frame's edges, as they would unscaled.
void vox_scale_to_frame(const VOX_SCALE_LAYOUT& layout, int32_t fb_w, int32_t fb_h, int32_t wx,
                        int32_t wy, int32_t* fx, int32_t* fy);

// A frame-buffer pixel to the window position at the middle of its block.
void vox_scale_to_window(const VOX_SCALE_LAYOUT& layout, int32_t fx, int32_t fy, int32_t* wx,
                         int32_t* wy);

// Widens a row of `width` words: each repeated `scale` times into dst (width * scale words).
void vox_scale_row(const uint32_t* src, int32_t width, int32_t scale, uint32_t* dst);

// vox_row_to_xrgb of a 32-bit row and the widening in one pass (alpha dropped), written to
// `rows` rows `pitch` words apart: the hot path of a scaled presentation.
void vox_scale_row_xrgb32(const uint8_t* src, int32_t width, int32_t scale, uint32_t* dst,
                          size_t pitch, int32_t rows);
