#include "kastrel/base/detail/platform.h"
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
    PLATFORM::SETENVIRONMENT("VOXGFX", "null");
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

// The ink's box on the target, from the point drawn at and MEASURE's INK.
std::array<int32_t, 4> Expected(int32_t x, int32_t y, const TEXTSIZE& size) {
  if (size.INK.W < 0) return {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  return {x + size.INK.X, y + size.INK.Y, x + size.INK.X + size.INK.W + 1, y + size.INK.Y + size.INK.H + 1};
}

TEST_F(Text, PlacedByItsLinesWithInkMeasuredExactly) {
  const std::string tall = "ỖẪǺ jgqpy_J(),;";
  std::vector<std::string> texts = {tall, "Ỗ", "Ǻ", "Jump", "jumpy gq", "中文 名字", "Größe → été", "  "};
  std::string ascii;
  for (char c = '!'; c <= '~'; ++c) texts.emplace_back(1, c), ascii += c;
  const std::string blocks[] = {ascii.substr(0, 32) + "\n" + ascii.substr(32, 31) + "\n" + ascii.substr(63), tall + "\njumpy gq\n\nJump", "Ỗ\n_"};
  texts.insert(texts.end(), std::begin(blocks), std::end(blocks));
  ASSERT_EQ(TTF_Init(), 0);
  for (int32_t px : {8, 11, 16, 24, 40, 96}) {
    ASSERT_TRUE(font.OPENDEFAULT(px));
    TTF_Font* reference = TTF_OpenFont(DEFAULTFONTPATH(), px);
    ASSERT_NE(reference, nullptr);
    const int32_t lh = font.LINEHEIGHT(), margin = 2 * px;
    for (const std::string& text : texts) {
      const int64_t expected = ReferenceInk(reference, text);
      for (TEXTALIGN align : {TEXTLEFT, TEXTCENTRE, TEXTRIGHT}) {
        const TEXTSIZE size = font.MEASURE(text, align);
        ASSERT_EQ(size.H, size.LINES * lh);
        const int32_t x = margin + (align == TEXTLEFT ? 0 : align == TEXTCENTRE ? size.W / 2 : size.W);
        BITMAP target(size.W + 2 * margin, size.H + 2 * margin, 0, 32);
        ASSERT_TRUE(font.DRAW(target, x, margin, text, 0xFFFFFFFF, align, VOXPSET)) << LASTERROR();
        const Inked ink = InkOf(target);
        EXPECT_EQ(ink.box, Expected(x, margin, size)) << text << " at " << px << " px, " << align;
        // The font library's own drawing knows no fallbacks: CJK glyphs come from another font.
        if (expected > 0 && text.find("\xE4") == std::string::npos && text.find("\xE5") == std::string::npos) {
          EXPECT_LE(std::abs(ink.sum - expected), expected / 1000) << text << " at " << px << " px";
        }
        // Drawn again in the same place it changes nothing, touching letters included.
        ASSERT_TRUE(font.DRAW(target, x, margin, text, 0xFFFFFFFF, align, VOXPSET));
        EXPECT_EQ(InkOf(target).sum, ink.sum) << text;
        // Each line of a block is that line drawn alone LINEHEIGHT lower.
        if (text.find('\n') == std::string::npos) continue;
        BITMAP lines(size.W + 2 * margin, size.H + 2 * margin, 0, 32);
        std::string rest = text + "\n";
        for (int32_t i = 0; !rest.empty(); ++i, rest.erase(0, rest.find('\n') + 1))
          ASSERT_TRUE(font.DRAW(lines, x, margin + i * lh, rest.substr(0, rest.find('\n')), 0xFFFFFFFF, align, VOXPSET));
        for (int32_t yy = 0; yy < int32_t(target.HEIGHT()); ++yy)
          for (int32_t xx = 0; xx < int32_t(target.WIDTH()); ++xx) ASSERT_EQ(target.PIXEL({xx, yy}), lines.PIXEL({xx, yy})) << text;
      }
    }
    TTF_CloseFont(reference);
    // The first glyph keeps its pixels whatever follows it: its pen moves only by the
    // alignment's share of the line's advance, never up or down.
    for (const char* rest : {"", "  gjy", "  ÅÉ", "  中文", "  ____"}) {
      for (TEXTALIGN align : {TEXTLEFT, TEXTCENTRE, TEXTRIGHT}) {
        const TEXTSIZE alone = font.MEASURE("H", align), whole = font.MEASURE(std::string("H") + rest, align);
        const int32_t shift = align == TEXTLEFT ? 0 : align == TEXTCENTRE ? alone.W / 2 - whole.W / 2 : alone.W - whole.W;
        BITMAP a(8 * px, 4 * px, 0, 32), b(8 * px, 4 * px, 0, 32);
        ASSERT_TRUE(font.DRAW(a, 4 * px + shift, px, "H", 0xFFFFFFFF, align, VOXPSET));
        ASSERT_TRUE(font.DRAW(b, 4 * px, px, std::string("H") + rest, 0xFFFFFFFF, align, VOXPSET));
        const auto box = InkOf(a).box;
        for (int32_t yy = 0; yy < 4 * px; ++yy)
          for (int32_t xx = box[0]; xx < box[2]; ++xx) ASSERT_EQ(a.PIXEL({xx, yy}), b.PIXEL({xx, yy})) << rest << px;
      }
    }
    // A line of capitals stands on the baseline ASCENT below Y.
    BITMAP caps(8 * px, 4 * px, 0, 32);
    ASSERT_TRUE(font.DRAW(caps, 4, 7, "HEIM", 0xFFFFFFFF, TEXTLEFT, VOXPSET));
    EXPECT_EQ(InkOf(caps).box[3], 7 + font.ASCENT()) << px;
    EXPECT_EQ(InkOf(caps).box[0], 4 + font.MEASURE("HEIM").INK.X) << px;
  }
  TTF_Quit();
  const TEXTSIZE blank = font.MEASURE("  \n ");
  EXPECT_EQ((std::array<int32_t, 5>{blank.INK.X, blank.INK.Y, blank.INK.W, blank.INK.H, blank.LINES}),
            (std::array<int32_t, 5>{0, 0, -1, -1, 2}));
}

TEST_F(Text, AlphaFadesAsABlitAndTheScreenRowsAreMarked) {
  // Text at half alpha blends as the rendered text blitted with VOXALPHA does.
  BITMAP direct(200, 60, 0xFF336699, 32), blit(200, 60, 0xFF336699, 32);
  ASSERT_TRUE(font.DRAW(direct, 7, 9, "Größe → été", 0x80FFE0C0));
  const BITMAP rendered = font.RENDER("Größe → été", 0x80FFE0C0);
  const MATH::RECT ink = font.MEASURE("Größe → été").INK;
  ASSERT_EQ(int32_t(rendered.WIDTH()), ink.W + 1);
  rendered.DRAWTO(blit, 7 + ink.X, 9 + ink.Y, 0, 0, 0, 0, VOXALPHA);
  EXPECT_GT(InkOf(direct).sum, 0);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 200; ++x) ASSERT_EQ(direct.PIXEL({x, y}), blit.PIXEL({x, y})) << x << "," << y;

  // On the screen, the rows of the box are marked changed.
  std::memset(__vox_gfx->dirty, 0, 200);
  ASSERT_TRUE(font.DRAW(nullptr, 160, 100, "Paused", 0xFFFFFFFF, TEXTCENTRE));
  const MATH::RECT paused = font.MEASURE("Paused").INK;
  int32_t marked = 0;
  for (int32_t y = 0; y < 200; ++y) {
    if (!__vox_gfx->dirty[y]) continue;
    ++marked;
    EXPECT_TRUE(y >= 100 + paused.Y && y <= 100 + paused.Y + paused.H) << y;
  }
  EXPECT_EQ(marked, paused.H + 1);
}

// A glyph the font lacks comes from a CJK font where one is installed, or from the game's own.
TEST_F(Text, FallbackFontsDrawWhatTheFontLacks) {
  const char* cjk = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
  if (access(cjk, R_OK) != 0) GTEST_SKIP() << "no CJK font at " << cjk << " (Debian's fonts-wqy-microhei)";
  ASSERT_EQ(TTF_Init(), 0);
  TTF_Font* own = TTF_OpenFont(DEFAULTFONTPATH(), 24);
  TTF_Font* fallback = TTF_OpenFont(cjk, 24);
  ASSERT_TRUE(own && fallback);
  FONT added;
  ASSERT_TRUE(added.OPEN(DEFAULTFONTPATH(), 24) && added.ADDFALLBACK(cjk)) << LASTERROR();
  for (FONT* f : {&font, &added}) {
    BITMAP target(100, 60, 0, 32);
    ASSERT_TRUE(f->DRAW(target, 10, 10, "中文", 0xFFFFFFFF, TEXTLEFT, VOXPSET));
    const int64_t sum = InkOf(target).sum, expected = ReferenceInk(fallback, "中文");
    EXPECT_LE(std::abs(sum - expected), expected / 1000) << sum << " of " << expected;
    EXPECT_NE(sum, ReferenceInk(own, "中文"));  // not the missing-glyph boxes
    // On the font's own baseline: the ideographs end near it, as the capitals do.
    BITMAP line(200, 60, 0, 32);
    ASSERT_TRUE(f->DRAW(line, 10, 10, "中", 0xFFFFFFFF, TEXTLEFT, VOXPSET));
    EXPECT_NEAR(InkOf(line).box[3], 10 + f->ASCENT(), 4);
  }
  TTF_CloseFont(own);
  TTF_CloseFont(fallback);
  TTF_Quit();
  FONT closed;
  EXPECT_FALSE(closed.ADDFALLBACK(cjk));
  EXPECT_FALSE(added.ADDFALLBACK("/nonexistent/font.ttf"));
  EXPECT_NE(std::string(LASTERROR()).find("/nonexistent/font.ttf"), std::string::npos);
}

// Invisible formatting characters (a soft hyphen, a zero-width space, a word joiner, a
// left-to-right mark, a variation selector) draw nothing and take no room, whether or not the
// font library shapes text: the same text looks the same on every system.
TEST_F(Text, InvisibleFormattingCharactersDrawNothing) {
  const TEXTSIZE plain = font.MEASURE("ab");
  const int64_t ink = InkOf(font.RENDER("ab", 0xFFFFFFFF)).sum;
  for (const char* text : {"a\u00ADb", "a\u200Bb", "a\u2060b", "a\u200Eb", "a\uFE0Fb"}) {
    EXPECT_EQ(font.MEASURE(text).W, plain.W) << text;
    EXPECT_EQ(InkOf(font.RENDER(text, 0xFFFFFFFF)).sum, ink) << text;
  }
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
        PLATFORM::SETENVIRONMENT("KASTREL_DEFAULT_FONT", "/nonexistent/default.ttf");
        FONT f;
        // The reason says what to ship (and, where the system has a copy, what to install).
        return f.OPENDEFAULT(12) == FALSE && std::strstr(LASTERROR(), "DejaVuSans.ttf") &&
               std::strstr(LASTERROR(), "data/fonts/ beside the program");
      },
  };
  for (size_t i = 0; i < std::size(refused); ++i) {
    CLEARLASTERROR();
    EXPECT_TRUE(refused[i]()) << i;
    EXPECT_GT(std::strlen(LASTERROR()), 10u) << i;
  }
}

}  // namespace
