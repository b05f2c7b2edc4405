// What recording a session costs a frame-loop pass. The pass is the demonstration's work without
// the 1 ms pause (the clock reading, the event fetch, the background, ball and cursor drawn with
// VOXALPHA into a 640 x 480 screen on the null driver), so the share measured is the share of a
// pass's work, not of its length with the pause. "recorder" is what recording adds to a pass,
// timed alone (the difference of two whole passes drowns in their noise on a busy machine): the
// clock reading and the pass's records, the frame's hash every 80th pass (the recorder's rule at
// the demonstration's 800 passes a second: every 10th pass, at most 10 times a second), and every
// 800th pass (a second) the block packed and written to a real file. (The engine's own recorder
// cannot be switched on here: the frame loop runs once per process and the paint benchmarks use
// it.)

#include <cmath>
#include <cstdio>
#include <string>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/input.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/detail/session_file.h"
#include "kastrel/graphics/bitmap.h"

namespace bench {
namespace {

using namespace KASTREL;
using GRAPHICS::BITMAP;
using GRAPHICS::VOXALPHA;

BITMAP& picture(const char* name) {
  static BITMAP pictures[3];
  static const char* names[3] = {"background.png", "ball.png", "cursor.png"};
  for (int i = 0; i < 3; ++i) {
    if (std::string(names[i]) != name) continue;
    if (pictures[i].HANDLE() == nullptr)
      pictures[i].LOADFROMFILE(std::string(KASTREL_SOURCE_DIR) + "/demo/images/" + name);
    return pictures[i];
  }
  return pictures[0];
}

// One pass's work; the frame-loop pass reads the clock and fetches an event first.
void Pass() {
  VOX::EVENT event{};
  benchmark::DoNotOptimize(vox_Timer());
  benchmark::DoNotOptimize(vox_GfxEvent(&event));
  picture("background.png").DRAWTO(nullptr, 0, 0, 0, 0, 0, 0, VOXALPHA);
  picture("ball.png").DRAWTO(nullptr, 288, 207, 0, 0, 0, 0, VOXALPHA);
  picture("cursor.png").DRAWTO(nullptr, 301, 230, 0, 0, 0, 0, VOXALPHA);
  benchmark::ClobberMemory();
}

bool Ready(benchmark::State& state) {
  if (vox_GfxScreenPtr() == nullptr) vox_GfxScreenRes(640, 480, 32, 1, MODE_NULL, 0);
  if (vox_GfxScreenPtr() == nullptr || picture("background.png").HANDLE() == nullptr) {
    state.SkipWithError("no screen or no pictures");
    return false;
  }
  return true;
}

}  // namespace

void RegisterReplay() {
  const std::string section = "Session recording";
  const std::string row = "demo pass";
  const double frame = 640.0 * 480 * 4;
  Columns(section, {"recorder", "pass"});
  Add({section, row, "recorder", frame}, [](benchmark::State& state) {
    if (!Ready(state)) return;
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
      state.SkipWithError("no temporary file");
      return;
    }
    ENGINE::SESSIONWRITER writer;
    int64_t pass = 0;
    for (auto _ : state) {
      writer.CLOCK(std::floor(vox_Timer() / ENGINE::SESSIONTICK) * ENGINE::SESSIONTICK);
      writer.PASS(nullptr);
      writer.ENDPASS();
      if (++pass % 80 == 0) writer.HASH(ENGINE::FRAMEHASH(vox_GfxScreenPtr(), 640, 480, 640 * 4));
      if (pass % 800 == 0) {
        const std::vector<uint8_t>& block = writer.BLOCK(false);
        std::fwrite(block.data(), 1, block.size(), file);
        std::fflush(file);
      }
    }
    std::fclose(file);
  });
  Add({section, row, "pass", frame}, [](benchmark::State& state) {
    if (!Ready(state)) return;
    vox_GfxLock();
    for (auto _ : state) Pass();
    vox_GfxUnlock(0, -1);
  });
  AddTarget(
      {"recording costs at most 5 % of a pass's work", section, {}, "recorder", "pass", 0.05});
}

}  // namespace bench
