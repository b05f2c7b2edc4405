#include "kastrel/png/png_save.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "kastrel/base/error.h"

#include "tests/testing/png_read.h"
#include "kastrel/base/testing/process.h"

namespace {


// The row filters the writer chose: the first byte of each row of the inflated image data
// (the writer puts it all in the one IDAT chunk after the 33 bytes of signature and IHDR).
std::set<int> filters_used(const std::vector<std::uint8_t>& png, std::uint32_t height,
                           std::size_t row_size) {
  const std::size_t len = std::size_t{png[33]} << 24 | png[34] << 16 | png[35] << 8 | png[36];
  EXPECT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
  std::vector<std::uint8_t> raw((row_size + 1) * height);
  uLongf raw_size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &raw_size, &png[41], len), Z_OK);
  std::set<int> used;
  for (std::uint32_t y = 0; y < height; ++y) used.insert(raw[y * (row_size + 1)]);
  return used;
}

TEST(PngSave, LibpngReadsBackEveryPixelExactly) {
  struct Case {
    std::uint32_t w, h;
    std::size_t stride;
    PNG_COLOUR colour;
  };
  // Odd sizes, padded rows and both colour types. The pictures hold bands of noise, ramps
  // across, down and along the diagonal and noisy blocks, so that every one of the five row
  // filters gets chosen somewhere and its reversal is checked.
  const Case cases[] = {{1, 1, 4, PNG_RGBA}, {41, 23, 130, PNG_RGB}, {64, 48, 256, PNG_RGBA},
                        {300, 2, 1201, PNG_RGBA}};
  std::set<int> all_filters;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " type " << int(c.colour));
    const std::size_t bpp = c.colour == PNG_RGBA ? 4 : 3;
    std::vector<std::uint8_t> px(c.stride * c.h, 0xEE);  // padding bytes must not show up
    std::uint32_t seed = 12345;
    for (std::uint32_t y = 0; y < c.h; ++y) {
      for (std::size_t i = 0; i < c.w * bpp; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t x = i / bpp;
        const std::uint8_t noise = std::uint8_t(seed >> 16);
        const std::uint8_t patterns[] = {noise, std::uint8_t(x * 7 + i % bpp * 40),
                                         std::uint8_t(y * 9 + i % bpp * 30),
                                         std::uint8_t((x - y) * 5 + i % bpp * 30),
                                         std::uint8_t(((x / 3 + y / 2) % 2) * 90 + (noise & 15))};
        px[y * c.stride + i] = patterns[y / 4 % 5];
      }
    }
    const std::vector<std::uint8_t> png = png_encode(px.data(), c.w, c.h, c.stride, c.colour);
    kastrel_testing::RgbaImage img;
    std::string error;
    ASSERT_TRUE(kastrel_testing::read_png_memory(png, &img, &error)) << error;
    EXPECT_EQ(img.colour_type, int(c.colour));
    EXPECT_EQ(img.bit_depth, 8);
    ASSERT_EQ(img.width, c.w);
    ASSERT_EQ(img.height, c.h);
    int wrong = 0;
    for (std::uint32_t y = 0; y < c.h; ++y) {
      for (std::uint32_t x = 0; x < c.w; ++x) {
        for (std::size_t i = 0; i < 4; ++i) {
          wrong += img.at(x, y)[i] != (i < bpp ? px[y * c.stride + x * bpp + i] : 255);
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    const std::set<int> used = filters_used(png, c.h, c.w * bpp);
    all_filters.insert(used.begin(), used.end());
  }
  EXPECT_EQ(all_filters, (std::set<int>{0, 1, 2, 3, 4}));
}

TEST(PngSave, RefusesImpossibleSizesAndReportsWriteFailures) {
  const std::vector<std::uint8_t> px(64, 1);
  KASTREL::CLEARLASTERROR();
  EXPECT_TRUE(png_encode(px.data(), 0, 1, 4, PNG_RGBA).empty());
  EXPECT_STRNE(KASTREL::LASTERROR(), "");
  EXPECT_TRUE(png_encode(nullptr, 1, 1, 4, PNG_RGBA).empty());
  EXPECT_TRUE(png_encode(px.data(), 4, 1, 15, PNG_RGBA).empty());  // stride under a row
  EXPECT_TRUE(png_encode(px.data(), 0x80000000u, 1, ~std::size_t{0}, PNG_RGB).empty());
  EXPECT_TRUE(png_encode(px.data(), 1, 1, 4, static_cast<PNG_COLOUR>(3)).empty());

  kastrel_testing::TempDir dir;
  EXPECT_EQ(png_save(dir.file("no/such/dir/a.png"), px.data(), 2, 2, 8, PNG_RGBA), KASTREL::FALSE);
  EXPECT_NE(std::string(KASTREL::LASTERROR()).find("no/such/dir"), std::string::npos);
  // Writing over an existing file replaces it whole and leaves no temporary file.
  const std::string path = dir.file("c.png");
  std::ofstream(path) << "an old and much longer file that is not a picture at all";
  ASSERT_EQ(png_save(path, px.data(), 2, 2, 8, PNG_RGBA), KASTREL::TRUE) << KASTREL::LASTERROR();
  kastrel_testing::RgbaImage img;
  std::string error;
  EXPECT_TRUE(kastrel_testing::read_png(path, &img, &error)) << error;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
