#pragma once
#include <cstdint>
#include <vector>

#include "kastrel/graphics/bitmap.h"

// Inside the graphics layer: where shapes and text write. A target is an image buffer or the
// screen's work page seen through its view; spans go straight to the blit's row loops, so a
// filled rectangle costs what a blit of the same area costs.
namespace KASTREL::GRAPHICS::DETAIL {

struct DRAWTARGET {
  uint8_t* pixels = nullptr;  // the view's top-left pixel
  int32_t bpp = 0;
  int32_t pitch = 0;
  int64_t width = 0, height = 0;  // the view; coordinates are relative to its corner
  int64_t clip_x0 = 0, clip_y0 = 0, clip_x1 = 0, clip_y1 = 0;  // where writing may go: [x0, x1) x [y0, y1)
  bool screen = false;  // the screen's visible page: rows written get marked
  bool locked = false;
  int64_t top = INT64_MAX, bottom = -1;  // rows written, for the screen's change marks
  int32_t mode = 0;                      // PUT_* number of the raster operation
  VOX_PUT_ROUTINE rows = nullptr;        // its loop at the target's depth
  std::vector<uint8_t> fill;             // one row of the colour at the target's depth
  int64_t fill_pixels = 0;
  uint32_t color = 0;  // at the target's depth
};

// The target behind DEST (null: the screen) for METHOD (VOXCUSTOM only where CUSTOM says so).
// On failure leaves a reason naming CALL and returns false. On success the screen is locked
// until finish().
bool begin(DRAWTARGET& t, void* DEST, RASTEROP METHOD, uint32_t COLOR, const char* CALL,
           bool CUSTOM = false);
// Marks the screen rows written as changed and releases the lock begin() took.
void finish(DRAWTARGET& t);

// The colour 0xAARRGGBB at a target depth: 5-6-5 at 2 bytes, the low byte at 1.
uint32_t narrow(uint32_t COLOR, int32_t bpp);

// Pixels x0..x1 (inclusive, any order, any range) of row y in the colour, clipped to the
// target's clip (within the view).
void span(DRAWTARGET& t, int64_t y, int64_t x0, int64_t x1);
// Rows y0..y1 of pixels x0..x1 (inclusive), clipped.
void block(DRAWTARGET& t, int64_t x0, int64_t y0, int64_t x1, int64_t y1);

}  // namespace KASTREL::GRAPHICS::DETAIL
