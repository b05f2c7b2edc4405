// The window driver against a real X server (the CTest fixture's Xvfb, 1024 x 768),
// with real input from xdotool and the window's pixels read back over X.
#include "kastrel/device/sdl_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using x_desktop::Connection;
using x_desktop::wait_for;
using x_desktop::xdotool;

// The default title: the test executable's name.
const std::string kTitle = "kastrel_window_tests";

using Key = std::tuple<int32_t, int32_t, int32_t>;  // type, scancode, ascii

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!x_desktop::use_test_server(&why)) GTEST_SKIP() << why;
    unsetenv("VOXGFX");
    x = std::make_unique<Connection>();
    ASSERT_TRUE(x->ok());
    // Nothing held from an earlier test, the pointer outside any window.
    ASSERT_TRUE(xdotool("keyup d shift alt mouseup 1 mouseup 3"));
    ASSERT_TRUE(xdotool("mousemove 2 2"));
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
    x_desktop::Geometry g = x->geometry(window);
    ASSERT_TRUE(xdotool("mousemove " + std::to_string(g.x + 20) + " " + std::to_string(g.y + 20)));
    ASSERT_TRUE(xdotool("windowfocus --sync " + std::to_string(window)));
  }

  bool wait_events(const std::function<bool(const std::vector<VOX::EVENT>&)>& done,
                   double seconds = 10.0) {
    return wait_for(
        [&] {
          VOX::EVENT e;
          while (vox_GfxEvent(&e)) events.push_back(e);
          return done(events);
        },
        seconds);
  }

  // Collects events until one of `type` arrives.
  bool wait_event(int32_t type) {
    return wait_events([&](const std::vector<VOX::EVENT>& all) {
      return std::any_of(all.begin(), all.end(),
                         [&](const VOX::EVENT& e) { return e.TYPE == type; });
    });
  }

  std::vector<Key> keys() const {
    std::vector<Key> out;
    for (const VOX::EVENT& e : events) {
      if (e.TYPE >= VOX::KEYPRESSED && e.TYPE <= VOX::KEYREPEATED)
        out.emplace_back(e.TYPE, e.SCANCODE, e.ASCII);
    }
    return out;
  }

  std::vector<int32_t> of_type(int32_t type) const {
    std::vector<int32_t> out;
    for (const VOX::EVENT& e : events) {
      if (e.TYPE == type) out.push_back(e.X);
    }
    return out;
  }

  void fill_rows(int32_t first, int32_t last, uint32_t color) {
    VOX_GFX_SCREEN* s = __vox_gfx;
    for (int32_t y = first; y <= last; ++y) {
      for (int32_t i = 0; i < s->width; ++i) {
        std::memcpy(s->framebuffer + y * s->pitch + i * s->bytes_per_pixel, &color,
                    static_cast<size_t>(s->bytes_per_pixel));
      }
    }
  }

  std::unique_ptr<Connection> x;
  std::vector<VOX::EVENT> events;
};

TEST_F(Desktop, WindowShowsTheDirtyLinesOfTheFrame) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u) << "no window titled " << kTitle;
  x_desktop::Geometry g = x->geometry(w);
  EXPECT_EQ(g.width, 640);
  EXPECT_EQ(g.height, 480);
  // Centred on the 1024 x 768 desktop.
  EXPECT_EQ(g.x, (1024 - 640) >> 1);
  EXPECT_EQ(g.y, (768 - 480) >> 1);
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

  // Lines 10 and 400 dirty: both shown; the clean line between them is not,
  // and the pass clears every mark.
  vox_GfxLock();
  fill_rows(10, 10, 0xFF0000FFu);
  fill_rows(200, 200, 0xFF0000FFu);
  fill_rows(400, 400, 0xFF0000FFu);
  __vox_gfx->dirty[10] = 1;
  __vox_gfx->dirty[400] = 1;
  vox_GfxUnlock(0, 480);  // names nothing itself
  EXPECT_TRUE(wait_for(
      [&] { return x->pixel(w, 7, 10) == 0x0000FFu && x->pixel(w, 7, 400) == 0x0000FFu; }));
  EXPECT_EQ(x->pixel(w, 7, 200), 0x000000u);
  EXPECT_EQ(x->pixel(w, 7, 300), 0x000000u);
  EXPECT_TRUE(wait_for([&] {
    vox_GfxLock();
    bool clean =
        std::all_of(__vox_gfx->dirty, __vox_gfx->dirty + 480, [](uint8_t b) { return b == 0; });
    vox_GfxUnlock(0, 480);
    return clean;
  }));

  // Every line named: the whole frame, alpha ignored.
  vox_GfxLock();
  fill_rows(0, 479, 0x00123456u);
  vox_GfxUnlock(-1, -1);
  EXPECT_TRUE(wait_for(
      [&] { return x->pixel(w, 639, 479) == 0x123456u && x->pixel(w, 0, 0) == 0x123456u; }));
}

TEST_F(Desktop, UncoveredPartsAreShownAgain) {
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  x_desktop::Geometry g = x->geometry(w);
  vox_GfxLock();
  fill_rows(0, 239, 0xFFFF0000u);
  vox_GfxUnlock(-1, -1);
  ASSERT_TRUE(wait_for([&] { return x->pixel(w, 160, 120) == 0xFF0000u; }));
  // Covered by another window and uncovered: the driver repaints what it
  // showed, without the program naming any line.
  unsigned long other = x->cover(g.x + 100, g.y + 100, 50, 50);
  ASSERT_TRUE(wait_for([&] { return x->pixel(other, 10, 10) == 0xFFFFFFu; }));
  x->destroy(other);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 120, 120) == 0xFF0000u; }));
}

TEST_F(Desktop, SixteenAndEightBitScreensAreConverted) {
  unsigned long w = open(320, 200, 16);
  ASSERT_NE(w, 0u);
  vox_GfxLock();
  fill_rows(0, 9, 0xF800);
  fill_rows(10, 19, 0x07E0);
  fill_rows(20, 29, 0xFFFF);
  vox_GfxUnlock(0, 29);
  EXPECT_TRUE(wait_for([&] {
    return x->pixel(w, 3, 5) == 0xFF0000u && x->pixel(w, 3, 15) == 0x00FF00u &&
           x->pixel(w, 319, 25) == 0xFFFFFFu;
  }));

  // A narrow 8-bit screen (width not a multiple of 4) through the palette; a
  // palette change recolours what is on show without the program naming lines.
  w = open(101, 50, 8);
  ASSERT_NE(w, 0u);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;
  driver->set_palette(5, 0, 255, 0);
  driver->set_palette(300, 255, 255, 255);  // out of range: ignored
  vox_GfxLock();
  fill_rows(0, 49, 5);
  vox_GfxUnlock(-1, -1);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 100, 49) == 0x00FF00u; }));
  driver->set_palette(5, 0, 0, 255);
  EXPECT_TRUE(wait_for([&] { return x->pixel(w, 0, 0) == 0x0000FFu; }));
}

TEST_F(Desktop, KeyboardGivesKeyEvents) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  focus(w);
  events.clear();

  ASSERT_TRUE(xdotool("key Escape"));
  ASSERT_TRUE(wait_event(VOX::KEYRELEASED));
  EXPECT_EQ(keys(), (std::vector<Key>{{VOX::KEYPRESSED, 1, 27}, {VOX::KEYRELEASED, 1, 27}}));

  events.clear();
  ASSERT_TRUE(xdotool("key shift+a"));
  ASSERT_TRUE(wait_events([&](auto&) { return keys().size() >= 4; }));
  std::vector<Key> k = keys();
  ASSERT_EQ(k.size(), 4u);
  EXPECT_EQ(k[0], Key(VOX::KEYPRESSED, 42, 0));
  EXPECT_EQ(k[1], Key(VOX::KEYPRESSED, 30, 'A'));
  // Released in either order; 'a' still reports the 'A' of its press.
  EXPECT_NE(std::find(k.begin(), k.end(), Key(VOX::KEYRELEASED, 30, 'A')), k.end());
  EXPECT_NE(std::find(k.begin(), k.end(), Key(VOX::KEYRELEASED, 42, 0)), k.end());

  // F10 alone posts nothing; the Up arrow has no character.
  events.clear();
  ASSERT_TRUE(xdotool("key F10 Up"));
  ASSERT_TRUE(wait_event(VOX::KEYRELEASED));
  EXPECT_EQ(keys(), (std::vector<Key>{{VOX::KEYPRESSED, 72, 0}, {VOX::KEYRELEASED, 72, 0}}));

  // A held key: one press, repeats, one release; the key state follows it.
  events.clear();
  ASSERT_TRUE(xdotool("keydown d"));
  EXPECT_TRUE(wait_events([&](auto&) {
    std::vector<Key> now = keys();
    return std::count(now.begin(), now.end(), Key(VOX::KEYREPEATED, 32, 'd')) >= 2;
  }));
  EXPECT_TRUE(wait_for([] { return vox_GfxMultikey(32) == -1; }));
  EXPECT_EQ(vox_GfxMultikey(30), 0);
  ASSERT_TRUE(xdotool("keyup d"));
  ASSERT_TRUE(wait_event(VOX::KEYRELEASED));
  k = keys();
  EXPECT_EQ(k.front(), Key(VOX::KEYPRESSED, 32, 'd'));
  EXPECT_EQ(k.back(), Key(VOX::KEYRELEASED, 32, 'd'));
  EXPECT_EQ(std::count(k.begin(), k.end(), Key(VOX::KEYREPEATED, 32, 'd')),
            static_cast<long>(k.size()) - 2);
  EXPECT_TRUE(wait_for([] { return vox_GfxMultikey(32) == 0; }));
  EXPECT_EQ(vox_GfxMultikey(128), 0);
  EXPECT_EQ(vox_GfxMultikey(-1), 0);

  // Typed characters reach the typed-key buffer.
  while (vox_GetKey() != 0) {
  }
  ASSERT_TRUE(xdotool("type hi"));
  std::vector<int32_t> typed;
  EXPECT_TRUE(wait_for([&] {
    for (int32_t c; (c = vox_GetKey()) != 0;) typed.push_back(c);
    return typed.size() >= 2;
  }));
  EXPECT_EQ(typed, (std::vector<int32_t>{'h', 'i'}));
}

TEST_F(Desktop, MouseGivesPointerButtonAndWheelEvents) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  x_desktop::Geometry g = x->geometry(w);
  int32_t mx, my, wheel, buttons, clip;
  vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
  EXPECT_EQ(std::vector<int32_t>({mx, my, wheel, buttons, clip}), std::vector<int32_t>(5, -1));

  // The first move into the window is an entry, with client coordinates.
  events.clear();
  ASSERT_TRUE(xdotool("mousemove " + std::to_string(g.x + 100) + " " + std::to_string(g.y + 60)));
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));
  EXPECT_EQ(events.front().TYPE, VOX::MOUSEENTERED);
  EXPECT_EQ(events.front().X, 100);
  EXPECT_EQ(events.front().Y, 60);
  events.clear();
  ASSERT_TRUE(xdotool("mousemove_relative 7 -3"));
  ASSERT_TRUE(wait_event(VOX::MOUSEMOVED));
  EXPECT_EQ(events.back().X, 107);
  EXPECT_EQ(events.back().Y, 57);
  EXPECT_EQ(events.back().DX, 7);
  EXPECT_EQ(events.back().DY, -3);
  EXPECT_TRUE(wait_for([&] {
    vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
    return mx == 107 && my == 57;
  }));

  // Left down, right down, left up, right up.
  events.clear();
  ASSERT_TRUE(xdotool("mousedown 1 mousedown 3"));
  EXPECT_TRUE(wait_for([&] {
    vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
    return buttons == 3;
  }));
  ASSERT_TRUE(xdotool("mouseup 1 mouseup 3"));
  ASSERT_TRUE(wait_events([&](auto&) { return of_type(VOX::BUTTONRELEASED).size() == 2; }));
  EXPECT_EQ(of_type(VOX::BUTTONPRESSED), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(of_type(VOX::BUTTONRELEASED), (std::vector<int32_t>{1, 2}));

  // Three steps forward and one back.
  events.clear();
  ASSERT_TRUE(xdotool("click 4 click 4 click 4 click 5"));
  ASSERT_TRUE(wait_events([&](auto&) { return of_type(VOX::WHEELMOVED).size() == 4; }));
  EXPECT_EQ(of_type(VOX::WHEELMOVED), (std::vector<int32_t>{1, 2, 3, 2}));

  // Leaving; outside the window there is no position.
  events.clear();
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  ASSERT_TRUE(wait_event(VOX::MOUSEEXITED));
  EXPECT_TRUE(wait_for([&] {
    vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
    return mx == -1 && my == -1 && wheel == -1 && buttons == -1 && clip == -1;
  }));
}

TEST_F(Desktop, CloseBoxAsksAndTheWindowStays) {
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  while (vox_GetKey() != 0) {
  }
  events.clear();
  x->send_close_request(w);
  ASSERT_TRUE(wait_event(VOX::CLOSEREQUESTED));
  EXPECT_EQ(vox_GetKey(), 0x6BFF);
  x->sync();
  EXPECT_TRUE(x->exists(w));
  EXPECT_NE(__vox_gfx, nullptr);
}

TEST_F(Desktop, SetMousePlacesHidesAndConfinesThePointer) {
  unsigned long w = open(640, 480);
  ASSERT_NE(w, 0u);
  x_desktop::Geometry g = x->geometry(w);
  focus(w);
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));

  // Placed at the nearest client pixel; the values passed are what the program reads.
  vox_GfxLock();
  vox_SetMouse(5000, -3, -1, -1);
  EXPECT_EQ(vox_GetError(), 0);
  int32_t mx, my, wheel, buttons, clip;
  vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
  vox_GfxUnlock(0, -1);
  EXPECT_EQ(mx, 5000);
  EXPECT_EQ(my, -3);
  EXPECT_EQ(clip, 0);
  int px, py;
  EXPECT_TRUE(wait_for([&] {
    x->pointer(&px, &py);
    return px == g.x + 639 && py == g.y;
  }));

  // Hidden and shown again over the window.
  vox_SetMouse(300, 200, 0, -1);
  EXPECT_TRUE(wait_for([&] { return x->visible_cursor_pixels() == 0; }));
  vox_SetMouse(-1, 0, 1, -1);
  EXPECT_TRUE(wait_for([&] { return x->visible_cursor_pixels() > 0; }));

  // Confined: the pointer cannot leave; freed: it can.
  vox_SetMouse(-1, 0, -1, 1);
  vox_GetMouse(&mx, &my, &wheel, &buttons, &clip);
  EXPECT_EQ(clip, 1);
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  x->pointer(&px, &py);
  EXPECT_GE(px, g.x);
  EXPECT_GE(py, g.y);
  vox_SetMouse(-1, 0, -1, 0);
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  EXPECT_TRUE(wait_for([&] {
    x->pointer(&px, &py);
    return px == 2 && py == 2;
  }));
}

TEST_F(Desktop, TitleAndPositionWhileTheProgramHoldsTheLock) {
  unsigned long w = open(320, 240);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->title(w), kTitle);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;

  vox_GfxLock();
  vox_GfxSetWindowTitle("Kastrel window test");
  int32_t before = driver->set_window_pos(10, 20);
  int32_t again = driver->set_window_pos(INT32_MIN, 99);
  vox_GfxUnlock(0, -1);
  EXPECT_EQ(before, ((1024 - 320) >> 1) | (((768 - 240) >> 1) << 16));
  EXPECT_EQ(again, 10 | (20 << 16));
  EXPECT_TRUE(wait_for([&] { return x->title(w) == "Kastrel window test"; }));
  EXPECT_TRUE(wait_for([&] {
    x_desktop::Geometry g = x->geometry(w);
    return g.x == 10 && g.y == 99;
  }));
  // A later screen keeps the title.
  vox_GfxScreenRes(200, 100, 32, 1, 0, 0);
  EXPECT_NE(x->wait_for_window("Kastrel window test"), 0u);
  vox_GfxSetWindowTitle(kTitle.c_str());
}

TEST_F(Desktop, WindowKindsFollowTheModeFlags) {
  // No switching: a fixed size, so no maximise control.
  unsigned long w = open(320, 240, 32, MODE_NOSWITCH);
  ASSERT_NE(w, 0u);
  int min_w, min_h, max_w, max_h;
  x->size_hints(w, &min_w, &min_h, &max_w, &max_h);
  EXPECT_EQ(std::vector<int>({min_w, min_h, max_w, max_h}), std::vector<int>({320, 240, 320, 240}));
  EXPECT_NE(x->motif_decorations(w), 0);

  // Plain: framed and resizable.
  w = open(320, 240, 32, 0);
  ASSERT_NE(w, 0u);
  x->size_hints(w, &min_w, &min_h, &max_w, &max_h);
  EXPECT_FALSE(max_w == 320 && max_h == 240);

  // Borderless and always on top.
  w = open(320, 240, 32, MODE_NOFRAME | MODE_ONTOP);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x->motif_decorations(w), 0);
  auto state = x->net_wm_state(w);
  EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), state.end());

  // Flag 2 is refused, and no other driver takes it.
  vox_GfxScreenRes(320, 240, 32, 1, 2, 0);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
}

TEST_F(Desktop, ShapedWindowLetsTheKeyColourThrough) {
  unsigned long w = open(200, 100, 32, MODE_SHAPED);
  ASSERT_NE(w, 0u);
  // Shaped implies no frame; the window manager hints may land a moment after the window.
  EXPECT_TRUE(wait_for([&] { return x->motif_decorations(w) == 0; }));
  vox_GfxLock();
  VOX_GFX_SCREEN* s = __vox_gfx;
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t i = 0; i < 120; ++i) {
      uint32_t magenta = 0x00FF00FFu;  // any alpha
      std::memcpy(s->framebuffer + y * s->pitch + i * 4, &magenta, 4);
    }
  }
  vox_GfxUnlock(-1, -1);
  // The bounding shape then covers only columns 120..199.
  EXPECT_TRUE(wait_for([&] {
    auto rects = x->shape(w);
    if (rects.empty()) return false;
    return std::all_of(rects.begin(), rects.end(), [](const x_desktop::Geometry& r) {
      return r.x >= 120 && r.x + r.width <= 200;
    });
  }));
}

TEST_F(Desktop, FullScreenNeedsTheExactSize) {
  // 640 x 480 is not a mode of the 1024 x 768 display: the mode set ends in a
  // window, one that can be moved.
  unsigned long w = open(640, 480, 32, MODE_FULLSCREEN);
  ASSERT_NE(w, 0u);
  x_desktop::Geometry g = x->geometry(w);
  EXPECT_EQ(std::vector<int>({g.x, g.y, g.width, g.height}),
            std::vector<int>({(1024 - 640) >> 1, (768 - 480) >> 1, 640, 480}));
  EXPECT_EQ(__vox_gfx->driver->set_window_pos(INT32_MIN, INT32_MIN),
            ((1024 - 640) >> 1) | (((768 - 480) >> 1) << 16));

  // The display's own size: full screen, covering the display, not to be moved.
  w = open(1024, 768, 32, MODE_FULLSCREEN);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(__vox_gfx->driver->set_window_pos(5, 5), 0);
  x->sync();
  g = x->geometry(w);
  EXPECT_EQ(std::vector<int>({g.x, g.y, g.width, g.height}), std::vector<int>({0, 0, 1024, 768}));

  // The mode list, with and without a screen.
  EXPECT_EQ(vox_GfxScreenList(32), (1024 << 16) | 768);
  EXPECT_EQ(vox_GfxScreenList(0), 0);
  EXPECT_EQ(vox_GfxScreenList(16), 0);
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GfxScreenList(24), (1024 << 16) | 768);
}

TEST_F(Desktop, AltEnterSwitchesUnlessSwitchingIsOff) {
  // Switching disabled: only the exit is reported, the window stays as it is.
  unsigned long w = open(640, 480, 32, MODE_NOSWITCH);
  ASSERT_NE(w, 0u);
  focus(w);
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));
  events.clear();
  ASSERT_TRUE(xdotool("key alt+Return Escape"));
  ASSERT_TRUE(wait_events([&](auto&) { return keys().size() >= 2; }));
  std::vector<int32_t> types;
  for (const VOX::EVENT& e : events) types.push_back(e.TYPE);
  EXPECT_EQ(types, (std::vector<int32_t>{VOX::MOUSEEXITED, VOX::KEYPRESSED, VOX::KEYRELEASED}));
  EXPECT_TRUE(x->exists(w));

  // A window of the display's size, moved aside, goes full screen in a new
  // window at the origin that cannot be moved, and comes back as a window.
  w = open(1024, 768);
  ASSERT_NE(w, 0u);
  const VOX_GFX_DRIVER* driver = __vox_gfx->driver;
  driver->set_window_pos(30, 40);
  focus(w);
  ASSERT_TRUE(xdotool("key alt+Return"));
  unsigned long full = 0;
  EXPECT_TRUE(wait_for([&] {
    full = x->find_window(kTitle);
    return full != 0 && full != w && x->geometry(full).x == 0 && x->geometry(full).y == 0;
  }));
  ASSERT_NE(full, 0u);
  EXPECT_EQ(driver->set_window_pos(5, 5), 0);
  // The new window shows the whole frame again.
  vox_GfxLock();
  fill_rows(0, 767, 0xFF808080u);
  vox_GfxUnlock(-1, -1);
  EXPECT_TRUE(wait_for([&] { return x->pixel(full, 1000, 700) == 0x808080u; }));

  focus(full);
  ASSERT_TRUE(xdotool("key alt+Return"));
  unsigned long back = 0;
  EXPECT_TRUE(wait_for([&] { return (back = x->find_window(kTitle)) != 0 && back != full; }));
  driver->set_window_pos(5, 5);
  EXPECT_TRUE(wait_for([&] { return x->geometry(back).x == 5 && x->geometry(back).y == 5; }));
}

TEST_F(Desktop, MinimisingSwitchesUnlessSwitchingIsOff) {
  // Switching disabled: the exit is reported, the window stays.
  unsigned long w = open(640, 480, 32, MODE_NOSWITCH);
  ASSERT_NE(w, 0u);
  focus(w);
  ASSERT_TRUE(wait_event(VOX::MOUSEENTERED));
  events.clear();
  x->mark_minimised(w);
  ASSERT_TRUE(wait_event(VOX::MOUSEEXITED));
  x->sync();
  EXPECT_TRUE(x->exists(w));

  // Switchable: full screen at 640 x 480 is impossible here, so the switch
  // reverts to a window, a new one.
  w = open(640, 480);
  ASSERT_NE(w, 0u);
  x->mark_minimised(w);
  unsigned long again = 0;
  EXPECT_TRUE(wait_for([&] { return (again = x->find_window(kTitle)) != 0 && again != w; }));
  EXPECT_EQ(x->geometry(again).width, 640);
}

TEST_F(Desktop, ShutDownWhileTheProgramHoldsTheLock) {
  ASSERT_NE(open(320, 240), 0u);
  vox_GfxLock();
  ASSERT_TRUE(__vox_gfx->flags & SCREEN_LOCKED);
  vox_GfxScreenRes(160, 120, 32, 1, 0, 0);  // closes the locked screen first
  ASSERT_EQ(vox_GetError(), 0);
  EXPECT_EQ(__vox_gfx->flags & (SCREEN_LOCKED | SCREEN_AUTO_LOCKED), 0u);
  // The new screen's lock is free: taking and giving it back works from here.
  vox_GfxLock();
  vox_GfxUnlock(-1, -1);
  vox_GfxLock();
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_EQ(x->find_window(kTitle), 0u);
}

TEST_F(Desktop, OpeningAndClosingFiftyTimes) {
  // The leak checker runs at process exit.
  for (int i = 0; i < 50; ++i) {
    vox_GfxScreenRes(64 + i, 48, 32, 1, i % 2 ? MODE_NOSWITCH : 0, 0);
    ASSERT_EQ(vox_GetError(), 0) << i;
    ASSERT_EQ(__vox_gfx->driver, &vox_gfxDriverSDL);
    if (i % 10 == 0) {
      vox_GfxLock();
      vox_GfxUnlock(-1, -1);
    }
    vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
  }
  EXPECT_EQ(x->find_window(kTitle), 0u);
}

}  // namespace
