// Breakout run in this process, in a private Xvfb, so that SDL's virtual gamepad (which lives in
// the process) can play it: Start leaves the title screen, the left stick moves the paddle.
#include "breakout.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "kastrel/base/testing/process.h"
#include "kastrel/device/sdl/virtual_pad.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using namespace KASTREL;

std::atomic<int32_t> g_screen{-1};
std::atomic<float> g_paddle{-1};
std::atomic<bool> g_done{false};

// Each pass, from the game's own thread: what the script waits for, and the end it asks for.
void WATCH(float, ENGINE::INPUTEVENT, VOX::EVENT&) {
  g_screen = ENGINE::ACTIVEGAMESCREEN;
  g_paddle = BREAKOUT::GAME.PADDLEX;
  if (g_done) ENGINE::SHUTDOWN(TRUE);
}
void ATTACHWATCH() {
  for (const int32_t SCR : {BREAKOUT::TITLESCREEN, BREAKOUT::PLAYSCREEN})
    ENGINE::GAMESCREENS[SCR].ONFRAME += WATCH;
}

bool eventually(const std::function<bool()>& done) { return x_desktop::wait_for(done, 30.0); }

TEST(BreakoutPad, StartStartsPlayAndTheLeftStickMovesThePaddle) {
  x_desktop::Server xvfb;
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("VOXGFX");
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);  // before the window: no race on SDL's init
  ENGINE::ONSTART += ATTACHWATCH;

  bool started = false, right = false, left = false;
  std::thread script([&] {
    {
      // SDL passes pad presses to a focused window only.
      const std::string window =
          x_desktop::xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(getpid())},
                             xvfb.display())
              .output;
      x_desktop::xdotool({"windowfocus", "--sync", window.substr(0, window.find('\n'))},
                         xvfb.display());
      KASTREL::TESTING::VIRTUALPAD pad;
      if (pad.PLUGGED() &&
          eventually([] { return g_screen == BREAKOUT::TITLESCREEN && vox_GfxPadCount() == 1; })) {
        // Pressed until it counts: SDL may see the focus a little after the X server.
        started = eventually([&] {
          pad.PRESS(KASTREL::PAD::START);
          std::this_thread::sleep_for(std::chrono::milliseconds(30));
          pad.RELEASE(KASTREL::PAD::START);
          return g_screen == BREAKOUT::PLAYSCREEN;
        });
        pad.MOVE(KASTREL::PAD::LEFTX, 32767);
        right = eventually([] { return g_paddle == BREAKOUT::WIDTH - BREAKOUT::PADDLEW; });
        pad.MOVE(KASTREL::PAD::LEFTX, -32768);
        left = eventually([] { return g_paddle == 0; });
      }
    }
    g_done = true;
  });
  EXPECT_EQ(BREAKOUT::RUN(0), TRUE) << LASTERROR();
  g_done = true;
  script.join();
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);  // the window goes before its server
  SDL_Quit();
  EXPECT_TRUE(started) << "Start did not leave the title screen";
  EXPECT_TRUE(right) << "the stick did not take the paddle to the right edge";
  EXPECT_TRUE(left) << "the stick did not take the paddle to the left edge";
}

}  // namespace
