// libFuzzer target for the tile map loaders, built twice: once fed XML maps only, once JSON maps
// only (MAP_FORM is the first character each takes). From memory with no folder, no file is
// read. Whatever loads must keep the loader's promises: every cell of every tile layer is empty
// or a tile of some tileset, and every animation frame is a tile of its tileset.
#include <cstddef>
#include <cstdint>

#include "kastrel/world/tilemap.h"

using namespace KASTREL::WORLD;

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || data[0] != MAP_FORM) return 0;
  static const bool capped = (SETMAXMAPCELLS(1 << 20), true);
  (void)capped;
  TILEMAP map;
  if (!map.LOADFROMMEMORY(data, int32_t(size))) return 0;
  for (const LAYER& layer : map.LAYERS) {
    Check(layer.CELLS.size() == size_t(layer.WIDTH) * size_t(layer.HEIGHT));
    for (uint32_t gid : layer.CELLS) Check((gid & TILEGIDMASK) == 0 || map.TILESETOF(gid) != nullptr);
    for (int64_t ms : {0, 1000, 123456}) {
      for (size_t i = 0; i < layer.CELLS.size() && i < 64; ++i) {
        const uint32_t g = map.ANIMATEDGID(layer.CELLS[i], ms);
        Check((g & TILEGIDMASK) == 0 || map.TILESETOF(g) != nullptr);
      }
    }
  }
  return 0;
}
