#pragma once
#include <cstdint>
#include <string>

#include "kastrel/boolean.h"
#include "kastrel/graphics/rasterop.h"
#include "kastrel/math/math.h"

// BITMAP, the engine's picture: loading and saving PNG files, pixel access, drawing with a
// raster operation or turned and scaled (DRAWTRANSFORMED), and the cap on loaded picture sizes.
namespace KASTREL::GRAPHICS {

// How DRAWTO combines each source pixel with the target pixel.
enum RASTEROP : int32_t {
  VOXPSET = 0,    // copy
  VOXPRESET = 1,  // copy the complement
  VOXTRANS = 2,   // copy, skipping magenta; the written pixels get alpha 0
  VOXAND = 3,
  VOXOR = 4,
  VOXXOR = 5,
  VOXALPHA = 6,   // blend by each source pixel's alpha
  VOXADD = 7,     // saturating add, magenta skipped
  VOXCUSTOM = 8,  // the caller's blender
};

// How DRAWTRANSFORMED reads the source between its pixels.
enum SAMPLING : int32_t {
  NEAREST = 0,   // the pixel the sample falls in: hard pixels, for pixel art
  BILINEAR = 1,  // the four pixels around it, weighted (32-bit images; others take NEAREST)
};

// Mirror flags of TRANSFORM.FLIP; a negative scale mirrors the same way.
enum : int32_t { FLIPNONE = 0, FLIPH = 1, FLIPV = 2 };

// How DRAWTRANSFORMED places a bitmap: the source point (PIVOTX, PIVOTY), counted from the
// region's top-left corner, lands on the target point given to the call; the region is scaled
// by SCALEX and SCALEY (a negative scale mirrors, as FLIPH / FLIPV do), then turned by ANGLE
// degrees clockwise on the screen (y grows downwards) around that point. The defaults draw the
// whole bitmap unturned, unscaled, top-left at the point, blended by its alpha.
struct TRANSFORM {
  float ANGLE = 0;  // degrees, clockwise; any value, reduced modulo 360
  float SCALEX = 1;
  float SCALEY = 1;
  float PIVOTX = 0;  // source pixels from the region's left edge; 0.5 is the first pixel's centre
  float PIVOTY = 0;
  int32_t FLIP = FLIPNONE;
  SAMPLING FILTER = NEAREST;
  RASTEROP METHOD = VOXALPHA;
  // Multiplies each sample for VOXALPHA, channel by channel, alpha included:
  // c * (t + 1) >> 8, so 0xFFFFFFFF changes nothing and 0x80FFFFFF halves the opacity.
  uint32_t TINT = 0xFFFFFFFFu;
  // The source region, closed like every RECT: columns X..X + W and rows Y..Y + H, cut to the
  // image; a negative W takes every column, a negative H every row (so a one-pixel-wide frame is
  // W = 0, unlike DRAWTO's shorthand).
  MATH::RECT SOURCE{0, 0, -1, -1};
  VOX_BLENDER BLENDER = nullptr;  // VOXCUSTOM's blender and its parameter
  void* PARAM = nullptr;
};

// The engine's picture: one image buffer with its size at hand, per-pixel access, drawing with
// a raster operation, and a uniform alpha folded into the pixels' alpha bytes.
//
// Copies share: after `B = A` (or `BITMAP B(A)`) both refer to the same image buffer and the
// same saved alpha copy, and whichever bitmap lets go last releases them. A bitmap that takes
// another image lets go of its previous one; an image another bitmap holds is shared, never
// released under it. A saved alpha copy that no longer matches the image's size is dropped.
// The I-fields are read-only outside this type.
struct BITMAP {
  uint32_t IW = 0;
  uint32_t IH = 0;
  int32_t IBPP = 0;
  uint32_t IPITCH = 0;
  void* IMGHANDLE = nullptr;         // image buffer (32-byte header), or null
  uint8_t IALPHA = 255;              // uniform alpha
  uint8_t* IALPHACHANNEL = nullptr;  // saved alpha bytes, column by column: X * IH + Y

  BITMAP() = default;
  // Empty with a null HND; otherwise COPYFROMHANDLE(HND, X, Y, W, H).
  explicit BITMAP(void* HND, int32_t X = 0, int32_t Y = 0, int32_t W = 0, int32_t H = 0);
  // CREATE(W, H, CLR, DEPTH).
  BITMAP(int32_t W, int32_t H, uint32_t CLR, int32_t DEPTH);
  // LOADFROMFILE / LOADFROMMEMORY with the region given.
  BITMAP(const std::string& FILENAME, int32_t X, int32_t Y, int32_t W, int32_t H);
  BITMAP(const void* MEM, int32_t SIZE, int32_t X, int32_t Y, int32_t W, int32_t H);
  BITMAP(const BITMAP& OTHER);
  BITMAP(BITMAP&& OTHER) noexcept;
  BITMAP& operator=(const BITMAP& OTHER);
  BITMAP& operator=(BITMAP&& OTHER) noexcept;
  ~BITMAP();

  // The image buffer this bitmap holds (image.h), or null.
  void* HANDLE() const { return IMGHANDLE; }
  // Takes H (null: no image) and its sizes from its 32-byte header (a block without one is held
  // with sizes 0); H == HANDLE() changes no ownership.
  void HANDLE(void* H);
  // The image's size in pixels, bits per pixel, bytes per row (0 when empty) and uniform alpha.
  uint32_t WIDTH() const { return IW; }
  uint32_t HEIGHT() const { return IH; }
  int32_t BPP() const { return IBPP; }
  uint32_t PITCH() const { return IPITCH; }
  uint8_t ALPHA() const { return IALPHA; }
  // On 32-bit images also rescales every pixel's alpha: from the saved copy when there is one
  // (absolute, A / 255 of the saved byte), otherwise relative to the previous uniform alpha
  // (both counted as at least 25; alpha bytes up to 5 stay).
  void ALPHA(uint8_t A);

  // The pixel accessors do not check PT: it must lie inside a 32-bit image. An empty bitmap
  // reads 0 and takes no writes.
  uint32_t PIXEL(const MATH::POINT& PT) const;
  void PIXEL(const MATH::POINT& PT, uint32_t VALUE);
  uint8_t PIXELALPHA(const MATH::POINT& PT) const;
  uint8_t PIXELRED(const MATH::POINT& PT) const;
  uint8_t PIXELGREEN(const MATH::POINT& PT) const;
  uint8_t PIXELBLUE(const MATH::POINT& PT) const;

  // Draws the closed source rectangle (SRCX, SRCY)-(SRCX + W, SRCY + H), that is W + 1 columns
  // and H + 1 rows (W < 1: the width, H < 1: the height), onto DEST (null: the screen) at
  // (DSTX, DSTY). A 32-bit bitmap with no saved alpha copy and ALPHA below 4 draws nothing.
  void DRAWTO(void* DEST, int32_t DSTX, int32_t DSTY, int32_t SRCX, int32_t SRCY, int32_t W,
              int32_t H, RASTEROP METHOD, VOX_BLENDER BLENDER = nullptr,
              void* PARAM = nullptr) const;
  // The same onto DEST's image; an empty DEST stands for the screen.
  void DRAWTO(BITMAP& DEST, int32_t DSTX, int32_t DSTY, int32_t SRCX, int32_t SRCY, int32_t W,
              int32_t H, RASTEROP METHOD, VOX_BLENDER BLENDER = nullptr,
              void* PARAM = nullptr) const;

  // Draws the bitmap placed by T onto DEST (null or an empty bitmap: the screen, coordinates
  // relative to its view) with its pivot at (X, Y), clipped to the target, under the screen lock
  // as DRAWTO, marking the screen rows it writes. Each target pixel (tx, ty) whose centre maps
  // back into the source region takes that sample through T.METHOD with DRAWTO's per-pixel rule;
  // every other pixel is left alone. With whole X, Y and pivot, ANGLE 0 and scale 1 it draws
  // exactly what DRAWTO draws at (X - PIVOTX, Y - PIVOTY); turns by multiples of 90 degrees and
  // mirrors at scale 1 move whole pixels.
  //
  // The rule, exactly (all in double precision unless said; round() is to nearest, halves to
  // even):
  //   r = fmod(ANGLE, 360), plus 360 when negative; c, s = cos and sin of r * pi / 180, taken as
  //   exactly 0 and +-1 when r is 0, 90, 180 or 270.
  //   fx = SCALEX, negated when FLIP has FLIPH; fy = SCALEY, negated with FLIPV.
  //   The inverse map in 32.32 fixed point, as 64-bit integers:
  //     A = round(c / fx * 2^32), B = round(s / fx * 2^32),
  //     C = round(-s / fy * 2^32), D = round(c / fy * 2^32);
  //   with ax = floor(X), ay = floor(Y), ex = ax + 0.5 - X, ey = ay + 0.5 - Y:
  //     U0 = round(2^32 * (PIVOTX + (ex * c + ey * s) / fx)),
  //     V0 = round(2^32 * (PIVOTY + (ey * c - ex * s) / fy)).
  //   Pixel (tx, ty) samples u = U0 + (tx - ax) * A + (ty - ay) * B and
  //   v = V0 + (tx - ax) * C + (ty - ay) * D, exact integers. It is drawn when 0 <= u < w * 2^32
  //   and 0 <= v < h * 2^32 (w x h the region); NEAREST takes region pixel (u >> 32, v >> 32).
  //   BILINEAR takes p = u - 2^31, q = v - 2^31, columns x0 = p >> 32 and x0 + 1, rows
  //   y0 = q >> 32 and y0 + 1, each clamped into the region, weights fx8 = (p >> 24) & 255 and
  //   fy8 = (q >> 24) & 255, and per channel, alpha included:
  //     (((c00 * (256 - fx8) + c10 * fx8) * (256 - fy8) + (c01 * (256 - fx8) + c11 * fx8) * fy8)
  //      + 32768) >> 16
  //   with cij the pixel of column x0 + i, row y0 + j (vector loops may differ from this by 1).
  //   Colours are interpolated as stored, not weighted by their alpha.
  // So source positions carry 32 fractional bits: along a run of n target pixels a sample
  // strays at most n * 2^-33 source pixels from the exact transform.
  //
  // Returns TRUE, also when nothing is in view; FALSE, drawing nothing, with the reason in
  // LASTERROR() for: an empty bitmap, no screen, a target that is not an image or has another
  // depth (an 8-bit source onto 32 bits with VOXALPHA sets alpha bytes, as DRAWTO), a METHOD
  // out of range, VOXCUSTOM without a blender, a NaN X or Y, an ANGLE, scale or pivot that is
  // not finite, a scale beyond 65536 either way, a pivot beyond 2^30, or a source region over
  // 2^28 pixels on a side. A scale below 2^-16 (0 included) or a position beyond 2^40 draws
  // nothing and returns TRUE; so does a faded bitmap that DRAWTO would skip.
  BOOLEAN DRAWTRANSFORMED(void* DEST, float X, float Y, const TRANSFORM& T) const;
  BOOLEAN DRAWTRANSFORMED(BITMAP& DEST, float X, float Y, const TRANSFORM& T) const;

  // Saves the pixels' alpha bytes, so later ALPHA changes scale them instead of compounding.
  void PRESERVEALPHACHANNEL();
  // A new W x H image (W < 1: HND's width, H < 1: its height) at HND's depth, filled with
  // 0xFFFF00FF, with HND's closed rectangle from (X, Y) copied to its corner. HND is only read;
  // a null HND changes nothing.
  // These and the loads below return whether they succeeded (FALSE always leaves the reason in
  // KASTREL::LASTERROR()); callers may ignore the result and check WIDTH() as before.
  BOOLEAN COPYFROMHANDLE(void* HND, int32_t X, int32_t Y, int32_t W, int32_t H);
  // A new W x H image filled with CLR; DEPTH in bits per pixel (<= 0: the screen's, which
  // needs an open screen; 32, 16 and 8 do not). On failure the bitmap holds no image.
  BOOLEAN CREATE(int32_t W, int32_t H, uint32_t CLR, int32_t DEPTH);

  // Decode a PNG file or a whole PNG file held in memory (only read). Region all 0: the whole
  // picture; otherwise a W x H copy from (X, Y) as COPYFROMHANDLE makes it. Data the decoder
  // refuses, and pictures over MAXIMAGEPIXELS(), leave the bitmap as it was, and the reason in
  // KASTREL::LASTERROR().
  BOOLEAN LOADFROMFILE(const std::string& FILENAME, int32_t X = 0, int32_t Y = 0, int32_t W = 0,
                       int32_t H = 0);
  BOOLEAN LOADFROMMEMORY(const void* MEM, int32_t SIZE, int32_t X = 0, int32_t Y = 0,
                         int32_t W = 0, int32_t H = 0);

  // Writes a 32-bit image as an RGBA PNG file; an empty bitmap stands for the screen, whose
  // frame buffer is written as RGB (its alpha bytes carry nothing one sees). FALSE, and
  // LASTERROR() says why, for another depth, no screen, or a file that cannot be written.
  // FAST TRUE trades file size for speed (PNG_FAST).
  BOOLEAN SAVETOFILE(const std::string& FILENAME,
                     BOOLEAN FAST = BOOLEAN{}) const;  // BOOLEAN{}: FALSE
  BOOLEAN SAVETOFILE(const std::string& FILENAME, bool FAST) const {
    return SAVETOFILE(FILENAME, TOBOOLEAN(FAST));
  }

 private:
  void TAKEIMAGE(void* IMAGE);
  void DROPALPHACHANNEL();
};

// The most pixels a picture loaded by LOADFROMFILE / LOADFROMMEMORY may have; a larger one is
// refused from its header, before any decoding, leaving the bitmap as it was and the reason in
// LASTERROR(). The default, 67,108,864 (8192 x 8192, 256 MiB at 32 bits), suits games; 0 lifts
// the cap. Any thread may set it; loads already running keep the cap they started with.
inline constexpr uint64_t DEFAULTMAXIMAGEPIXELS = uint64_t{1} << 26;
void SETMAXIMAGEPIXELS(uint64_t PIXELS);
uint64_t MAXIMAGEPIXELS();

// The rectangle DRAWTRANSFORMED(DEST, X, Y, T) of this bitmap can write, in the same
// coordinates, for MARKDIRTY: closed like every RECT, the box of exactly the pixels the call
// would draw on an unbounded target (up to a pixel more when it spans over 65536 rows), clamped
// to the int32 range. {0, 0, -1, -1} (no point) when this bitmap, transform and position draw
// nothing or would fail wherever drawn; LASTERROR() is left alone.
MATH::RECT TRANSFORMEDBOUNDS(const BITMAP& SOURCE, float X, float Y, const TRANSFORM& T);

// How many bitmaps hold IMAGE: the last of them to let go releases it; 0 for an image no
// bitmap holds.
int32_t IMAGEHOLDERS(const void* IMAGE);

// Bitmaps and image handles compare by the image they hold: equal when it is the same buffer
// (two empty bitmaps are equal, and equal a null handle).
BOOLEAN operator==(const BITMAP& A, const void* B);
BOOLEAN operator==(const void* A, const BITMAP& B);
BOOLEAN operator==(const BITMAP& A, const BITMAP& B);
BOOLEAN operator!=(const BITMAP& A, const void* B);
BOOLEAN operator!=(const void* A, const BITMAP& B);
BOOLEAN operator!=(const BITMAP& A, const BITMAP& B);

}  // namespace KASTREL::GRAPHICS
