// libFuzzer target for text and fonts. The first byte picks what the rest is:
//  - even: UTF-8 text (any bytes), measured, drawn with both raster operations at every
//    alignment onto a small image, rendered to a bitmap;
//  - odd: damage to the default font: 4-byte records (a 3-byte offset, a byte value) written
//    into a copy of the font file, which is then opened from memory and used to draw.
// Whatever succeeds must keep its promises: ink only inside the measured box.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kastrel/device/display.h"
#include "kastrel/graphics/font.h"
#include "kastrel/graphics/shapes.h"

namespace {

using namespace KASTREL::GRAPHICS;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::vector<uint8_t> ReadFile(const char* path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path, "rb")) {
    uint8_t block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

struct World {
  FONT font;
  std::vector<uint8_t> font_file;
  BITMAP target;
  World() {
    setenv("VOXGFX", "null", 1);
    vox_GfxScreenRes(96, 48, 32, 1, 0, 0);
    font_file = ReadFile(DEFAULTFONTPATH());
    Check(!font_file.empty() && font.OPENDEFAULT(11));
    target.CREATE(96, 48, 0, 32);
  }
};

void Exercise(FONT& font, BITMAP& target, const std::string& text, int32_t x, int32_t y) {
  for (TEXTALIGN align : {TEXTLEFT, TEXTCENTRE, TEXTRIGHT}) {
    const TEXTSIZE size = font.MEASURE(text, align);
    target.CREATE(96, 48, 0, 32);
    if (!font.DRAW(target, x, y, text, 0xFFFFFFFF, align, VOXPSET)) continue;
    Check(size.LINES > 0);
    const int64_t left = int64_t{x} + size.INK.X, top = int64_t{y} + size.INK.Y;
    for (int32_t py = 0; py < 48; ++py)
      for (int32_t px = 0; px < 96; ++px)
        if (target.PIXEL({px, py})) Check(px >= left && px <= left + size.INK.W && py >= top && py <= top + size.INK.H);
    font.DRAW(nullptr, x, y, text, 0x80FFFFFF, align, VOXALPHA);
  }
  const BITMAP rendered = font.RENDER(text, 0xFFFFFFFF);
  Check((rendered.HANDLE() != nullptr) == (font.MEASURE(text).LINES > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World;
  if (size < 3) return 0;
  const int32_t x = int8_t(data[1]), y = int8_t(data[2]) / 4;
  if (data[0] % 2 == 0) {
    Exercise(world->font, world->target, std::string(reinterpret_cast<const char*>(data + 3), size - 3), x, y);
    return 0;
  }
  std::vector<uint8_t> damaged = world->font_file;
  for (size_t i = 3; i + 4 <= size; i += 4) {
    const size_t at = (size_t(data[i]) << 16 | size_t(data[i + 1]) << 8 | data[i + 2]) % damaged.size();
    damaged[at] = data[i + 3];
  }
  FONT font;
  if (font.OPENMEMORY(damaged.data(), int32_t(damaged.size()), 8 + data[0] % 24)) {
    Exercise(font, world->target, "Score 42 \xC3\xA9t\xC3\xA9 \xE2\x86\x92 Wj", x, y);
  }
  return 0;
}
