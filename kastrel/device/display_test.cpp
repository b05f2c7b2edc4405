#include "kastrel/base/detail/platform.h"
#include "kastrel/device/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
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

TEST(ScreenMode, ModeSetBuildsTheScreenState) {
  // {width, height, depth, pages} gives {depth, pages, pitch, colour mask}: 24 bits
  // are kept as 32, 15 as 16, pages below 1 mean one page. Every page holds the
  // background (opaque black at 32 bits), no line is dirty, each screen a new id.
  const std::vector<std::pair<std::vector<int32_t>, std::vector<int64_t>>> cases = {
      {{64, 48, 32, 1}, {32, 1, 256, 0xFFFFFFFF}},
      {{10, 10, 24, -3}, {32, 1, 40, 0xFFFFFFFF}},
      {{10, 10, 15, 3}, {16, 3, 20, 0xFFFF}},
      {{9, 10, 4, 1}, {4, 1, 9, 0xF}}};
  int32_t id = 0;
  for (const auto& [in, want] : cases) {
    vox_GfxScreenRes(in[0], in[1], in[2], in[3], MODE_NULL, 0);
    const VOX_GFX_SCREEN* s = __vox_gfx;
    ASSERT_TRUE(vox_GetError() == 0 && s != nullptr);
    EXPECT_EQ((std::vector<int64_t>{s->depth, s->page_count, s->pitch, s->color_mask}), want);
    EXPECT_EQ(s->id, id == 0 ? s->id : id + 1);
    id = s->id;
    const uint32_t fill = s->depth == 32 ? 0xFF000000u : 0;
    for (int32_t p = 0; p < s->page_count; ++p) {
      for (int32_t i = 0; i < s->height * s->pitch; i += s->bytes_per_pixel) {
        uint32_t pixel = 0;
        std::memcpy(&pixel, s->pages[p] + i, static_cast<size_t>(s->bytes_per_pixel));
        ASSERT_EQ(pixel, fill) << in[2] << " page " << p << " byte " << i;
      }
    }
    EXPECT_EQ(std::count(s->dirty, s->dirty + s->height, 0), s->height);
    EXPECT_EQ(s->driver, &__vox_gfxDriverNull);
  }
  EXPECT_EQ(vox_GfxScreenPtr(), __vox_gfx->pages[0]);
  EXPECT_EQ(__vox_gfx->framebuffer, __vox_gfx->pages[0]);
}

TEST(ScreenMode, InvalidRequestsChangeNothing) {
  vox_GfxScreenRes(16, 16, 8, 1, MODE_NULL, 0);
  ASSERT_EQ(vox_GetError(), 0);
  const VOX_GFX_SCREEN* before = __vox_gfx;
  const int32_t id = before->id;
  const std::vector<std::vector<int32_t>> requests = {
      {0, 10, 32, 1},        {10, -1, 32, 1},       {10, 10, 3, 1},
      {10, 10, 0, 1},        {10, 10, 33, 1},       {10, 10, -32, 1},
      {65536, 65536, 32, 1}, {1024, 1024, 32, 600}, {INT32_MAX, 2, 8, 1},
      // Products that overflow 64 bits, and tiny pages whose bookkeeping passes 2 GiB.
      {INT32_MAX, INT32_MAX, 32, 1}, {INT32_MAX, INT32_MAX, 32, INT32_MAX}, {1, 1, 32, 60000000}};
  for (const auto& r : requests) {
    KASTREL::CLEARLASTERROR();
    vox_GfxScreenRes(r[0], r[1], r[2], r[3], MODE_NULL, 0);
    EXPECT_EQ(vox_GetError(), 1) << r[0] << "x" << r[1] << "x" << r[2] << " pages " << r[3];
    EXPECT_STRNE(KASTREL::LASTERROR(), "");
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
  // MODE_FULLSCREEN | MODE_ONTOP is 33, MODE_ONTOP 32; every failed attempt is
  // followed by a shut-down.
  EXPECT_EQ(attempts(), "A75/33 A0/33 B75/33 B0/33 A75/32 A0/32 B75/32 B0/32");
  EXPECT_EQ(std::make_pair(record().exits[0], record().exits[1]), std::make_pair(4, 4));

  // A refused full-screen request comes up as a window.
  record() = {};
  record().accept = [](const fake_driver::Init& c) { return !(c.flags & MODE_FULLSCREEN); };
  vox_GfxScreenRes(32, 16, 32, 1, MODE_FULLSCREEN, 0);
  EXPECT_EQ(vox_GetError(), 0);
  ASSERT_NE(__vox_gfx, nullptr);
  EXPECT_EQ(__vox_gfx->driver, &fake_driver::kAlpha);
  EXPECT_EQ(attempts(), "A0/1 A0/1 B0/1 B0/1 A0/0");
  const fake_driver::Init& last = record().inits.back();
  EXPECT_EQ(std::make_tuple(last.width, last.height, last.depth), std::make_tuple(32, 16, 32));
}

TEST(DriverChoice, WithANameSweepsAlternateAndNullNeedsNoCall) {
  fake_driver::install();
  KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", "bETA");
  record().accept = [](const fake_driver::Init&) { return false; };
  vox_GfxScreenRes(8, 8, 32, 1, 0, 60);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(__vox_gfx, nullptr);
  // Sweep 4: Beta only; 3: all; 2: Beta only; then full screen flips; 1: all.
  EXPECT_EQ(attempts(), "B60/0 B0/0 A60/0 A0/0 B60/0 B0/0 B60/0 B0/0 A60/1 A0/1 B60/1 B0/1");

  // The named driver is tried first even though it is not first in the list; a
  // name no driver has leaves only the sweeps over every driver.
  for (auto [name, driver] :
       {std::pair{"bETA", &fake_driver::kBeta}, {"nosuch", &fake_driver::kAlpha}}) {
    record() = {};
    KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", name);
    vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
    EXPECT_EQ(__vox_gfx->driver, driver);
    EXPECT_EQ(record().inits.size(), 1u);
  }

  // "null" in any case, or the flag word -1 whatever the name: the null driver,
  // without a call to any other.
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);  // closes the fake's screen first
  record() = {};
  for (const char* name : {"null", "NULL", "nUlL", "Beta"}) {
    KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", name);
    vox_GfxScreenRes(8, 8, 32, 1, name[0] == 'B' ? MODE_NULL : MODE_FULLSCREEN, 0);
    EXPECT_EQ(vox_GetError(), 0);
    ASSERT_NE(__vox_gfx, nullptr);
    EXPECT_EQ(__vox_gfx->driver, &__vox_gfxDriverNull) << name;
  }
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
  vox_GfxLock();
  vox_GfxLock();
  EXPECT_EQ(record().locks, 1);
  EXPECT_EQ(s->flags, SCREEN_LOCKED);

  // Negative ends mean the first and the last line; a range that is reversed or
  // runs past the bottom marks nothing. The lock is released either way.
  const std::vector<std::tuple<bool, int32_t, int32_t, std::string>> cases = {
      {true, -1, -1, "111111111111"}, {true, 10, 5, "000000000000"},
      {true, 0, 12, "000000000000"},  {true, 3, 40, "000000000000"},
      {true, -5, 3, "111100000000"},  {false, 11, -1, "000000000001"}};
  for (const auto& [locked, first, last, want] : cases) {
    std::memset(s->dirty, 0, 12);
    if (locked) vox_GfxLock();
    vox_GfxUnlock(first, last);
    std::string dirty;
    for (int32_t y = 0; y < 12; ++y) dirty += s->dirty[y] ? '1' : '0';
    EXPECT_EQ(dirty, want) << first << ".." << last;
    EXPECT_EQ(s->flags, 0u);
  }
  EXPECT_EQ(record().locks, record().unlocks);
}

TEST(ScreenList, MergesSortsAndIterates) {
  fake_driver::install();
  EXPECT_EQ(vox_GfxScreenList(0), 0);  // nothing built yet
  record().modes[0] = {800 << 16 | 600, 640 << 16 | 480, 800 << 16 | 600};
  record().modes[1] = {640 << 16 | 480, 640 << 16 | 0xF000, 1024 << 16 | 768, 640 << 16 | 400,
                       static_cast<int32_t>(0x8000u << 16 | 10u)};
  // No screen is needed; widths compare signed, heights unsigned.
  EXPECT_EQ(vox_GfxScreenList(32), static_cast<int32_t>(0x8000u << 16 | 10u));
  EXPECT_EQ(record().modes_depth, 32);
  std::vector<int32_t> rest;
  for (int32_t m = vox_GfxScreenList(0); m != 0; m = vox_GfxScreenList(0)) rest.push_back(m);
  EXPECT_EQ(rest, (std::vector<int32_t>{640 << 16 | 400, 640 << 16 | 480, 640 << 16 | 0xF000,
                                        800 << 16 | 600, 1024 << 16 | 768}));
  EXPECT_EQ(vox_GfxScreenList(0), 0);  // stays exhausted
  EXPECT_EQ(vox_GfxScreenList(-1), 0);
  // Every rebuild starts over.
  record().modes[1].clear();
  EXPECT_EQ(vox_GfxScreenList(16), 640 << 16 | 480);
  EXPECT_EQ(vox_GfxScreenList(0), 800 << 16 | 600);
  EXPECT_EQ(vox_GfxScreenList(0), 0);
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
