#pragma once
#include <cstdint>

#include "kastrel/math/math.h"

// Dirty regions: the rectangles of the window the next paint step repaints, and the calls that
// mark them.
namespace KASTREL::ENGINE {

// A growable list of rectangles in the order added. It owns its array, which grows ten
// entries at a time and never shrinks while the list lives. Constant-initialised, so a global
// list is usable from any global constructor.
struct RECTLIST {
  int32_t COUNT = 0;
  MATH::RECT* RECT = nullptr;  // null until the first ADD
  int32_t ISIZE = 0;           // capacity, a multiple of 10

  constexpr RECTLIST() noexcept = default;
  RECTLIST(const RECTLIST&) = delete;
  RECTLIST& operator=(const RECTLIST&) = delete;
  ~RECTLIST();

  // Appends a copy of RGN. When the array cannot grow, the program ends with runtime error 4,
  // "out of memory".
  void ADD(const MATH::RECT& RGN);
  // Empties the list; its capacity stays.
  void CLEAR();
};

// The rectangles the next paint step repaints, in window pixels.
extern constinit RECTLIST DIRTYREGIONS;

// Marks RGN for repainting. The zero rectangle (0, 0, 0, 0) stands for the whole window: it
// empties DIRTYREGIONS first. A W below 1 becomes SCREENRESOLUTION.WIDTH - X and an H below 1
// SCREENRESOLUTION.HEIGHT - Y, written back into RGN; then RGN is appended as it is (no
// clipping to the window, no merging, duplicates kept). Paint handlers must not call it. Only
// the thread that runs the game may: from another, while a screen is open, nothing is marked
// and KASTREL::LASTERROR() says why.
void MARKDIRTY(MATH::RECT& RGN);
// The same for the rectangle (X, Y, W, H), and for the whole window: MARKDIRTY(0, 0, 0, 0).
void MARKDIRTY(int32_t X, int32_t Y, int32_t W, int32_t H);
inline void MARKWHOLEWINDOW() { MARKDIRTY(0, 0, 0, 0); }

// Marks changed the closed rectangle RGN (columns X to X + W, rows Y to Y + H, as every RECT),
// cut to the window: what TRANSFORMEDBOUNDS, a text's INK and a sprite sheet's frame box give,
// taken as they come. A rectangle with W or H below 0 ({0, 0, -1, -1}: "nothing") or wholly
// outside the window marks nothing; no value means "to the edge". A rectangle that overlaps or
// touches one already marked is merged with it when their joint box has no more pixels than the
// two have together, so marking many small overlapping things repaints each pixel about once.
// Appends {X, Y, width, height} as MARKDIRTY's list holds them. The same threads rule holds.
// It finds the rectangles to merge with through an index of where they lie, which follows
// ADD, CLEAR and an exchange of the list's array; an entry rewritten in place is not looked
// for where it has moved to.
void MARKCHANGED(const MATH::RECT& RGN);

}  // namespace KASTREL::ENGINE
