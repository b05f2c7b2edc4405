// The window controlled from code while it is open, in the window tests' Xvfb (1024 x 768, no
// display mode of the screen's size: full screen scales the picture to fit): full screen and
// scale, and text input typed with xdotool.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <vector>
#include <string>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/testing/x_desktop.h"

// After the test framework: Xlib defines macros (None, Bool) that clash with its names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using x_desktop::Geometry;
using x_desktop::wait_for;
using x_desktop::xdotool;

const std::string kTitle = "kastrel_window_control_tests";

// The pointer put over frame pixel (fx, fy) of a picture at (x0, y0) in root coordinates,
// scaled by n, must read as that pixel.
bool pointer_maps(int x0, int y0, int n, int fx, int fy) {
  return wait_for([&] {
    // Again each time: a switch still under way may move the pointer.
    xdotool("mousemove " + std::to_string(x0 + fx * n + n / 2) + " " +
            std::to_string(y0 + fy * n + n / 2));
    int32_t x = -1, y = -1;
    return vox_GfxGetMouse(&x, &y, nullptr, nullptr, nullptr) == 0 && x == fx && y == fy;
  });
}

TEST(DisplaySwitch, FullScreenFromCodeAndBackKeepsTheFrameBufferAndThePointerMapping) {
  X_DESKTOP_OR_SKIP();
  KASTREL::PLATFORM::SETENVIRONMENT("KASTREL_SCALE", nullptr);
  x_desktop::Connection x;
  ASSERT_TRUE(x.ok());
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  vox_GfxScreenRes(320, 240, 32, 1, MODE_NOSWITCH, 0);  // the game's switch is not the user's
  ASSERT_EQ(vox_GetError(), 0) << KASTREL::LASTERROR();
  uint8_t* const frame = __vox_gfx->framebuffer;
  EXPECT_EQ(vox_GfxFullscreen(), 0);
  unsigned long first = 0;  // every switch keeps this very X window
  ASSERT_TRUE(wait_for([&] { return (first = x.find_window(kTitle)) != 0; }));
  for (int i = 0; i < 20 && !HasFatalFailure(); ++i) {
    const bool full = i % 2 == 0;
    vox_GfxSetFullscreen(i % 4 < 2 ? -1 : full);  // toggled, then set
    ASSERT_EQ(vox_GetError(), 0);
    EXPECT_EQ(vox_GfxFullscreen(), full ? 1 : 0);
    unsigned long w = 0;
    ASSERT_TRUE(wait_for([&] {
      w = x.find_window(kTitle);
      const Geometry g = w != 0 ? x.geometry(w) : Geometry{};
      return g == (full ? Geometry{0, 0, 1024, 768} : Geometry{352, 264, 320, 240});  // centred
    })) << "switch " << i;
    EXPECT_EQ(w, first) << "switch " << i;
    const Geometry g = x.geometry(w);
    // Full screen: 320 x 240 scaled by 3 to 960 x 720, centred.
    const int n = full ? 3 : 1, x0 = full ? 32 : g.x, y0 = full ? 24 : g.y;
    EXPECT_TRUE(pointer_maps(x0, y0, n, 10, 20) && pointer_maps(x0, y0, n, 319, 239))
        << "switch " << i;
    EXPECT_EQ(__vox_gfx->framebuffer, frame);
  }
  // A new scale takes the open window at once.
  vox_GfxSetScale(2);
  ASSERT_TRUE(wait_for([&] {
    const unsigned long w = x.find_window(kTitle);
    return w != 0 && x.geometry(w).width == 640;
  }));
  EXPECT_EQ(x.find_window(kTitle), first);
  const Geometry g = x.geometry(x.find_window(kTitle));
  EXPECT_TRUE(pointer_maps(g.x, g.y, 2, 100, 50));
  vox_GfxSetScale(1);
  // Without a window there is nothing to switch.
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  vox_GfxSetFullscreen(1);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxFullscreen(), 0);
}

// Binds each keysym to a keycode of its own that had none, so that xdotool presses a key the
// window knows instead of remapping one scratch key from press to press.
void bind_keysyms(std::vector<KeySym> syms) {
  Display* d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  int low = 0, high = 0, per = 0;
  XDisplayKeycodes(d, &low, &high);
  KeySym* map = XGetKeyboardMapping(d, KeyCode(low), high - low + 1, &per);
  for (int k = high; k >= low && !syms.empty(); --k) {
    bool unused = true;
    for (int i = 0; i < per; ++i) unused = unused && map[(k - low) * per + i] == NoSymbol;
    if (!unused) continue;
    XChangeKeyboardMapping(d, k, 1, &syms.back(), 1);
    syms.pop_back();
  }
  XFree(map);
  XSync(d, False);
  XCloseDisplay(d);
  ASSERT_TRUE(syms.empty()) << "no free keycodes";
}

// What xdotool types arrives as UTF-8 text, one character an event, beside the key events.
TEST(TextInput, TypedAndComposedCharactersArriveAsUtf8) {
  X_DESKTOP_OR_SKIP();
  KASTREL::PLATFORM::SETENVIRONMENT("LC_ALL", "C.UTF-8");  // SDL opens the input method in the user's locale
  bind_keysyms({XK_eacute, XK_EuroSign, 0x1004E2D, XK_dead_acute});
  x_desktop::Connection x;
  vox_GfxScreenRes(320, 240, 32, 1, 0, 0);
  ASSERT_EQ(vox_GetError(), 0) << KASTREL::LASTERROR();
  const unsigned long w = x.wait_for_window(kTitle);
  ASSERT_NE(w, 0u);
  const Geometry g = x.geometry(w);
  ASSERT_TRUE(xdotool("mousemove " + std::to_string(g.x + 20) + " " + std::to_string(g.y + 20)));
  ASSERT_TRUE(xdotool("windowfocus --sync " + std::to_string(w)));
  std::vector<VOX::EVENT> events;
  const auto texts = [&](size_t count) {
    std::vector<std::string> out;
    wait_for([&] {
      for (VOX::EVENT e; vox_GfxEvent(&e);) events.push_back(e);
      out.clear();
      for (const VOX::EVENT& e : events)
        if (e.TYPE == VOX::TEXTTYPED) out.push_back(std::string(e.TEXT, strnlen(e.TEXT, 4)));
      return out.size() >= count;
    });
    return out;
  };
  vox_GfxTextInput(1);
  ASSERT_TRUE(xdotool("key a eacute EuroSign U4E2D"));
  EXPECT_EQ(texts(4), (std::vector<std::string>{"a", "\xC3\xA9", "\xE2\x82\xAC", "\xE4\xB8\xAD"}));
  std::vector<int32_t> points, asciis;
  for (const VOX::EVENT& e : events) {
    if (e.TYPE == VOX::TEXTTYPED) points.push_back(e.CODEPOINT);
    if (e.TYPE == VOX::KEYPRESSED) asciis.push_back(e.ASCII);
  }
  EXPECT_EQ(points, (std::vector<int32_t>{'a', 0xE9, 0x20AC, 0x4E2D}));
  // The key events keep their character codes.
  ASSERT_GE(asciis.size(), 1u);
  EXPECT_EQ(asciis[0], 'a');
  // A dead key and a letter compose one character.
  events.clear();
  ASSERT_TRUE(xdotool("key dead_acute e"));
  EXPECT_EQ(texts(1), (std::vector<std::string>{"\xC3\xA9"}));
  // Off again: keys, no text.
  vox_GfxTextInput(0);
  events.clear();
  ASSERT_TRUE(xdotool("type b"));
  wait_for([&] {
    for (VOX::EVENT e; vox_GfxEvent(&e);) events.push_back(e);
    return !events.empty() && events.back().TYPE == VOX::KEYRELEASED;
  });
  for (const VOX::EVENT& e : events) EXPECT_NE(e.TYPE, VOX::TEXTTYPED);
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
}

}  // namespace
