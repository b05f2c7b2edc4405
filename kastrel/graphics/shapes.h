#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/math/math.h"

// Shapes in one colour on an image buffer or the screen.
//
// DEST is an image handle (a BITMAP's HANDLE()) or null for the screen; the BITMAP overloads
// take an empty bitmap for the screen, as DRAWTO does. On the screen, coordinates are relative
// to the view and drawing is clipped to it, and the rows drawn on are marked changed; an image
// clips to its own size. COLOR is 0xAARRGGBB (narrowed to 5-6-5 or its low byte on 16- and
// 8-bit targets) and METHOD combines it with each target pixel as DRAWTO combines a source
// pixel: VOXPSET writes it, VOXALPHA blends it by its alpha byte, VOXPRESET, VOXTRANS, VOXAND,
// VOXOR, VOXXOR and VOXADD as there. VOXCUSTOM is refused. Every pixel is written once per
// call, so VOXALPHA and VOXXOR outlines do not darken or cancel at their corners.
//
// Every call returns TRUE, or FALSE with a reason in KASTREL::LASTERROR() for no screen, a
// target that is not an image, a raster operation out of range, or a POLY without its points.
// Any coordinates are fine, INT32 extremes included: what lies outside the target is skipped.
namespace KASTREL::GRAPHICS {

// One pixel.
BOOLEAN DRAWPOINT(void* DEST, int32_t X, int32_t Y, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
// The line from (X1, Y1) to (X2, Y2), both ends included: one pixel per column when it is
// wider than tall (otherwise per row), the one nearest the true line (halves round down-right,
// toward larger coordinates); the same pixels whichever end comes first.
BOOLEAN DRAWLINE(void* DEST, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, uint32_t COLOR,
                 RASTEROP METHOD = VOXPSET);

// Rectangles are closed, as everywhere in the engine: FILLRECT covers exactly the pixels
// R.HASPOINT accepts, columns R.X to R.X + R.W and rows R.Y to R.Y + R.H, so a RECT of width
// W covers W + 1 columns and one of width 0 a single column. A negative W or H covers nothing
// (the far edges wrap in 32 bits, as in HASPOINT). DRAWRECT draws the outer ring of those
// pixels: the first and last row and column.
BOOLEAN DRAWRECT(void* DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN FILLRECT(void* DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD = VOXPSET);

// The disc of radius R around (P, Q) is every pixel (x, y) with
// (x - P)^2 + (y - Q)^2 <= R^2 + R; R = 0 is the one pixel (P, Q), a negative R nothing.
// DRAWCIRCLE draws the disc's pixels that have a side neighbour outside it.
BOOLEAN DRAWCIRCLE(void* DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR,
                   RASTEROP METHOD = VOXPSET);
BOOLEAN FILLCIRCLE(void* DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR,
                   RASTEROP METHOD = VOXPSET);

// The polygon through POLY's points in order, closed back to the first: every pixel whose
// centre (x + 0.5, y + 0.5) lies inside by the even-odd rule (a centre on a left edge counts
// in, on a right edge out). Fewer than three points cover nothing.
BOOLEAN FILLPOLY(void* DEST, const MATH::POLY& POLY, uint32_t COLOR, RASTEROP METHOD = VOXPSET);

// The triangle through A, B and C: DRAWTRIANGLE the three sides as DRAWLINE draws them (each
// pixel once), FILLTRIANGLE the inside by FILLPOLY's rule.
BOOLEAN DRAWTRIANGLE(void* DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN FILLTRIANGLE(void* DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD = VOXPSET);

// The same onto a bitmap's image; an empty bitmap stands for the screen.
BOOLEAN DRAWPOINT(BITMAP& DEST, int32_t X, int32_t Y, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN DRAWLINE(BITMAP& DEST, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, uint32_t COLOR,
                 RASTEROP METHOD = VOXPSET);
BOOLEAN DRAWRECT(BITMAP& DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN FILLRECT(BITMAP& DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN DRAWCIRCLE(BITMAP& DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR,
                   RASTEROP METHOD = VOXPSET);
BOOLEAN FILLCIRCLE(BITMAP& DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR,
                   RASTEROP METHOD = VOXPSET);
BOOLEAN FILLPOLY(BITMAP& DEST, const MATH::POLY& POLY, uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN DRAWTRIANGLE(BITMAP& DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD = VOXPSET);
BOOLEAN FILLTRIANGLE(BITMAP& DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD = VOXPSET);

}  // namespace KASTREL::GRAPHICS
