// libFuzzer target for the PNG decoder's memory entry point. Each input is decoded as it is and
// again with every chunk's CRC made good, since nearly every mutation of a real file otherwise
// stops at the first CRC check. Whatever decodes must be a complete image of the size its
// header (or, for the headerless texture form, the file's IHDR) implies.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kastrel/png/png_image.h"
#include "kastrel/png/testing/png_writer.h"

namespace {

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void Decode(const std::vector<uint8_t>& file) {
  for (int32_t target = 0; target <= 4; ++target) {
    auto* image = static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target));
    if (image == nullptr) continue;
    Check(target >= 1 && target <= 3 && file.size() >= 24);
    const uint32_t width = BE32(&file[16]), height = BE32(&file[20]);
    size_t size = size_t(width) * height * 4;
    if (target == 1) {
      Check(LE32(image) == (4 | width << 3 | height << 16));
      size += 4;
    } else if (target == 2) {
      const uint32_t pitch = LE32(image + 16);
      Check(LE32(image) == 7 && LE32(image + 4) == 4 && LE32(image + 8) == width &&
            LE32(image + 12) == height && pitch % 32 == 0 && pitch / 4 >= width &&
            pitch - width * 4 < 32);
      size = 32 + size_t(pitch) * height;
    }
    // Reading every byte lets AddressSanitizer see an image shorter than it claims.
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = uint8_t(sum + image[i]);
    volatile uint8_t sink = sum;
    (void)sink;
    std::free(image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > INT32_MAX) return 0;
  std::vector<uint8_t> file(data, data + size);
  Decode(file);
  pngtest::RepairCrcs(file.data(), file.size());
  if (std::memcmp(file.data(), data, size) != 0) Decode(file);
  return 0;
}
