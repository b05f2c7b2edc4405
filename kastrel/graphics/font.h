#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"

// Text in TrueType and OpenType fonts, anti-aliased, drawn onto image buffers or the screen.
namespace KASTREL::GRAPHICS {

// Where X lies in a drawn text's box, which covers columns L to L + W - 1 (both edges drawn
// on, like every rectangle of the engine): TEXTLEFT puts the first column at X (L = X),
// TEXTCENTRE the middle one (L = X - (W - 1) / 2, the left of the two middles when W is even)
// and TEXTRIGHT the last one (L = X - (W - 1)). Each line of a block is placed the same way:
// its own first, middle or last inked column lies in column X.
enum TEXTALIGN : int32_t {
  TEXTLEFT = 0,
  TEXTCENTRE = 1,
  TEXTRIGHT = 2,
};

// The box a text's ink fills: W x H pixels, every pixel the glyphs touch inside it and some on
// each of its edges: descenders, accents above the font's ascent, a first glyph reaching left
// of the pen and a last one past its advance. Blank lines and spaces take no room of their
// own; lines still step by LINEHEIGHT. ORIGINX, ORIGINY: where the first line's pen starts on
// its baseline, from the box's top-left (it may lie outside the box: "-" has its baseline
// below it). To put the first baseline at row B, draw at Y = B - ORIGINY. ASCENT is the
// font's: a line's baseline lies ASCENT rows below the line's top. An inkless text ("", "  ")
// has W = H = 0. All 0 when measuring failed.
struct TEXTSIZE {
  int32_t W = 0;
  int32_t H = 0;
  int32_t ASCENT = 0;
  int32_t LINEHEIGHT = 0;
  int32_t LINES = 0;
  int32_t ORIGINX = 0;
  int32_t ORIGINY = 0;
};

// A font at one pixel size, with the glyphs it has drawn kept ready (each glyph is rasterised
// once; each colour of it is made once), so drawing a changing score every pass costs about
// what blitting the same area costs.
//
// Texts are UTF-8; "\n" starts a new line ("\r" is skipped). A text with invalid UTF-8 is
// refused as a whole. Glyphs the font lacks draw as its missing-glyph box. Letters are placed
// one after another with the font's kerning; there is no complex-script shaping.
//
// Calls that fail return FALSE, an empty TEXTSIZE or an empty BITMAP and leave the reason in
// KASTREL::LASTERROR(). A FONT is for one thread at a time; it can be moved, not copied.
class FONT {
 public:
  FONT();
  // OPEN(FILENAME, SIZE).
  FONT(const std::string& FILENAME, int32_t SIZE);
  FONT(FONT&& OTHER) noexcept;
  FONT& operator=(FONT&& OTHER) noexcept;
  FONT(const FONT&) = delete;
  FONT& operator=(const FONT&) = delete;
  ~FONT();

  // Opens a font file at SIZE pixels (1 to 1024), closing the font held before. On failure
  // the FONT holds none.
  BOOLEAN OPEN(const std::string& FILENAME, int32_t SIZE);
  // The same from a whole font file in memory (copied: MEM may go away afterwards).
  BOOLEAN OPENMEMORY(const void* MEM, int32_t BYTES, int32_t SIZE);
  // The engine's own font (DejaVu Sans, shipped beside the program or from the system's fonts;
  // see DEFAULTFONTPATH), needing no file from the game.
  BOOLEAN OPENDEFAULT(int32_t SIZE);
  void CLOSE();
  BOOLEAN ISOPEN() const;

  // The pixel size it was opened at, the baseline's distance from a line's top, and the
  // distance from one line's top to the next; 0 without a font.
  int32_t SIZE() const;
  int32_t ASCENT() const;
  int32_t LINEHEIGHT() const;

  // The box TEXT fills when drawn with ALIGN (a block's lines may line up differently, so
  // its width can depend on it). Drawing never puts a pixel outside it, nor leaves one out.
  TEXTSIZE MEASURE(const char* TEXT, TEXTALIGN ALIGN = TEXTLEFT) const;
  TEXTSIZE MEASURE(const std::string& TEXT, TEXTALIGN ALIGN = TEXTLEFT) const {
    return MEASURE(TEXT.c_str(), ALIGN);
  }

  // Draws TEXT in COLOR (0xAARRGGBB) onto DEST (an image handle; null: the screen, with the
  // rows drawn on marked changed) with its measured box's top row at Y and, by ALIGN, its
  // first, middle or last column at X. On the screen, coordinates are relative to the view.
  // VOXALPHA blends each pixel by the glyph's coverage times COLOR's alpha, as DRAWTO blends
  // by a source alpha; VOXPSET writes COLOR with that alpha into every pixel the glyphs touch,
  // so drawing the same text again changes nothing. No other raster operation is taken.
  // 16- and 8-bit targets get the narrowed colour where a glyph covers half a pixel or more.
  BOOLEAN DRAW(void* DEST, int32_t X, int32_t Y, const char* TEXT, uint32_t COLOR,
               TEXTALIGN ALIGN = TEXTLEFT, RASTEROP METHOD = VOXALPHA);
  BOOLEAN DRAW(void* DEST, int32_t X, int32_t Y, const std::string& TEXT, uint32_t COLOR,
               TEXTALIGN ALIGN = TEXTLEFT, RASTEROP METHOD = VOXALPHA) {
    return DRAW(DEST, X, Y, TEXT.c_str(), COLOR, ALIGN, METHOD);
  }
  // The same onto a bitmap's image; an empty bitmap stands for the screen.
  BOOLEAN DRAW(BITMAP& DEST, int32_t X, int32_t Y, const char* TEXT, uint32_t COLOR,
               TEXTALIGN ALIGN = TEXTLEFT, RASTEROP METHOD = VOXALPHA);
  BOOLEAN DRAW(BITMAP& DEST, int32_t X, int32_t Y, const std::string& TEXT, uint32_t COLOR,
               TEXTALIGN ALIGN = TEXTLEFT, RASTEROP METHOD = VOXALPHA) {
    return DRAW(DEST, X, Y, TEXT.c_str(), COLOR, ALIGN, METHOD);
  }

  // A new 32-bit bitmap of the text's measured size holding the text drawn with VOXPSET on
  // COLOR's RGB at alpha 0: draw it with VOXALPHA wherever the text is needed unchanged.
  BITMAP RENDER(const char* TEXT, uint32_t COLOR, TEXTALIGN ALIGN = TEXTLEFT) const;
  BITMAP RENDER(const std::string& TEXT, uint32_t COLOR, TEXTALIGN ALIGN = TEXTLEFT) const {
    return RENDER(TEXT.c_str(), COLOR, ALIGN);
  }

  struct STATE;

 private:
  std::unique_ptr<STATE> S;
};

// Where OPENDEFAULT looks for its font: the environment variable KASTREL_DEFAULT_FONT when set,
// else DejaVuSans.ttf shipped with the game (data/fonts/ beside the program, or
// share/kastrel/fonts/ beside the program's folder, as `make install` puts it), otherwise the
// place Debian's fonts-dejavu-core installs DejaVu Sans.
const char* DEFAULTFONTPATH();

}  // namespace KASTREL::GRAPHICS
