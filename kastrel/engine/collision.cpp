#include "kastrel/engine/collision.h"

#include <algorithm>

namespace KASTREL::ENGINE {

namespace {

// The far edge as RECT.HASPOINT takes it: wrapped in 32 bits.
int32_t far_edge(int32_t start, int32_t size) {
  return static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(size));
}

// Closed intervals [a, a_end] and [b, b_end] share a value; an interval whose end lies before
// its start is empty.
bool overlap(int32_t a, int32_t a_end, int32_t b, int32_t b_end) {
  return std::max(a, b) <= std::min(a_end, b_end);
}

}  // namespace

BOOLEAN COLLIDES(const MATH::RECT& BOX1, const MATH::RECT& BOX2) {
  const bool shared = overlap(BOX1.X, far_edge(BOX1.X, BOX1.W), BOX2.X, far_edge(BOX2.X, BOX2.W)) &&
                      overlap(BOX1.Y, far_edge(BOX1.Y, BOX1.H), BOX2.Y, far_edge(BOX2.Y, BOX2.H));
  return shared ? TRUE : FALSE;
}

}  // namespace KASTREL::ENGINE
