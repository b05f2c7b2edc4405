#include "kastrel/engine/regions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kastrel/device/context.h"
#include "kastrel/engine/fatal.h"
#include "kastrel/engine/resolution.h"

namespace KASTREL::ENGINE {

constinit RECTLIST DIRTYREGIONS;

namespace {

// 32-bit two's-complement difference.
int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

RECTLIST::~RECTLIST() {
  if (ISIZE > 0) std::free(RECT);
  // Left valid and empty: exit-time code may still mark regions.
  RECT = nullptr;
  COUNT = 0;
  ISIZE = 0;
}

void RECTLIST::ADD(const MATH::RECT& RGN) {
  // RGN may be one of this list's own entries, which growing moves.
  const MATH::RECT copy = RGN;
  if (COUNT == ISIZE) {
    void* grown = ISIZE <= INT32_MAX - 10
                      ? RESIZEBLOCK(RECT, static_cast<size_t>(ISIZE) + 10, sizeof(MATH::RECT))
                      : nullptr;
    if (grown == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
    RECT = static_cast<MATH::RECT*>(grown);
    ISIZE += 10;
  }
  RECT[COUNT++] = copy;
}

void RECTLIST::CLEAR() { COUNT = 0; }

void MARKDIRTY(MATH::RECT& RGN) {
  // The frame loop walks the list on the thread that runs the game.
  if (!vox_hProgramThread("MARKDIRTY")) return;
  if (RGN.X == 0 && RGN.Y == 0 && RGN.W == 0 && RGN.H == 0) DIRTYREGIONS.CLEAR();
  if (RGN.W < 1) RGN.W = wrap_sub(SCREENRESOLUTION.WIDTH, RGN.X);
  if (RGN.H < 1) RGN.H = wrap_sub(SCREENRESOLUTION.HEIGHT, RGN.Y);
  DIRTYREGIONS.ADD(RGN);
}

namespace {

// A rectangle as [x0, x1) x [y0, y1).
struct SPAN {
  int64_t x0, y0, x1, y1;
  int64_t area() const { return (x1 - x0) * (y1 - y0); }
};

SPAN joint(const SPAN& a, const SPAN& b) {
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

}  // namespace

void MARKCHANGED(const MATH::RECT& RGN) {
  if (!vox_hProgramThread("MARKCHANGED")) return;
  if (RGN.W < 0 || RGN.H < 0) return;
  const int64_t w = SCREENRESOLUTION.WIDTH, h = SCREENRESOLUTION.HEIGHT;
  SPAN r{std::max<int64_t>(RGN.X, 0), std::max<int64_t>(RGN.Y, 0),
         std::min<int64_t>(int64_t{RGN.X} + RGN.W + 1, w), std::min<int64_t>(int64_t{RGN.Y} + RGN.H + 1, h)};
  if (r.x0 >= r.x1 || r.y0 >= r.y1) return;
  RECTLIST& list = DIRTYREGIONS;
  if (list.COUNT > 0) {
    const MATH::RECT& first = list.RECT[0];
    if (first.X == 0 && first.Y == 0 && first.W == w && first.H == h) return;  // all repainted
  }
  // Each merge removes an entry and restarts the scan, so n rectangles cost at most n^2 tests.
  for (int32_t i = 0; i < list.COUNT;) {
    const MATH::RECT& e = list.RECT[i];
    // Rectangles that neither overlap nor touch never merge: their joint box holds the gap too.
    // (One test of four comparisons: most entries fail it, in no order a branch could learn.)
    const int touches = int(e.X <= r.x1) + int(e.Y <= r.y1) + int(int64_t{e.X} + e.W >= r.x0) + int(int64_t{e.Y} + e.H >= r.y0);
    if (touches != 4) {
      ++i;
      continue;
    }
    const SPAN other{e.X, e.Y, int64_t{e.X} + e.W, int64_t{e.Y} + e.H};
    const SPAN both = joint(r, other);
    // Only rectangles inside the window are merged: MARKDIRTY's stay as it marked them.
    const bool inside = other.x0 >= 0 && other.y0 >= 0 && other.x1 <= w && other.y1 <= h &&
                        other.x0 < other.x1 && other.y0 < other.y1;
    if (!inside || both.area() > r.area() + other.area()) {
      ++i;
      continue;
    }
    r = both;
    std::memmove(list.RECT + i, list.RECT + i + 1, sizeof(MATH::RECT) * size_t(list.COUNT - i - 1));
    --list.COUNT;
    i = 0;
  }
  list.ADD(MATH::RECT{int32_t(r.x0), int32_t(r.y0), int32_t(r.x1 - r.x0), int32_t(r.y1 - r.y0)});
}

void MARKDIRTY(int32_t X, int32_t Y, int32_t W, int32_t H) {
  MATH::RECT RGN{X, Y, W, H};
  MARKDIRTY(RGN);
}

}  // namespace KASTREL::ENGINE
