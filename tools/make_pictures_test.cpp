#include <gtest/gtest.h>

#include <cstdlib>

#include "kastrel/base/testing/process.h"
#include "tests/testing/png_read.h"

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

// The platformer's tileset and player sheet are integer pixel art: exactly what the generator
// draws.
TEST(Pictures, PlatformerArtIsWhatTheGeneratorDraws) {
  kastrel_testing::TempDir dir;
  const auto r = kastrel_testing::run({KASTREL_MAKE_PLATFORMER_ART, dir.file("")});
  ASSERT_EQ(r.exit_status, 0) << r.errors;
  for (const char* name : {"maps/tiles.png", "images/player.png"}) {
    const RgbaImage fresh = load(dir.file(name));
    const RgbaImage kept = load(std::string(KASTREL_SOURCE_DIR) + "/examples/platformer/" + name);
    EXPECT_TRUE(fresh.width == kept.width && fresh.height == kept.height && fresh.rgba == kept.rgba)
        << name << " is stale: run `make pictures`";
  }
}

}  // namespace
