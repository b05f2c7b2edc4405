#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kastrel/graphics/image.h"
#include "kastrel/png/png_image.h"
#include "tests/testing/png_read.h"
#include "tests/testing/process.h"

namespace {

using kastrel_testing::RgbaImage;

const char* const kNames[] = {"background.png", "ball.png", "cursor.png"};

std::string committed(const std::string& name) {
  return std::string(KASTREL_SOURCE_DIR) + "/demo/images/" + name;
}

RgbaImage load(const std::string& path) {
  RgbaImage img;
  std::string error;
  EXPECT_TRUE(kastrel_testing::read_png(path, &img, &error)) << path << ": " << error;
  return img;
}

TEST(Pictures, GeneratorIsRepeatableAndMatchesTheCommittedFiles) {
  kastrel_testing::TempDir a;
  kastrel_testing::TempDir b;
  for (const auto* dir : {&a, &b}) {
    const auto r = kastrel_testing::run({KASTREL_MAKE_PICTURES, dir->file("images")});
    ASSERT_EQ(r.exit_status, 0) << r.errors;
  }
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    const std::string first = kastrel_testing::read_file(a.file("images/") + name);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, kastrel_testing::read_file(b.file("images/") + name)) << "not repeatable";
    // The committed pictures must be what the generator draws now: after changing the drawing,
    // regenerate them. One step of slack per channel allows another maths library.
    const RgbaImage fresh = load(a.file("images/") + name);
    const RgbaImage kept = load(committed(name));
    ASSERT_EQ(fresh.width, kept.width);
    ASSERT_EQ(fresh.height, kept.height);
    int off = 0;
    for (std::size_t i = 0; i < fresh.rgba.size(); ++i) {
      if (std::abs(fresh.rgba[i] - kept.rgba[i]) > 1) ++off;
    }
    EXPECT_EQ(off, 0) << "demo/images/" << name << " is stale: run `make pictures`";
  }

  // A directory that cannot be made is an error, not a crash or a silent success.
  const auto r = kastrel_testing::run({KASTREL_MAKE_PICTURES, "/proc/no-such-place/images"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_FALSE(r.errors.empty());
  EXPECT_EQ(kastrel_testing::run({KASTREL_MAKE_PICTURES}).exit_status, 2);
}

TEST(Pictures, BackgroundCoversTheWindowOpaque) {
  const RgbaImage bg = load(committed("background.png"));
  EXPECT_EQ(bg.colour_type, 6);
  EXPECT_EQ(bg.bit_depth, 8);
  ASSERT_EQ(bg.width, 640u);
  ASSERT_EQ(bg.height, 480u);
  std::size_t see_through = 0;
  for (std::size_t i = 3; i < bg.rgba.size(); i += 4) see_through += bg.rgba[i] != 255;
  EXPECT_EQ(see_through, 0u);
}

// The game loads them with the engine's own decoder: it must see what libpng sees.
TEST(Pictures, EnginesDecoderReadsThemAsLibpngDoes) {
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    const RgbaImage want = load(committed(name));
    void* image = png_load(committed(name), PNG_TARGET_NEW);
    ASSERT_NE(image, nullptr);
    VOX_IMAGE_HEADER header;
    std::memcpy(&header, image, sizeof header);
    EXPECT_EQ(header.type, VOX_IMAGE_TYPE);
    EXPECT_EQ(header.bpp, 4);
    EXPECT_EQ(header.width, want.width);
    EXPECT_EQ(header.height, want.height);
    int wrong = 0;
    for (std::uint32_t y = 0; y < want.height && header.width == want.width; ++y) {
      for (std::uint32_t x = 0; x < want.width; ++x) {
        std::uint32_t argb = 0;
        std::memcpy(&argb, static_cast<const std::uint8_t*>(image) + 32 + y * header.pitch + x * 4,
                    4);
        const std::uint8_t* p = want.at(x, y);
        const std::uint32_t expect = (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[0]} << 16) |
                                     (std::uint32_t{p[1]} << 8) | p[2];
        if (argb != expect && ++wrong <= 3) {
          ADD_FAILURE() << "(" << x << ", " << y << "): " << std::hex << argb << " instead of "
                        << expect;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    vox_GfxImageDestroy(image);
  }
}

// The game fades the ball to 205/255 and counts a pixel as "over the ball" when its faded
// alpha exceeds 30; its collision box is the picture less 7 columns and 9 rows, and the ball
// rests with the box on the window's bottom edge.
TEST(Pictures, BallFitsTheGamesCollisionBoxAndHoverTest) {
  const RgbaImage ball = load(committed("ball.png"));
  EXPECT_EQ(ball.colour_type, 6);
  EXPECT_EQ(ball.bit_depth, 8);
  ASSERT_GT(ball.width, 7u + 32u);
  ASSERT_GT(ball.height, 9u + 32u);
  const std::uint32_t box_w = ball.width - 7;
  const std::uint32_t box_h = ball.height - 9;

  std::uint32_t min_x = ball.width, min_y = ball.height, max_x = 0, max_y = 0;
  int margin_pixels = 0;
  for (std::uint32_t y = 0; y < ball.height; ++y) {
    for (std::uint32_t x = 0; x < ball.width; ++x) {
      const int a = ball.at(x, y)[3];
      if (x >= box_w || y >= box_h) {
        // The shadow in the margin never counts as ball, faded or not.
        EXPECT_LE(a, 30) << "margin pixel (" << x << ", " << y << ")";
        margin_pixels += a > 0;
      }
      if (a > 30) {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
      }
    }
  }
  EXPECT_GT(margin_pixels, 100) << "no drop shadow";
  // The ball fills its box, so it touches the floor and the walls when it bounces.
  EXPECT_EQ(min_x, 0u);
  EXPECT_EQ(min_y, 0u);
  EXPECT_EQ(max_x, box_w - 1);
  EXPECT_EQ(max_y, box_h - 1);

  // Inside the rim (a pixel and a half in from the edge of the disc) the ball is solid, so at
  // 205/255 every pixel there is far above the hover threshold.
  const double cx = (min_x + max_x + 1) / 2.0;
  const double cy = (min_y + max_y + 1) / 2.0;
  const double r = (max_x + 1 - min_x) / 2.0;
  int inner = 0;
  for (std::uint32_t y = 0; y < box_h; ++y) {
    for (std::uint32_t x = 0; x < box_w; ++x) {
      if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) > r - 1.5) continue;
      ++inner;
      EXPECT_GE(ball.at(x, y)[3] * 205 / 255, 200) << "(" << x << ", " << y << ")";
    }
  }
  EXPECT_GT(inner, static_cast<int>(3.0 * (r - 1.5) * (r - 1.5)));
  // Shaded, with a specular highlight up and to the left and a soft, anti-aliased rim.
  int highlight = 0, rim = 0, min_luma = 255;
  for (std::uint32_t y = 0; y < box_h; ++y) {
    for (std::uint32_t x = 0; x < box_w; ++x) {
      const std::uint8_t* p = ball.at(x, y);
      if (p[3] == 255) min_luma = std::min(min_luma, (p[0] * 3 + p[1] * 6 + p[2]) / 10);
      if (p[3] == 255 && p[0] > 235 && p[1] > 220 && p[2] > 210) {
        ++highlight;
        EXPECT_LT(x, cx) << "highlight on the wrong side";
        EXPECT_LT(y, cy) << "highlight on the wrong side";
      }
      rim += p[3] > 30 && p[3] < 225;
    }
  }
  EXPECT_GT(highlight, 0);
  EXPECT_LT(min_luma, 90) << "no shading";
  EXPECT_GT(rim, 40) << "hard edge";
}

// The cursor is drawn with its top-left corner at the pointer plus the hot spot, and hit tests
// use that same point: the tip of the arrow must be pixel (0, 0).
TEST(Pictures, CursorTipIsItsTopLeftPixel) {
  const RgbaImage cur = load(committed("cursor.png"));
  EXPECT_EQ(cur.colour_type, 6);
  EXPECT_EQ(cur.bit_depth, 8);
  ASSERT_GE(cur.width, 12u);
  ASSERT_GE(cur.height, 16u);
  EXPECT_LE(cur.width, 32u);
  EXPECT_LE(cur.height, 32u);
  const std::uint8_t* tip = cur.at(0, 0);
  EXPECT_GE(tip[3], 230) << "the tip pixel is not solid";
  EXPECT_LT(tip[0] + tip[1] + tip[2], 3 * 80) << "the tip is not outlined";
  // Along the top row only the tip and its anti-aliased neighbour show.
  for (std::uint32_t x = 2; x < cur.width; ++x) EXPECT_LT(cur.at(x, 0)[3], 40) << x;
  // A light body inside a dark outline, with partly transparent edge pixels.
  int light = 0, dark = 0, partial = 0;
  for (std::uint32_t y = 0; y < cur.height; ++y) {
    for (std::uint32_t x = 0; x < cur.width; ++x) {
      const std::uint8_t* p = cur.at(x, y);
      const int sum = p[0] + p[1] + p[2];
      light += p[3] == 255 && sum > 3 * 200;
      dark += p[3] > 200 && sum < 3 * 60;
      partial += p[3] > 0 && p[3] < 200;
    }
  }
  EXPECT_GT(light, 40);
  EXPECT_GT(dark, 30);
  EXPECT_GT(partial, 15);
}

}  // namespace
