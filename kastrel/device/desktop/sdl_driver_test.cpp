// The window driver against a real X server (the CTest fixture's Xvfb, 1024 x 768),
// with real input from xdotool and the window's pixels read back over X.
#include "kastrel/base/detail/platform.h"
#include "kastrel/device/desktop/sdl_driver.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/testing/driver_contract.h"
#include "kastrel/device/testing/virtual_pad.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using x_desktop::Geometry;
using x_desktop::wait_for;
using x_desktop::xdotool;
using Key = std::tuple<int32_t, int32_t, int32_t>;  // type, scancode, ascii
using Ints = std::vector<int32_t>;

// The default title: the test executable's name.
const std::string kTitle = "kastrel_window_tests";

std::string at(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    X_DESKTOP_OR_SKIP();
    x = std::make_unique<x_desktop::Connection>();
    ASSERT_TRUE(x->ok());
    // Nothing held from an earlier test, the pointer outside any window.
    ASSERT_TRUE(xdotool("keyup d shift alt mouseup 1 mouseup 3 mousemove 2 2"));
  }

  void TearDown() override {
    if (__vox_gfx != nullptr) vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  }

  // Opens a screen through the display layer and finds its window.
  unsigned long open(int32_t w, int32_t h, int32_t depth = 32, int32_t flags = 0) {
    vox_GfxScreenRes(w, h, depth, 1, flags, 0);
    if (vox_GetError() != 0 || __vox_gfx == nullptr) return 0;
    EXPECT_EQ(__vox_gfx->driver, &vox_gfxDriverSDL);
    return x->wait_for_window(kTitle);
  }

  // Pointer into the window and keyboard focus on it.
  void focus(unsigned long window) {
    Geometry g = x->geometry(window);
    ASSERT_TRUE(xdotool("mousemove " + at(g.x + 20, g.y + 20)));
    ASSERT_TRUE(xdotool("windowfocus --sync " + std::to_string(window)));
  }

  // Collects events until `done` holds.
  bool wait_events(const std::function<bool()>& done) {
    return wait_for([&] {
      for (VOX::EVENT e; vox_GfxEvent(&e);) events.push_back(e);
      return done();
    });
  }
  bool wait_event(int32_t type) {
    return wait_events([&] { return !of_type(type).empty(); });
  }

  std::vector<Key> keys() const {
    std::vector<Key> out;
    for (const VOX::EVENT& e : events) {
      if (e.TYPE >= VOX::KEYPRESSED && e.TYPE <= VOX::KEYREPEATED)
        out.emplace_back(e.TYPE, e.SCANCODE, e.ASCII);
    }
    return out;
  }

  // The X field (button, wheel total) of every event of one type.
  Ints of_type(int32_t type) const {
    Ints out;
    for (const VOX::EVENT& e : events) {
      if (e.TYPE == type) out.push_back(e.X);
    }
    return out;
  }

  void fill_rows(int32_t top, int32_t bottom, uint32_t color, int32_t columns = -1) {
    VOX_GFX_SCREEN* s = __vox_gfx;
    for (int32_t y = top; y <= bottom; ++y) {
      for (int32_t i = 0; i < (columns < 0 ? s->width : columns); ++i) {
        std::memcpy(s->framebuffer + y * s->pitch + i * s->bytes_per_pixel, &color,
                    static_cast<size_t>(s->bytes_per_pixel));
      }
    }
  }

  // Fills rows under the lock and names them in the unlock.
  void paint(int32_t top, int32_t bottom, uint32_t color, int32_t columns = -1) {
    vox_GfxLock();
    fill_rows(top, bottom, color, columns);
    vox_GfxUnlock(top, bottom);
  }

  Ints mouse() {
    int32_t m[5];
    vox_GetMouse(&m[0], &m[1], &m[2], &m[3], &m[4]);
    return Ints(m, m + 5);
  }

  std::unique_ptr<x_desktop::Connection> x;
  std::vector<VOX::EVENT> events;
};

TEST_F(Desktop, WindowShowsTheDirtyLinesOfTheFrame) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u) << "no window titled " << kTitle;
  // Centred on the 1024 x 768 desktop.
  Geometry g = x->geometry(w);
  EXPECT_EQ(g, (Geometry{(1024 - 640) >> 1, (768 - 480) >> 1, 640, 480}));
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 320, 240) == 0x000000u; }));

  // Rows 100..109 written and named; row 300 written but not named.
  vox_GfxLock();
  fill_rows(100, 109, 0xFFFF0000u);
  fill_rows(300, 300, 0xFF00FF00u);
  vox_GfxUnlock(100, 109);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 5, 109) == 0xFF0000u; }));
  EXPECT_EQ(x->pixel(w, 639, 100), 0xFF0000u);
  EXPECT_EQ(x->pixel(w, 5, 110), 0x000000u);
  EXPECT_EQ(x->pixel(w, 5, 300), 0x000000u);

  // Lines 10 and 400 marked: the band between them goes out whole, the lines
  // written but not marked inside it too; the pass clears every mark.
  vox_GfxLock();
  for (int32_t y : {10, 200, 400}) fill_rows(y, y, 0xFF0000FFu);
  __vox_gfx->dirty[10] = __vox_gfx->dirty[400] = 1;
  vox_GfxUnlock(1, 0);  // names no line itself
  EXPECT_TRUE(wait_for(
      [&] { return x->pixel(w, 7, 10) == 0x0000FFu && x->pixel(w, 7, 400) == 0x0000FFu; }));
  EXPECT_EQ(x->pixel(w, 7, 200), 0x0000FFu);
  EXPECT_EQ(x->pixel(w, 7, 300), 0x00FF00u);
  EXPECT_EQ(x->pixel(w, 7, 401), 0x000000u);
  EXPECT_TRUE(wait_for([&] {
    vox_GfxLock();
    bool clean = std::count(__vox_gfx->dirty, __vox_gfx->dirty + 480, 0) == 480;
    vox_GfxUnlock(1, 0);
    return clean;
  }));

  // Every line named: the whole frame, alpha ignored.
  paint(0, 479, 0x00123456u);
  EXPECT_TRUE(wait_for(
      [&] { return x->pixel(w, 639, 479) == 0x123456u && x->pixel(w, 0, 0) == 0x123456u; }));
  // Covered by another window and uncovered: the driver repaints what it
  // showed, without the program naming any line.
  ASSERT_TRUE(x->cover_briefly(g.x + 100, g.y + 100, 50, 50));
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 120, 120) == 0x123456u; }));
}

TEST_F(Desktop, EightBitScreensGoThroughThePalette) {
  // A narrow screen (width not a multiple of 4); a palette change recolours
  // what is on show without the program naming lines.
  unsigned long w = open(101, 50, 8);
  ASSERT_NE(w, 0u);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;
  driver->set_palette(5, 0, 255, 0);
  driver->set_palette(300, 255, 255, 255);  // out of range: ignored
  paint(0, 49, 5);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 100, 49) == 0x00FF00u; }));
  driver->set_palette(5, 0, 0, 255);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 0, 0) == 0x0000FFu; }));
}

TEST_F(Desktop, KeyboardAndCloseBox) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  focus(w);
  while (vox_GetKey() != 0) continue;  // an empty keyboard buffer

  // A held key: one press, repeats, one release.
  events.clear();
  const Key repeat(VOX::KEYREPEATED, 32, 'd');
  ASSERT_TRUE(xdotool("keydown d"));
  EXPECT_TRUE(wait_events([&] {
    std::vector<Key> now = keys();
    return std::count(now.begin(), now.end(), repeat) >= 2;
  }));
  ASSERT_TRUE(xdotool("keyup d"));
  ASSERT_TRUE(wait_event(VOX::KEYRELEASED));
  std::vector<Key> k = keys();
  EXPECT_EQ(k.front(), Key(VOX::KEYPRESSED, 32, 'd'));
  EXPECT_EQ(k.back(), Key(VOX::KEYRELEASED, 32, 'd'));
  EXPECT_EQ(std::count(k.begin(), k.end(), repeat), static_cast<long>(k.size()) - 2);

  // The close box asks, types the close key, and the window stays.
  while (vox_GetKey() != 0) continue;
  x->send_close_request(w);
  ASSERT_TRUE(wait_event(VOX::CLOSEREQUESTED));
  EXPECT_EQ(vox_GetKey(), 0x6BFF);
  x->sync();
  EXPECT_EQ(x->find_window(kTitle), w);
}

TEST_F(Desktop, KeyPollsAgreeWithEachKeyEventAsTheProgramTakesIt) {
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  focus(w);
  // A frame loop: one event a pass under the lock, the key polled as the event is taken.
  std::vector<Ints> taken;  // type, scancode, poll
  auto run = [&](size_t until) {
    return wait_for([&] {
      vox_GfxLock();
      VOX::EVENT e;
      if (vox_GfxEvent(&e) && e.TYPE >= VOX::KEYPRESSED && e.TYPE <= VOX::KEYREPEATED)
        taken.push_back({e.TYPE, e.SCANCODE, vox_GfxMultikey(e.SCANCODE)});
      SDL_Delay(3);
      vox_GfxUnlock(-1, -1);
      return taken.size() >= until;
    });
  };
  // Taps far shorter than a pass, made while the program holds the lock, and a held key.
  vox_GfxLock();
  ASSERT_TRUE(xdotool("keydown --delay 0 space keyup --delay 0 space keydown --delay 0 Left "
                      "keyup --delay 0 Left keydown --delay 0 space keyup --delay 0 space keydown d"));
  vox_GfxUnlock(-1, -1);
  ASSERT_TRUE(run(7));
  ASSERT_TRUE(xdotool("keyup d"));
  ASSERT_TRUE(wait_for([&] { return run(taken.size() + 1) && taken.back()[0] == VOX::KEYRELEASED; }));
  for (const Ints& t : taken) EXPECT_EQ(t[2], t[0] == VOX::KEYRELEASED ? 0 : -1) << t[0] << " " << t[1];
  EXPECT_EQ((Ints{taken[0][1], taken[2][1], taken[4][1], taken[6][1]}), (Ints{57, 75, 57, 32}));
}

TEST_F(Desktop, MouseGivesPointerAndButtonEvents) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  Geometry g = x->geometry(w);

  // The first move into the window is an entry, with client coordinates.
  ASSERT_TRUE(xdotool("mousemove " + at(g.x + 100, g.y + 60)));
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));
  EXPECT_EQ(std::make_tuple(events[0].TYPE, events[0].X, events[0].Y),
            std::make_tuple(VOX::MOUSEENTERED, 100, 60));

  // Left down, right down, left up, right up; the buttons read back while held.
  events.clear();
  ASSERT_TRUE(xdotool("mousedown 1 mousedown 3"));
  EXPECT_TRUE(wait_for([&] { return mouse() == Ints{100, 60, 0, 3, 0}; }));
  ASSERT_TRUE(xdotool("mouseup 1 mouseup 3"));
  ASSERT_TRUE(wait_events([&] { return of_type(VOX::BUTTONRELEASED).size() == 2; }));
  EXPECT_EQ(of_type(VOX::BUTTONPRESSED), (Ints{1, 2}));
  EXPECT_EQ(of_type(VOX::BUTTONRELEASED), (Ints{1, 2}));

  // Leaving; outside the window there is no position.
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  ASSERT_TRUE(wait_event(VOX::MOUSEEXITED));
  EXPECT_TRUE(wait_for([&] { return mouse() == Ints(5, -1); }));
}

TEST_F(Desktop, SetMousePlacesHidesAndConfinesThePointer) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  Geometry g = x->geometry(w);
  focus(w);
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));

  // Placed at the nearest client pixel, which the program reads at once. Under
  // the program's lock, which the pass must not need.
  vox_GfxLock();
  vox_SetMouse(5000, -3, -1, -1);
  EXPECT_EQ(vox_GetError(), 0);
  Ints m = mouse();
  vox_SetMouse(INT32_MAX, INT32_MAX, -1, -1);
  Ints corner = mouse();
  vox_SetMouse(5000, -3, -1, -1);
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ((Ints{m[0], m[1], m[4], corner[0], corner[1]}), (Ints{639, 0, 0, 639, 479}));
  EXPECT_TRUE(wait_for([&] { return x->pointer() == std::pair(g.x + 639, g.y); }));

  // Hidden and shown again over the window.
  vox_SetMouse(300, 200, 0, -1);
  EXPECT_TRUE(wait_for([&] { return x->visible_cursor_pixels() == 0; }));
  vox_SetMouse(-1, 0, 1, -1);
  EXPECT_TRUE(wait_for([&] { return x->visible_cursor_pixels() > 0; }));

  // Confined: the pointer cannot leave; freed: it can.
  vox_SetMouse(-1, 0, -1, 1);
  EXPECT_EQ(mouse()[4], 1);
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  auto [px, py] = x->pointer();
  EXPECT_TRUE(px >= g.x && py >= g.y) << px << "," << py;
  vox_SetMouse(-1, 0, -1, 0);
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  EXPECT_TRUE(wait_for([&] { return x->pointer() == std::pair(2, 2); }));
}

TEST_F(Desktop, TitleAndPositionWhileTheProgramHoldsTheLock) {
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;
  // Both wait for the presentation thread, which needs the lock for its pass.
  vox_GfxLock();
  vox_GfxSetWindowTitle("Kastrel window test");
  int32_t before = driver->set_window_pos(10, 20);
  int32_t again = driver->set_window_pos(INT32_MIN, 99);  // keeps x
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ(before, ((1024 - 320) >> 1) | (((768 - 240) >> 1) << 16));
  EXPECT_EQ(again, 10 | (20 << 16));
  EXPECT_TRUE(wait_for([&] { return x->title(w) == "Kastrel window test"; }));
  EXPECT_TRUE(wait_for([&] { return x->geometry(w) == Geometry{10, 99, 320, 240}; }));
  vox_GfxSetWindowTitle(kTitle.c_str());
}

TEST_F(Desktop, WindowKindsFollowTheModeFlags) {
  // What no window can be is refused with the reason, before anything opens.
  EXPECT_EQ(vox_gfxDriverSDL.init("t", 0x8000, 10, 32, 0, 0), -1);
  EXPECT_STREQ(KASTREL::LASTERROR(), "SDL driver: no window of 32768 x 10 pixels");
  EXPECT_EQ(vox_gfxDriverSDL.init("t", 320, 240, 32, 0, 2), -1);
  EXPECT_STREQ(KASTREL::LASTERROR(), "SDL driver: no surface of that kind (flag 2)");
  // No switching: a fixed size, so no maximise control, but a frame.
  unsigned long w = open(320, 240, 32, MODE_NOSWITCH);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->size_hints(w), (std::vector<int>{320, 240, 320, 240}));
  EXPECT_NE(x->motif_decorations(w), 0);
  // Plain: framed and resizable.
  w = open(320, 240);
  ASSERT_NE(w, 0u);
  EXPECT_NE(x->size_hints(w), (std::vector<int>{320, 240, 320, 240}));
  // Borderless and always on top.
  w = open(320, 240, 32, MODE_NOFRAME | MODE_ONTOP);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->motif_decorations(w), 0);
  EXPECT_EQ(x->size_hints(w), (std::vector<int>{320, 240, 320, 240}));  // keeps its size
  EXPECT_TRUE(x->has_state(w, "_NET_WM_STATE_ABOVE"));

  // Shaped implies no frame (the hints may land a moment after the window);
  // magenta, whatever its alpha, is cut out of the bounding shape.
  w = open(200, 100, 32, MODE_SHAPED);
  ASSERT_NE(w, 0u);
  EXPECT_TRUE(wait_for([&] { return x->motif_decorations(w) == 0; }));
  paint(0, 99, 0x00FF00FFu, 120);
  EXPECT_TRUE(wait_for([&] {
    auto rects = x->shape(w);
    return !rects.empty() && std::all_of(rects.begin(), rects.end(), [](const Geometry& r) {
      return r.x >= 120 && r.x + r.width <= 200;
    });
  }));

  // Flag 2 is refused, and no other driver takes it.
  vox_GfxScreenRes(320, 240, 32, 1, 2, 0);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
}

TEST_F(Desktop, FullScreenWithoutTheExactModeScalesOnTheDesktop) {
  // 320 x 240 is not a mode of the 1024 x 768 display: a window at the desktop's
  // size, the picture 3 x (960 x 720) centred on black, not to be moved.
  unsigned long w = open(320, 240, 32, MODE_FULLSCREEN);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->geometry(w), (Geometry{0, 0, 1024, 768}));
  EXPECT_EQ(__vox_gfx->driver->set_window_pos(5, 5), 0);
  paint(0, 239, 0xFFFFFFFFu);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 991, 743) == 0xFFFFFFu; }));
  for (auto [px, py, want] : std::vector<std::tuple<int, int, uint32_t>>{
           {32, 24, 0xFFFFFF}, {31, 24, 0}, {32, 23, 0}, {992, 743, 0}, {991, 744, 0}}) {
    EXPECT_EQ(x->pixel(w, px, py), want) << px << "," << py;
  }
  // The border clamps the pointer to the frame's edge.
  ASSERT_TRUE(xdotool("mousemove 5 700"));
  EXPECT_TRUE(wait_for([&] { return mouse() == Ints{0, 225, 0, 0, 0}; }));

  // Alt+Enter: a 320 x 240 window, and back to the scaled full screen, in the same X window.
  focus(w);
  ASSERT_TRUE(xdotool("key alt+Return"));
  unsigned long win = 0;
  EXPECT_TRUE(wait_for(
      [&] {
        win = x->find_window(kTitle);
        return win == w && x->geometry(win).width == 320 &&
               x->pixel(win, 100, 100) == 0xFFFFFFu;  // the switch is over: the new window shows
      },
      30.0));
  focus(win);
  ASSERT_TRUE(xdotool("key alt+Return"));
  EXPECT_TRUE(wait_for(
      [&] {
        unsigned long full = x->find_window(kTitle);
        return full == win && x->geometry(full) == Geometry{0, 0, 1024, 768} &&
               x->pixel(full, 500, 400) == 0xFFFFFFu && x->pixel(full, 10, 400) == 0;
      },
      30.0));

  // The display's own size: full screen, covering the display, not to be moved.
  w = open(1024, 768, 32, MODE_FULLSCREEN);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(__vox_gfx->driver->set_window_pos(5, 5), 0);
  x->sync();
  EXPECT_EQ(x->geometry(w), (Geometry{0, 0, 1024, 768}));

  // The mode list, with and without a screen.
  EXPECT_EQ(vox_GfxScreenList(32), (1024 << 16) | 768);
  EXPECT_EQ(vox_GfxScreenList(0), 0);
  EXPECT_EQ(vox_GfxScreenList(16), 0);
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GfxScreenList(24), (1024 << 16) | 768);
}

TEST_F(Desktop, MinimisingAndAltEnterSwitch) {
  // No 640 x 480 mode here, so minimising switches to full screen at the
  // desktop's size, in the same window.
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  x->mark_minimised(w);
  unsigned long again = 0;
  EXPECT_TRUE(wait_for([&] {
    return (again = x->find_window(kTitle)) == w && x->geometry(again).width == 1024;
  }));

  // A window of the display's size, moved aside, goes full screen in the same
  // window, at the origin, and cannot be moved.
  w = open(1024, 768);
  ASSERT_NE(w, 0u);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;
  driver->set_window_pos(30, 40);
  focus(w);
  ASSERT_TRUE(xdotool("key alt+Return"));
  unsigned long full = 0;
  EXPECT_TRUE(wait_for([&] {
    full = x->find_window(kTitle);
    return full == w && x->geometry(full) == Geometry{0, 0, 1024, 768};
  }));
  ASSERT_NE(full, 0u);
  EXPECT_EQ(driver->set_window_pos(5, 5), 0);  // the way back is the scaled case's
}

TEST_F(Desktop, ScaleTwoShowsBlocksMapsThePointerAndScalesTheBand) {
  vox_GfxSetScale(17);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_STRNE(KASTREL::LASTERROR(), "");
  vox_GfxSetScale(2);
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  Geometry g = x->geometry(w);
  EXPECT_EQ(g, (Geometry{(1024 - 640) >> 1, (768 - 480) >> 1, 640, 480}));
  // Once the first pass is out: frame rows 0..30 written, 10..20 marked.
  paint(200, 200, 0xFF00FF00u);
  ASSERT_TRUE(wait_for([&] { return x->pixel(w, 0, 401) == 0x00FF00u; }));
  vox_GfxLock();
  for (int32_t y = 0; y <= 30; ++y) {
    for (int32_t i = 0; i < 320; ++i) {
      uint32_t c = 0xFF000000u | static_cast<uint32_t>(i << 8 | y);
      std::memcpy(__vox_gfx->framebuffer + y * __vox_gfx->pitch + i * 4, &c, 4);
    }
  }
  vox_GfxUnlock(10, 20);
  ASSERT_TRUE(wait_for([&] { return x->pixel(w, 639, 41) == (319u << 8 | 20u); }));
  for (int wy : {19, 20, 21, 33, 41, 42}) {
    for (int wx : {0, 1, 2, 77, 200, 201, 638}) {
      uint32_t want = wy < 20 || wy > 41 ? 0 : static_cast<uint32_t>((wx / 2) << 8 | wy / 2);
      EXPECT_EQ(x->pixel(w, wx, wy), want) << wx << "," << wy;
    }
  }

  // Window pixel (201, 101) is frame pixel (100, 50); deltas in frame pixels.
  ASSERT_TRUE(xdotool("mousemove " + at(g.x + 201, g.y + 101)));
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));
  EXPECT_EQ(std::make_pair(events[0].X, events[0].Y), std::make_pair(100, 50));
  events.clear();
  ASSERT_TRUE(xdotool("mousemove " + at(g.x + 211, g.y + 121)));
  ASSERT_TRUE(wait_event(VOX::MOUSEMOVED));
  EXPECT_EQ(Ints({events[0].X, events[0].Y, events[0].DX, events[0].DY}), (Ints{105, 60, 5, 10}));
  EXPECT_TRUE(wait_for([&] { return mouse() == Ints{105, 60, 0, 0, 0}; }));
  vox_SetMouse(100, 50, 1, 0);
  EXPECT_TRUE(wait_for([&] {
    auto [px, py] = x->pointer();
    return (px - g.x == 200 || px - g.x == 201) && (py - g.y == 100 || py - g.y == 101);
  }));

  // The user's "auto" outranks the game: the largest scale that fits 1024 x 768.
  KASTREL::PLATFORM::SETENVIRONMENT("KASTREL_SCALE", "auto");
  w = open(320, 240);
  KASTREL::PLATFORM::SETENVIRONMENT("KASTREL_SCALE", nullptr);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->geometry(w), (Geometry{32, 24, 960, 720}));
}

TEST_F(Desktop, AWindowDestroyedUnderTheGameEndsItThroughTheCloseRequest) {
  // The next put to the vanished window is a protocol error: Xlib's own handler
  // would exit the process from the presentation thread.
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(xdotool("windowclose " + std::to_string(w)));
  x->sync();
  EXPECT_TRUE(wait_events([&] {
    paint(0, 239, 0xFF102030u);
    return !of_type(VOX::CLOSEREQUESTED).empty();
  }));
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GetError(), 0);
}

TEST(NoDesktop, RefusesTheInvisibleDriversUnlessAskedFor) {
  KASTREL::PLATFORM::SETENVIRONMENT("DISPLAY", nullptr);
  KASTREL::PLATFORM::SETENVIRONMENT("WAYLAND_DISPLAY", nullptr);
  KASTREL::PLATFORM::SETENVIRONMENT("SDL_VIDEODRIVER", nullptr);
  KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", nullptr);
  vox_GfxScreenRes(320, 240, 32, 1, 0, 0);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
  EXPECT_STRNE(KASTREL::LASTERROR(), "");
  KASTREL::PLATFORM::SETENVIRONMENT("SDL_VIDEODRIVER", "offscreen");
  vox_GfxScreenRes(320, 240, 32, 1, 0, 0);
  EXPECT_EQ(vox_GetError(), 0);
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
}

TEST_F(Desktop, OpeningAndClosingFiftyTimesWhileTheProgramHoldsTheLock) {
  // Each mode set shuts the previous screen down with its lock held by the
  // program, without deadlock; the new screen's lock is free. The leak checker
  // runs at process exit.
  for (int i = 0; i < 50; ++i) {
    vox_GfxScreenRes(64 + i, 48, 32, 1, i % 2 ? MODE_NOSWITCH : 0, 0);
    ASSERT_EQ(vox_GetError(), 0) << i;
    ASSERT_EQ(__vox_gfx->driver, &vox_gfxDriverSDL);
    EXPECT_EQ(__vox_gfx->flags & (SCREEN_LOCKED | SCREEN_AUTO_LOCKED), 0u);
    vox_GfxLock();
    vox_GfxUnlock(-1, -1);
    vox_GfxLock();
  }
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_EQ(x->find_window(kTitle), 0u);
}

TEST_F(Desktop, GamepadsAndFocus) {
  using Pad = virtual_pad::Pad;
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);  // before any screen: no race on SDL's init
  auto first = std::make_unique<Pad>();                // there before the window
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  focus(w);  // SDL passes pad presses to focused windows only
  auto second = std::make_unique<Pad>();
  auto pad_events = [&](int32_t type) {  // (pad, control, value) of each
    std::vector<Ints> out;
    for (const VOX::EVENT& e : events)
      if (e.TYPE == type) out.push_back({e.PAD, e.CONTROL, e.VALUE});
    return out;
  };
  ASSERT_TRUE(wait_events([&] { return of_type(VOX::PADCONNECTED) == Ints{0, 1}; }));

  // Every button SDL maps on a virtual pad (all but the touchpad).
  for (int b = 0; b < VOX::PAD_TOUCHPAD; ++b) {
    events.clear();
    second->button(b, true);
    ASSERT_TRUE(wait_event(VOX::PADBUTTONPRESSED)) << b;
    EXPECT_EQ((Ints{vox_GfxPadButton(1, b), vox_GfxPadButton(0, b)}), (Ints{-1, 0})) << b;
    second->button(b, false);
    ASSERT_TRUE(wait_event(VOX::PADBUTTONRELEASED)) << b;
    EXPECT_EQ(vox_GfxPadButton(1, b), 0);
    for (int32_t type : {VOX::PADBUTTONPRESSED, VOX::PADBUTTONRELEASED})
      EXPECT_EQ(pad_events(type), std::vector<Ints>{(Ints{1, b, 0})});
  }

  // The names a game's tests use: a press, a trigger pulled fully and let go.
  KASTREL::TESTING::VIRTUALPAD& game = *first;
  events.clear();
  game.PRESS(KASTREL::PAD::X);
  EXPECT_TRUE(wait_for([] { return vox_GfxPadButton(0, KASTREL::PAD::X) == -1; }));
  game.RELEASE(KASTREL::PAD::X);
  for (int32_t v : {32767, 0}) {
    game.MOVE(KASTREL::PAD::LEFTTRIGGER, v);
    EXPECT_TRUE(wait_for([&] { return vox_GfxPadAxis(0, KASTREL::PAD::LEFTTRIGGER) == v; })) << v;
  }
  EXPECT_TRUE(wait_events([&] { return pad_events(VOX::PADAXISMOVED).size() == 2; }));

  // A stick moves by steps finer than the dead zone; held still for 2 s, or moved by less
  // than a step, it posts nothing, and polling follows.
  events.clear();
  for (int32_t v : {9000, 16000}) {
    second->axis(VOX::PAD_LEFTX, v);
    ASSERT_TRUE(wait_for([&] { return vox_GfxPadAxis(1, VOX::PAD_LEFTX) == v; }));
  }
  second->axis(VOX::PAD_LEFTX, 16000 + vox_GfxPadAxisStep(-1) - 1);
  EXPECT_TRUE(wait_for([] { return vox_GfxPadAxis(1, VOX::PAD_LEFTX) == 17023; }));
  vox_SleepEx(2000, 1);
  second->axis(VOX::PAD_LEFTX, 300);  // inside the dead zone: rest
  ASSERT_TRUE(wait_events([&] { return pad_events(VOX::PADAXISMOVED).size() >= 3; }));
  EXPECT_EQ(pad_events(VOX::PADAXISMOVED),
            (std::vector<Ints>{{1, VOX::PAD_LEFTX, 9000}, {1, VOX::PAD_LEFTX, 16000}, {1, VOX::PAD_LEFTX, 0}}));
  EXPECT_EQ(vox_GfxPadAxis(1, VOX::PAD_LEFTX), 0);

  // Swung end to end every millisecond for a second, unread: one event a pass at most. The
  // waits are the program's own, which serve the window when its thread does.
  events.clear();
  for (int i = 0; i < 1000; ++i, vox_SleepEx(1, 1))
    second->axis(VOX::PAD_RIGHTY, i % 2 ? 32767 : -32768);
  vox_SleepEx(100, 1);
  for (VOX::EVENT e; vox_GfxEvent(&e);) events.push_back(e);
  EXPECT_LT(events.size(), 127u);
  EXPECT_EQ(pad_events(VOX::PADAXISMOVED).back(), (Ints{1, VOX::PAD_RIGHTY, 32767}));

  // Another window takes the focus: the held key and button read released at once,
  // their releases posted first; the stick reads centred. The focus comes back.
  ASSERT_TRUE(xdotool("keydown d"));
  second->button(VOX::PAD_B, true);
  ASSERT_TRUE(wait_events([&] {
    return of_type(VOX::KEYPRESSED).size() + pad_events(VOX::PADBUTTONPRESSED).size() == 2 &&
           vox_GfxMultikey(32) && vox_GfxPadButton(1, VOX::PAD_B);
  }));
  events.clear();
  x->focus_other_window();
  ASSERT_TRUE(wait_event(VOX::FOCUSLOST));
  EXPECT_EQ((Ints{vox_GfxMultikey(32), vox_GfxPadButton(1, VOX::PAD_B)}), (Ints{0, 0}));
  ASSERT_TRUE(wait_event(VOX::PADAXISMOVED));
  Ints types;
  for (const VOX::EVENT& e : events) types.push_back(e.TYPE);
  EXPECT_EQ(types,
            (Ints{VOX::KEYRELEASED, VOX::PADBUTTONRELEASED, VOX::FOCUSLOST, VOX::PADAXISMOVED}));
  EXPECT_EQ(pad_events(VOX::PADAXISMOVED), std::vector<Ints>{(Ints{1, VOX::PAD_RIGHTY, 0})});
  // Back: the button held all along reads held, its press posted after FOCUSGAINED.
  ASSERT_TRUE(xdotool("keyup d"));
  events.clear();
  focus(w);
  ASSERT_TRUE(wait_events([&] { return !pad_events(VOX::PADBUTTONPRESSED).empty(); }));
  auto first_of = [&](int32_t type) {
    return std::find_if(events.begin(), events.end(), [&](const VOX::EVENT& e) { return e.TYPE == type; });
  };
  EXPECT_LT(first_of(VOX::FOCUSGAINED), first_of(VOX::PADBUTTONPRESSED));
  EXPECT_EQ(pad_events(VOX::PADBUTTONPRESSED), std::vector<Ints>{(Ints{1, VOX::PAD_B, 0})});
  EXPECT_EQ(vox_GfxPadButton(1, VOX::PAD_B), -1);
  second->button(VOX::PAD_B, false);

  // Unplugged: disconnected, released and centred; numbers stay; the lowest free is reused.
  second->button(VOX::PAD_A, true);
  ASSERT_TRUE(wait_for([] { return vox_GfxPadButton(1, VOX::PAD_A) == -1; }));
  events.clear();
  second.reset();
  ASSERT_TRUE(wait_event(VOX::PADDISCONNECTED));
  EXPECT_EQ(of_type(VOX::PADDISCONNECTED), Ints{1});
  EXPECT_EQ((Ints{vox_GfxPadCount(), vox_GfxPadButton(1, VOX::PAD_A), vox_GfxPadAxis(1, 0)}),
            (Ints{1, 0, 0}));
  events.clear();
  first.reset();
  ASSERT_TRUE(wait_event(VOX::PADDISCONNECTED));
  for (int i = 0; i < 20; ++i) {  // the leak checker runs at process exit
    events.clear();
    second = std::make_unique<Pad>();
    ASSERT_TRUE(wait_event(VOX::PADCONNECTED));
    second.reset();
    ASSERT_TRUE(wait_event(VOX::PADDISCONNECTED));
    EXPECT_EQ(of_type(VOX::PADCONNECTED), Ints{0});
  }
  EXPECT_EQ(vox_GfxPadCount(), 0);
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  SDL_Quit();  // the hints the driver set go with it
}

TEST_F(Desktop, InputQueriesFromAnotherThreadWhileTheProgramLocks) {
  // They read state only: they neither take nor release the program's lock.
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      vox_GetMouse(nullptr, nullptr, nullptr, nullptr, nullptr);
      vox_GfxMultikey(30);
      vox_GfxPadButton(0, VOX::PAD_A);
      vox_GfxEvent(nullptr);
    }
  });
  // A second of lock and unlock, as a frame loop does (a wrong hand-over deadlocks here).
  for (uint32_t end = SDL_GetTicks() + 1000; SDL_GetTicks() < end;) {
    vox_GfxLock();
    vox_GfxUnlock(-1, -1);
  }
  stop = true;
  reader.join();
  paint(0, 239, 0xFF00FF00u);  // the pass still runs
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 5, 5) == 0x00FF00u; }));
}

// The thread that serves the window, seen from the thread every desktop event is taken on: the
// game's own when it asks, unless the user's KASTREL_PASS_THREAD says otherwise.
TEST_F(Desktop, TheGamesThreadServesTheWindowWhenAskedUnlessTheUserSaysOtherwise) {
  struct Seen {
    std::mutex m;
    std::set<std::thread::id> threads;
  } seen;
  const SDL_EventFilter watch = [](void* data, SDL_Event*) {
    auto* s = static_cast<Seen*>(data);
    std::lock_guard l(s->m);
    s->threads.insert(std::this_thread::get_id());
    return 1;
  };
  const struct {
    const char* user;
    int32_t game;
    bool here;
  } cases[] = {{nullptr, PASS_GAME_THREAD, true},
               {"own", PASS_GAME_THREAD, false},
               {"game", PASS_OWN_THREAD, true},
               {"neither", PASS_GAME_THREAD, true}};  // ignored, with a line on standard error
  for (const auto& c : cases) {
    KASTREL::PLATFORM::SETENVIRONMENT("KASTREL_PASS_THREAD", c.user);
    vox_GfxSetPassThread(c.game);
    unsigned long w = open(320, 240);
    ASSERT_NE(w, 0u) << KASTREL::LASTERROR();
    SDL_AddEventWatch(watch, &seen);
    focus(w);
    paint(0, 239, 0xFF0000FFu);
    EXPECT_TRUE(wait_for([&] { return x->pixel(w, 5, 5) == 0x0000FFu; }));
    ASSERT_TRUE(xdotool("mousemove_relative 5 5"));
    EXPECT_TRUE(wait_event(VOX::MOUSEMOVED));
    SDL_DelEventWatch(watch, &seen);
    vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
    std::lock_guard l(seen.m);
    EXPECT_FALSE(seen.threads.empty());
    EXPECT_EQ(seen.threads == std::set{std::this_thread::get_id()}, c.here) << (c.user ? c.user : "unset");
    seen.threads.clear();
  }
}


// The driver contract, as the template driver keeps it: the picture read back over X, the input
// given with xdotool.
using driver_contract::DeviceDriver;
x_desktop::Connection* g_x = nullptr;

void setup() {
  X_DESKTOP_OR_SKIP();
  static x_desktop::Connection connection;
  g_x = &connection;
  ASSERT_TRUE(g_x->ok());
  ASSERT_TRUE(x_desktop::xdotool("keyup d mouseup 1 mousemove 2 2"));
}

// The window is looked up each time: a mode set may make a new one.
uint32_t pixel(int32_t x, int32_t y) { return g_x->pixel(g_x->find_window(kTitle), x, y); }

void input(int32_t x, int32_t y) {
  const unsigned long w = g_x->wait_for_window(kTitle);
  const x_desktop::Geometry g = g_x->geometry(w);
  ASSERT_TRUE(x_desktop::xdotool("mousemove " + std::to_string(g.x + x) + " " +
                                 std::to_string(g.y + y)));
  ASSERT_TRUE(x_desktop::xdotool("windowfocus --sync " + std::to_string(w)));
  ASSERT_TRUE(x_desktop::xdotool("key d click 1"));
}

INSTANTIATE_TEST_SUITE_P(window, DeviceDriver,
                         testing::Values(driver_contract::DRIVER{&vox_gfxDriverSDL, setup, pixel,
                                                                 input, nullptr}),
                         driver_contract::name);

}  // namespace
