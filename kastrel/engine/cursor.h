#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/math/math.h"

namespace KASTREL::GRAPHICS {
struct BITMAP;
}

namespace KASTREL::ENGINE {

// The bitmap cursor. The engine only points at the bitmap: the game keeps it alive while it
// is set. Null: the system pointer is used.
extern constinit GRAPHICS::BITMAP* MOUSECURSORBITMAP;
// Offset from the pointer position to the cursor image's top-left corner.
extern constinit MATH::POINT MOUSECURSORHOTSPOT;
// The last pointer position the engine knows, in window pixels. The frame loop moves it on
// pointer moves only while a cursor bitmap is set and visible.
extern constinit MATH::POINT MOUSECURSORPOSITION;
extern constinit BOOLEAN MOUSECURSORVISIBLE;       // FALSE at start
extern constinit BOOLEAN MOUSECURSORINSIDEWINDOW;  // TRUE at start; kept by enter/leave events

// Shows or hides the cursor. Without a cursor bitmap they also show or hide the system
// pointer, taking MOUSECURSORPOSITION from it (-1, -1 while it is outside the window). With a
// bitmap they only set the flag: the frame loop draws the bitmap after its next repaint.
void SHOWCURSOR();
void HIDECURSOR();
// Sets the cursor bitmap and, for a non-null CURSOR, the hot spot (X, Y); a null CURSOR keeps
// the hot spot. Neither the visibility nor the screen changes: call SHOWCURSOR afterwards.
void SETCURSOR(GRAPHICS::BITMAP* CURSOR, int32_t X, int32_t Y);

// The hit test of MOUSEOVEROBJECT: which pixels of the object count.
enum TESTTYPE : int32_t {
  ALPHAVALUE = 0,  // pixels whose alpha byte is greater than VALUE
  TRANSCOLOR = 1,  // pixels whose 32-bit value (alpha included) differs from VALUE
};

// Whether the pointer is over a counted pixel of OBJ drawn with its top-left corner at
// (RECT.X, RECT.Y). The test point is MOUSECURSORPOSITION, plus MOUSECURSORHOTSPOT while a
// cursor bitmap is set (the cursor image's top-left corner). It must lie in RECT by
// RECT.HASPOINT (both far edges included); it is then looked up in OBJ at the offset from
// (RECT.X, RECT.Y). FALSE, without reading any pixel, when the point is outside RECT, when
// OBJ holds no 32-bit image, or when the offset falls outside OBJ (a RECT as large as OBJ or
// larger reaches one column and row past it). Reads no device state.
BOOLEAN MOUSEOVEROBJECT(const GRAPHICS::BITMAP& OBJ, const MATH::RECT& RECT, TESTTYPE MODE,
                        uint32_t VALUE);

}  // namespace KASTREL::ENGINE
