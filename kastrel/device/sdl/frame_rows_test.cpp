#include "kastrel/device/sdl/frame_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(FrameRows, DirtyBandRunsFromFirstToLastMarkedLine) {
  struct Case {
    int32_t height;
    std::vector<int32_t> marked;
    int32_t first, last;  // -7: no band, outputs untouched
  };
  const Case cases[] = {{480, {}, -7, -7},
                        {480, {400, 10}, 10, 400},
                        {480, {479}, 479, 479},
                        {1, {0}, 0, 0},
                        {0, {}, -7, -7}};
  for (const Case& c : cases) {
    std::vector<uint8_t> dirty(static_cast<size_t>(c.height), 0);
    for (int32_t y : c.marked) dirty[static_cast<size_t>(y)] = 3;  // any non-zero byte marks
    int32_t first = -7, last = -7;
    EXPECT_EQ(vox_dirty_band(dirty.data(), c.height, &first, &last), c.first != -7);
    EXPECT_EQ(first, c.first) << c.height;
    EXPECT_EQ(last, c.last) << c.height;
  }
}

TEST(FrameRows, RowsOfEveryDepthBecomeRgbWords) {
  // 32-bit rows keep their colour and lose their alpha; nothing is written past the width.
  const uint32_t wide[3] = {0xFF123456, 0x00ABCDEF, 0x80FF00FF};
  uint32_t out[4] = {0, 0, 0, 0xDEADBEEF};
  vox_row_to_xrgb(reinterpret_cast<const uint8_t*>(wide), 4, 3, nullptr, out);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 4),
            (std::vector<uint32_t>{0x123456, 0xABCDEF, 0xFF00FF, 0xDEADBEEF}));

  // 5-6-5: every value lies within half a step of the channel scaled to eight
  // bits (so black, white and the primaries are exact).
  std::vector<uint16_t> all(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<uint16_t>(i);
  std::vector<uint32_t> conv(65536);
  vox_row_to_xrgb(reinterpret_cast<const uint8_t*>(all.data()), 2, 65536, nullptr, conv.data());
  for (int i = 0; i < 65536; ++i) {
    const double want[3] = {(i >> 11) * 255.0 / 31.0, ((i >> 5) & 63) * 255.0 / 63.0,
                            (i & 31) * 255.0 / 31.0};
    ASSERT_EQ(conv[i] >> 24, 0u) << i;
    for (int c = 0; c < 3; ++c) {
      double got = static_cast<double>((conv[i] >> (16 - 8 * c)) & 0xFF);
      ASSERT_LE(std::fabs(got - want[c]), 0.5 + 1e-9) << i;
    }
  }

  // 8-bit rows go through the palette, its alpha dropped.
  uint32_t palette[256];
  for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | (255 - i) * 0x010101u;
  std::vector<uint8_t> index(256);
  for (int i = 0; i < 256; ++i) index[i] = static_cast<uint8_t>(i);
  vox_row_to_xrgb(index.data(), 1, 256, palette, conv.data());
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(conv[i], (255 - i) * 0x010101u) << i;
}

TEST(FrameRows, ShapeMaskMarksTheKeyColourAtEveryDepth) {
  // Magenta whatever its alpha at 32 bits, 0xF81F at 16, index 0 at 8.
  const uint32_t wide[4] = {0xFFFF00FF, 0x00FF00FF, 0xFFFF00FE, 0xFF000000};
  const uint16_t mid[2] = {0xF81F, 0xF81E};
  const uint8_t idx[2] = {0, 5};
  uint32_t m[4];
  vox_row_to_shape(reinterpret_cast<const uint8_t*>(wide), 4, 4, m);
  EXPECT_EQ(std::vector<uint32_t>(m, m + 4), (std::vector<uint32_t>{0xFF00FF, 0xFF00FF, 0, 0}));
  vox_row_to_shape(reinterpret_cast<const uint8_t*>(mid), 2, 2, m);
  EXPECT_EQ(std::vector<uint32_t>(m, m + 2), (std::vector<uint32_t>{0xFF00FF, 0}));
  vox_row_to_shape(idx, 1, 2, m);
  EXPECT_EQ(std::vector<uint32_t>(m, m + 2), (std::vector<uint32_t>{0xFF00FF, 0}));
}

}  // namespace
