#include "kastrel/graphics/font.h"

#include <SDL2/SDL_ttf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <unistd.h>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(DEFAULTFONTPATH(), R_OK) != 0) GTEST_SKIP() << "no default font at " << DEFAULTFONTPATH();
    setenv("VOXGFX", "null", 1);
    vox_GfxScreenRes(320, 200, 32, 1, 0, 0);
    ASSERT_NE(vox_GfxScreenPtr(), nullptr);
    ASSERT_TRUE(font.OPENDEFAULT(24)) << LASTERROR();
  }
  FONT font;
};

// Every inked pixel's alpha (the text drawn with VOXPSET on transparent black): sum and box.
struct Inked {
  int64_t sum = 0;
  std::array<int32_t, 4> box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};  // x0, y0, x1, y1
};
Inked InkOf(const BITMAP& b) {
  Inked ink;
  for (int32_t y = 0; y < int32_t(b.HEIGHT()); ++y)
    for (int32_t x = 0; x < int32_t(b.WIDTH()); ++x)
      if (const int32_t r = b.PIXELALPHA({x, y})) {
        ink.sum += r;
        ink.box = {std::min(ink.box[0], x), std::min(ink.box[1], y), std::max(ink.box[2], x + 1), std::max(ink.box[3], y + 1)};
      }
  return ink;
}

// The sum of the alpha of the font library's own rendering.
int64_t ReferenceInk(TTF_Font* font, const std::string& text) {
  SDL_Surface* s = TTF_RenderUTF8_Blended_Wrapped(font, text.c_str(), SDL_Color{255, 255, 255, 255}, 0);
  int64_t sum = s ? 0 : -1;
  for (int y = 0; s && y < s->h; ++y)
    for (int x = 0; x < s->w; ++x) sum += static_cast<const uint8_t*>(s->pixels)[y * s->pitch + x * 4 + 3];
  SDL_FreeSurface(s);
  return sum;
}

TEST_F(Text, MeasureBoundsEveryPixelOfInkAndDrawKeepsIt) {
  const std::string tall = "ỖẪǺ jgqpy_J(),;";
  std::vector<std::string> texts = {tall, "Ỗ", "Ẫ", "Ǻ", "Jump", "jumpy gq", "Play again? (y/n)"};
  std::string ascii;
  for (char c = '!'; c <= '~'; ++c) texts.emplace_back(1, c), ascii += c;
  const std::string blocks[] = {ascii.substr(0, 32) + "\n" + ascii.substr(32, 31) + "\n" + ascii.substr(63), tall + "\njumpy gq\n\nJump", "Ỗ\n_"};
  texts.insert(texts.end(), std::begin(blocks), std::end(blocks));
  ASSERT_EQ(TTF_Init(), 0);
  for (int32_t px : {8, 12, 16, 24, 40, 96}) {
    ASSERT_TRUE(font.OPENDEFAULT(px));
    TTF_Font* reference = TTF_OpenFont(DEFAULTFONTPATH(), px);
    ASSERT_NE(reference, nullptr);
    for (const std::string& text : texts) {
      const int64_t expected = ReferenceInk(reference, text);
      for (TEXTALIGN align : {TEXTLEFT, TEXTCENTRE, TEXTRIGHT}) {
        const TEXTSIZE size = font.MEASURE(text, align);
        // X by the alignment rule for a box whose first column is 5: its first, middle or last.
        const int32_t x = 5 + (align == TEXTCENTRE ? (size.W - 1) / 2 : align == TEXTRIGHT ? size.W - 1 : 0);
        BITMAP target(size.W + 10, size.H + 10, 0, 32);
        ASSERT_TRUE(font.DRAW(target, x, 5, text, 0xFFFFFFFF, align, VOXPSET)) << LASTERROR();
        const Inked ink = InkOf(target);
        // Exactly the box: nothing outside it, ink on each of its edges.
        EXPECT_EQ(ink.box, (std::array<int32_t, 4>{5, 5, 5 + size.W, 5 + size.H})) << text << " at " << px << " px, " << align;
        EXPECT_LE(std::abs(ink.sum - expected), expected / 1000) << text << " at " << px << " px: " << ink.sum << " of " << expected;
        // Drawn again in the same place it changes nothing, touching letters included.
        ASSERT_TRUE(font.DRAW(target, x, 5, text, 0xFFFFFFFF, align, VOXPSET));
        EXPECT_EQ(InkOf(target).sum, ink.sum) << text;
      }
      // Each line of a block alone, at the block's baseline and last column, draws what the
      // block drew.
      if (text.find('\n') == std::string::npos) continue;
      const TEXTSIZE size = font.MEASURE(text, TEXTRIGHT);
      BITMAP block(size.W + 10, size.H + 10, 0, 32), lines(size.W + 10, size.H + 10, 0, 32);
      ASSERT_TRUE(font.DRAW(block, 4 + size.W, 5, text, 0xFFFFFFFF, TEXTRIGHT, VOXPSET));
      std::string rest = text + "\n";
      for (int32_t i = 0; !rest.empty(); ++i, rest.erase(0, rest.find('\n') + 1)) {
        const std::string line = rest.substr(0, rest.find('\n'));
        const int32_t y = 5 + size.ORIGINY + i * size.LINEHEIGHT - font.MEASURE(line).ORIGINY;
        ASSERT_TRUE(font.DRAW(lines, 4 + size.W, y, line, 0xFFFFFFFF, TEXTRIGHT, VOXPSET));
      }
      for (int32_t yy = 0; yy < size.H + 10; ++yy)
        for (int32_t xx = 0; xx < size.W + 10; ++xx) ASSERT_EQ(block.PIXEL({xx, yy}), lines.PIXEL({xx, yy})) << text;
    }
    TTF_CloseFont(reference);
  }
  TTF_Quit();
  // Placed by the baseline: "H" and "x" end on the row above it; nothing inked has no box.
  for (const char* text : {"H", "x"}) {
    BITMAP target(100, 100, 0, 32);
    ASSERT_TRUE(font.DRAW(target, 10, 60 - font.MEASURE(text).ORIGINY, text, 0xFFFFFFFF, TEXTLEFT, VOXPSET));
    EXPECT_EQ(InkOf(target).box[3], 60) << text;
  }
  const TEXTSIZE blank = font.MEASURE("  \n ");
  EXPECT_EQ((std::array<int32_t, 3>{blank.W, blank.H, blank.LINES}), (std::array<int32_t, 3>{0, 0, 2}));
}

TEST_F(Text, AlphaFadesAsABlitAndTheScreenRowsAreMarked) {
  // Text at half alpha blends as the rendered text blitted with VOXALPHA does.
  BITMAP direct(200, 60, 0xFF336699, 32), blit(200, 60, 0xFF336699, 32);
  ASSERT_TRUE(font.DRAW(direct, 7, 9, "Größe → été", 0x80FFE0C0));
  const BITMAP rendered = font.RENDER("Größe → été", 0x80FFE0C0);
  ASSERT_EQ(int32_t(rendered.WIDTH()), font.MEASURE("Größe → été").W);
  rendered.DRAWTO(blit, 7, 9, 0, 0, 0, 0, VOXALPHA);
  EXPECT_GT(InkOf(direct).sum, 0);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 200; ++x) ASSERT_EQ(direct.PIXEL({x, y}), blit.PIXEL({x, y})) << x << "," << y;

  // On the screen, the rows of the box are marked changed.
  std::memset(__vox_gfx->dirty, 0, 200);
  ASSERT_TRUE(font.DRAW(nullptr, 160, 100, "Paused", 0xFFFFFFFF, TEXTCENTRE));
  const TEXTSIZE size = font.MEASURE("Paused");
  int32_t marked = 0;
  for (int32_t y = 0; y < 200; ++y) {
    if (!__vox_gfx->dirty[y]) continue;
    ++marked;
    EXPECT_TRUE(y >= 100 && y < 100 + size.H) << y;
  }
  EXPECT_GT(marked, size.H / 2);
}

TEST_F(Text, BadInputFailsWithAReason) {
  const char damaged[] = "\x00\x01\x00\x00 not really a font at all, just bytes";
  FONT closed;
  const std::function<bool()> refused[] = {
      [&] { FONT f; return f.OPEN("/nonexistent/font.ttf", 12) == FALSE && !f.ISOPEN(); },
      [&] { FONT f; return f.OPENMEMORY(damaged, sizeof damaged, 12) == FALSE; },
      [&] { FONT f; return f.OPEN(DEFAULTFONTPATH(), 0) == FALSE; },
      [&] { FONT f; return f.OPENDEFAULT(-3) == FALSE; },
      [&] { return font.DRAW(nullptr, 0, 0, static_cast<const char*>(nullptr), 0xFFFFFFFF) == FALSE; },
      [&] { return font.DRAW(nullptr, 0, 0, "ab\xC3", 0xFFFFFFFF) == FALSE; },
      [&] { return font.MEASURE("\xED\xA0\x80 surrogate").LINES == 0; },
      [&] { return font.RENDER("\xFF", 0xFFFFFFFF).HANDLE() == nullptr; },
      [&] { return font.DRAW(nullptr, 0, 0, "x", 0xFFFFFFFF, TEXTLEFT, VOXXOR) == FALSE; },
      [&] { return closed.MEASURE("x").LINES == 0; },
      [&] {
        setenv("KASTREL_DEFAULT_FONT", "/nonexistent/default.ttf", 1);
        FONT f;
        return f.OPENDEFAULT(12) == FALSE && std::strstr(LASTERROR(), "fonts-dejavu-core");
      },
  };
  for (size_t i = 0; i < std::size(refused); ++i) {
    CLEARLASTERROR();
    EXPECT_TRUE(refused[i]()) << i;
    EXPECT_GT(std::strlen(LASTERROR()), 10u) << i;
  }
}

}  // namespace
