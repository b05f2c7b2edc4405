// The frame loop on a paced screen (MODE_VSYNC) in a real window of the test X server: it sleeps
// a presentation interval a pass, yet a burst of real pointer moves drains at once, and
// TARGETFPS sets a beat of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/testing/x_desktop.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/testing/game.h"

using namespace test_game;

namespace {

constexpr int32_t kLastX = 119, kLastY = 144;  // where the burst ends, in the window
std::unique_ptr<x_desktop::Connection> x;
std::thread burst;
std::atomic<double> burst_sent{0};
double started = 0, idle_rate = 0, idle_presented = 0, drained = 0, target_rate = 0;
double phase_start = 0;
int32_t phase_passes = 0, moves = 0;
int phase = 0;

void send_burst(unsigned long window) {
  const x_desktop::Geometry g = x->geometry(window);
  std::string args;
  for (int i = 0; i < 500; ++i)
    args += "mousemove " + std::to_string(g.x + 20 + i % 400) + " " +
            std::to_string(g.y + 20 + i / 4) + " ";
  burst = std::thread([args] {
    x_desktop::xdotool(args);
    burst_sent = vox_Timer();
  });
}

// Phases: settling (1 s), at rest (1 s), the burst until its last move, TARGETFPS(25) (1 s).
void FRAME(float, INPUTEVENT input, VOX::EVENT& event) {
  const double now = vox_Timer(), span = now - phase_start;
  // A new picture every pass but at rest, where the picture stands still and still counts as
  // shown at every refresh.
  if (phase != 1) pixel(0, 0) = 0xFF000000u | uint32_t(FRAMECOUNT);
  ++phase_passes;
  moves += input == INPUTEVENT::MOUSEMOVE;
  const bool last = input == INPUTEVENT::MOUSEMOVE && event.X == kLastX && event.Y == kLastY;
  if ((phase != 2 && span >= 1.0) || (phase == 2 && last)) {
    if (phase == 1) idle_rate = phase_passes / span, idle_presented = PRESENTEDFPS;
    if (phase == 1) send_burst(x->find_window("kastrel_transition_window_tests"));
    if (phase == 2) drained = now, burst.join(), TARGETFPS(25);
    if (phase == 3) target_rate = phase_passes / span, SHUTDOWN(TRUE);
    ++phase, phase_start = now, phase_passes = 0;
  }
  if (now - started > 30) SHUTDOWN(TRUE);  // no window, or the burst never came
}

void INIT() {
  GAMESCREENS[NEWGAMESCREEN()].ONFRAME += FRAME;
  started = phase_start = vox_Timer();
  SHOW(0);
}

}  // namespace

TEST(PacedLoopWindow, SleepsAPresentAPassDrainsABurstAtOnceAndKeepsATargetRate) {
  X_DESKTOP_OR_SKIP();
  KASTREL::PLATFORM::SETENVIRONMENT("KASTREL_PRESENT", nullptr);
  x = std::make_unique<x_desktop::Connection>();
  ASSERT_TRUE(x->ok());
  EXPECT_EQ(TARGETFPS(1001), FALSE);
  EXPECT_EQ(TARGETFPS(-1), FALSE);
  EXPECT_EQ(TARGETFPS(), 0);
  ONINITIALIZE += INIT;
  ASSERT_EQ(INITIALIZE(640, 480, FALSE, MODE_NOSWITCH | MODE_VSYNC), TRUE);
  if (burst.joinable()) burst.join();
  std::printf(
      "at rest %.1f passes/s (%.1f presented), burst of %d moves drained %.3f s after "
      "the last was sent, TARGETFPS(25) %.1f passes/s\n",
      idle_rate, idle_presented, moves, drained - burst_sent.load(), target_rate);
  // One pass per refresh, not the hundreds a 1 ms pause gives.
  EXPECT_TRUE(idle_rate > 50 && idle_rate < 70) << idle_rate;
  EXPECT_TRUE(idle_presented > 50 && idle_presented < 70) << idle_presented;
  ASSERT_NE(drained, 0) << "the burst's last move never came";
  EXPECT_GT(moves, 100);
  EXPECT_LT(drained - burst_sent.load(), 0.5);
  EXPECT_TRUE(target_rate > 22 && target_rate < 27) << target_rate;
}
