// Text's pixels as a hash per size, so that the same font file can be checked to draw the same on
// every system (tools/test-windows.sh under Wine, tools/test-web-pages.py under Node):
//   kastrel_font_hashes FONT [FIRST LAST [glyphs]]
// draws every character the font itself has among the page font's ranges (U+0020 to U+FFFD
// below), one by one with FONT::RENDER, at each size from FIRST to LAST pixels (8 to 96 unless
// given), and prints "SIZE HASH INKED" per size: the hash of every character's ink box and
// pixels, and how many inked. With "glyphs", a line "SIZE CODE HASH" per character instead, to
// see where two systems part.

// A console program: its main is its own, not SDL's.
#define SDL_MAIN_HANDLED
#include <SDL2/SDL_ttf.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/graphics/font.h"

using namespace KASTREL;

namespace {

// The characters of KASTREL_WEB_FONT_RANGES (cmake/KastrelGame.cmake), the page's font.
constexpr uint32_t RANGES[][2] = {{0x20, 0x24F},    {0x2B0, 0x36F},   {0x370, 0x52F},
                                  {0x2000, 0x20CF}, {0x2100, 0x22FF}, {0x2500, 0x25FF},
                                  {0xFFFD, 0xFFFD}};

struct HASH {
  uint64_t h = 1469598103934665603u;
  void add(uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8) h = (h ^ (v & 0xFF)) * 1099511628211u;
  }
};

// Adds the character's ink box and every pixel of its picture; false when it drew nothing.
bool add_glyph(HASH& hash, GRAPHICS::FONT& font, uint32_t code) {
  char text[5] = {};
  if (code < 0x80) {
    text[0] = char(code);
  } else if (code < 0x800) {
    text[0] = char(0xC0 | code >> 6), text[1] = char(0x80 | (code & 0x3F));
  } else {
    text[0] = char(0xE0 | code >> 12), text[1] = char(0x80 | ((code >> 6) & 0x3F));
    text[2] = char(0x80 | (code & 0x3F));
  }
  const GRAPHICS::TEXTSIZE size = font.MEASURE(text);
  hash.add(code);
  hash.add(uint64_t(uint32_t(size.W)) << 32 | uint32_t(size.INK.X));
  hash.add(uint64_t(uint32_t(size.INK.Y)) << 32 | uint32_t(size.INK.W));
  hash.add(uint32_t(size.INK.H));
  if (size.INK.W < 0) return false;
  GRAPHICS::BITMAP picture = font.RENDER(text, 0xFFFFFFFF);
  for (uint32_t y = 0; y < picture.HEIGHT(); ++y)
    for (uint32_t x = 0; x < picture.WIDTH(); ++x)
      hash.add(picture.PIXELALPHA({int32_t(x), int32_t(y)}));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: kastrel_font_hashes FONT [FIRST LAST [glyphs]]\n");
    return 2;
  }
  const std::vector<std::string> args = PLATFORM::PROGRAMARGUMENTS(argc, argv);
  const int first = argc > 2 ? std::atoi(args[2].c_str()) : 8,
            last = argc > 2 ? std::atoi(args[3].c_str()) : 96;
  const bool each = argc > 4 && args[4] == "glyphs";
  // Which characters the file itself has, read once through the font library: the engine's own
  // FONT would draw the rest from the system's fallback fonts, which differ between systems.
  std::vector<uint8_t> file;
  std::string reason;
  if (!PLATFORM::READWHOLEFILE(args[1], 0, &file, &reason)) {
    std::fprintf(stderr, "kastrel_font_hashes: %s: %s\n", args[1].c_str(), reason.c_str());
    return 1;
  }
  std::vector<uint32_t> codes;
  if (TTF_Init() != 0) return 1;
  if (TTF_Font* probe = TTF_OpenFontRW(SDL_RWFromConstMem(file.data(), int(file.size())), 1, 12)) {
    for (const auto& range : RANGES)
      for (uint32_t c = range[0]; c <= range[1]; ++c)
        if (TTF_GlyphIsProvided32(probe, c)) codes.push_back(c);
    TTF_CloseFont(probe);
  }
  TTF_Quit();
  if (codes.empty()) {
    std::fprintf(stderr, "kastrel_font_hashes: %s has none of the characters\n", args[1].c_str());
    return 1;
  }
  for (int size = first; size <= last; ++size) {
    GRAPHICS::FONT font;
    if (!font.OPENMEMORY(file.data(), int32_t(file.size()), size)) {
      std::fprintf(stderr, "kastrel_font_hashes: %s\n", LASTERROR());
      return 1;
    }
    HASH hash;
    int drawn = 0;
    for (uint32_t c : codes) {
      HASH one;
      drawn += add_glyph(each ? one : hash, font, c);
      if (each) std::printf("%d %04X %016" PRIx64 "\n", size, unsigned(c), one.h);
    }
    if (!each) std::printf("%d %016" PRIx64 " %d\n", size, hash.h, drawn);
  }
  return 0;
}
