// A small PNG encoder for the developer tools: 8-bit RGB or RGBA, one IDAT chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kastrel_tools {

enum class PngColour : std::uint8_t {
  RGB = 2,   // three bytes per pixel
  RGBA = 6,  // four bytes per pixel, straight (not premultiplied) alpha
};

// Pixel rows top first, `stride` bytes apart. Returns the bytes of a whole PNG file, or an
// empty vector when the sizes are out of range (0, above 2^31 - 1, or a stride shorter than a row).
std::vector<std::uint8_t> encode_png(const std::uint8_t* pixels, std::uint32_t width,
                                     std::uint32_t height, std::size_t stride, PngColour colour);

// Encodes and writes the file (through a temporary file renamed into place, so a failed run
// never leaves half a picture). On failure returns false and says why in `error`.
bool write_png(const std::string& path, const std::uint8_t* pixels, std::uint32_t width,
               std::uint32_t height, std::size_t stride, PngColour colour, std::string* error);

}  // namespace kastrel_tools
