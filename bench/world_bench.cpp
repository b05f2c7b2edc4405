// Tile maps at 32 bits:
//  - a 1280 x 720 view of 16 x 16 tiles (3,600 tiles a layer, two layers: opaque ground copied
//    with VOXPSET, then a layer with transparent pixels blended with VOXALPHA), camera unturned,
//    at zoom 1, 2 and 1.5, against a memcpy of the frame for each layer and against the rivals
//    of world_rivals.cpp drawing the same view;
//  - loading a 1,000 x 1,000-tile map of two layers in base64 + zstd from memory against
//    decompressing its two layers' data alone.

#include <zstd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/table.h"
#include "bench/world_scene.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/image.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/tilemap.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::WORLD;

constexpr int kWidth = world::kViewWidth, kHeight = world::kViewHeight;

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
    const world::Scene& scene = world::TheScene();
    TILEMAP& m = d->map;
    m.TILEWIDTH = m.TILEHEIGHT = world::kTile;
    m.WIDTH = m.HEIGHT = world::kMapCells;
    TILESET ts;
    ts.TILEWIDTH = ts.TILEHEIGHT = world::kTile;
    ts.COLUMNS = world::kAtlas / world::kTile, ts.TILECOUNT = ts.COLUMNS * ts.COLUMNS;
    ts.IMAGEPATH = "made";
    ts.IMAGE.HANDLE(vox_GfxImageCreate(world::kAtlas, world::kAtlas, 0, 32, 0));
    for (int y = 0; y < world::kAtlas; ++y)
      for (int x = 0; x < world::kAtlas; ++x)
        ts.IMAGE.PIXEL({x, y}, scene.atlas[size_t(y * world::kAtlas + x)]);
    m.TILESETS.push_back(std::move(ts));
    for (const auto& cells : scene.cells) {
      LAYER layer;
      layer.WIDTH = layer.HEIGHT = world::kMapCells;
      layer.CELLS = cells;
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

}  // namespace

namespace world {

const Scene& TheScene() {
  static const Scene* scene = [] {
    auto* s = new Scene;
    std::mt19937 rng(1);
    s->atlas.resize(size_t(kAtlas) * kAtlas);
    for (int y = 0; y < kAtlas; ++y)
      for (int x = 0; x < kAtlas; ++x) {
        uint32_t p = rng() | 0xFF000000u;
        if (y >= 128 && (x + y) % 3) p &= (x % 2 ? 0x00FFFFFFu : 0x80FFFFFFu);  // see-through rows
        s->atlas[size_t(y * kAtlas + x)] = p;
      }
    for (int l = 0; l < 2; ++l)
      for (int i = 0; i < kMapCells * kMapCells; ++i)
        s->cells[l].push_back(1 + (l ? 128 : 0) + rng() % 128);
    return s;
  }();
  return *scene;
}

std::vector<Placed> PlaceLayer(int layer, float zoom) {
  CAMERA cam(kViewWidth, kViewHeight);
  cam.ZOOM = zoom;
  cam.X = kLookX, cam.Y = kLookY;
  const double z = cam.ZOOMUSED();
  const int64_t sx = cam.SCROLLX(), sy = cam.SCROLLY();
  // The first view pixel whose centre lies at or past world coordinate w.
  const auto edge = [z](int64_t w, int64_t scroll) {
    return int(std::ceil(double(w) * z - double(scroll) - 0.5));
  };
  std::vector<Placed> out;
  const int64_t c0 = int64_t(double(sx) / z) / kTile,
                c1 = int64_t((double(sx) + kViewWidth) / z) / kTile;
  const int64_t r0 = int64_t(double(sy) / z) / kTile,
                r1 = int64_t((double(sy) + kViewHeight) / z) / kTile;
  for (int64_t r = r0; r <= r1; ++r)
    for (int64_t c = c0; c <= c1; ++c) {
      const int id = int(TheScene().cells[layer][size_t(r * kMapCells + c)]) - 1;
      const int x = edge(c * kTile, sx), y = edge(r * kTile, sy);
      out.push_back({id % (kAtlas / kTile) * kTile, id / (kAtlas / kTile) * kTile, x, y,
                     edge((c + 1) * kTile, sx) - x, edge((r + 1) * kTile, sy) - y});
    }
  return out;
}

}  // namespace world

namespace {

void DrawView(benchmark::State& state, float zoom) {
  Setup& d = Data();
  CAMERA cam(kWidth, kHeight);
  cam.ZOOM = zoom;
  cam.X = world::kLookX, cam.Y = world::kLookY;
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
  SectionNote(section,
              "two layers of a 1280x720 view of 16x16 tiles against two memcpy of the frame; "
              "a 1000x1000 two-layer base64+zstd map loaded against decompressing its data");
  const double frame = double(kWidth) * kHeight * 4 * 2;
  const char* rows[] = {"view zoom 1", "view zoom 2", "view zoom 1.5"};
  const float zooms[] = {1, 2, 1.5f};
  std::vector<std::string> columns = {"kastrel"};
  for (const std::string& rival : world::RegisterWorldRivals(
           section, {{rows[0], 1.0f}, {rows[1], 2.0f}, {rows[2], 1.5f}}, frame))
    columns.push_back(rival);
  columns.push_back("memcpy");
  columns.push_back("unzstd");
  Columns(section, columns, {"memcpy", "unzstd"});
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
  for (const char* row : rows)
    AddTarget({std::string(row) + ": tile view vs the best rival (>= 3x as fast)",
               section,
               {row},
               "kastrel",
               "",
               1 / 3.0});
  AddTarget({"map loading vs decompressing its data (<= 2x the time)",
             section,
             {"load 1000x1000 x2 zstd"},
             "kastrel",
             "unzstd",
             2.0});
}

}  // namespace bench
