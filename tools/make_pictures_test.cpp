#include <gtest/gtest.h>

#include <cmath>

#include "tests/testing/png_read.h"
#include "kastrel/base/testing/process.h"

namespace {

using kastrel_testing::RgbaImage;

RgbaImage load(const std::string& path) {
  RgbaImage img;
  std::string error;
  EXPECT_TRUE(kastrel_testing::read_png(path, &img, &error)) << path << ": " << error;
  EXPECT_EQ(img.colour_type, 6) << path;  // RGBA, 8 bits
  return img;
}

RgbaImage committed(const std::string& name) {
  return load(std::string(KASTREL_SOURCE_DIR) + "/demo/images/" + name);
}

// The committed pictures must be what the generator draws now (the engine's decoder is held to
// libpng on other encoders' files in png_image_test).
TEST(Pictures, GeneratorMakesTheCommittedFiles) {
  kastrel_testing::TempDir dir;
  const auto r = kastrel_testing::run({KASTREL_MAKE_PICTURES, dir.file("images")});
  ASSERT_EQ(r.exit_status, 0) << r.errors;
  for (const char* name : {"background.png", "ball.png", "cursor.png"}) {
    SCOPED_TRACE(name);
    const RgbaImage fresh = load(dir.file("images/") + name);
    const RgbaImage kept = committed(name);
    ASSERT_EQ(fresh.width, kept.width);
    ASSERT_EQ(fresh.height, kept.height);
    // One step of slack per channel allows another maths library.
    int off = 0;
    for (std::size_t i = 0; i < fresh.rgba.size(); ++i)
      off += std::abs(fresh.rgba[i] - kept.rgba[i]) > 1;
    EXPECT_EQ(off, 0) << "demo/images/" << name << " is stale: run `make pictures`";
  }
  // A directory that cannot be made is an error, not a crash or a silent success.
  EXPECT_NE(kastrel_testing::run({KASTREL_MAKE_PICTURES, "/proc/no-such-place/images"}).exit_status,
            0);
}

// The background covers the window, opaque. The game fades the ball to 205/255 and counts a
// pixel as "over the ball" when its faded alpha exceeds 30; its collision box is the picture
// less 7 columns and 9 rows, and the ball rests with the box on the window's bottom edge.
TEST(Pictures, BackgroundBallAndCursorFitTheGame) {
  const RgbaImage bg = committed("background.png");
  EXPECT_EQ(bg.width, 640u);
  EXPECT_EQ(bg.height, 480u);
  for (std::size_t i = 3; i < bg.rgba.size(); i += 4) ASSERT_EQ(bg.rgba[i], 255) << i / 4;

  const RgbaImage ball = committed("ball.png");
  ASSERT_GT(ball.width, 7u + 32u);
  ASSERT_GT(ball.height, 9u + 32u);
  const std::uint32_t box_w = ball.width - 7, box_h = ball.height - 9;
  std::uint32_t min_x = ball.width, min_y = ball.height, max_x = 0, max_y = 0;
  int soft = 0;
  for (std::uint32_t y = 0; y < ball.height; ++y) {
    for (std::uint32_t x = 0; x < ball.width; ++x) {
      const int a = ball.at(x, y)[3];
      soft += a > 30 && a < 225;
      // The shadow in the margin never counts as ball, faded or not.
      EXPECT_TRUE(a <= 30 || (x < box_w && y < box_h)) << "margin pixel " << x << ", " << y;
      if (a <= 30) continue;
      min_x = std::min(min_x, x);
      max_x = std::max(max_x, x);
      min_y = std::min(min_y, y);
      max_y = std::max(max_y, y);
    }
  }
  EXPECT_GT(soft, 40) << "a hard edge";
  // The ball fills its box, so it touches the floor and the walls when it bounces.
  EXPECT_EQ(min_x, 0u);
  EXPECT_EQ(min_y, 0u);
  EXPECT_EQ(max_x, box_w - 1);
  EXPECT_EQ(max_y, box_h - 1);
  // Inside the rim (a pixel and a half in from the edge of the disc) the ball is solid, so at
  // 205/255 every pixel there is far above the hover threshold.
  const double r = box_w / 2.0;
  for (std::uint32_t y = 0; y < box_h; ++y) {
    for (std::uint32_t x = 0; x < box_w; ++x) {
      if (std::hypot(x + 0.5 - r, y + 0.5 - box_h / 2.0) > r - 1.5) continue;
      EXPECT_GE(ball.at(x, y)[3] * 205 / 255, 200) << x << ", " << y;
    }
  }

  // The cursor is drawn with its top-left corner at the pointer plus the hot spot, and hit
  // tests use that same point: the tip of the arrow must be pixel (0, 0), solid and outlined,
  // and along the top row only it and its anti-aliased neighbour show.
  const RgbaImage cursor = committed("cursor.png");
  ASSERT_GE(cursor.width, 12u);
  EXPECT_LE(cursor.width, 32u);
  const std::uint8_t* tip = cursor.at(0, 0);
  EXPECT_GE(tip[3], 230);
  EXPECT_LT(tip[0] + tip[1] + tip[2], 3 * 80);
  for (std::uint32_t x = 2; x < cursor.width; ++x) EXPECT_LT(cursor.at(x, 0)[3], 40) << x;
  int partial = 0;
  for (std::size_t i = 3; i < cursor.rgba.size(); i += 4) partial += cursor.rgba[i] % 255 != 0;
  EXPECT_GT(partial, 15) << "no soft outline";
}

}  // namespace
