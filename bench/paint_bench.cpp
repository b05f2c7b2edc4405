// The demonstration's paint step, against memcpy of one frame:
//  - "engine frame loop": the real frame loop on the null driver, with a screen whose paint
//    handler draws the 640 x 480 background and the 64 x 66 ball with VOXALPHA, the whole
//    window marked dirty every pass and the bitmap cursor shown. Each pass's time from the
//    start of its ONPAINT to the start of its ONFRAME (the repaint plus the cursor composite)
//    is one sample; the loop runs once per process, so its samples are gathered on first use
//    and handed to the benchmark as manual iteration times.
//  - "three draws": the same three VOXALPHA draws made directly under the screen lock.
// Each pass of the frame loop starts after its 1 ms pause (the presentation thread's turn), and
// a core back from a pause runs the first copy of a frame at about half speed (measured: a 1.2 MB
// memcpy 33 us back to back, 60-67 us after a 1 ms sleep). So the frame loop's rows are held
// against a memcpy that follows the same pause; the back-to-back memcpy is shown for scale. Both
// paused readings are the median of 1,500 samples: a pass the machine took away is not typical.
// Both once per loop set the processor runs, each in the loop set's own process (see main.cpp):
// the frame loop takes its passes with the set forced through the rows' test hook.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/engine.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/rows.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;
using GRAPHICS::BITMAP;
using GRAPHICS::VOXALPHA;

constexpr int32_t kPasses = 1500;
constexpr int32_t kBallX = 288, kBallY = 207;

BITMAP background, ball, cursor;
bool pictures_loaded = false;
int32_t paint_screen = -1;
double paint_started = 0;
std::vector<std::vector<double>> paint_seconds;  // by index into MeasuredLoopSets()
size_t loop_set = 0;                             // the index being sampled

void LoadPictures() {
  const std::string dir = std::string(KASTREL_SOURCE_DIR) + "/demo/images/";
  background.LOADFROMFILE(dir + "background.png");
  ball.LOADFROMFILE(dir + "ball.png");
  cursor.LOADFROMFILE(dir + "cursor.png");
  pictures_loaded = background.HANDLE() && ball.HANDLE() && cursor.HANDLE();
  if (!pictures_loaded) std::fprintf(stderr, "paint: the demonstration's pictures did not load\n");
}

void PAINTSCREEN_ONSHOW() {
  LoadPictures();
  SETCURSOR(&cursor, 0, 0);
  MOUSECURSORPOSITION = MATH::POINT{301, 230};
  SHOWCURSOR();
}

void PAINTSCREEN_ONPAINT(BITMAP& DEST, MATH::RECT& RGN) {
  if (paint_started == 0) paint_started = vox_Timer();
  background.DRAWTO(DEST, RGN.X, RGN.Y, RGN.X, RGN.Y, RGN.W, RGN.H, VOXALPHA);
  ball.DRAWTO(DEST, kBallX, kBallY, 0, 0, 0, 0, VOXALPHA);
}

void PAINTSCREEN_ONFRAME(float, INPUTEVENT, VOX::EVENT&) {
  const std::vector<int32_t> sets = MeasuredLoopSets();
  if (paint_seconds.empty()) {
    paint_seconds.resize(sets.size());
    vox_hRowPathForce(sets[0]);
  }
  if (paint_started != 0) {
    paint_seconds[loop_set].push_back(vox_Timer() - paint_started);
    paint_started = 0;
  }
  if (paint_seconds[loop_set].size() >= size_t(kPasses) && ++loop_set < sets.size())
    vox_hRowPathForce(sets[loop_set]);
  if (!pictures_loaded || loop_set >= sets.size()) {
    vox_hRowPathForce(vox_hRowPathBest());
    SHUTDOWN(TRUE);
    return;
  }
  MATH::RECT whole{0, 0, SCREENRESOLUTION.WIDTH, SCREENRESOLUTION.HEIGHT};
  MARKDIRTY(whole);
}

void PAINT_ONINITIALIZE() {
  paint_screen = NEWGAMESCREEN();
  GAMESCREENS[paint_screen].ONSHOW += PAINTSCREEN_ONSHOW;
  GAMESCREENS[paint_screen].ONPAINT += PAINTSCREEN_ONPAINT;
  GAMESCREENS[paint_screen].ONFRAME += PAINTSCREEN_ONFRAME;
  SHOW(paint_screen, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
}

// Runs the frame loop once, the first time it is asked for; the samples of every loop set this
// process measures.
const std::vector<std::vector<double>>& Samples() {
  static const bool ran = [] {
    ONINITIALIZE += PAINT_ONINITIALIZE;
    if (!INITIALIZE(640, 480, FALSE, MODE_NULL))
      std::fprintf(stderr, "paint: the engine did not start\n");
    return true;
  }();
  (void)ran;
  return paint_seconds;
}

// The background, the ball and the cursor, as the demonstration draws them.
void ThreeDraws() {
  background.DRAWTO(nullptr, 0, 0, 0, 0, 0, 0, VOXALPHA);
  ball.DRAWTO(nullptr, kBallX, kBallY, 0, 0, 0, 0, VOXALPHA);
  cursor.DRAWTO(nullptr, 301, 230, 0, 0, 0, 0, VOXALPHA);
}

double Median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// The median time of work over the passes, each made after a 1 ms pause as each pass of the frame
// loop follows its own.
template <typename Work>
double AfterPauses(Work work) {
  std::vector<double> samples;
  for (int32_t i = 0; i < kPasses; ++i) {
    vox_SleepEx(1, 1);
    const double start = vox_Timer();
    work();
    benchmark::ClobberMemory();
    samples.push_back(vox_Timer() - start);
  }
  return Median(samples);
}

// A memcpy of one frame onto the screen after the pause; measured once per process.
double PausedCopy() {
  static const double typical = [] {
    Samples();
    std::vector<uint8_t> picture(640 * 480 * 4, 0x5A);
    auto* screen = static_cast<uint8_t*>(vox_GfxScreenPtr());
    return AfterPauses([&] { std::memcpy(screen, picture.data(), picture.size()); });
  }();
  return typical;
}

// The three draws on a loop set, under the screen lock, for the life of the object; Ready() is
// false (and the benchmark skipped) where the pictures did not load.
class DrawsOn {
 public:
  DrawsOn(benchmark::State& state, int32_t set) : before_(vox_hRowPath()) {
    Samples();
    if (!pictures_loaded) state.SkipWithError("pictures missing");
    vox_hRowPathForce(set);
    vox_GfxLock();
  }
  ~DrawsOn() {
    vox_GfxUnlock(0, -1);
    vox_hRowPathForce(before_);
  }
  bool Ready() const { return pictures_loaded; }

 private:
  int32_t before_;
};

}  // namespace

void RegisterPaint() {
  const std::string section = "demonstration paint step";
  Columns(section, {"kastrel", "memcpy", "memcpy after the pause"},
          {"memcpy", "memcpy after the pause"});
  const double frame = 640.0 * 480 * 4;
  const std::vector<int32_t> sets = LoopSets();
  const std::vector<int32_t> measured = MeasuredLoopSets();
  for (const int32_t set : sets) {
    // The index of the set among this process's samples (none in the parent, which only lists it).
    const size_t index =
        size_t(std::find(measured.begin(), measured.end(), set) - measured.begin());
    const std::string on = std::string(" [") + LoopSetName(set) + "]";
    const std::string loop_row = "engine frame loop" + on;
    const std::string draws_row = "three draws" + on;
    const std::string paused_row = "three draws after the pause" + on;
    Add(
        {section, loop_row, "kastrel", frame, set},
        [index](benchmark::State& state) {
          const auto& all = Samples();
          if (all.size() <= index || all[index].empty()) {
            state.SkipWithError("no frame-loop passes");
            return;
          }
          const double typical = Median(all[index]);
          for (auto _ : state) state.SetIterationTime(typical);
        },
        true);
    Add({section, draws_row, "kastrel", frame, set}, [set](benchmark::State& state) {
      const DrawsOn draws(state, set);
      if (!draws.Ready()) return;
      for (auto _ : state) {
        ThreeDraws();
        benchmark::ClobberMemory();
      }
    });
    // The same draws, each after the frame loop's pause: what the loop's own work adds shows
    // as the difference between this row and the frame loop's.
    Add(
        {section, paused_row, "kastrel", frame, set},
        [set](benchmark::State& state) {
          const DrawsOn draws(state, set);
          if (!draws.Ready()) return;
          const double typical = AfterPauses(ThreeDraws);
          for (auto _ : state) state.SetIterationTime(typical);
        },
        true);
    // The back-to-back memcpy on both rows; the paused one where the frame loop pauses.
    for (const std::string& row : {loop_row, draws_row}) {
      Add({section, row, "memcpy", frame, set}, [](benchmark::State& state) {
        Samples();
        std::vector<uint8_t> picture(640 * 480 * 4, 0x5A);
        auto* screen = static_cast<uint8_t*>(vox_GfxScreenPtr());
        for (auto _ : state) {
          std::memcpy(screen, picture.data(), picture.size());
          benchmark::ClobberMemory();
        }
      });
    }
    for (const std::string& row : {loop_row, paused_row}) {
      Add(
          {section, row, "memcpy after the pause", frame, set},
          [](benchmark::State& state) {
            const double typical = PausedCopy();
            for (auto _ : state) state.SetIterationTime(typical);
          },
          true);
    }
    AddTarget({"paint step (frame loop) vs memcpy of a frame after the same pause (<= 2x)" + on,
               section,
               {loop_row},
               "kastrel",
               "memcpy after the pause",
               2.0});
  }
}

}  // namespace bench
