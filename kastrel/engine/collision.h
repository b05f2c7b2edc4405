#pragma once
#include "kastrel/boolean.h"
#include "kastrel/math/math.h"

// Hit testing of rectangles (circles and polygons are in math.h).
namespace KASTREL::ENGINE {

// Whether the two rectangles share at least one point. They are closed as in RECT.HASPOINT:
// BOX covers BOX.X..BOX.X + BOX.W and BOX.Y..BOX.Y + BOX.H, both far edges included (with
// their 32-bit wraparound), so rectangles that only touch along an edge or at a corner
// collide, and one with a negative W or H covers no point and collides with nothing.
BOOLEAN COLLIDES(const MATH::RECT& BOX1, const MATH::RECT& BOX2);

}  // namespace KASTREL::ENGINE
