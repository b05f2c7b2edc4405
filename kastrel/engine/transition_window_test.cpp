// A 1-second SLIDEIN in a real window of the test X server, read back with XGetImage while the
// frame loop holds the screen (so the window cannot change under the reading).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "kastrel/device/testing/x_desktop.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/testing/game.h"
#include "kastrel/engine/transition.h"

using namespace test_game;

namespace {

std::unique_ptr<x_desktop::Connection> x;
unsigned long window = 0;
double first_pass = 0, shown_at = 0, last_pass = 0;
int readings = 0;
bool matched = false;

int32_t blue_columns(int y) {  // the slide's edge in row y: columns left of it are blue
  int lo = 0, hi = 640;
  for (int mid = 320; lo < hi; mid = (lo + hi) / 2)
    (x->pixel(window, mid, y) == 0x0000FFu ? lo = mid + 1 : hi = mid);
  return lo;
}
void PAINT_RED(GRAPHICS::BITMAP&, MATH::RECT& r) { fill(r, 0xFFFF0000u); }
void PAINT_BLUE(GRAPHICS::BITMAP&, MATH::RECT& r) { fill(r, 0xFF0000FFu); }
void FRAME(float, INPUTEVENT, VOX::EVENT&) {
  const double now = vox_Timer();
  if (window == 0) window = x->find_window("kastrel_transition_window_tests");
  if (shown_at == 0 && window != 0 && x->pixel(window, 600, 400) == 0xFF0000u) {
    TRANSITIONDURATION = 1.0;
    SHOW(1, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMLEFT);
    shown_at = vox_Timer();
  } else if (shown_at != 0 && now - shown_at >= 0.4 + 0.1 * readings) {
    // The window shows a pass composed since the last presentation, at most 25 ms before the
    // screen was last free (the end of the previous pass).
    const int32_t edge = blue_columns(240);
    const int32_t earliest = int32_t(std::floor((last_pass - 0.025 - shown_at) * 640));
    const int32_t latest = int32_t(std::floor((now - shown_at) * 640));
    EXPECT_TRUE(x->pixel(window, edge - 1, 0) == 0x0000FFu &&
                x->pixel(window, edge, 479) == 0xFF0000u);
    matched = edge >= earliest && edge <= latest;
    if (matched || ++readings == 4) SHUTDOWN(TRUE);
    if (!matched)
      std::printf("edge %d outside %d..%d (a loaded machine?)\n", edge, earliest, latest);
  }
  if (now - (first_pass = first_pass == 0 ? now : first_pass) > 30) SHUTDOWN(TRUE);  // no window
  last_pass = vox_Timer();
}
void INIT() {
  for (int s = 0; s < 2; ++s) GAMESCREENS[NEWGAMESCREEN()].ONFRAME += FRAME;
  GAMESCREENS[0].ONPAINT += PAINT_RED;
  GAMESCREENS[1].ONPAINT += PAINT_BLUE;
  SHOW(0);
}

}  // namespace

TEST(TransitionWindow, ARealWindowShowsTheModelsSlideEdgeWithinAPresentationPeriod) {
  X_DESKTOP_OR_SKIP();
  x = std::make_unique<x_desktop::Connection>();
  ASSERT_TRUE(x->ok());
  ONINITIALIZE += INIT;
  ASSERT_EQ(INITIALIZE(640, 480, FALSE, MODE_NOSWITCH), TRUE);
  EXPECT_TRUE(shown_at != 0 && matched);
}
