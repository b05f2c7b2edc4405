#pragma once
// The PNG encoder: 8-bit RGB or RGBA, one IDAT chunk, the row filter that suits each row.
// Games save screenshots and pictures with it; the developer tools draw their pictures with it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kastrel/boolean.h"

// The pixel layouts the encoder writes, numbered as a PNG file's colour type.
enum PNG_COLOUR : uint8_t {
  PNG_RGB = 2,   // three bytes per pixel: red, green, blue
  PNG_RGBA = 6,  // four bytes per pixel, straight (not premultiplied) alpha
};

// How hard the encoder works: BEST tries every row filter and the strongest compression; FAST
// (for frames written while a game runs) filters every row by the row above and compresses
// lightly, several times faster for files about a third larger.
enum PNG_EFFORT : uint8_t { PNG_BEST = 0, PNG_FAST = 1 };

// Pixel rows top first, STRIDE bytes apart. The bytes of a whole PNG file, or an empty vector
// (and LASTERROR() says why) when the sizes are out of range (0, above 2^31 - 1, or a stride
// shorter than a row) or the colour type is neither of the two.
std::vector<uint8_t> png_encode(const uint8_t* pixels, uint32_t width, uint32_t height,
                                size_t stride, PNG_COLOUR colour, PNG_EFFORT effort = PNG_BEST);

// Encodes and writes the file through a temporary file renamed into place, so a failed run
// never leaves half a picture. FALSE (and LASTERROR() says why) on failure.
KASTREL::BOOLEAN png_save(const std::string& filename, const uint8_t* pixels, uint32_t width,
                          uint32_t height, size_t stride, PNG_COLOUR colour,
                          PNG_EFFORT effort = PNG_BEST);
