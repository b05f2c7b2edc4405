#include "tests/testing/png_read.h"

#include <png.h>

#include "kastrel/base/testing/process.h"

namespace kastrel_testing {

bool read_png_memory(const std::vector<std::uint8_t>& bytes, RgbaImage* out, std::string* error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  // The simplified API hides the stored format; read it from the header bytes instead.
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) && bytes.size() >= 26) {
    out->bit_depth = bytes[24];
    out->colour_type = bytes[25];
    image.format = PNG_FORMAT_RGBA;
    out->width = image.width;
    out->height = image.height;
    out->rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (png_image_finish_read(&image, nullptr, out->rgba.data(), 0, nullptr)) return true;
  }
  *error = image.message;
  png_image_free(&image);
  return false;
}

bool read_png(const std::string& path, RgbaImage* out, std::string* error) {
  const std::string bytes = read_file(path);
  if (bytes.empty()) *error = path + ": cannot read";
  return !bytes.empty() && read_png_memory({bytes.begin(), bytes.end()}, out, error);
}

}  // namespace kastrel_testing
