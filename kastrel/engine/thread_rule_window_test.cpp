// A frame handler that joins a second thread, in a real window of the test X server: the
// calls any thread may make return at once, the program thread's calls are refused, and the
// window goes on being presented afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "kastrel/base/error.h"
#include "kastrel/device/input.h"
#include "kastrel/device/testing/x_desktop.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/replay.h"
#include "kastrel/engine/testing/game.h"
#include "kastrel/graphics/shapes.h"

using namespace test_game;

TEST(ThreadRule, ASecondThreadReadsInputAndIsRefusedTheScreenWithoutFreezingTheGame) {
  X_DESKTOP_OR_SKIP();
  static auto x = std::make_unique<x_desktop::Connection>();
  ASSERT_TRUE(x->ok());
  static std::vector<std::string> refusals;
  static int32_t dirty_before = -1, dirty_after = -1, mouse = 0;
  static double red_at = 0;
  on_frame = [](const Frame& f) {
    if (f.pass == 5) {
      dirty_before = DIRTYREGIONS.COUNT;
      std::thread([] {
        int32_t mx = 0, my = 0;
        vox_GetMouse(&mx, &my, nullptr, nullptr, nullptr);
        mouse = vox_GfxMultikey(1) + vox_GfxEvent(nullptr) + 1;  // returned at all
        auto seen = [](bool refused) { refusals.push_back(refused ? LASTERROR() : "not refused"); };
        vox_GfxLock();
        seen(vox_GetError() == 1);
        vox_GfxUnlock(-1, -1);
        seen(vox_GetError() == 1);
        seen(GRAPHICS::FILLRECT(nullptr, MATH::RECT{0, 0, 10, 10}, 0xFFFFFFFFu) == FALSE);
        vox_SetMouse(5, 5, -1, -1);
        seen(vox_GetError() == 1);
        CLEARLASTERROR();
        MARKDIRTY(1, 1, 2, 2);
        seen(std::string(LASTERROR()).find("MARKDIRTY") == 0);
        vox_GfxSetScale(2);
        seen(vox_GetError() == 1);
        vox_GfxSetFullscreen(1);
        seen(vox_GetError() == 1);
      }).join();
      dirty_after = DIRTYREGIONS.COUNT;
      MARKWHOLEWINDOW();
    }
    if (f.pass == 6) fill(MATH::RECT{0, 0, 63, 47}, 0xFFFF0000u);  // under the program's lock
    if (f.pass > 6 && red_at == 0) {
      const unsigned long w = x->find_window("kastrel_transition_window_tests");
      if (w != 0 && x->pixel(w, 10, 10) == 0xFF0000u) red_at = vox_Timer();
    }
    if (red_at != 0 || f.pass > 300) SHUTDOWN(TRUE);
    usleep(20000);  // passes of about 20 ms: 300 of them leave the window 6 s to turn red
  };
  ASSERT_EQ(run(false), TRUE) << LASTERROR();
  EXPECT_EQ(mouse, 1);
  ASSERT_EQ(refusals.size(), 7u);
  const char* calls[] = {"vox_GfxLock",  "vox_GfxUnlock",   "FILLRECT",
                         "vox_SetMouse", "MARKDIRTY",       "vox_GfxSetScale",
                         "vox_GfxSetFullscreen"};
  for (size_t i = 0; i < 7; ++i)
    EXPECT_NE(refusals[i].find(calls[i]), std::string::npos) << refusals[i];
  EXPECT_EQ(dirty_after, dirty_before);
  EXPECT_NE(red_at, 0) << "the window was not presented after the second thread's calls";
}

// A game that shows what the window presented, recorded in the real window, replays frame-exact
// on the null driver, which presents nothing: the counts come from the recording.
TEST(ReplayOutside, PresentedPicturesReplayFromTheRecording) {
  X_DESKTOP_OR_SKIP();
  const std::string path = ::testing::TempDir() + "presented.kst";
  const auto play = [] {
    on_frame = [](const Frame& f) {
      const uint32_t shown = uint32_t(vox_GfxPresentCount()) * 7 + uint32_t(PRESENTEDFPS);
      fill(MATH::RECT{0, 0, 63, 47}, 0xFF000000u | shown);
      usleep(5000);
      if (f.pass == 120) SHUTDOWN(TRUE);
    };
    std::exit(run(false) == TRUE ? 0 : 3);  // the replay takes the null driver itself
  };
  EXPECT_EXIT((ENGINE::RECORDSESSION(path), play()), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT((ENGINE::REPLAYSESSION(path, false, true), play()), ::testing::ExitedWithCode(0),
              "");
}

// Dead keys of a real layout (us, variant intl) on a private X server, typed a key a run of
// xdotool while the frame loop runs, compose every time in both presentations.
TEST(DeadKeys, ComposeEveryTimeWhileTheFrameLoopRuns) {
  x_desktop::Server server("640x480x24");
  if (!server.ok()) GTEST_SKIP() << server.error();
  if (kastrel_testing::run({"setxkbmap", "-display", server.display(), "us", "-variant", "intl"})
          .exit_status != 0)
    GTEST_SKIP() << "setxkbmap cannot set the us intl layout";
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  constexpr int kTimes = 20;
  for (const char* present : {"vsync", "25ms"}) {
    const auto play = [present] {
      setenv("KASTREL_PRESENT", present, 1);
      static std::thread typist;
      static std::string typed;
      on_show = [] {
        TARGETFPS(20);  // the test game stops a loop that runs past 400 passes: 20 s
        vox_GfxTextInput(1);
        typist = std::thread([] {
          x_desktop::Connection x;
          const unsigned long w = x.wait_for_window("kastrel_transition_window_tests");
          x_desktop::xdotool("windowfocus --sync " + std::to_string(w));
          for (int i = 0; i < 2 * kTimes; ++i) {
            x_desktop::xdotool(i % 2 == 0 ? "key dead_acute" : "key e");
            usleep(60000);
          }
        });
      };
      on_frame = [](const Frame& f) {
        if (f.input == INPUTEVENT::TEXTINPUT)
          typed += std::string(f.event.TEXT, strnlen(f.event.TEXT, 4));
        if (typed.size() >= 2 * kTimes) SHUTDOWN(TRUE);
      };
      run(false);
      typist.join();
      std::string composed;
      for (int i = 0; i < kTimes; ++i) composed += "\xC3\xA9";
      std::fprintf(stderr, "typed %s\n", typed.c_str());
      std::exit(typed == composed ? 0 : 1);
    };
    EXPECT_EXIT(play(), ::testing::ExitedWithCode(0), "") << present;
  }
}
