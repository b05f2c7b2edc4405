#pragma once
#include <cstdint>
#include <string>

#include "kastrel/boolean.h"
#include "kastrel/graphics/rasterop.h"
#include "kastrel/math/math.h"

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

  void* HANDLE() const { return IMGHANDLE; }
  // Takes H (null: no image) and its sizes from its 32-byte header (a block without one is held
  // with sizes 0); H == HANDLE() changes no ownership.
  void HANDLE(void* H);
  uint32_t WIDTH() const { return IW; }
  uint32_t HEIGHT() const { return IH; }
  int32_t BPP() const { return IBPP; }
  uint32_t PITCH() const { return IPITCH; }
  uint8_t ALPHA() const { return IALPHA; }
  // On 32-bit images also rescales every pixel's alpha: from the saved copy when there is one
  // (absolute, A / 255 of the saved byte), otherwise relative to the previous uniform alpha
  // (both counted as at least 25; alpha bytes up to 5 stay).
  void ALPHA(uint8_t A);

  // The pixel accessors do not check: PT must lie inside a 32-bit image.
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

  // Saves the pixels' alpha bytes, so later ALPHA changes scale them instead of compounding.
  void PRESERVEALPHACHANNEL();
  // A new W x H image (W < 1: HND's width, H < 1: its height) at HND's depth, filled with
  // 0xFFFF00FF, with HND's closed rectangle from (X, Y) copied to its corner. HND is only read;
  // a null HND changes nothing.
  // These and the loads below return whether they succeeded (FALSE always leaves the reason in
  // KASTREL::LASTERROR()); callers may ignore the result and check WIDTH() as before.
  BOOLEAN COPYFROMHANDLE(void* HND, int32_t X, int32_t Y, int32_t W, int32_t H);
  // A new W x H image filled with CLR; DEPTH in bits per pixel (<= 0: the screen's).
  // On failure the bitmap holds no image.
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

// How many bitmaps hold IMAGE: the last of them to let go releases it; 0 for an image no
// bitmap holds.
int32_t IMAGEHOLDERS(const void* IMAGE);

BOOLEAN operator==(const BITMAP& A, const void* B);
BOOLEAN operator==(const void* A, const BITMAP& B);
BOOLEAN operator==(const BITMAP& A, const BITMAP& B);
BOOLEAN operator!=(const BITMAP& A, const void* B);
BOOLEAN operator!=(const void* A, const BITMAP& B);
BOOLEAN operator!=(const BITMAP& A, const BITMAP& B);

}  // namespace KASTREL::GRAPHICS
