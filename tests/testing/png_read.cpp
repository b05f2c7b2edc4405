#include "tests/testing/png_read.h"

#include <png.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace kastrel_testing {

bool read_png_memory(const std::vector<std::uint8_t>& bytes, RgbaImage* out, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    if (error != nullptr) *error = image.message;
    return false;
  }
  // The simplified API hides the stored format; read it from the header bytes instead.
  if (bytes.size() >= 26) {
    out->bit_depth = bytes[24];
    out->colour_type = bytes[25];
  }
  image.format = PNG_FORMAT_RGBA;
  out->width = image.width;
  out->height = image.height;
  out->rgba.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, out->rgba.data(), 0, nullptr)) {
    if (error != nullptr) *error = image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

bool read_png(const std::string& path, RgbaImage* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = path + ": cannot open";
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  return read_png_memory(bytes, out, error);
}

}  // namespace kastrel_testing
