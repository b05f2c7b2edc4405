#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/math/math.h"

// A clip rectangle per target: while one is set, every drawing call onto that target (blits
// and DRAWTO, transformed drawing, sprite sheets, shapes and fills, text) writes exactly the
// pixels it would write without it that lie inside the rectangle, and no others.
//
// DEST is an image handle or a bitmap; null or an empty bitmap is the screen, whose clip is in
// view coordinates and cut to the view when drawing. An image's clip is cut to the image when
// set and travels with the image (every bitmap sharing it sees it). Rectangles are closed as
// everywhere: {X, Y, W, H} covers columns X to X + W and rows Y to Y + H; a W or H below 0
// clips everything away. The screen's clip belongs to the thread that opened the screen; the
// engine's own drawing on it (the cursor, transitions) honours it too, so clear it after use.
// Failures return FALSE with the reason in KASTREL::LASTERROR(): a target that is not an image
// with the 32-byte header, an image over 16,777,214 pixels a side, the screen's clip from
// another thread or without a screen.
namespace KASTREL::GRAPHICS {

namespace DETAIL {

// The screen's clip: set, and [x0, x1) x [y0, y1) in view coordinates.
struct SCREENCLIP {
  bool set = false;
  int32_t screen_id = 0;
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
extern SCREENCLIP screen_clip;

// Where drawing may write on a target of w x h pixels (the screen's view, or an image):
// [x0, x1) x [y0, y1), within [0, w) x [0, h).
struct CLIPBOX {
  int64_t x0, y0, x1, y1;
};
CLIPBOX clip_of(const void* target, int64_t w, int64_t h);

}  // namespace DETAIL

// Sets DEST's clip to R (cut to the image; the screen's is cut to the view when drawing),
// replacing any clip before; FALSE, with LASTERROR(), for the failures above.
BOOLEAN SETCLIP(void* DEST, const MATH::RECT& R);
BOOLEAN SETCLIP(BITMAP& DEST, const MATH::RECT& R);
// Draws everywhere again.
BOOLEAN CLEARCLIP(void* DEST);
BOOLEAN CLEARCLIP(BITMAP& DEST);
// The clip in force: the rectangle set (as cut), or the whole target ({0, 0, W - 1, H - 1},
// the view for the screen) when none is; {0, 0, -1, -1} when nothing can be drawn or on failure.
MATH::RECT CLIP(void* DEST);
MATH::RECT CLIP(BITMAP& DEST);

// Sets a clip for as long as it lives, then puts back whatever clip the target had before:
//   { CLIPSCOPE CLIP(DEST, DIRTY); ... draw ... }
class CLIPSCOPE {
 public:
  // SETCLIP(TARGET, R), remembering the clip TARGET had; the destructor puts that back. When
  // SETCLIP fails (LASTERROR() says why), nothing changes and nothing is put back.
  CLIPSCOPE(void* TARGET, const MATH::RECT& R);
  CLIPSCOPE(BITMAP& TARGET, const MATH::RECT& R) : CLIPSCOPE(TARGET.HANDLE(), R) {}
  CLIPSCOPE(const CLIPSCOPE&) = delete;
  CLIPSCOPE& operator=(const CLIPSCOPE&) = delete;
  ~CLIPSCOPE();
  // Whether the clip was set.
  BOOLEAN ACTIVE() const { return TOBOOLEAN(SET); }

 private:
  void* DEST = nullptr;
  bool SET = false;
  uint8_t SAVED[12] = {};  // an image's clip bytes
  DETAIL::SCREENCLIP PREVIOUS;
};

}  // namespace KASTREL::GRAPHICS
