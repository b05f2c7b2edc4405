// The demonstration's paint step: the 640 x 480 background, the ball and the cursor drawn with
// VOXALPHA onto the screen's frame buffer under the screen lock, as a paint handler and the
// cursor composite do it, against memcpy of one frame.
//
// TODO(frame loop): once the engine's frame loop is in, time its own paint pass (the ONPAINT
// raise for the whole window plus the cursor composite) instead of these three draws.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/bitmap.h"

namespace bench {
namespace {

using KASTREL::GRAPHICS::BITMAP;
using KASTREL::GRAPHICS::VOXALPHA;

struct Pictures {
  BITMAP background, ball, cursor;
  bool ok;
};

Pictures& Load() {
  static Pictures p = [] {
    vox_GfxScreenRes(640, 480, 32, 1, MODE_NULL, 0);
    const std::string dir = std::string(KASTREL_SOURCE_DIR) + "/demo/images/";
    Pictures q{BITMAP(dir + "background.png", 0, 0, 0, 0), BITMAP(dir + "ball.png", 0, 0, 0, 0),
               BITMAP(dir + "cursor.png", 0, 0, 0, 0), false};
    q.ok = q.background.HANDLE() && q.ball.HANDLE() && q.cursor.HANDLE();
    if (!q.ok) std::fprintf(stderr, "paint: the demonstration's pictures did not load\n");
    return q;
  }();
  return p;
}

}  // namespace

void RegisterPaint() {
  const std::string section = "demonstration paint step";
  Columns(section, {"kastrel", "memcpy"}, {"memcpy"});
  const std::string row = "640x480 + ball + cursor";
  const double frame = 640.0 * 480 * 4;
  Add({section, row, "kastrel", frame}, [](benchmark::State& state) {
    Pictures& p = Load();
    if (!p.ok) {
      state.SkipWithError("pictures missing");
      return;
    }
    vox_GfxLock();
    for (auto _ : state) {
      p.background.DRAWTO(nullptr, 0, 0, 0, 0, 0, 0, VOXALPHA);
      p.ball.DRAWTO(nullptr, 288, 207, 0, 0, 0, 0, VOXALPHA);
      p.cursor.DRAWTO(nullptr, 301, 230, 0, 0, 0, 0, VOXALPHA);
      benchmark::ClobberMemory();
    }
    vox_GfxUnlock(0, -1);
  });
  Add({section, row, "memcpy", frame}, [](benchmark::State& state) {
    Load();
    std::vector<uint8_t> picture(640 * 480 * 4, 0x5A);
    auto* screen = static_cast<uint8_t*>(vox_GfxScreenPtr());
    for (auto _ : state) {
      std::memcpy(screen, picture.data(), picture.size());
      benchmark::ClobberMemory();
    }
  });
  AddTarget({"paint step vs memcpy of a frame (<= 2x)", section, {row}, "kastrel", "memcpy", 2.0});
}

}  // namespace bench
