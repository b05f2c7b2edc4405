#include "kastrel/engine/cursor.h"

#include "kastrel/device/input.h"
#include "kastrel/graphics/bitmap.h"

namespace KASTREL::ENGINE {

constinit GRAPHICS::BITMAP* MOUSECURSORBITMAP = nullptr;
constinit MATH::POINT MOUSECURSORHOTSPOT;
constinit MATH::POINT MOUSECURSORPOSITION;
constinit BOOLEAN MOUSECURSORVISIBLE = FALSE;
constinit BOOLEAN MOUSECURSORINSIDEWINDOW = TRUE;

namespace {

// Without a cursor bitmap the system pointer is the cursor: show or hide it where it is.
void system_pointer(int32_t visible) {
  int32_t wheel = 0, buttons = 0, clip = 0;
  vox_GetMouse(&MOUSECURSORPOSITION.X, &MOUSECURSORPOSITION.Y, &wheel, &buttons, &clip);
  vox_SetMouse(MOUSECURSORPOSITION.X, MOUSECURSORPOSITION.Y, visible, -1);
}

}  // namespace

void SHOWCURSOR() {
  MOUSECURSORVISIBLE = TRUE;
  if (MOUSECURSORBITMAP == nullptr) system_pointer(1);
}

void HIDECURSOR() {
  MOUSECURSORVISIBLE = FALSE;
  if (MOUSECURSORBITMAP == nullptr) system_pointer(0);
}

void SETCURSOR(GRAPHICS::BITMAP* CURSOR, int32_t X, int32_t Y) {
  MOUSECURSORBITMAP = CURSOR;
  if (CURSOR != nullptr) MOUSECURSORHOTSPOT = MATH::POINT{X, Y};
}

BOOLEAN MOUSEOVEROBJECT(const GRAPHICS::BITMAP& OBJ, const MATH::RECT& RECT, TESTTYPE MODE,
                        uint32_t VALUE) {
  MATH::POINT m = MOUSECURSORPOSITION;
  if (MOUSECURSORBITMAP != nullptr) {
    m.X = static_cast<int32_t>(static_cast<uint32_t>(m.X) +
                               static_cast<uint32_t>(MOUSECURSORHOTSPOT.X));
    m.Y = static_cast<int32_t>(static_cast<uint32_t>(m.Y) +
                               static_cast<uint32_t>(MOUSECURSORHOTSPOT.Y));
  }
  if (!RECT.HASPOINT(m)) return FALSE;
  // HASPOINT puts m at or after the rectangle's corner, so the offset is not negative; the
  // far edges are inclusive, so it can still reach one past the bitmap.
  const int64_t px = int64_t{m.X} - RECT.X;
  const int64_t py = int64_t{m.Y} - RECT.Y;
  if (OBJ.HANDLE() == nullptr || OBJ.BPP() != 4 || px < 0 || py < 0 || px >= OBJ.WIDTH() ||
      py >= OBJ.HEIGHT()) {
    return FALSE;
  }
  const MATH::POINT p{static_cast<int32_t>(px), static_cast<int32_t>(py)};
  if (MODE == ALPHAVALUE) return uint32_t{OBJ.PIXELALPHA(p)} > VALUE ? TRUE : FALSE;
  return OBJ.PIXEL(p) != VALUE ? TRUE : FALSE;
}

}  // namespace KASTREL::ENGINE
