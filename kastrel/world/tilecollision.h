#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kastrel/math/math.h"
#include "kastrel/world/tilemap.h"

// Boxes moving against a map's solid tiles.
namespace KASTREL::WORLD {

// The sides of a moving box that met something.
enum : int32_t { TOUCHLEFT = 1, TOUCHRIGHT = 2, TOUCHTOP = 4, TOUCHBOTTOM = 8 };

// Where a moved box ended, and which of its sides were stopped.
struct MOVED {
  float X = 0, Y = 0;
  int32_t TOUCHED = 0;
};

// A solid part of a tile, in its cell's pixels; one-way parts hold only what falls onto their
// top from above.
struct SOLIDBOX {
  float X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
  bool ONEWAY = false;
};

// The solid tiles of a map, gathered from its tile layers once:
//  - a cell of a layer whose bool property "oneway" is true, or whose tile's is, is a one-way
//    platform the size of the cell;
//  - otherwise a tile with collision shapes in its tileset (the editor's tile collision editor)
//    is solid where those shapes' boxes are (ellipses, polygons and polylines by their bounding
//    boxes; mirrored with the tile's flip flags; cut to the cell);
//  - otherwise a cell is solid whole when its layer's bool property "solid" or "collides" is
//    true, or its tile's "solid" is.
// Cells of several layers add up. Tiles of the map's grid size are assumed. The data grow with
// the solid cells alone, wherever they lie: an empty map or a vast one with a few solid cells
// far apart costs next to nothing.
struct TILECOLLIDER {
  int32_t TILEWIDTH = 0, TILEHEIGHT = 0;

  // Internal: the solid parts of a square of CHUNKSIDE x CHUNKSIDE cells, kept only for squares
  // with at least one, by their square's column and row (KEY). A cell's parts are
  // BOXES[FIRST[i]] to BOXES[FIRST[i + 1]] (i = its row in the square times CHUNKSIDE plus its
  // column).
  static constexpr int32_t CHUNKSIDE = 16;
  struct CHUNK {
    uint32_t FIRST[CHUNKSIDE * CHUNKSIDE + 1] = {};
    std::vector<SOLIDBOX> BOXES;
  };
  static uint64_t KEY(int64_t CX, int64_t CY) {
    return uint64_t(uint32_t(CX)) << 32 | uint32_t(CY);
  }
  std::unordered_map<uint64_t, CHUNK> CHUNKS;

  TILECOLLIDER() = default;
  // From every tile layer of MAP, or only those named in LAYERS.
  explicit TILECOLLIDER(const TILEMAP& MAP, const std::vector<std::string>& LAYERS = {});
  // Makes cell (TX, TY) solid whole (or one-way), in place of what it held, at any cell and in
  // constant time; for games that build or change their solids themselves.
  void SETSOLID(int32_t TX, int32_t TY, bool ONEWAY = false);
  // The solid parts of cell (TX, TY), in its pixels (none for a cell that holds nothing).
  std::vector<SOLIDBOX> PARTS(int32_t TX, int32_t TY) const;

  // Whether any solid part overlaps the box (X, Y, W, H) (touching edges do not; one-way parts
  // count).
  BOOLEAN SOLIDAT(const MATH::RECTF& BOX) const;

  // Moves BOX (the area from (X, Y), W wide and H high) by DX, then by DY, each stopped at the
  // first solid part in its way, however far it goes: it can neither tunnel through a wall nor
  // catch on the seams of flat ground (edges that only touch never stop a move). One-way parts
  // stop only a downward move whose box's bottom started at or above their top. Parts the box
  // already overlaps do not stop it, so it can leave them. TOUCHED names the sides stopped.
  // NaN or infinite values, a negative size, or a box whose sides, moved, would lie beyond the
  // largest float (about 3.4e38) move nothing: the box's own place, TOUCHED 0, and the reason
  // in LASTERROR().
  MOVED MOVEBOX(const MATH::RECTF& BOX, float DX, float DY) const;
};

}  // namespace KASTREL::WORLD
