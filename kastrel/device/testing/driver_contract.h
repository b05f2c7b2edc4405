#pragma once
// What every presentation driver owes the display layer, as tests that run on any driver through
// the display's public calls: include this in one test file of the driver's and instantiate
//   INSTANTIATE_TEST_SUITE_P(Mine, DeviceDriver, testing::Values(driver_contract::DRIVER{...}),
//                            driver_contract::name);
// The driver is chosen by its name (VOXGFX), as a player would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/base/detail/platform.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/keys.h"
#include "kastrel/device/screen.h"

namespace driver_contract {

struct DRIVER {
  const VOX_GFX_DRIVER* driver;
  // Before each test: readies what the driver needs (GTEST_SKIP when it is missing), or null.
  void (*setup)();
  // The colour the window shows at frame pixel (x, y), 0x00RRGGBB.
  uint32_t (*pixel)(int32_t x, int32_t y);
  // The system's input, as a player gives it: the D key (scancode 32) pressed and released, the
  // pointer moved to (x, y) in the frame and the left button clicked there.
  void (*input)(int32_t x, int32_t y);
  // Makes the display refuse full screen (true) or grant it again; null when a test cannot.
  void (*refuse_fullscreen)(bool refuse);
};

inline void PrintTo(const DRIVER& d, std::ostream* os) { *os << d.driver->name; }

inline std::string name(const testing::TestParamInfo<DRIVER>& info) {
  return info.param.driver->name;
}

class DeviceDriver : public testing::TestWithParam<DRIVER> {
 protected:
  void SetUp() override {
    if (GetParam().setup != nullptr) GetParam().setup();
    KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", GetParam().driver->name);
  }
  void TearDown() override { vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0); }

  bool open(int32_t width, int32_t height, int32_t depth, int32_t flags = 0) {
    vox_GfxScreenRes(width, height, depth, 1, flags, 0);
    return vox_GetError() == 0 && __vox_gfx != nullptr && __vox_gfx->driver == GetParam().driver;
  }

  // A short wait as a game makes it: the engine's pause, in which a pass run on the game's thread
  // serves the window. The Web test build under Node has no Asyncify for the engine's sleep (the
  // template driver there runs its pass as the screen is given back).
  static void pause_as_a_game_does() {
#ifdef __EMSCRIPTEN__
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
#else
    vox_SleepEx(5, 1);
#endif
  }

  // Lets passes run until `done` holds, for at most 5 s: the paced wait where the screen is
  // paced, else the short waits a game makes, during which the pass runs.
  static bool until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      const int32_t pass = vox_GfxPresentPass();
      if (pass >= 0) {
        vox_GfxWaitPresent(pass);
      } else {
        pause_as_a_game_does();
      }
    }
    return true;
  }

  // Writes `value` into every pixel of rows top..bottom.
  static void fill(int32_t top, int32_t bottom, uint32_t value) {
    VOX_GFX_SCREEN* s = __vox_gfx;
    for (int32_t i = top * s->width; i < (bottom + 1) * s->width; ++i)
      std::memcpy(s->framebuffer + i * s->bytes_per_pixel, &value,
                  static_cast<size_t>(s->bytes_per_pixel));
  }
};

TEST_P(DeviceDriver, ModesRefusalsAndFullScreen) {
  const VOX_GFX_DRIVER* d = GetParam().driver;
  // A mode list of real sizes, if the display has one; requests no window can take are refused
  // with a reason, and the mode set then has no screen.
  for (int32_t mode = vox_GfxScreenList(32); mode != 0; mode = vox_GfxScreenList(0))
    EXPECT_TRUE((mode >> 16) > 0 && (mode & 0xFFFF) > 0) << std::hex << mode;
  for (const auto& [w, h, flags] : std::vector<std::tuple<int32_t, int32_t, int32_t>>{
           {0, 10, 0}, {10, -1, 0}, {0x8000, 10, 0}, {10, 10, 2}}) {
    KASTREL::CLEARLASTERROR();
    EXPECT_NE(d->init("refused", w, h, 32, 0, flags), 0) << w << " x " << h << " flags " << flags;
    EXPECT_STRNE(KASTREL::LASTERROR(), "");
    d->exit();
  }

  ASSERT_TRUE(open(64, 48, 32)) << KASTREL::LASTERROR();
  // Full screen and back, by each way of asking; a mode that is none is refused.
  EXPECT_EQ(vox_GfxFullscreen(), 0);
  for (const auto& [mode, want] :
       std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {-1, 0}, {-1, 1}, {0, 0}}) {
    vox_GfxSetFullscreen(mode);
    EXPECT_EQ(vox_GetError(), 0) << mode << ": " << KASTREL::LASTERROR();
    EXPECT_EQ(vox_GfxFullscreen(), want) << mode;
  }
  vox_GfxSetFullscreen(2);
  EXPECT_EQ(vox_GetError(), 1);
  // A display that refuses says why, and the window stays a window.
  if (GetParam().refuse_fullscreen != nullptr) {
    GetParam().refuse_fullscreen(true);
    KASTREL::CLEARLASTERROR();
    vox_GfxSetFullscreen(1);
    EXPECT_EQ(vox_GetError(), 1);
    EXPECT_STRNE(KASTREL::LASTERROR(), "");
    EXPECT_EQ(vox_GfxFullscreen(), 0);
    // A full-screen mode set comes up as a window instead.
    ASSERT_TRUE(open(32, 24, 32, MODE_FULLSCREEN)) << KASTREL::LASTERROR();
    EXPECT_EQ(vox_GfxFullscreen(), 0);
    GetParam().refuse_fullscreen(false);
  }
}

TEST_P(DeviceDriver, FrameReachesTheWindowInEveryDepth) {
  const auto pixel = GetParam().pixel;
  ASSERT_TRUE(open(40, 30, 32)) << KASTREL::LASTERROR();
  EXPECT_TRUE(until([&] { return vox_GfxPresentCount() > 0; }));
  EXPECT_EQ(pixel(39, 29), 0u);  // the mode set's opaque black
  const int32_t presents = vox_GfxPresentCount();

  // Rows 5..9 marked; row 20 written and not marked. Nothing goes out while the program holds
  // the screen, however long it waits.
  vox_GfxLock();
  fill(5, 9, 0xFFFF0000u);
  fill(20, 20, 0xFF00FF00u);
  std::memset(__vox_gfx->dirty + 5, 1, 5);
  vox_GfxWaitPresent(vox_GfxPresentPass());
  EXPECT_EQ(pixel(0, 5), 0u);
  vox_GfxUnlock(5, 9);
  const int32_t pass = vox_GfxPresentPass();
  EXPECT_TRUE(until([&] { return pixel(39, 9) == 0xFF0000u; }));
  EXPECT_EQ(pixel(0, 5), 0xFF0000u);
  EXPECT_EQ(pixel(0, 10), 0u);
  EXPECT_EQ(pixel(0, 20), 0u);
  if (pass >= 0) {
    EXPECT_GT(vox_GfxPresentPass(), pass);  // the wait ran a pass
  }
  EXPECT_EQ(vox_GfxPresentCount(), presents + 1);
  // An unchanged picture is shown again, but not presented anew.
  const int32_t shown = vox_GfxShownCount();
  EXPECT_TRUE(until([&] { return vox_GfxShownCount() >= shown + 2; }));
  EXPECT_EQ(vox_GfxPresentCount(), presents + 1);

  // A loop that never waits for a pass (one paced by its own timer) still has its frames shown.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (pixel(0, 29) != 0x0000FFu && std::chrono::steady_clock::now() < deadline) {
    vox_GfxLock();
    fill(29, 29, 0xFF0000FFu);
    vox_GfxUnlock(29, 29);
    pause_as_a_game_does();
  }
  EXPECT_EQ(pixel(0, 29), 0x0000FFu);

  // 16 bits are 5-6-5; 8 bits go through the palette, whose change recolours what is shown
  // without a line named.
  ASSERT_TRUE(open(10, 4, 16)) << KASTREL::LASTERROR();
  vox_GfxLock();  // a mode set leaves the screen free: the pass may be reading it
  fill(0, 3, 0xF81Fu);
  vox_GfxUnlock(-1, -1);
  EXPECT_TRUE(until([&] { return pixel(9, 3) == 0xFF00FFu; }));
  ASSERT_TRUE(open(10, 4, 8)) << KASTREL::LASTERROR();
  __vox_gfx->driver->set_palette(7, 0, 0, 255);
  vox_GfxLock();  // a mode set leaves the screen free: the pass may be reading it
  fill(0, 3, 7);
  vox_GfxUnlock(-1, -1);
  EXPECT_TRUE(until([&] { return pixel(9, 3) == 0x0000FFu; }));
  __vox_gfx->driver->set_palette(7, 255, 255, 0);
  __vox_gfx->driver->set_palette(300, 255, 255, 255);  // no such entry: ignored
  EXPECT_TRUE(until([&] { return pixel(0, 0) == 0xFFFF00u; }));
}

TEST_P(DeviceDriver, InputThroughTheQueueAndNoPads) {
  ASSERT_TRUE(open(64, 48, 32)) << KASTREL::LASTERROR();
  EXPECT_EQ(vox_GfxPadCount(), 0);
  EXPECT_EQ(vox_GfxPadConnected(0) | vox_GfxPadButton(0, VOX::PAD_A) | vox_GfxPadAxis(0, 0), 0);
  while (vox_GetKey() != 0) continue;

  GetParam().input(17, 23);
  // The key's and the button's events in order, the key typed, the pointer where it went.
  std::vector<std::vector<int32_t>> got;
  const std::vector<std::vector<int32_t>> want = {{VOX::KEYPRESSED, 32, 'd'},
                                                  {VOX::KEYRELEASED, 32, 'd'},
                                                  {VOX::BUTTONPRESSED, KASTREL::BUTTON::LEFT},
                                                  {VOX::BUTTONRELEASED, KASTREL::BUTTON::LEFT}};
  EXPECT_TRUE(until([&] {
    for (VOX::EVENT e; vox_GfxEvent(&e) != 0;) {
      if (e.TYPE == VOX::KEYPRESSED || e.TYPE == VOX::KEYRELEASED)
        got.push_back({e.TYPE, e.SCANCODE, e.ASCII});
      if (e.TYPE == VOX::BUTTONPRESSED || e.TYPE == VOX::BUTTONRELEASED)
        got.push_back({e.TYPE, e.BUTTON});
    }
    return got.size() >= want.size();
  }));
  EXPECT_EQ(got, want);
  EXPECT_EQ(vox_GetKey(), 'd');
  EXPECT_EQ(vox_GfxMultikey(32), 0);
  int32_t m[4] = {};
  vox_GetMouse(&m[0], &m[1], &m[2], &m[3], nullptr);
  EXPECT_EQ(std::vector<int32_t>(m, m + 4), (std::vector<int32_t>{17, 23, 0, 0}));
}

}  // namespace driver_contract
