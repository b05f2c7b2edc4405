// The paced presentation (MODE_VSYNC) under both thread models of the window driver, in one run
// on the same desktop: the driver's own presentation thread, and the game's thread serving the
// window at its waits. Each model opens a 320 x 240 window at scale 2 and is driven as the
// engine's frame loop drives it (lock, draw, unlock, wait for the next presentation pass): first
// with a new picture every pass, then at rest with the same one. The models take turns over a
// few rounds, so that a machine busy with other work weighs on both alike.
//
//   xvfb-run -a build/bench/bench/kastrel_paced_models [seconds per phase] [rounds]
//
// Prints presents a second, the median interval between passes, the intervals over 25 ms and the
// process's processor time at rest, side by side.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/timer.h"

namespace {

struct Figures {
  double seconds = 0;        // of passes with new pictures
  int64_t presents = 0;      // pictures sent then
  std::vector<double> gaps;  // between pass starts, seconds
  double rest_cpu = 0;       // processor seconds at rest
  double rest_seconds = 0;   // wall seconds at rest
};

// Passes for `seconds`, as the engine's frame loop makes them; the start of each.
std::vector<double> frame_loop(double seconds, bool change) {
  std::vector<double> starts;
  VOX_GFX_SCREEN* s = __vox_gfx;
  for (const double end = vox_Timer() + seconds; vox_Timer() < end;) {
    vox_GfxLock();
    starts.push_back(vox_Timer());
    const uint32_t color = change ? 0xFF000000u | uint32_t(starts.size() * 0x010203u) : 0xFF336699u;
    for (int32_t y = 0; y < s->height; ++y)
      std::fill_n(reinterpret_cast<uint32_t*>(s->framebuffer + y * s->pitch), s->width, color);
    const int32_t pass = vox_GfxPresentPass();
    vox_GfxUnlock(-1, -1);
    pass < 0 ? vox_SleepEx(1, 1) : vox_GfxWaitPresent(pass);
  }
  return starts;
}

bool measure(int32_t model, double seconds, Figures& f) {
  vox_GfxSetPassThread(model);
  vox_GfxSetPresentation(PRESENT_VSYNC);
  vox_GfxSetScale(2);
  vox_GfxScreenRes(320, 240, 32, 1, 0, 0);
  if (vox_GetError() != 0) {
    std::fprintf(stderr, "kastrel_paced_models: no window: %s\n", KASTREL::LASTERROR());
    return false;
  }
  frame_loop(0.5, true);  // past the probe that finds out whether presents wait
  const int32_t before = vox_GfxPresentCount();
  const std::vector<double> starts = frame_loop(seconds, true);
  f.presents += vox_GfxPresentCount() - before;
  f.seconds += starts.back() - starts.front();
  for (size_t i = 1; i < starts.size(); ++i) f.gaps.push_back(starts[i] - starts[i - 1]);
  frame_loop(0.5, false);  // the last new picture out
  const std::clock_t cpu = std::clock();
  const double wall = vox_Timer();
  frame_loop(seconds, false);
  f.rest_cpu += double(std::clock() - cpu) / CLOCKS_PER_SEC;
  f.rest_seconds += vox_Timer() - wall;
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (!(seconds >= 1 && seconds <= 600) || rounds < 1 || rounds > 100) {
    std::fprintf(stderr,
                 "usage: kastrel_paced_models [seconds per phase, 1 to 600] [rounds, 1 to 100]\n");
    return 2;
  }
  Figures own, game;
  for (int round = 0; round < rounds; ++round) {
    if (!measure(PASS_OWN_THREAD, seconds, own) || !measure(PASS_GAME_THREAD, seconds, game))
      return 1;
  }
  const auto median = [](std::vector<double> gaps) {
    std::sort(gaps.begin(), gaps.end());
    return gaps.empty() ? 0.0 : gaps[gaps.size() / 2] * 1e3;
  };
  const auto late = [](const std::vector<double>& gaps) {
    return std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 0.025; });
  };
  std::printf("paced presentation, 320 x 240 at scale 2, %d rounds of %.0f s each\n", rounds,
              seconds);
  std::printf("%-26s %22s %22s\n", "", "presentation thread", "game's thread");
  std::printf("%-26s %22.2f %22.2f\n", "presents a second", double(own.presents) / own.seconds,
              double(game.presents) / game.seconds);
  std::printf("%-26s %22.3f %22.3f\n", "median interval (ms)", median(own.gaps), median(game.gaps));
  const std::string own_late =
      std::to_string(late(own.gaps)) + " of " + std::to_string(own.gaps.size());
  const std::string game_late =
      std::to_string(late(game.gaps)) + " of " + std::to_string(game.gaps.size());
  std::printf("%-26s %22s %22s\n", "intervals over 25 ms", own_late.c_str(), game_late.c_str());
  std::printf("%-26s %22.1f %22.1f\n", "CPU at rest (% of a core)",
              100 * own.rest_cpu / own.rest_seconds, 100 * game.rest_cpu / game.rest_seconds);
  return 0;
}
