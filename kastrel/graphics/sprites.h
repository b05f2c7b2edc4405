#pragma once
#include <cstdint>
#include <vector>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/math/math.h"

// Sprite sheets and the animations that play their frames.
namespace KASTREL::GRAPHICS {

// A bitmap cut into frames, each a closed RECT of it (a W x H frame is {X, Y, W - 1, H - 1}).
// The sheet shares the bitmap's image, as copies of a bitmap do.
struct SPRITESHEET {
  BITMAP IMAGE;
  std::vector<MATH::RECT> FRAMES;

  SPRITESHEET() = default;
  // A grid of FRAMEW x FRAMEH cells, numbered row by row from the top-left: COUNT frames, or
  // every whole cell when COUNT is 0 or more than there are. Cells that do not fit, or sizes
  // below 1, give no frames.
  SPRITESHEET(const BITMAP& SHEET, int32_t FRAMEW, int32_t FRAMEH, int32_t COUNT = 0);
  // The given regions, in order.
  SPRITESHEET(const BITMAP& SHEET, std::vector<MATH::RECT> REGIONS);

  // The number of frames, numbered from 0.
  int32_t COUNT() const { return int32_t(FRAMES.size()); }
  // Frame N's top-left corner lands on (X, Y), drawn as DRAWTO draws. FALSE, with the reason in
  // LASTERROR(), for a frame number out of range or any failure of DRAWTRANSFORMED.
  BOOLEAN DRAW(void* DEST, int32_t N, int32_t X, int32_t Y, RASTEROP METHOD = VOXALPHA) const;
  BOOLEAN DRAW(BITMAP& DEST, int32_t N, int32_t X, int32_t Y, RASTEROP METHOD = VOXALPHA) const;
  // Frame N placed by T, whose SOURCE is replaced by the frame (pivot counted from its corner).
  BOOLEAN DRAWTRANSFORMED(void* DEST, int32_t N, float X, float Y, TRANSFORM T) const;
  BOOLEAN DRAWTRANSFORMED(BITMAP& DEST, int32_t N, float X, float Y, TRANSFORM T) const;
};

// The most frames an ANIMATION holds: far more than any sheet shows in a run, and 8 MB.
inline constexpr int32_t ANIMATIONMAXFRAMES = 1 << 20;

// A run of frames, each shown for its own number of seconds, played once or in a loop. The
// frame loop's ONFRAME hands UPDATE its elapsed seconds; FRAME() says which frame to draw.
struct ANIMATION {
  std::vector<int32_t> FRAMES;   // frame numbers of a sheet
  std::vector<float> DURATIONS;  // seconds, one per frame
  BOOLEAN LOOP = BOOLEAN(-1);    // TRUE (a game may define TRUE as a macro)
  float TIME = 0;                // seconds since the start (of the current round when looping)

  ANIMATION() = default;
  // COUNT frames from FIRST on, SECONDS each, looping unless REPEAT is FALSE. Empty, with
  // LASTERROR() saying why, for more than ANIMATIONMAXFRAMES frames or frame numbers past
  // INT32_MAX.
  ANIMATION(int32_t FIRST, int32_t COUNT, float SECONDS, BOOLEAN REPEAT = BOOLEAN(-1));
  ANIMATION(int32_t FIRST, int32_t COUNT, float SECONDS, bool REPEAT)
      : ANIMATION(FIRST, COUNT, SECONDS, TOBOOLEAN(REPEAT)) {}
  // Appends a frame shown for SECONDS (a negative or non-finite time counts as 0); beyond
  // ANIMATIONMAXFRAMES frames it adds nothing and LASTERROR() says why.
  void ADD(int32_t FRAME, float SECONDS);
  // Moves on by ELAPSED seconds; negative or non-finite values are ignored.
  void UPDATE(float ELAPSED);
  // Back to the start of the first frame.
  void RESET() { TIME = 0; }
  // The frame to show: the first whose time has not run out; once a run that does not loop
  // has ended, its last frame. -1 with no frames.
  int32_t FRAME() const;
  // Whether a run that does not loop has ended (a looping one never does).
  BOOLEAN FINISHED() const;
  // The seconds of one round (durations missing or below 0 count as 0).
  double LENGTH() const;
};

}  // namespace KASTREL::GRAPHICS
