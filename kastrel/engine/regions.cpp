#include "kastrel/engine/regions.h"

#include <cstdlib>

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

void MARKDIRTY(int32_t X, int32_t Y, int32_t W, int32_t H) {
  MATH::RECT RGN{X, Y, W, H};
  MARKDIRTY(RGN);
}

}  // namespace KASTREL::ENGINE
