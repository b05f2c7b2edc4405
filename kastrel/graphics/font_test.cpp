#include "kastrel/graphics/font.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
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
  // The rectangle [x0, x1) x [y0, y1) of pixels that differ from 0; x1 == 0 when none do.
  static std::array<int32_t, 4> Ink(const BITMAP& b) {
    std::array<int32_t, 4> box{INT32_MAX, INT32_MAX, 0, 0};
    for (int32_t y = 0; y < int32_t(b.HEIGHT()); ++y)
      for (int32_t x = 0; x < int32_t(b.WIDTH()); ++x)
        if (b.PIXEL({x, y})) box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1), std::max(box[3], y + 1)};
    return box;
  }
  FONT font;
};

TEST_F(Text, InkStaysInTheMeasuredBox) {
  const char* texts[] = {"Score 1234", "Größe → été", "j", "W", "g\nÉ", "é", "→", "Paused", "  A  "};
  for (const char* text : texts) {
    for (TEXTALIGN align : {TEXTLEFT, TEXTCENTRE, TEXTRIGHT}) {
      BITMAP target(300, 160, 0, 32);
      const TEXTSIZE size = font.MEASURE(text);
      ASSERT_GT(size.W, 0) << text;
      ASSERT_EQ(size.H, (size.LINES - 1) * font.LINEHEIGHT() + size.H - (size.LINES - 1) * size.LINEHEIGHT);
      const int32_t x = 40 + (align == TEXTCENTRE ? size.W / 2 : align == TEXTRIGHT ? size.W : 0);
      ASSERT_TRUE(font.DRAW(target, x, 30, text, 0xFFFFFFFF, align, VOXPSET)) << LASTERROR();
      const auto ink = Ink(target);
      EXPECT_GE(ink[0], 40) << text;
      EXPECT_GE(ink[1], 30) << text;
      EXPECT_LE(ink[2], 40 + size.W) << text;
      EXPECT_LE(ink[3], 30 + size.H) << text;
      EXPECT_GT(ink[2], 0) << text;
      // The same text again, in the same place: not one pixel changes.
      BITMAP again(300, 160, 0, 32);
      again.HANDLE();
      target.DRAWTO(again, 0, 0, 0, 0, 0, 0, VOXPSET);
      ASSERT_TRUE(font.DRAW(again, x, 30, text, 0xFFFFFFFF, align, VOXPSET));
      for (int32_t yy = 0; yy < 160; ++yy)
        for (int32_t xx = 0; xx < 300; ++xx) ASSERT_EQ(again.PIXEL({xx, yy}), target.PIXEL({xx, yy}));
    }
  }
  // Every glyph of the accented line inks its own cell.
  for (const char* glyph : {"G", "r", "ö", "ß", "e", "→", "é", "t"}) {
    BITMAP cell(60, 60, 0, 32);
    ASSERT_TRUE(font.DRAW(cell, 5, 5, glyph, 0xFFFFFFFF, TEXTLEFT, VOXPSET));
    EXPECT_GT(Ink(cell)[2], 0) << glyph;
  }
}

TEST_F(Text, LinesStepByTheLineHeightAndAlphaFadesAsABlit) {
  BITMAP one(100, 100, 0, 32), two(100, 100, 0, 32);
  ASSERT_TRUE(font.DRAW(one, 10, 10 + font.LINEHEIGHT(), "Ab", 0xFFFFFFFF));
  ASSERT_TRUE(font.DRAW(two, 10, 10, "\nAb", 0xFFFFFFFF));
  EXPECT_EQ(font.MEASURE("\nAb").H, font.MEASURE("Ab").H + font.LINEHEIGHT());
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(one.PIXEL({x, y}), two.PIXEL({x, y}));

  // Text at half alpha blends as the rendered text blitted with VOXALPHA does.
  BITMAP direct(200, 60, 0xFF336699, 32), blit(200, 60, 0xFF336699, 32);
  ASSERT_TRUE(font.DRAW(direct, 7, 9, "Größe → été", 0x80FFE0C0));
  const BITMAP rendered = font.RENDER("Größe → été", 0x80FFE0C0);
  ASSERT_EQ(int32_t(rendered.WIDTH()), font.MEASURE("Größe → été").W);
  rendered.DRAWTO(blit, 7, 9, 0, 0, 0, 0, VOXALPHA);
  EXPECT_GT(Ink(direct)[2], 0);
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
