#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/math/math.h"

// Text in TrueType and OpenType fonts, anti-aliased, drawn onto image buffers or the screen.
namespace KASTREL::GRAPHICS {

// How each line sits on X: TEXTLEFT starts its pen at X, TEXTCENTRE centres its advance width
// on X (the pen starts at X - ADVANCE / 2, rounded down), TEXTRIGHT ends its advance at X.
enum TEXTALIGN : int32_t {
  TEXTLEFT = 0,
  TEXTCENTRE = 1,
  TEXTRIGHT = 2,
};

// A text's layout as drawn at (X, Y). Text is placed by its lines, never by its ink: the first
// line's top is row Y, its baseline ASCENT rows lower, and each next line LINEHEIGHT further.
// W is the widest line's advance and H = LINES x LINEHEIGHT. INK, relative to (X, Y) for the
// alignment asked, is the closed rectangle of exactly the pixels DRAW touches (ink on each of
// its edges; {0, 0, -1, -1} when nothing inks): it may reach outside the layout box (a
// descender, an accent above the ascent, a "j" left of the pen) and is what a game marks
// changed. Glyph ink is never cut, only a target's edges and clip rectangle cut it. All 0 (and
// INK empty) when measuring failed. There is no origin to read any more: the first pen position
// is always (X, Y + ASCENT) for TEXTLEFT, whatever the text holds.
struct TEXTSIZE {
  int32_t W = 0;
  int32_t H = 0;
  int32_t ASCENT = 0;
  int32_t LINEHEIGHT = 0;
  int32_t LINES = 0;
  MATH::RECT INK{0, 0, -1, -1};
};

// A font at one pixel size, with the glyphs it has drawn kept ready (each glyph is rasterised
// once; each colour of it is made once), so drawing a changing score every pass costs about
// what blitting the same area costs.
//
// Texts are UTF-8; "\n" starts a new line ("\r" is skipped, and so are Unicode's invisible
// formatting characters, its default-ignorable ones: the soft hyphen, zero-width spaces and
// joiners, direction marks, variation selectors; they draw nothing and take no room). A text
// with invalid UTF-8 is refused as a whole. Glyphs neither the font nor its fallbacks
// (ADDFALLBACK) have draw as the font's missing-glyph box. Letters are placed
// one after another with the font's kerning; there is no complex-script shaping.
//
// Calls that fail return FALSE, an empty TEXTSIZE or an empty BITMAP and leave the reason in
// KASTREL::LASTERROR(). A FONT is for one thread at a time; it can be moved, not copied.
class FONT {
 public:
  // No font open: drawing and measuring fail until OPEN succeeds.
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
  // Lets go of the font and its fallbacks; ISOPEN: whether a font is held.
  void CLOSE();
  BOOLEAN ISOPEN() const;
  // Glyphs the font lacks come from its fallbacks, glyph by glyph, at the same size on the same
  // baseline: first the game's, in the order added, then a CJK font of the system's where one
  // is installed (Debian's fonts-wqy-microhei or fonts-droid-fallback). FALSE, with
  // LASTERROR(), without a font or for a file the font library cannot open. OPEN closes them.
  BOOLEAN ADDFALLBACK(const std::string& FILENAME);

  // The pixel size it was opened at, the baseline's distance from a line's top, and the
  // distance from one line's top to the next; 0 without a font.
  int32_t SIZE() const;
  int32_t ASCENT() const;
  int32_t LINEHEIGHT() const;

  // TEXT's layout box and ink when drawn with ALIGN (its ink depends on the alignment).
  TEXTSIZE MEASURE(const char* TEXT, TEXTALIGN ALIGN = TEXTLEFT) const;
  TEXTSIZE MEASURE(const std::string& TEXT, TEXTALIGN ALIGN = TEXTLEFT) const {
    return MEASURE(TEXT.c_str(), ALIGN);
  }

  // Draws TEXT in COLOR (0xAARRGGBB) onto DEST (an image handle; null: the screen, with the
  // rows drawn on marked changed) with its first line's top at row Y and each line placed on X
  // by ALIGN (TEXTSIZE above). On the screen, coordinates are relative to the view.
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

  // A new 32-bit bitmap of the text's INK box holding the text drawn with VOXPSET on COLOR's
  // RGB at alpha 0: drawn with VOXALPHA at (X + INK.X, Y + INK.Y) it shows what DRAW at (X, Y)
  // shows.
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
