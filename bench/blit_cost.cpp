// kastrel_blit_cost: what one small blit costs besides its pixels, counted in instructions under
// callgrind (bench/blit_cost.sh runs it). For each loop set and mode it makes kCalls DRAWTO
// calls of a 32 x 32 sprite with a soft rim, wholly inside an 800 x 450 bitmap, as the frame
// loop does (screen lock held), then as many vox_GfxPut calls of the whole sprite, then calls
// that set's row loop itself with the same arguments. Each batch is counted alone (callgrind's
// client requests) and dumped under its own name; the script divides by kCalls and subtracts
// the row loop's count, which leaves the work around the loop. Counts do not depend on the
// machine's load. Outside callgrind the program runs the same calls and counts nothing.

#include <valgrind/callgrind.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

using namespace KASTREL::GRAPHICS;

namespace {

constexpr int kCalls = 1000, kSize = 32, kWidth = 800, kHeight = 450;
const char* const kSetNames[] = {"plain", "SSE2", "AVX", "AVX2", "AVX-512"};

// An opaque disc whose edge fades over two pixels, on the mask colour at alpha 0.
void PaintSprite(BITMAP& sprite) {
  auto* rows = static_cast<uint8_t*>(sprite.HANDLE()) + 32;
  const double c = (kSize - 1) / 2.0, rim = kSize / 2.0 - 1;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double r = std::hypot(x - c, y - c);
      const double a = std::fmin(1, std::fmax(0, (rim - r) / 2));
      const uint32_t pixel = a > 0 ? uint32_t(std::lround(a * 255)) << 24 | 0xC08040u : 0xFF00FFu;
      std::memcpy(rows + y * sprite.PITCH() + x * 4, &pixel, 4);
    }
  }
}

void Measure(int32_t set, RASTEROP method, int32_t mode, const char* name, BITMAP& sprite,
             BITMAP& target) {
  vox_hRowPathForce(set);
  const int x = 301, y = 117;  // an odd column: no row starts aligned
  const std::string label = std::string(kSetNames[set]) + " " + name;
  const std::string drawto_dump = label + " drawto", put_dump = label + " put",
                    rows_dump = label + " rows";
  sprite.DRAWTO(target, x, y, 0, 0, 0, 0, method);  // warms the choice of loops
  CALLGRIND_TOGGLE_COLLECT;
  for (int i = 0; i < kCalls; ++i) sprite.DRAWTO(target, x, y, 0, 0, 0, 0, method);
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(drawto_dump.c_str());

  const VOX_PUT_ROUTINE routine = method == VOXALPHA ? vox_hPutAlpha : vox_hPutTrans;
  CALLGRIND_TOGGLE_COLLECT;
  for (int i = 0; i < kCalls; ++i)
    vox_GfxPut(target.HANDLE(), x, y, sprite.HANDLE(), PUT_WHOLE_SOURCE, 0, 0, 0, PUT_ABSOLUTE,
               mode, routine, -1, nullptr, nullptr);
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(put_dump.c_str());

  const VOX_PUT_ROUTINE loop = vox_hRowTable()[mode][2];
  const auto* s = static_cast<const uint8_t*>(sprite.HANDLE()) + 32;
  auto* t = static_cast<uint8_t*>(target.HANDLE()) + 32 + y * target.PITCH() + x * 4;
  const auto sp = int32_t(sprite.PITCH()), tp = int32_t(target.PITCH());
  CALLGRIND_TOGGLE_COLLECT;
  for (int i = 0; i < kCalls; ++i) loop(s, t, kSize, kSize, sp, tp, -1, nullptr, nullptr);
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(rows_dump.c_str());
}

}  // namespace

int main() {
  vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
  BITMAP sprite(kSize, kSize, 0, 32), target(kWidth, kHeight, 0xFF405060, 32);
  if (!sprite.HANDLE() || !target.HANDLE()) {
    std::fprintf(stderr, "kastrel_blit_cost: no images: %s\n", KASTREL::LASTERROR());
    return 1;
  }
  PaintSprite(sprite);
  vox_GfxLock();  // as the frame loop holds it
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest(); ++set) {
    Measure(set, VOXALPHA, PUT_ALPHA, "ALPHA", sprite, target);
    Measure(set, VOXTRANS, PUT_TRANS, "TRANS", sprite, target);
  }
  vox_GfxUnlock(0, -1);
  std::printf("%d calls per batch\n", kCalls);
  return 0;
}
