#include "kastrel/graphics/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kastrel/device/display.h"
#include "kastrel/graphics/testing/pixel_model.h"

namespace {

using pixel_model::Image;

VOX_IMAGE_HEADER header_of(const Image& image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image.get(), sizeof h);
  return h;
}

// Every slot of the pixel area, padding included, holds value.
bool filled_with(const Image& image, uint32_t value) {
  const VOX_IMAGE_HEADER h = header_of(image);
  const auto* pixels = static_cast<const uint8_t*>(image.get()) + 32;
  for (size_t i = 0; i < size_t{h.height} * h.pitch; i += static_cast<size_t>(h.bpp)) {
    uint32_t v = 0;
    std::memcpy(&v, pixels + i, static_cast<size_t>(h.bpp));
    if (v != value) return false;
  }
  return true;
}

TEST(ImageBuffer, CreationFailures) {
  EXPECT_EQ(vox_GfxImageCreate(4, 4, 0, 0, 0), nullptr);  // no screen to take the depth from
  vox_GfxImageDestroy(nullptr);
  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  const int32_t bad[][3] = {{0, 4, 32},        {4, 0, 32},        {-4, 4, 32},
                            {4, 4, 24},        {4, 4, 17},        {4, 4, 33},
                            {4, 4, INT32_MAX}, {INT32_MAX, 2, 8}, {65536, 65536, 32},
                            {INT32_MAX, INT32_MAX, 32}};
  for (const auto& [w, h, depth] : bad)
    EXPECT_EQ(vox_GfxImageCreate(w, h, 0, depth, 0), nullptr) << w << "x" << h << "x" << depth;
}

TEST(ImageBuffer, LayoutAndFill) {
  vox_GfxScreenRes(16, 16, 16, 1, MODE_NULL, 0);
  struct {
    int32_t w, h;
    uint32_t color;
    int32_t depth, flags, bpp;
    uint32_t pitch, fill;
  } const cases[] = {
      {1, 1, 0x11223344, 32, 0, 4, 16, 0x11223344},
      {3, 2, 0x00FF00FF, 32, 0, 4, 16, 0x00FF00FF},
      {5, 1, 0, 32, 0, 4, 32, 0},
      {5, 3, 0x123, 32, -1, 4, 32, 0xFFFF00FF},
      {9, 2, 0xFF0000, 16, 0, 2, 32, 0xF800},
      {9, 2, 0xFF0000, 16, -1, 2, 32, 0xF81F},
      {3, 3, 0x00FC08, 15, 0, 2, 16, 0x07E1},
      {17, 2, 0x1234, 8, 0, 1, 32, 0x34},
      {7, 2, 0x1234, 4, -5, 1, 16, 0},
      {7, 2, 0x89ABCDEF, 1, 0, 1, 16, 0xEF},
      {3, 2, 0xFFFFFF, 0, 0, 2, 16, 0xFFFF},  // depth 0: the screen's 16 bits
  };
  for (const auto& c : cases) {
    Image image(vox_GfxImageCreate(c.w, c.h, c.color, c.depth, c.flags));
    ASSERT_NE(image, nullptr);
    const VOX_IMAGE_HEADER h = header_of(image),
                           expected{7, c.bpp, uint32_t(c.w), uint32_t(c.h), c.pitch, {}};
    EXPECT_EQ(std::memcmp(&h, &expected, sizeof h), 0) << c.w << "x" << c.depth;
    EXPECT_TRUE(filled_with(image, c.fill)) << c.w << "x" << c.depth;
  }
}

TEST(ImageBuffer, HeaderForms) {
  // Compact: bpp 2, width 0x1234 (13 bits), height 0x0102, pixels from offset 4.
  uint8_t compact[4] = {static_cast<uint8_t>((0x1234 & 31) << 3 | 2), 0x1234 >> 5, 0x02, 0x01};
  VOX_IMAGE_INFO info;
  ASSERT_TRUE(vox_hImageInfo(compact, 4, &info));
  EXPECT_EQ(std::vector<int32_t>({info.bpp, info.width, info.height, info.pitch}),
            std::vector<int32_t>({2, 0x1234, 0x0102, 0x1234 * 2}));
  EXPECT_EQ(info.pixels, compact + 4);
  compact[0] &= 0xF8;  // bpp 0: the target's
  ASSERT_TRUE(vox_hImageInfo(compact, 4, &info));
  EXPECT_EQ(info.bpp, 4);
  compact[0] |= 3;
  EXPECT_FALSE(vox_hImageInfo(compact, 4, &info));

  // Headers that cannot describe a buffer are refused.
  VOX_IMAGE_HEADER h{7, 4, 10, 10, 40, {}};
  EXPECT_TRUE(vox_hImageInfo(&h, 4, &info));
  h.pitch = 39;
  EXPECT_FALSE(vox_hImageInfo(&h, 4, &info));
  h = {7, 3, 10, 10, 40, {}};
  EXPECT_FALSE(vox_hImageInfo(&h, 4, &info));
  h = {7, 1, 0x80000000u, 1, 0x80000000u, {}};
  EXPECT_FALSE(vox_hImageInfo(&h, 4, &info));
}

}  // namespace
