// Tile maps at 32 bits:
//  - a 1280 x 720 view of 16 x 16 tiles (3,600 tiles a layer, two layers: opaque ground copied
//    with VOXPSET, then a layer with transparent pixels blended with VOXALPHA), camera unturned,
//    at zoom 1, 2 and 1.5, against a memcpy of the frame for each layer;
//  - loading a 1,000 x 1,000-tile map of two layers in base64 + zstd from memory against
//    decompressing its two layers' data alone.

#include <zstd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/image.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/tilemap.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::WORLD;

constexpr int kWidth = 1280, kHeight = 720;

struct Setup {
  void* target;
  void* source;  // a frame for memcpy
  TILEMAP map;
};

Setup& Data() {
  static Setup* s = [] {
    vox_GfxScreenRes(64, 64, 32, 1, MODE_NULL, 0);
    auto* d = new Setup;
    d->target = vox_GfxImageCreate(kWidth, kHeight, 0xFF000000, 32, 0);
    d->source = vox_GfxImageCreate(kWidth, kHeight, 0xFF102030, 32, 0);
    std::mt19937 rng(1);
    TILEMAP& m = d->map;
    m.TILEWIDTH = m.TILEHEIGHT = 16;
    m.WIDTH = m.HEIGHT = 256;
    TILESET ts;
    ts.TILEWIDTH = ts.TILEHEIGHT = 16;
    ts.COLUMNS = 16, ts.TILECOUNT = 256;
    ts.IMAGEPATH = "made";
    ts.IMAGE.HANDLE(vox_GfxImageCreate(256, 256, 0, 32, 0));
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        uint32_t p = rng() | 0xFF000000u;
        if (y >= 128 && (x + y) % 3) p &= (x % 2 ? 0x00FFFFFFu : 0x80FFFFFFu);  // see-through rows
        ts.IMAGE.PIXEL({x, y}, p);
      }
    m.TILESETS.push_back(std::move(ts));
    for (int l = 0; l < 2; ++l) {
      LAYER layer;
      layer.WIDTH = layer.HEIGHT = 256;
      for (int i = 0; i < 256 * 256; ++i) layer.CELLS.push_back(1 + (l ? 128 : 0) + rng() % 128);
      m.LAYERS.push_back(std::move(layer));
    }
    return d;
  }();
  return *s;
}

std::string Base64(const std::string& in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const uint32_t v = uint8_t(in[i]) << 16 | (i + 1 < in.size() ? uint8_t(in[i + 1]) << 8 : 0) |
                       (i + 2 < in.size() ? uint8_t(in[i + 2]) : 0);
    for (size_t k = 0; k < 4; ++k) out += i + k <= in.size() ? a[v >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

// The big map's file, and its two layers' compressed data.
struct BigMap {
  std::string file;
  std::vector<std::string> packed;
  size_t raw = 0;
};

const BigMap& Big() {
  static BigMap* b = [] {
    auto* big = new BigMap;
    std::mt19937 rng(2);
    big->file =
        "<map orientation=\"orthogonal\" width=\"1000\" height=\"1000\" tilewidth=\"16\" "
        "tileheight=\"16\">"
        "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"256\" "
        "columns=\"16\">"
        "<image source=\"t.png\" width=\"256\" height=\"256\"/></tileset>";
    for (int l = 0; l < 2; ++l) {
      // Runs of ground and sky, as levels have, with scattered tiles.
      std::vector<uint32_t> cells(1000 * 1000);
      for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = (i / 1000) > 600 ? 1 + rng() % 8 : rng() % 50 ? 0 : 1 + rng() % 256;
      big->raw = cells.size() * 4;
      std::string packed(ZSTD_compressBound(big->raw), '\0');
      packed.resize(ZSTD_compress(packed.data(), packed.size(), cells.data(), big->raw, 3));
      big->packed.push_back(packed);
      big->file += "<layer name=\"l" + std::to_string(l) +
                   "\" width=\"1000\" height=\"1000\">"
                   "<data encoding=\"base64\" compression=\"zstd\">" +
                   Base64(packed) + "</data></layer>";
    }
    big->file += "</map>";
    return big;
  }();
  return *b;
}

void DrawView(benchmark::State& state, float zoom) {
  Setup& d = Data();
  CAMERA cam(kWidth, kHeight);
  cam.ZOOM = zoom;
  cam.X = 2000.3f, cam.Y = 2000.7f;
  for (auto _ : state) {
    DRAWLAYER(d.target, d.map, 0, cam, 0,
              GRAPHICS::VOXPSET);  // the opaque ground, as a game draws it
    DRAWLAYER(d.target, d.map, 1, cam);
    benchmark::ClobberMemory();
  }
}

}  // namespace

void RegisterWorld() {
  const std::string section = "tile maps, 32 bits";
  Columns(section, {"kastrel", "memcpy", "unzstd"}, {"memcpy", "unzstd"});
  SectionNote(section,
              "two layers of a 1280x720 view of 16x16 tiles against two memcpy of the frame; "
              "a 1000x1000 two-layer base64+zstd map loaded against decompressing its data");
  const double frame = double(kWidth) * kHeight * 4 * 2;
  const char* rows[] = {"view zoom 1", "view zoom 2", "view zoom 1.5"};
  const float zooms[] = {1, 2, 1.5f};
  for (int i = 0; i < 3; ++i) {
    const float zoom = zooms[i];
    Add({section, rows[i], "kastrel", frame},
        [zoom](benchmark::State& state) { DrawView(state, zoom); });
    Add({section, rows[i], "memcpy", frame}, [](benchmark::State& state) {
      Setup& d = Data();
      for (auto _ : state) {
        for (int layer = 0; layer < 2; ++layer)
          std::memcpy(static_cast<uint8_t*>(d.target) + 32, static_cast<uint8_t*>(d.source) + 32,
                      size_t(kWidth) * kHeight * 4);
        benchmark::ClobberMemory();
      }
    });
  }
  const double cells = 2.0 * 1000 * 1000 * 4;
  Add({section, "load 1000x1000 x2 zstd", "kastrel", cells}, [](benchmark::State& state) {
    const BigMap& big = Big();
    for (auto _ : state) {
      TILEMAP map;
      if (!map.LOADFROMMEMORY(big.file.data(), int32_t(big.file.size()), "", false))
        state.SkipWithError("the map did not load");
      benchmark::DoNotOptimize(map.LAYERS.data());
    }
  });
  Add({section, "load 1000x1000 x2 zstd", "unzstd", cells}, [](benchmark::State& state) {
    const BigMap& big = Big();
    std::vector<uint8_t> out(big.raw);
    for (auto _ : state) {
      for (const std::string& p : big.packed)
        ZSTD_decompress(out.data(), out.size(), p.data(), p.size());
      benchmark::DoNotOptimize(out.data());
    }
  });
  AddTarget({"tile view zoom 1 vs memcpy per layer (<= 1.5x the time)",
             section,
             {"view zoom 1"},
             "kastrel",
             "memcpy",
             1.5});
  AddTarget({"tile view zoom 2 vs memcpy per layer (<= 2x the time)",
             section,
             {"view zoom 2"},
             "kastrel",
             "memcpy",
             2.0});
  AddTarget({"tile view zoom 1.5 vs memcpy per layer (<= 3x the time)",
             section,
             {"view zoom 1.5"},
             "kastrel",
             "memcpy",
             3.0});
  AddTarget({"map loading vs decompressing its data (<= 2x the time)",
             section,
             {"load 1000x1000 x2 zstd"},
             "kastrel",
             "unzstd",
             2.0});
}

}  // namespace bench
