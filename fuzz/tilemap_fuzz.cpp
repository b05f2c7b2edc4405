// libFuzzer target for the tile map loaders, built twice: once fed XML maps only, once JSON maps
// only (MAP_FORM is the first character each takes). From memory with no folder, no file is
// read; pictures of the sizes the file claims stand in for the tilesets'. Whatever loads must
// keep the loader's promises (every cell of every tile layer is empty or a tile of some tileset,
// animations included), then draw through a camera, straight and turned, and give its solid
// tiles to a box moving over it, without fault.
#include <cstddef>
#include <cstdint>

#include "kastrel/device/display.h"
#include "kastrel/device/driver.h"
#include "kastrel/graphics/image.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/tilecollision.h"
#include "kastrel/world/tilemap.h"

using namespace KASTREL::WORLD;

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || data[0] != MAP_FORM) return 0;
  static void* target = [] {
    SETMAXMAPCELLS(1 << 20);
    vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
    return vox_GfxImageCreate(48, 32, 0, 32, 0);
  }();
  TILEMAP map;
  if (!map.LOADFROMMEMORY(data, int32_t(size))) return 0;
  for (const LAYER& layer : map.LAYERS) {
    Check(layer.CELLS.size() == size_t(layer.WIDTH) * size_t(layer.HEIGHT));
    for (uint32_t gid : layer.CELLS)
      Check((gid & TILEGIDMASK) == 0 || map.TILESETOF(gid) != nullptr);
    for (int64_t ms : {0, 1000, 123456})
      for (size_t i = 0; i < layer.CELLS.size() && i < 64; ++i) {
        const uint32_t g = map.ANIMATEDGID(layer.CELLS[i], ms);
        Check((g & TILEGIDMASK) == 0 || map.TILESETOF(g) != nullptr);
      }
  }
  // Pictures of the sizes the file claims stand in for the tilesets' files.
  for (TILESET& ts : map.TILESETS)
    if (!ts.IMAGEPATH.empty() && ts.IMAGEWIDTH > 0 && ts.IMAGEHEIGHT > 0 && ts.IMAGEWIDTH <= 256 &&
        ts.IMAGEHEIGHT <= 256)
      ts.IMAGE.HANDLE(vox_GfxImageCreate(ts.IMAGEWIDTH, ts.IMAGEHEIGHT, 0x80FF8040u, 32, 0));
  CAMERA cam(48, 32);
  cam.X = float(map.TILEWIDTH) * 3, cam.Y = float(map.TILEHEIGHT) * 2;
  for (float angle : {0.0f, 30.0f}) {
    cam.ANGLE = angle, cam.ZOOM = angle ? 0.5f : 1.5f;
    DRAWMAP(target, map, cam, 500);
  }
  if (map.LAYERS.size() < 64) {
    const TILECOLLIDER solid(map);
    const MOVED m = solid.MOVEBOX({1, 1, 5, 7}, 300, 200);
    Check(m.X >= 1 && m.X <= 301 && m.Y >= 1 && m.Y <= 201);
  }
  return 0;
}
