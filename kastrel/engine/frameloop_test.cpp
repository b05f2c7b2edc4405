// The frame loop run for real: INITIALIZE, a shown screen, device events fed with
// vox_hPostEvent from the handlers, pixels read back from the frame buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kastrel/device/testing/fake_driver.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/testing/game.h"

using namespace test_game;

namespace {

std::vector<int32_t> hide_args;  // (NEWSCREEN, CANCEL) of every ONHIDE raise
bool refuse = false;
void LOGGED_HIDE(int32_t NEWSCREEN, BOOLEAN& CANCEL) {
  trace += 'H';
  hide_args.insert(hide_args.end(), {NEWSCREEN, CANCEL});
  if (refuse) CANCEL = TRUE;
}
bool cancel_shutdown = false;
void LOGGED_SHUTDOWN(BOOLEAN& CANCEL) {
  trace += 'D';
  if (cancel_shutdown) CANCEL = TRUE;
}
void LOGGED_DESTROY() { trace += 'X'; }
void log_shutdown() {
  ONSHUTDOWN += LOGGED_SHUTDOWN;
  ONDESTROY += LOGGED_DESTROY;
  on_show = [] {
    if (GAMESCREENS[0].ONHIDE.ICOUNT == 0) GAMESCREENS[0].ONHIDE += LOGGED_HIDE;
  };
}

}  // namespace

TEST(FrameLoop, RaisesInOrderHoldsTheLockPerPassAndEndsAfterTheShuttingDownPass) {
  fake_driver::install();  // counts locks
  static int locks, unlocks;
  log_shutdown();
  EXPECT_EQ(SHUTDOWN(FALSE), TRUE);  // before the loop: the events only, no screen to hide
  START();                           // nothing shown: returns at once
  ONSTART += [] {
    trace += 'T';
    EXPECT_TRUE(STARTED && !GAMELOOPRUNNING && !locked());
    EXPECT_EQ(SHUTDOWN(FALSE), TRUE);  // START sets GAMELOOPRUNNING after this
    locks = fake_driver::record().locks;
    unlocks = fake_driver::record().unlocks;
  };
  on_frame = [](const Frame& f) {
    if (f.pass == 3) {
      EXPECT_EQ(SHUTDOWN(FALSE), TRUE);
    }
    trace += '.';
  };
  EXPECT_EQ(run(false), TRUE);
  EXPECT_EQ(trace, "DXISTDHXPF.F.FDHX.");
  EXPECT_EQ(hide_args, (std::vector<int32_t>{-1, FALSE, -1, FALSE}));
  EXPECT_TRUE(STARTED && !GAMELOOPRUNNING && INITIALIZED && !locked() && FRAMECOUNT == 3);
  // Locked before the loop and after each pass; unlocked after each pass and at the end, with
  // every line marked changed.
  EXPECT_EQ(fake_driver::record().locks - locks, 4);
  EXPECT_EQ(fake_driver::record().unlocks - unlocks, 4);
  for (int32_t y = 0; y < 48; ++y) EXPECT_EQ(__vox_gfx->dirty[y], 1);
  START();  // once per program
  EXPECT_EQ(frames.size(), 3u);
}

TEST(FrameLoop, TakesOneEventPerPassAndIdlePassesKeepTheLastRecord) {
  static std::vector<int32_t> raised;  // pass of each window-event raise, by kind
  ONFOCUS += [] { raised.push_back(100 + FRAMECOUNT + 1); };
  ONBLUR += [] { raised.push_back(200 + FRAMECOUNT + 1); };
  ONMOUSEENTER += [] { raised.push_back(300 + FRAMECOUNT + 1); };
  ONMOUSELEAVE += [] { raised.push_back(400 + FRAMECOUNT + 1); };
  log_shutdown();
  cancel_shutdown = true;
  static const int32_t types[] = {1, 2, 3, 4, 5, 6, 7, 8, 14, 11, 12, 99, 9, 10, 13};
  on_show = [] {
    for (int32_t i = 0; i < 15; ++i) post(types[i], 30 + i);
  };
  on_frame = [](const Frame& f) {
    if (f.pass == 15) {
      EXPECT_TRUE(GAMELOOPRUNNING && trace.ends_with("DF"));  // the close request was cancelled
    } else if (f.pass == 17) {
      EXPECT_EQ(SHUTDOWN(TRUE), TRUE);
    }
  };
  run();
  ASSERT_EQ(frames.size(), 17u);
  for (int32_t i = 0; i < 17; ++i) {
    const int32_t type = types[std::min(i, 14)];
    EXPECT_TRUE(frames[i].event.TYPE == type && frames[i].event.X == 30 + std::min(i, 14)) << i;
    EXPECT_EQ(static_cast<int32_t>(frames[i].input), i < 9 ? type : -1) << i;
  }
  EXPECT_EQ(raised, (std::vector<int32_t>{110, 211, 313, 414}));
  // No cursor bitmap: moves keep the position INITIALIZE read (no pointer on this driver).
  EXPECT_TRUE(MOUSECURSORPOSITION.X == -1 && MOUSECURSORPOSITION.Y == -1);
}

TEST(FrameLoop, PaintsEveryDirtyRectangleUnlessTheWholeWindowComesFirst) {
  static bool mark_while_painting = false;
  on_frame = [](const Frame& f) {
    EXPECT_EQ(DIRTYREGIONS.COUNT, f.pass == 6 ? 15 : 0);
    const Rects lists[] = {{{0, 0, 64, 48}, {10, 10, 5, 5}},
                           {{10, 10, 5, 5}, {0, 0, 64, 48}},
                           {{0, 0, 64, 47}, {1, 1, 2, 2}},
                           {},
                           Rects(12, MATH::RECT{1, 2, 3, 4})};
    if (f.pass <= 5)
      for (const MATH::RECT& r : lists[f.pass - 1]) DIRTYREGIONS.ADD(r);
    mark_while_painting = f.pass == 5;
    if (f.pass == 7) SHUTDOWN(TRUE);
  };
  // Marking while painting (which paint handlers must not do) waits for the next pass.
  ONSTART += [] {
    GAMESCREENS[0].ONPAINT += [](GRAPHICS::BITMAP&, MATH::RECT&) {
      for (int32_t i = 0; mark_while_painting && i < 15; ++i) {
        MATH::RECT r{i, 9, 1, 1};
        MARKDIRTY(r);
      }
      mark_while_painting = false;
    };
  };
  run();
  const MATH::RECT whole{0, 0, 64, 48};
  EXPECT_EQ(painted_at(1), Rects{whole});
  EXPECT_EQ(painted_at(2), Rects{whole});
  EXPECT_EQ(painted_at(3), (Rects{{10, 10, 5, 5}, whole}));
  EXPECT_EQ(painted_at(4), (Rects{{0, 0, 64, 47}, {1, 1, 2, 2}}));
  EXPECT_EQ(painted_at(5), Rects{});
  EXPECT_EQ(painted_at(6), Rects(12, MATH::RECT{1, 2, 3, 4}));
  ASSERT_EQ(painted_at(7).size(), 15u);
  EXPECT_EQ(painted_at(7)[14], (MATH::RECT{14, 9, 1, 1}));
}

TEST(FrameLoop, ElapsedTimeStartsAtStartsReadingAndFeedsASmoothedRate) {
  static double t_show, t_onstart, t_onstart_end, t_frame1, t_frame1_end, t_frame2;
  static std::vector<float> fps;
  on_show = [] { t_show = vox_Timer(); };
  ONSTART += [] {
    t_onstart = vox_Timer();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    t_onstart_end = vox_Timer();
  };
  on_frame = [](const Frame& f) {
    fps.push_back(FPS);
    (f.pass == 1 ? t_frame1 : t_frame2) = vox_Timer();
    std::this_thread::sleep_for(std::chrono::milliseconds(f.pass % 3 * 4));
    if (f.pass == 1) t_frame1_end = vox_Timer();
    if (f.pass == 10) SHUTDOWN(TRUE);
  };
  run();
  ASSERT_EQ(frames.size(), 10u);
  // START reads the timer after ONSHOW and before ONSTART; each pass reads it once, first.
  EXPECT_GE(frames[0].elapsed, (t_onstart_end - t_onstart) * (1 - 1e-6));
  EXPECT_LE(frames[0].elapsed, (t_frame1 - t_show) * (1 + 1e-6));
  EXPECT_GE(frames[1].elapsed, (t_frame1_end - t_frame1) * (1 - 1e-6));
  EXPECT_LE(frames[1].elapsed, (t_frame2 - t_onstart_end) * (1 + 1e-6));
  EXPECT_TRUE(frames[0].input == INPUTEVENT::NONE && frames[0].event.TYPE == 0);
  // FPS lies between the slowest and the fastest pass so far, and is the first pass's own.
  EXPECT_NEAR(fps[0], 1 / frames[0].elapsed, fps[0] * 1e-6);
  float slowest = 1e30f, fastest = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    slowest = std::min(slowest, 1 / frames[i].elapsed);
    fastest = std::max(fastest, 1 / frames[i].elapsed);
    EXPECT_TRUE(fps[i] >= slowest * (1 - 1e-5) && fps[i] <= fastest * (1 + 1e-5)) << i;
  }
}

namespace {

// A 4 x 3 opaque red cursor whose pixel (3, 2) is fully transparent green.
GRAPHICS::BITMAP* cursor = nullptr;
void make_cursor() {
  cursor = new GRAPHICS::BITMAP(4, 3, 0xFFFF0000u, 32);  // images need the screen: not before
  cursor->PIXEL(MATH::POINT{3, 2}, 0x0000FF00u);
}
bool red(uint32_t p) { return (p >> 16 & 0xFF) >= 0xF0 && (p & 0xFF) < 0x10; }
// Red exactly where the cursor image lies with its corner at (cx, cy), background elsewhere;
// the number of red pixels.
int32_t expect_cursor_at(int32_t cx, int32_t cy, bool drawn = true) {
  int32_t reds = 0;
  for (int32_t y = 0; y < 48; ++y) {
    for (int32_t x = 0; x < 64; ++x) {
      const bool image =
          drawn && x >= cx && x < cx + 4 && y >= cy && y < cy + 3 && !(x == cx + 3 && y == cy + 2);
      reds += red(pixel(x, y));
      if (image != red(pixel(x, y)) || (!image && pixel(x, y) != kBackground)) {
        ADD_FAILURE() << x << "," << y << " in pass " << FRAMECOUNT + 1;
        return -1;
      }
    }
  }
  return reds;
}

}  // namespace

TEST(FrameLoop, CursorIsDrawnAfterARepaintThatCoversItOrOnMoveOrIdlePassesWhileInside) {
  on_show = [] {
    make_cursor();
    SETCURSOR(cursor, 0, 0);
    SHOWCURSOR();
  };
  ONMOUSELEAVE += [] { trace += 'L'; };
  ONMOUSEENTER += [] { trace += 'E'; };
  on_frame = [](const Frame& f) {
    MATH::RECT whole{}, small{50, 40, 1, 1};
    switch (f.pass) {
      case 1:  // INITIALIZE found no pointer: at (-1, -1) the image is clipped
        EXPECT_EQ(expect_cursor_at(-1, -1), 5);
        post(VOX::MOUSEMOVED, 20, 10);
        break;
      case 2:
        EXPECT_EQ(painted_at(2), (Rects{{-1, -1, 21 + 8, 11 + 6}}));  // the trail
        EXPECT_EQ(expect_cursor_at(20, 10), 11);
        post(VOX::KEYPRESSED);
        MARKDIRTY(whole);
        break;
      case 3:  // a repaint that covered the cursor draws it, on a key pass too
        expect_cursor_at(20, 10);
        MARKDIRTY(small);
        break;
      case 4:
        expect_cursor_at(20, 10);
        post(VOX::MOUSEEXITED, 7, 7);  // its coordinates mean nothing
        break;
      case 5:  // the image's area is repainted; outside it is not drawn
        EXPECT_EQ(painted_at(5), (Rects{{20, 10, 4, 3}}));
        expect_cursor_at(20, 10, false);
        post(VOX::MOUSEENTERED, 30, 20);
        break;
      case 6:  // entering in one jump moves the cursor there, as a move does
        EXPECT_EQ(painted_at(6), (Rects{{20, 10, 10 + 8, 10 + 6}}));
        EXPECT_TRUE(MOUSECURSORINSIDEWINDOW && MOUSECURSORPOSITION.X == 30);
        expect_cursor_at(30, 20);
        MARKDIRTY(small);
        break;
      case 7:
        expect_cursor_at(30, 20);
        fill(MATH::RECT{0, 0, 63, 47}, kBackground);
        break;
      case 8:  // nothing dirty: not drawn
        expect_cursor_at(20, 10, false);
        HIDECURSOR();
        MARKDIRTY(whole);
        post(VOX::MOUSEMOVED, 40, 30);
        break;
      case 9:  // hidden: no trail, position kept, not drawn
        EXPECT_EQ(painted_at(9), (Rects{{0, 0, 64, 48}}));
        expect_cursor_at(20, 10, false);
        SHOWCURSOR();
        SETCURSOR(nullptr, 9, 9);
        MARKDIRTY(whole);
        break;
      case 10:  // no bitmap: not drawn; the hot spot stays
        expect_cursor_at(20, 10, false);
        EXPECT_EQ(MOUSECURSORHOTSPOT.X, 0);
        SETCURSOR(cursor, 1, 1);
        MARKDIRTY(whole);
        break;
      case 11:
        expect_cursor_at(31, 21);
        SHUTDOWN(TRUE);
    }
  };
  run();
  EXPECT_EQ(FRAMECOUNT, 11);
  EXPECT_NE(trace.find("FLPFEPF"), std::string::npos);  // leave, then enter, before painting
  delete cursor;
}

TEST(FrameLoop, CursorTrailRepaintsBothPlacesOfTheImage) {
  static const MATH::POINT hot_spots[] = {{0, 0}, {5, 5}, {-3, -2}, {2, 4}};
  static const MATH::POINT moves[] = {{20, 15}, {26, 19}, {17, 12}, {17, 30}};
  on_show = [] {
    make_cursor();
    SHOWCURSOR();
  };
  on_frame = [](const Frame& f) {
    const int32_t segment = (f.pass - 1) / 4, step = (f.pass - 1) % 4;
    if (segment == 4) {
      SHUTDOWN(TRUE);
      return;
    }
    const MATH::POINT hot = hot_spots[segment];
    if (step == 0) {
      SETCURSOR(cursor, hot.X, hot.Y);
      MATH::RECT whole{};
      MARKDIRTY(whole);
    } else {
      expect_cursor_at(moves[step - 1].X + hot.X, moves[step - 1].Y + hot.Y);
    }
    post(VOX::MOUSEMOVED, moves[step].X, moves[step].Y);
  };
  run();
  EXPECT_EQ(FRAMECOUNT, 17);
  // Hot spot (0, 0): the bare trail, |26 - 20| + 2 * 4 by |19 - 15| + 2 * 3.
  EXPECT_EQ(painted_at(3), (Rects{{20, 15, 14, 10}}));
  // Hot spot (5, 5): a width of 6 - 2 misses both images and is widened to cover x 25 to 35;
  // a height of 4 - 4 is stretched to the bottom edge.
  EXPECT_EQ(painted_at(7), (Rects{{20, 15, 15, 33}}));
  delete cursor;
}

namespace {

void S1_SHOW() { trace += 's'; }
void S1_PAINT(GRAPHICS::BITMAP&, MATH::RECT&) { trace += 'p'; }
void S1_FRAME(float, INPUTEVENT, VOX::EVENT&) {
  trace += 'f';
  if (FRAMECOUNT == 2) {
    SHOW(1, TRANSITIONEFFECT::FADE, TRANSITIONDIRECTION::FROMBOTTOMRIGHT);  // again: no hide
    SHOW(99, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);        // no such screen
  }
  if (FRAMECOUNT == 3) SHUTDOWN(FALSE);
}

}  // namespace

TEST(FrameLoop, ShowSwitchesScreensUnlessTheOutgoingOneRefuses) {
  on_show = [] {
    if (SCREENCOUNT > 1) return;
    GAMESCREENS[0].ONHIDE += LOGGED_HIDE;
    for (int32_t i = 1; i < 3; ++i) EXPECT_EQ(NEWGAMESCREEN(), i);
    GAMESCREENS[1].ONSHOW += S1_SHOW;
    GAMESCREENS[1].ONHIDE += LOGGED_HIDE;
    GAMESCREENS[1].ONPAINT += S1_PAINT;
    GAMESCREENS[1].ONFRAME += S1_FRAME;
  };
  on_frame = [](const Frame&) {
    MATH::RECT marked{3, 3, 1, 1};
    MARKDIRTY(marked);
    refuse = true;
    SHOW(1, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMTOP);
    EXPECT_EQ(ACTIVEGAMESCREEN, 0);
    EXPECT_TRUE(DIRTYREGIONS.COUNT == 1 && DIRTYREGIONS.RECT[0] == marked);
    refuse = false;
    SHOW(1, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMTOP);
    EXPECT_EQ(ACTIVEGAMESCREEN, 1);
    EXPECT_TRUE(DIRTYREGIONS.COUNT == 1 && DIRTYREGIONS.RECT[0] == (MATH::RECT{0, 0, 64, 48}));
  };
  run();
  EXPECT_EQ(trace, "ISPFHHspfspfH");
  EXPECT_EQ(hide_args, (std::vector<int32_t>{1, FALSE, 1, FALSE, -1, FALSE}));
  EXPECT_EQ(ACTIVEGAMESCREEN, 1);
}
