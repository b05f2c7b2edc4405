#pragma once
// Pictures for the encoder's tests, and the row filters it chose for them.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kastrel/png/png_save.h"

namespace pngtest {

struct SaveCase {
  std::uint32_t w, h;
  std::size_t stride;
  PNG_COLOUR colour;
  std::vector<std::uint8_t> px;
  std::size_t Bpp() const { return colour == PNG_RGBA ? 4 : 3; }
  // Channel i (R, G, B, A) of pixel (x, y) as a reader must see it.
  std::uint8_t Channel(std::uint32_t x, std::uint32_t y, std::size_t i) const {
    return i < Bpp() ? px[y * stride + x * Bpp() + i] : 255;
  }
};

// Odd sizes, padded rows and both colour types. The pictures hold bands of noise, ramps across,
// down and along the diagonal and noisy blocks, so that every one of the five row filters gets
// chosen somewhere and its reversal is checked.
inline std::vector<SaveCase> SaveCases() {
  std::vector<SaveCase> cases = {{1, 1, 4, PNG_RGBA, {}},
                                 {41, 23, 130, PNG_RGB, {}},
                                 {64, 48, 256, PNG_RGBA, {}},
                                 {300, 2, 1201, PNG_RGBA, {}}};
  for (SaveCase& c : cases) {
    const std::size_t bpp = c.Bpp();
    c.px.assign(c.stride * c.h, 0xEE);  // padding bytes must not show up
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
        c.px[y * c.stride + i] = patterns[y / 4 % 5];
      }
    }
  }
  return cases;
}

// The row filters the writer chose: the first byte of each row of the inflated image data
// (the writer puts it all in the one IDAT chunk after the 33 bytes of signature and IHDR).
inline std::set<int> FiltersUsed(const std::vector<std::uint8_t>& png, std::uint32_t height,
                                 std::size_t row_size) {
  const std::size_t len = std::size_t{png[33]} << 24 | png[34] << 16 | png[35] << 8 | png[36];
  EXPECT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
  std::vector<std::uint8_t> raw((row_size + 1) * height);
  uLongf raw_size = uLongf(raw.size());
  EXPECT_EQ(uncompress(raw.data(), &raw_size, &png[41], uLong(len)), Z_OK);
  std::set<int> used;
  for (std::uint32_t y = 0; y < height; ++y) used.insert(raw[y * (row_size + 1)]);
  return used;
}

}  // namespace pngtest
