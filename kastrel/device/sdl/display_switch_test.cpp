// Full screen and scale changed from code while the window is open, in the window tests' Xvfb
// (1024 x 768, no display mode of the screen's size: full screen scales the picture to fit).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using x_desktop::Geometry;
using x_desktop::wait_for;
using x_desktop::xdotool;

const std::string kTitle = "kastrel_display_switch_tests";

// The pointer put over frame pixel (fx, fy) of a picture at (x0, y0) in root coordinates,
// scaled by n, must read as that pixel.
bool pointer_maps(int x0, int y0, int n, int fx, int fy) {
  xdotool("mousemove " + std::to_string(x0 + fx * n + n / 2) + " " +
          std::to_string(y0 + fy * n + n / 2));
  return wait_for([&] {
    int32_t x = -1, y = -1;
    return vox_GfxGetMouse(&x, &y, nullptr, nullptr, nullptr) == 0 && x == fx && y == fy;
  });
}

TEST(DisplaySwitch, FullScreenFromCodeAndBackKeepsTheFrameBufferAndThePointerMapping) {
  std::string why;
  if (!x_desktop::use_test_server(&why)) GTEST_SKIP() << why;
  unsetenv("VOXGFX");
  unsetenv("KASTREL_SCALE");
  x_desktop::Connection x;
  ASSERT_TRUE(x.ok());
  ASSERT_TRUE(xdotool("mousemove 2 2"));
  vox_GfxScreenRes(320, 240, 32, 1, MODE_NOSWITCH, 0);  // the game's switch is not the user's
  ASSERT_EQ(vox_GetError(), 0) << KASTREL::LASTERROR();
  uint8_t* const frame = __vox_gfx->framebuffer;
  EXPECT_EQ(vox_GfxFullscreen(), 0);
  for (int i = 0; i < 20 && !HasFatalFailure(); ++i) {
    const bool full = i % 2 == 0;
    vox_GfxSetFullscreen(i % 4 < 2 ? -1 : full);  // toggled, then set
    ASSERT_EQ(vox_GetError(), 0);
    EXPECT_EQ(vox_GfxFullscreen(), full ? 1 : 0);
    unsigned long w = 0;
    ASSERT_TRUE(wait_for([&] {
      w = x.find_window(kTitle);
      const Geometry g = w != 0 ? x.geometry(w) : Geometry{};
      return full ? g == Geometry{0, 0, 1024, 768} : g.width == 320 && g.height == 240;
    })) << "switch " << i;
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
  const Geometry g = x.geometry(x.find_window(kTitle));
  EXPECT_TRUE(pointer_maps(g.x, g.y, 2, 100, 50));
  vox_GfxSetScale(1);
  // Without a window there is nothing to switch.
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  vox_GfxSetFullscreen(1);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxFullscreen(), 0);
}

}  // namespace
