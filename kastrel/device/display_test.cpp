#include "kastrel/device/display.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kastrel/device/context.h"
#include "kastrel/device/testing/fake_driver.h"

namespace {

using fake_driver::record;

// "<driver><refresh rate>/<flags>" for every initialisation attempt, A and B for the fakes.
std::string attempts() {
  std::string out;
  for (const auto& call : record().inits) {
    out += (out.empty() ? "" : " ") + std::string(1, char('A' + call.driver)) +
           std::to_string(call.refresh_rate) + "/" + std::to_string(call.flags);
  }
  return out;
}

bool all_pixels_are(const VOX_GFX_SCREEN* s, int32_t page, uint32_t value) {
  for (int32_t i = 0; i < s->height * s->pitch; i += s->bytes_per_pixel) {
    uint32_t pixel = 0;
    std::memcpy(&pixel, s->pages[page] + i, static_cast<size_t>(s->bytes_per_pixel));
    if (pixel != value) return false;
  }
  return true;
}

TEST(ScreenMode, ModeSetBuildsTheScreenState) {
  unsetenv("VOXGFX");
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  ASSERT_EQ(vox_GetError(), 0);
  const VOX_GFX_SCREEN* s = __vox_gfx;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(vox_GfxScreenPtr(), s->pages[0]);
  EXPECT_EQ(s->framebuffer, s->pages[0]);
  EXPECT_EQ(s->driver, &__vox_gfxDriverNull);
  EXPECT_EQ(s->pitch, 256);
  EXPECT_EQ(s->text_rows, 6);
  EXPECT_TRUE(all_pixels_are(s, 0, 0xFF000000u));
  for (int32_t y = 0; y < s->height; ++y) ASSERT_EQ(s->dirty[y], 0);
  const int32_t first_id = s->id;

  // 24 bits are kept as 32, 15 as 16; pages below 1 mean one page.
  vox_GfxScreenRes(10, 10, 24, -3, MODE_NULL, 0);
  EXPECT_EQ(__vox_gfx->depth, 32);
  EXPECT_EQ(__vox_gfx->page_count, 1);
  EXPECT_EQ(__vox_gfx->id, first_id + 1);
  vox_GfxScreenRes(10, 10, 15, 3, MODE_NULL, 0);
  s = __vox_gfx;
  EXPECT_EQ(s->depth, 16);
  EXPECT_EQ(s->color_mask, 0xFFFFu);
  EXPECT_EQ(s->pitch, 20);
  ASSERT_EQ(s->page_count, 3);
  for (int32_t p = 0; p < 3; ++p) EXPECT_TRUE(all_pixels_are(s, p, 0));
  vox_GfxScreenRes(9, 10, 4, 1, MODE_NULL, 0);
  EXPECT_EQ(__vox_gfx->color_mask, 0xFu);
  EXPECT_EQ(__vox_gfx->pitch, 9);
}

TEST(ScreenMode, InvalidRequestsChangeNothing) {
  vox_GfxScreenRes(16, 16, 8, 1, MODE_NULL, 0);
  ASSERT_EQ(vox_GetError(), 0);
  const VOX_GFX_SCREEN* before = __vox_gfx;
  const int32_t id = before->id;
  const std::vector<std::vector<int32_t>> requests = {
      {0, 10, 32, 1},        {10, -1, 32, 1},       {10, 10, 3, 1},
      {10, 10, 0, 1},        {10, 10, 33, 1},       {10, 10, -32, 1},
      {65536, 65536, 32, 1}, {1024, 1024, 32, 600}, {INT32_MAX, 2, 8, 1}};
  for (const auto& r : requests) {
    vox_GfxScreenRes(r[0], r[1], r[2], r[3], MODE_NULL, 0);
    EXPECT_EQ(vox_GetError(), 1) << r[0] << "x" << r[1] << "x" << r[2] << " pages " << r[3];
    ASSERT_EQ(__vox_gfx, before);
    EXPECT_EQ(__vox_gfx->id, id);
  }
}

TEST(DriverChoice, WithoutANameEverySweepTriesEveryDriverAndFlipsFullScreen) {
  fake_driver::install();
  record().accept = [](const fake_driver::Init&) { return false; };
  vox_GfxScreenRes(32, 16, 32, 1, MODE_FULLSCREEN | MODE_ONTOP, 75);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
  EXPECT_EQ(vox_GfxScreenPtr(), nullptr);
  // MODE_FULLSCREEN | MODE_ONTOP is 33, MODE_ONTOP 32.
  EXPECT_EQ(attempts(), "A75/33 A0/33 B75/33 B0/33 A75/32 A0/32 B75/32 B0/32");
  // Every failed attempt is followed by a shut-down.
  EXPECT_EQ(record().exits[0], 4);
  EXPECT_EQ(record().exits[1], 4);

  // A refused full-screen request comes up as a window.
  record() = {};
  record().accept = [](const fake_driver::Init& c) { return !(c.flags & MODE_FULLSCREEN); };
  vox_GfxScreenRes(32, 16, 32, 1, MODE_FULLSCREEN, 0);
  EXPECT_EQ(vox_GetError(), 0);
  ASSERT_NE(__vox_gfx, nullptr);
  EXPECT_EQ(__vox_gfx->driver, &fake_driver::kAlpha);
  ASSERT_EQ(record().inits.size(), 5u);
  EXPECT_EQ(record().inits.back().flags, 0);
  EXPECT_EQ(record().inits.back().width, 32);
  EXPECT_EQ(record().inits.back().height, 16);
  EXPECT_EQ(record().inits.back().depth, 32);
}

TEST(DriverChoice, WithANameSweepsAlternateAndFlipOnceBeforeTheLast) {
  fake_driver::install();
  setenv("VOXGFX", "bETA", 1);
  record().accept = [](const fake_driver::Init&) { return false; };
  vox_GfxScreenRes(8, 8, 32, 1, 0, 60);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
  // Sweep 4: Beta only; 3: all; 2: Beta only; then full screen flips; 1: all.
  EXPECT_EQ(attempts(), "B60/0 B0/0 A60/0 A0/0 B60/0 B0/0 B60/0 B0/0 A60/1 A0/1 B60/1 B0/1");

  // The named driver is tried first even though it is not first in the list.
  record() = {};
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  EXPECT_EQ(__vox_gfx->driver, &fake_driver::kBeta);
  EXPECT_EQ(record().inits.size(), 1u);

  // A name no driver has: only the sweeps over every driver can succeed.
  record() = {};
  setenv("VOXGFX", "nosuch", 1);
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  EXPECT_EQ(__vox_gfx->driver, &fake_driver::kAlpha);
  EXPECT_EQ(record().inits.size(), 1u);
}

TEST(DriverChoice, NullDriverNeedsNoCall) {
  fake_driver::install();
  for (const char* name : {"null", "NULL", "nUlL"}) {
    setenv("VOXGFX", name, 1);
    vox_GfxScreenRes(8, 8, 32, 1, MODE_FULLSCREEN, 0);
    EXPECT_EQ(vox_GetError(), 0);
    ASSERT_NE(__vox_gfx, nullptr);
    EXPECT_EQ(__vox_gfx->driver, &__vox_gfxDriverNull);
  }
  setenv("VOXGFX", "Beta", 1);
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(__vox_gfx->driver, &__vox_gfxDriverNull);
  EXPECT_TRUE(record().inits.empty());
  // The null driver's lock and unlock do nothing, and no event ever arrives.
  vox_GfxLock();
  EXPECT_EQ(__vox_gfx->flags, SCREEN_LOCKED);
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ(__vox_gfx->flags, 0u);
  EXPECT_TRUE(record().inits.empty());
  EXPECT_EQ(record().exits[0] + record().exits[1], 0);
}

TEST(DriverChoice, FlagWordRules) {
  fake_driver::install();
  // Shaped implies no switching and no frame.
  vox_GfxScreenRes(8, 8, 32, 1, MODE_SHAPED, 0);
  EXPECT_EQ(record().inits.back().flags, MODE_SHAPED | MODE_NOSWITCH | MODE_NOFRAME);
  EXPECT_EQ(__vox_gfx->flags, 0u);
  // The surface flag raises the depth to 16 and is remembered; alpha primitives too.
  vox_GfxScreenRes(8, 8, 8, 1, 2 | MODE_ALPHAPRIMITIVES, 0);
  EXPECT_EQ(record().inits.back().depth, 16);
  EXPECT_EQ(__vox_gfx->depth, 16);
  EXPECT_EQ(__vox_gfx->flags, SCREEN_SURFACE_FLAG | SCREEN_ALPHA_PRIMITIVES);
  // A negative flag word other than MODE_NULL: no shaped or depth rule, but the state bits.
  const int32_t negative = static_cast<int32_t>(0x80000000u | MODE_SHAPED | 2 | 64);
  vox_GfxScreenRes(8, 8, 8, 1, negative, 0);
  EXPECT_EQ(record().inits.back().flags, negative);
  EXPECT_EQ(record().inits.back().depth, 8);
  EXPECT_EQ(__vox_gfx->flags, SCREEN_SURFACE_FLAG | SCREEN_ALPHA_PRIMITIVES);
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(__vox_gfx->flags, 0u);
}

TEST(ScreenLock, LockUnlockAndDirtyLines) {
  vox_GfxLock();  // without a screen: nothing happens
  vox_GfxUnlock(-1, -1);
  fake_driver::install();
  vox_GfxScreenRes(20, 12, 32, 1, 0, 0);
  VOX_GFX_SCREEN* s = __vox_gfx;
  auto dirty = [s] { return std::string(s->dirty, s->dirty + s->height); };
  auto clear = [s] { std::memset(s->dirty, 0, static_cast<size_t>(s->height)); };
  const std::string none(12, '\0');

  vox_GfxLock();
  vox_GfxLock();
  EXPECT_EQ(record().locks, 1);
  EXPECT_EQ(s->flags, SCREEN_LOCKED);
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ(record().unlocks, 1);
  EXPECT_EQ(s->flags, 0u);
  EXPECT_EQ(dirty(), std::string(12, '\1'));

  const std::vector<std::pair<int32_t, int32_t>> ranges = {{10, 5}, {0, 12}, {3, 40}};
  for (const auto& [first, last] : ranges) {
    clear();
    vox_GfxLock();
    vox_GfxUnlock(first, last);
    EXPECT_EQ(dirty(), none) << first << ".." << last;
    EXPECT_EQ(s->flags, 0u);
  }
  clear();
  vox_GfxLock();
  vox_GfxUnlock(-5, 3);
  EXPECT_EQ(dirty(), std::string(4, '\1') + std::string(8, '\0'));
  clear();
  vox_GfxUnlock(11, -1);
  EXPECT_EQ(dirty(), std::string(11, '\0') + "\1");
  EXPECT_EQ(record().locks, record().unlocks);
  EXPECT_EQ(s->flags, 0u);
}

TEST(ScreenList, MergesSortsAndIterates) {
  fake_driver::install();
  EXPECT_EQ(vox_GfxScreenList(0), 0);  // nothing built yet
  record().modes[0] = {800 << 16 | 600, 640 << 16 | 480, 800 << 16 | 600};
  record().modes[1] = {640 << 16 | 480, 640 << 16 | 0xF000, 1024 << 16 | 768, 640 << 16 | 400,
                       static_cast<int32_t>(0x8000u << 16 | 10u)};
  // No screen is needed.
  EXPECT_EQ(vox_GfxScreenList(32), static_cast<int32_t>(0x8000u << 16 | 10u));
  EXPECT_EQ(record().modes_depth, 32);
  std::vector<int32_t> rest;
  for (int32_t m = vox_GfxScreenList(0); m != 0; m = vox_GfxScreenList(0)) rest.push_back(m);
  EXPECT_EQ(rest, (std::vector<int32_t>{640 << 16 | 400, 41943520, 640 << 16 | 0xF000, 52429400,
                                        1024 << 16 | 768}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vox_GfxScreenList(0), 0);
  EXPECT_EQ(vox_GfxScreenList(-1), 0);
  // Every rebuild starts over.
  record().modes[1].clear();
  EXPECT_EQ(vox_GfxScreenList(16), 41943520);
  EXPECT_EQ(vox_GfxScreenList(0), 52429400);
  EXPECT_EQ(vox_GfxScreenList(0), 0);
  record().modes[0].clear();
  EXPECT_EQ(vox_GfxScreenList(16), 0);
}

TEST(WindowTitle, DefaultFromExecutableAndSetByProgram) {
  char title[128];
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\games\\demo.run.exe", "demo.run"},
      {"/usr/local/bin/bounce", "bounce"},
      {"/opt/a.b/game.bin", "game"},
      {"plain", "plain"},
      {"/tmp/" + std::string(300, 'x') + ".exe", std::string(127, 'x')}};
  for (const auto& [path, expected] : cases) {
    std::memset(title, '#', sizeof(title));
    vox_hTitleFromPath(path.c_str(), title);
    EXPECT_EQ(std::string(title), expected);
    EXPECT_EQ(title[127], '\0');
  }

  fake_driver::install();
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  EXPECT_EQ(record().inits.back().title, "kastrel_device_tests");
  vox_GfxSetWindowTitle(std::string(200, 't').c_str());
  EXPECT_EQ(record().title, std::string(127, 't'));
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  EXPECT_EQ(record().inits.back().title, std::string(127, 't'));
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  vox_GfxSetWindowTitle("Bounce");  // no slot: nothing to call
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  EXPECT_EQ(record().inits.back().title, "Bounce");
}

TEST(ScreenModeDeathTest, ScreenClosesAtProcessExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        fake_driver::install();
        record().report_exit = true;
        vox_GfxScreenRes(33, 22, 32, 1, 0, 0);
        std::exit(__vox_gfx ? 7 : 8);
      },
      testing::ExitedWithCode(7), "shut down 33x22");
}

}  // namespace
