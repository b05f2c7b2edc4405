// Reads PNG files through libpng, the reference decoder of the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kastrel_testing {

struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colour_type = -1;  // as stored in the file
  int bit_depth = 0;
  std::vector<std::uint8_t> rgba;  // 8-bit RGBA rows, top first; opaque where the file has no alpha

  const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

// Decodes a whole PNG file. False with a reason in `error` when libpng rejects it.
bool read_png_memory(const std::vector<std::uint8_t>& bytes, RgbaImage* out, std::string* error);
bool read_png(const std::string& path, RgbaImage* out, std::string* error);

}  // namespace kastrel_testing
