#include "kastrel/base/detail/platform.h"
#include "kastrel/graphics/clip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/font.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/shapes.h"
#include "kastrel/graphics/sprites.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

// A clip starts a row's runs anywhere, so a sample's value must not depend on where in its run
// it falls, on any loop set.
TEST(Clip, SamplesDoNotDependOnWhereTheirRunStarts) {
  std::mt19937 random(7);
  uint8_t region[16 * 64];
  for (uint8_t& b : region) b = uint8_t(random());
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest(); ++set) {
    vox_hRowPathForce(set);
    const VOX_SAMPLE_LOOPS& loops = vox_hSampleLoops();
    for (int32_t trial = 0; trial < 40000; ++trial) {
      // Every sample inside the region: from 4 to 12 pixels, at most half a pixel a step.
      const int64_t u = (int64_t{4} << 32) + (int64_t(random() % (8u << 20)) << 12);
      const int64_t v = (int64_t{4} << 32) + (int64_t(random() % (8u << 20)) << 12);
      const int64_t du = int64_t(int32_t(random())) / 2, dv = int64_t(int32_t(random())) / 2;
      const int32_t n = 1 + int32_t(random() % 8);
      uint8_t run[32], one[4];
      loops.bilinear(run, region, 64, u, v, du, dv, n, 16, 16);
      for (int32_t k = 0; k < n; ++k) {
        loops.bilinear(one, region, 64, u + k * du, v + k * dv, du, dv, 1, 16, 16);
        ASSERT_EQ(std::memcmp(one, run + 4 * k, 4), 0) << "loop set " << set << " sample " << k << " of " << n;
      }
    }
  }
  vox_hRowPathForce(99);
}

TEST(Clip, StateScopesAndRefusals) {
  PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  vox_GfxScreenRes(100, 80, 32, 1, MODE_NULL, 0);
  BITMAP image(50, 40, 0, 32), other;
  const auto same = [](const MATH::RECT& a, const MATH::RECT& b) {
    return a.X == b.X && a.Y == b.Y && a.W == b.W && a.H == b.H;
  };
  EXPECT_TRUE(same(CLIP(image), {0, 0, 49, 39}));
  EXPECT_TRUE(same(CLIP(other), {0, 0, 99, 79}));  // an empty bitmap is the screen
  ASSERT_TRUE(SETCLIP(image, {-5, 30, 10, 100}));
  EXPECT_TRUE(same(CLIP(image), {0, 30, 5, 9}));
  {
    CLIPSCOPE inner(image, {60, 0, 5, 5});
    EXPECT_TRUE(inner.ACTIVE() && same(CLIP(image), {0, 0, -1, -1}));
    CLIPSCOPE screen(nullptr, {10, 10, 0, 0});
    EXPECT_TRUE(same(CLIP(nullptr), {10, 10, 0, 0}));
  }
  EXPECT_TRUE(same(CLIP(image), {0, 30, 5, 9}) && same(CLIP(nullptr), {0, 0, 99, 79}));
  BITMAP copy = image;  // the clip goes with the image
  EXPECT_TRUE(same(CLIP(copy), {0, 30, 5, 9}));
  uint8_t compact[4 + 16] = {4 | 2 << 3, 0, 2, 0};
  CLEARLASTERROR();
  EXPECT_EQ(SETCLIP(compact, {0, 0, 1, 1}), FALSE);
  EXPECT_NE(std::strlen(LASTERROR()), 0u);
}

}  // namespace
