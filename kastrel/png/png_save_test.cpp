#include "kastrel/png/png_save.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "kastrel/base/error.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/png/testing/png_check.h"
#include "kastrel/png/testing/save_cases.h"

namespace {

using namespace pngtest;

// Saved to a file and loaded back by the decoder, every picture is the same to the last pixel.
TEST(PngSave, SavedFilesLoadBackEveryPixelExactly) {
  const kastrel_testing::TempDir dir;
  std::set<int> all_filters;
  for (const SaveCase& c : SaveCases()) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " type " << int(c.colour));
    const std::string path = dir.file("saved.png");
    ASSERT_EQ(png_save(path, c.px.data(), c.w, c.h, c.stride, c.colour), KASTREL::TRUE)
        << KASTREL::LASTERROR();
    const Bytes file = ReadFile(path);
    const Image image = Load(file, 2);
    ASSERT_NE(image, nullptr);
    ExpectHeader(image.get(), 2, c.w, c.h);
    int wrong = 0;
    for (std::uint32_t y = 0; y < c.h; ++y) {
      for (std::uint32_t x = 0; x < c.w; ++x) {
        const uint32_t argb = uint32_t(c.Channel(x, y, 3)) << 24 | c.Channel(x, y, 0) << 16 |
                              c.Channel(x, y, 1) << 8 | c.Channel(x, y, 2);
        wrong += Pixel(image, x, y) != argb;
      }
    }
    EXPECT_EQ(wrong, 0);
    const std::set<int> used = FiltersUsed(file, c.h, c.w * c.Bpp());
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
  const Image image(static_cast<uint8_t*>(png_load(path, 2)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(Pixel(image, 1, 1), 0x01010101u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
