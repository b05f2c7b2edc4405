#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/sprites.h"
#include "kastrel/math/math.h"
#include "kastrel/world/tilemap.h"

// A camera onto a world larger than the window, and drawing through it.
namespace KASTREL::WORLD {

// The view VIEW of a target (a closed RECT, so a W x H view is {X, Y, W - 1, H - 1}) shows the
// world around (X, Y), ZOOM target pixels to the world pixel, the camera turned ANGLE degrees
// clockwise (so the world turns the other way on the screen).
//
// The rule that keeps tiles seamless: the camera scrolls in whole target pixels. With
//   SX = floor(X * ZOOM) - floor(VW / 2), SY = floor(Y * ZOOM) - floor(VH / 2)
// (VW x VH the view's size), an unturned camera shows in view pixel (px, py) what lies in the
// world under that pixel's centre: the world pixel (floor((px + 0.5 + SX) / ZOOM),
// floor((py + 0.5 + SY) / ZOOM)) (px, py counted from the view's corner). Every target pixel
// thus shows exactly one world pixel, so neighbouring tiles can neither overlap nor leave a gap,
// and at a whole ZOOM each world pixel becomes a ZOOM x ZOOM block: what drawing at zoom 1
// draws, scaled, pixel for pixel. TOVIEW and TOWORLD follow the same rule, so a click lands on
// the tile drawn under it. A turned camera turns that picture around the view's centre; tiles
// are then drawn one by one, turned, and may show hairline seams at their edges.
struct CAMERA {
  float X = 0, Y = 0;  // the world point at the view's centre
  float ZOOM = 1;      // from 1/64 to 64; other values count as 1
  float ANGLE = 0;     // degrees clockwise
  MATH::RECT VIEW{0, 0, -1, -1};

  // FOLLOW: the target may wander DEADZONEW x DEADZONEH view pixels around the view's centre
  // before the camera moves; LAG (seconds) smooths the move, 0 moving at once.
  float DEADZONEW = 0, DEADZONEH = 0;
  float LAG = 0;
  // The world's edges the view keeps inside (W or H below 0: none); a world smaller than the
  // view is centred. Unturned extents are used.
  MATH::RECTF BOUNDS{0, 0, -1, -1};

  CAMERA() = default;
  // A W x H view at the target's corner.
  CAMERA(int32_t W, int32_t H) : VIEW{0, 0, W - 1, H - 1} {}

  // Target pixel coordinates (continuous: pixel (i, j) covers [i, i + 1) x [j, j + 1)) of a
  // world point, and back.
  MATH::POINTF TOVIEW(float WX, float WY) const;
  MATH::POINTF TOWORLD(float VX, float VY) const;
  // The box around a rectangle's image (closed rectangles, as RECTF).
  MATH::RECTF TOVIEW(const MATH::RECTF& WORLD) const;
  MATH::RECTF TOWORLD(const MATH::RECTF& VIEWRECT) const;
  // The world box the view shows.
  MATH::RECTF VISIBLE() const;
  // Whether any of a world box can show in the view (for culling).
  BOOLEAN INVIEW(const MATH::RECTF& WORLD) const;

  // Moves towards keeping (TX, TY) inside the dead zone, then keeps to BOUNDS.
  void FOLLOW(float TX, float TY, float ELAPSED);
  // Keeps the view inside BOUNDS.
  void CLAMP();

  // A bitmap, a sprite-sheet frame, or a bitmap placed by T, at a world point (the top-left
  // corner, or T's pivot). Culled when outside the view. Unturned (camera and T) and unscaled,
  // with NEAREST and PSET to ADD, a 32-bit bitmap is drawn by the tiles' rule, inside VIEW:
  // its region covers the world box from its corner, W x H, mirrored or not, and each view pixel
  // whose centre falls in that box shows the region pixel under it, so sprites and tiles line up
  // exactly at every zoom. Otherwise it goes through DRAWTRANSFORMED (which clips to the
  // target, not to VIEW), with its results.
  BOOLEAN DRAW(void* DEST, const GRAPHICS::BITMAP& B, float WX, float WY,
               GRAPHICS::RASTEROP METHOD = GRAPHICS::VOXALPHA) const;
  BOOLEAN DRAW(void* DEST, const GRAPHICS::SPRITESHEET& S, int32_t N, float WX, float WY,
               GRAPHICS::RASTEROP METHOD = GRAPHICS::VOXALPHA) const;
  BOOLEAN DRAWTRANSFORMED(void* DEST, const GRAPHICS::BITMAP& B, float WX, float WY,
                          GRAPHICS::TRANSFORM T) const;

  // Internal: the whole-pixel scroll SX, SY of the rule above, and the view's size.
  int64_t SCROLLX() const;
  int64_t SCROLLY() const;
  float ZOOMUSED() const;
};

// Draws tile layer number LAYER of MAP (an index into MAP.LAYERS) through CAMERA onto DEST (null:
// the screen), touching only the tiles in view and no pixel outside VIEW (a turned camera's
// tiles, drawn one by one, may spill past its edges onto the target) or the target's clip
// (SETCLIP: like every drawing call, it writes exactly its unclipped pixels inside the clip and
// no others), animations at MS
// milliseconds. The layer's opacity and tint, and its groups', multiply each pixel as
// TRANSFORM.TINT does; offsets and parallax (the layer moves by 1 - PARALLAX of the camera's
// motion) shift it in whole target pixels. Tiles larger than the map's grid sit on their cell's
// bottom-left corner, moved by their tileset's offset. An invisible layer draws nothing. A
// turned camera zoomed out over more cells than the view has pixels, when every tile is of the
// grid's size and unmoved, shows in each view pixel the world pixel under its centre instead of
// drawing the tiles one by one, so the work stays the view's at any zoom.
// FALSE, with the reason in LASTERROR(), for a map that is not orthogonal, a layer that is not
// a tile layer, no screen, or a target that is not a 32-bit image.
BOOLEAN DRAWLAYER(void* DEST, const TILEMAP& MAP, int32_t LAYER, const CAMERA& CAMERA,
                  int64_t MS = 0, GRAPHICS::RASTEROP METHOD = GRAPHICS::VOXALPHA);
// Every visible tile and image layer in order, the map's background colour (when it has one)
// filling the view first (written as it is, not blended), all within the target's clip. An
// image layer's offsets and parallax may be anything: a repeated image is placed by where its
// copies fall modulo its size, so the work stays that of the copies in view (over 65,536 of
// them is refused); one placed beyond every double is not drawn. Object layers are the game's
// to draw.
BOOLEAN DRAWMAP(void* DEST, const TILEMAP& MAP, const CAMERA& CAMERA, int64_t MS = 0);

}  // namespace KASTREL::WORLD
