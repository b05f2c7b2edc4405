#include "png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "tests/testing/png_read.h"
#include "tests/testing/process.h"

namespace {

using kastrel_tools::encode_png;
using kastrel_tools::PngColour;

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Walks the chunks and inflates the image data, to see which row filters the writer chose.
std::set<int> filters_used(const std::vector<std::uint8_t>& png, std::uint32_t height,
                           std::size_t row_size) {
  std::vector<std::uint8_t> idat;
  std::vector<std::string> types;
  for (std::size_t pos = 8; pos + 12 <= png.size();) {
    const std::uint32_t len = be32(&png[pos]);
    types.emplace_back(reinterpret_cast<const char*>(&png[pos + 4]), 4);
    if (types.back() == "IDAT") idat.insert(idat.end(), &png[pos + 8], &png[pos + 8 + len]);
    pos += 12 + len;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  std::vector<std::uint8_t> raw((row_size + 1) * height);
  uLongf raw_size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &raw_size, idat.data(), idat.size()), Z_OK);
  EXPECT_EQ(raw_size, raw.size());
  std::set<int> used;
  for (std::uint32_t y = 0; y < height; ++y) used.insert(raw[y * (row_size + 1)]);
  return used;
}

struct Case {
  std::uint32_t w, h;
  std::size_t stride;
  PngColour colour;
  int pattern;
};

std::vector<std::uint8_t> make_pixels(const Case& c) {
  const std::size_t bpp = c.colour == PngColour::RGBA ? 4 : 3;
  std::vector<std::uint8_t> px(c.stride * c.h, 0xEE);  // padding bytes must not show up
  std::uint32_t seed = 12345;
  for (std::uint32_t y = 0; y < c.h; ++y) {
    for (std::uint32_t x = 0; x < c.w; ++x) {
      for (std::size_t i = 0; i < bpp; ++i) {
        std::uint8_t v = 0;
        seed = seed * 1103515245u + 12345u;
        switch (c.pattern) {
          case 0:
            v = static_cast<std::uint8_t>(seed >> 16);
            break;  // noise
          case 1:
            v = static_cast<std::uint8_t>(x * 7 + i * 40);
            break;  // horizontal ramp
          case 2:
            v = static_cast<std::uint8_t>(y * 9 + i * 30);
            break;  // vertical ramp
          case 3:
            v = static_cast<std::uint8_t>((x * x + y * 3) ^ i);
            break;  // curved shading
          case 4:
            v = static_cast<std::uint8_t>((x + y) * 5 + ((seed >> 20) & 3));
            break;
          default:  // blocks with noisy edges: the rows where the Paeth predictor pays off
            v = static_cast<std::uint8_t>(((x / 3 + y / 2) % 2) * 90 + ((seed >> 20) & 15) + i);
            break;
        }
        px[y * c.stride + x * bpp + i] = v;
      }
    }
  }
  return px;
}

TEST(PngWriter, LibpngReadsBackEveryPixelExactly) {
  const std::vector<Case> cases = {
      {1, 1, 4, PngColour::RGBA, 0},      {1, 1, 3, PngColour::RGB, 0},
      {7, 5, 28, PngColour::RGBA, 0},     {7, 5, 24, PngColour::RGB, 0},
      {33, 17, 140, PngColour::RGBA, 1},  {33, 17, 99, PngColour::RGB, 2},
      {64, 48, 256, PngColour::RGBA, 3},  {50, 40, 160, PngColour::RGB, 4},
      {300, 2, 1200, PngColour::RGBA, 4}, {2, 300, 8, PngColour::RGBA, 2},
      {40, 40, 160, PngColour::RGBA, 5},  {41, 23, 123, PngColour::RGB, 5},
  };
  std::set<int> all_filters;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " stride " << c.stride << " type "
                                    << static_cast<int>(c.colour) << " pattern " << c.pattern);
    const std::vector<std::uint8_t> px = make_pixels(c);
    const std::vector<std::uint8_t> png = encode_png(px.data(), c.w, c.h, c.stride, c.colour);
    ASSERT_FALSE(png.empty());
    kastrel_testing::RgbaImage img;
    std::string error;
    ASSERT_TRUE(kastrel_testing::read_png_memory(png, &img, &error)) << error;
    EXPECT_EQ(img.colour_type, static_cast<int>(c.colour));
    EXPECT_EQ(img.bit_depth, 8);
    ASSERT_EQ(img.width, c.w);
    ASSERT_EQ(img.height, c.h);
    const std::size_t bpp = c.colour == PngColour::RGBA ? 4 : 3;
    int wrong = 0;
    for (std::uint32_t y = 0; y < c.h; ++y) {
      for (std::uint32_t x = 0; x < c.w; ++x) {
        const std::uint8_t* want = &px[y * c.stride + x * bpp];
        const std::uint8_t* got = img.at(x, y);
        for (std::size_t i = 0; i < 4; ++i) {
          const std::uint8_t expect = i < bpp ? want[i] : 255;
          if (got[i] != expect && ++wrong <= 5) {
            ADD_FAILURE() << "pixel (" << x << ", " << y << ") byte " << i << ": " << int{got[i]}
                          << " instead of " << int{expect};
          }
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    const std::set<int> used = filters_used(png, c.h, c.w * bpp);
    all_filters.insert(used.begin(), used.end());
  }
  // The cases above make the writer pick each of the five row filters somewhere, so the
  // comparison has checked all of them.
  EXPECT_EQ(all_filters, (std::set<int>{0, 1, 2, 3, 4}));
}

TEST(PngWriter, RefusesImpossibleSizesAndReportsWriteFailures) {
  const std::vector<std::uint8_t> px(64, 1);
  EXPECT_TRUE(encode_png(px.data(), 0, 1, 4, PngColour::RGBA).empty());
  EXPECT_TRUE(encode_png(px.data(), 1, 0, 4, PngColour::RGBA).empty());
  EXPECT_TRUE(encode_png(nullptr, 1, 1, 4, PngColour::RGBA).empty());
  EXPECT_TRUE(encode_png(px.data(), 4, 1, 15, PngColour::RGBA).empty());  // stride under a row
  EXPECT_TRUE(encode_png(px.data(), 0x80000000u, 1, ~std::size_t{0}, PngColour::RGB).empty());
  EXPECT_TRUE(encode_png(px.data(), 1, 0x80000000u, 4, PngColour::RGBA).empty());
  EXPECT_TRUE(encode_png(px.data(), 1, 1, 4, static_cast<PngColour>(3)).empty());

  kastrel_testing::TempDir dir;
  std::string error;
  const std::string missing = dir.file("no/such/dir/a.png");
  EXPECT_FALSE(kastrel_tools::write_png(missing, px.data(), 2, 2, 8, PngColour::RGBA, &error));
  EXPECT_NE(error.find("no/such/dir"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(
      kastrel_tools::write_png(dir.file("b.png"), px.data(), 0, 2, 8, PngColour::RGBA, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.png")));

  // Writing over an existing picture replaces it whole and leaves no temporary file.
  const std::string path = dir.file("c.png");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("an old and much longer file that is not a picture at all", f);
  std::fclose(f);
  ASSERT_TRUE(kastrel_tools::write_png(path, px.data(), 2, 2, 8, PngColour::RGBA, &error)) << error;
  kastrel_testing::RgbaImage img;
  ASSERT_TRUE(kastrel_testing::read_png(path, &img, &error)) << error;
  EXPECT_EQ(img.width, 2u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
