// The platformer run in this process, in a private Xvfb, so that SDL's virtual gamepad (which
// lives in the process) can play it: Start leaves the title, the stick runs, A jumps.
#include "platformer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "kastrel/base/testing/process.h"
#include "kastrel/device/testing/virtual_pad.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using namespace KASTREL;

std::atomic<int32_t> g_screen{-1};
std::atomic<float> g_x{0}, g_y{0}, g_top{1e9f};  // the runner's place, and the highest it reached
std::atomic<bool> g_done{false};

void WATCH(float, ENGINE::INPUTEVENT, VOX::EVENT&) {
  g_screen = ENGINE::ACTIVEGAMESCREEN;
  g_x = PLATFORMER::GAME.X;
  g_y = PLATFORMER::GAME.Y;
  if (ENGINE::ACTIVEGAMESCREEN == PLATFORMER::PLAYSCREEN && PLATFORMER::GAME.Y < g_top)
    g_top = PLATFORMER::GAME.Y;
  if (g_done) ENGINE::SHUTDOWN(TRUE);
}
void ATTACHWATCH() {
  for (const int32_t SCR : {PLATFORMER::TITLESCREEN, PLATFORMER::PLAYSCREEN})
    ENGINE::GAMESCREENS[SCR].ONFRAME += WATCH;
}

TEST(PlatformerPad, StartPlaysTheStickRunsAndAJumps) {
  x_desktop::Server xvfb;
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  kastrel_testing::TempDir saves;
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("XDG_DATA_HOME", saves.file("").c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("VOXGFX");
  ASSERT_EQ(chdir(KASTREL_SOURCE_DIR "/examples/platformer"), 0);  // where its map is
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);              // before the window
  ENGINE::ONSTART += ATTACHWATCH;

  bool started = false, ran = false, jumped = false;
  std::thread script([&] {
    {
      const std::string window = x_desktop::xdotool({"search", "--sync", "--onlyvisible", "--pid",
                                                     std::to_string(getpid())},
                                                    xvfb.display())
                                     .output;
      x_desktop::xdotool({"windowfocus", "--sync", window.substr(0, window.find('\n'))},
                         xvfb.display());
      virtual_pad::Pad pad;
      const auto eventually = [](const std::function<bool()>& done) {
        return x_desktop::wait_for(done, 30);
      };
      if (pad.ok() && eventually([] {
            return g_screen == PLATFORMER::TITLESCREEN && vox_GfxPadCount() == 1;
          })) {
        started = eventually([&] {  // pressed until it counts: SDL may see the focus late
          pad.button(SDL_CONTROLLER_BUTTON_START, true);
          std::this_thread::sleep_for(std::chrono::milliseconds(30));
          pad.button(SDL_CONTROLLER_BUTTON_START, false);
          return g_screen == PLATFORMER::PLAYSCREEN;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the fade and the landing
        const float x0 = g_x, y0 = g_y;
        pad.axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
        ran = eventually([&] { return g_x > x0 + 48; });  // up to the first step
        pad.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
        g_top = y0;
        pad.button(SDL_CONTROLLER_BUTTON_A, true);
        jumped = eventually([&] { return g_top < y0 - 40; });
        pad.button(SDL_CONTROLLER_BUTTON_A, false);
      }
    }
    g_done = true;
  });
  EXPECT_EQ(PLATFORMER::RUN(0), TRUE) << LASTERROR();
  g_done = true;
  script.join();
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);  // the window goes before its server
  SDL_Quit();
  EXPECT_TRUE(started) << "Start did not leave the title";
  EXPECT_TRUE(ran) << "the stick did not run the player right";
  EXPECT_TRUE(jumped) << "A did not jump";
}

}  // namespace
