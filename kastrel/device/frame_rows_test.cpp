#include "kastrel/device/frame_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

TEST(FrameRows, DirtyBandRunsFromFirstToLastMarkedLine) {
  std::vector<uint8_t> dirty(480, 0);
  int32_t first = -7, last = -7;
  EXPECT_FALSE(vox_dirty_band(dirty.data(), 480, &first, &last));
  EXPECT_EQ(first, -7);
  dirty[10] = 1;
  dirty[400] = 1;
  ASSERT_TRUE(vox_dirty_band(dirty.data(), 480, &first, &last));
  EXPECT_EQ(first, 10);
  EXPECT_EQ(last, 400);
  std::fill(dirty.begin(), dirty.end(), 0);
  dirty[479] = 3;
  ASSERT_TRUE(vox_dirty_band(dirty.data(), 480, &first, &last));
  EXPECT_EQ(first, 479);
  EXPECT_EQ(last, 479);
  dirty[0] = 1;
  ASSERT_TRUE(vox_dirty_band(dirty.data(), 1, &first, &last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 0);
  EXPECT_FALSE(vox_dirty_band(dirty.data(), 0, &first, &last));
}

TEST(FrameRows, RowsOfEveryDepthBecomeRgbWords) {
  // 32-bit rows keep their colour and lose their alpha.
  const uint32_t wide[3] = {0xFF123456, 0x00ABCDEF, 0x80FF00FF};
  uint32_t out[4] = {0, 0, 0, 0xDEADBEEF};
  vox_row_to_xrgb(reinterpret_cast<const uint8_t*>(wide), 4, 3, nullptr, out);
  EXPECT_EQ(out[0], 0x123456u);
  EXPECT_EQ(out[1], 0xABCDEFu);
  EXPECT_EQ(out[2], 0xFF00FFu);
  EXPECT_EQ(out[3], 0xDEADBEEFu);  // nothing past the width

  // 5-6-5: the corners are exact, and every value lies within half a step of
  // the channel scaled to eight bits.
  const uint16_t corners[5] = {0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F};
  uint32_t c[5];
  vox_row_to_xrgb(reinterpret_cast<const uint8_t*>(corners), 2, 5, nullptr, c);
  EXPECT_EQ(c[0], 0x000000u);
  EXPECT_EQ(c[1], 0xFFFFFFu);
  EXPECT_EQ(c[2], 0xFF0000u);
  EXPECT_EQ(c[3], 0x00FF00u);
  EXPECT_EQ(c[4], 0x0000FFu);
  std::vector<uint16_t> all(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<uint16_t>(i);
  std::vector<uint32_t> conv(65536);
  vox_row_to_xrgb(reinterpret_cast<const uint8_t*>(all.data()), 2, 65536, nullptr, conv.data());
  for (int i = 0; i < 65536; ++i) {
    double r = (i >> 11) * 255.0 / 31.0, g = ((i >> 5) & 63) * 255.0 / 63.0,
           b = (i & 31) * 255.0 / 31.0;
    uint32_t p = conv[i];
    ASSERT_LE(std::fabs(static_cast<double>(p >> 16) - r), 0.5 + 1e-9) << i;
    ASSERT_LE(std::fabs(static_cast<double>((p >> 8) & 0xFF) - g), 0.5 + 1e-9) << i;
    ASSERT_LE(std::fabs(static_cast<double>(p & 0xFF) - b), 0.5 + 1e-9) << i;
    ASSERT_EQ(p >> 24, 0u);
  }

  // 8-bit rows go through the palette.
  uint32_t palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010101);
  const uint8_t idx[4] = {0, 1, 128, 255};
  uint32_t p8[4];
  vox_row_to_xrgb(idx, 1, 4, palette, p8);
  EXPECT_EQ(p8[0], 0x000000u);
  EXPECT_EQ(p8[1], 0x010101u);
  EXPECT_EQ(p8[2], 0x808080u);
  EXPECT_EQ(p8[3], 0xFFFFFFu);
}

TEST(FrameRows, ShapeMaskMarksTheKeyColourAtEveryDepth) {
  const uint32_t wide[4] = {0xFFFF00FF, 0x00FF00FF, 0xFFFF00FE, 0xFF000000};
  uint32_t m[4];
  vox_row_to_shape(reinterpret_cast<const uint8_t*>(wide), 4, 4, m);
  EXPECT_EQ(m[0], 0xFF00FFu);
  EXPECT_EQ(m[1], 0xFF00FFu);  // whatever alpha the program wrote
  EXPECT_EQ(m[2], 0u);
  EXPECT_EQ(m[3], 0u);
  const uint16_t mid[2] = {0xF81F, 0xF81E};
  vox_row_to_shape(reinterpret_cast<const uint8_t*>(mid), 2, 2, m);
  EXPECT_EQ(m[0], 0xFF00FFu);
  EXPECT_EQ(m[1], 0u);
  const uint8_t idx[2] = {0, 5};
  vox_row_to_shape(idx, 1, 2, m);
  EXPECT_EQ(m[0], 0xFF00FFu);
  EXPECT_EQ(m[1], 0u);
}

}  // namespace
