// kastrel_thumbnail: a picture made smaller for a web page, each output pixel the average of the
// square of pixels it stands for (a whole number of them a side, so no pixel counts twice):
//   kastrel_thumbnail IN.png OUT.png WIDTH
// The result is at most WIDTH pixels wide, as close to it as a whole step allows, written as an
// RGB PNG. `make web` makes the gallery's thumbnails with it from frames of recorded sessions.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/png/png_save.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kastrel_thumbnail IN.png OUT.png WIDTH\n");
    return 2;
  }
  char* end = nullptr;
  const long width = std::strtol(argv[3], &end, 10);
  if (*end != '\0' || width < 1 || width > 4096) {
    std::fprintf(stderr, "kastrel_thumbnail: WIDTH '%s' is not a number from 1 to 4096\n", argv[3]);
    return 2;
  }
  KASTREL::GRAPHICS::BITMAP in;
  if (!in.LOADFROMFILE(argv[1]) || in.BPP() != 4) {
    std::fprintf(stderr, "kastrel_thumbnail: %s: %s\n", argv[1],
                 in.BPP() == 4 || !in.HANDLE() ? KASTREL::LASTERROR() : "not a 32-bit picture");
    return 1;
  }
  const uint32_t step = (in.WIDTH() + uint32_t(width) - 1) / uint32_t(width);
  const uint32_t w = in.WIDTH() / step, h = in.HEIGHT() / step;
  if (w == 0 || h == 0) {
    std::fprintf(stderr, "kastrel_thumbnail: %s is too small to make smaller\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t sum[3] = {0, 0, 0};
      for (uint32_t j = 0; j < step; ++j)
        for (uint32_t i = 0; i < step; ++i) {
          const uint32_t p = in.PIXEL({int32_t(x * step + i), int32_t(y * step + j)});
          sum[0] += p >> 16 & 0xFF, sum[1] += p >> 8 & 0xFF, sum[2] += p & 0xFF;
        }
      for (int c = 0; c < 3; ++c)
        rgb[(size_t(y) * w + x) * 3 + size_t(c)] =
            uint8_t((sum[c] + step * step / 2) / (step * step));
    }
  if (!png_save(argv[2], rgb.data(), w, h, size_t(w) * 3, PNG_RGB)) {
    std::fprintf(stderr, "kastrel_thumbnail: %s: %s\n", argv[2], KASTREL::LASTERROR());
    return 1;
  }
  return 0;
}
