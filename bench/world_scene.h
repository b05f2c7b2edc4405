#pragma once
// The tile view the world benchmarks draw, shared by ours and the rivals: a 256 x 256 map of
// 16 x 16 tiles in two layers over one 256 x 256 tileset picture, whose top half is opaque and
// whose bottom half has clear and half-clear pixels; the ground layer takes its tiles from the
// top half, the layer above from the bottom half. The view is 1280 x 720 around a fixed point.

#include <cstdint>
#include <string>
#include <vector>

namespace bench::world {

constexpr int kViewWidth = 1280, kViewHeight = 720, kTile = 16, kMapCells = 256, kAtlas = 256;
constexpr float kLookX = 2000.3f, kLookY = 2000.7f;

struct Scene {
  std::vector<uint32_t> atlas;     // kAtlas x kAtlas pixels 0xAARRGGBB, not premultiplied
  std::vector<uint32_t> cells[2];  // kMapCells x kMapCells tile numbers (1 = the atlas's first)
};
const Scene& TheScene();

// One tile of the view: where it comes from in the atlas and where it lands in the view,
// placed by the engine camera's rule at the zoom (tile edges on whole view pixels).
struct Placed {
  int src_x, src_y, x, y, w, h;
};
std::vector<Placed> PlaceLayer(int layer, float zoom);

// Registers the rivals' cells, each in a process of its own, for rows named by zoom; returns
// their column names.
std::vector<std::string> RegisterWorldRivals(const std::string& section,
                                             const std::vector<std::pair<std::string, float>>& rows,
                                             double bytes);

}  // namespace bench::world
