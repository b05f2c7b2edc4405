// Hostile worlds, each in a child process with a time limit, so that a hang or a crash fails the
// test and not the run: solids far apart, a level built cell by cell, a map at the cell cap with
// nothing solid, and image layers placed absurdly far away.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "kastrel/device/display.h"
#include "kastrel/graphics/testing/pixel_model.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/tilecollision.h"

using namespace KASTREL;
using namespace KASTREL::WORLD;

namespace {

// BODY's answer in a child process: 0 is success, other numbers say which check failed, -1 a
// crash or an overrun of SECONDS.
int in_child(unsigned seconds, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int64_t peak_kib() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return use.ru_maxrss;
}

// One solid tileset of a single 16 x 16 tile, gid 1 ("solid" when SOLID).
TILEMAP one_tile_map(bool solid) {
  TILEMAP map;
  map.TILEWIDTH = map.TILEHEIGHT = 16;
  TILESET ts;
  ts.TILEWIDTH = ts.TILEHEIGHT = 16;
  ts.TILECOUNT = 1, ts.COLUMNS = 1, ts.IMAGEPATH = "none";
  TILEINFO info;
  if (solid) info.PROPS.LIST.push_back({"solid", PROPBOOL, "true", 1});
  ts.TILES.push_back(info);
  map.TILESETS.push_back(ts);
  return map;
}

}  // namespace

TEST(HostileWorlds, SolidsCostWhatTheyHoldWhereverTheyLie) {
  // An infinite map's two one-cell layers far apart: both solid, and a box falls onto each.
  EXPECT_EQ(
      in_child(60,
               [] {
                 TILEMAP map = one_tile_map(true);
                 for (const int32_t at : {-(1 << 20), (1 << 20) + 8, (1 << 30) + 7}) {
                   LAYER l;
                   l.ORIGINX = at, l.ORIGINY = at / 2, l.WIDTH = l.HEIGHT = 1, l.CELLS = {1};
                   map.LAYERS.push_back(l);
                 }
                 const TILECOLLIDER t(map);
                 // Out there a float steps by 2048: a box that wide holds the cell.
                 if (!t.SOLIDAT({float(int64_t{1} << 34), float(int64_t{1} << 33), 2048, 2048}))
                   return 1;
                 for (const float at : {-float(1 << 20), float(1 << 20) + 8}) {
                   const float x = at * 16, y = std::floor(at / 2) * 16;  // exact floats
                   if (!t.SOLIDAT({x + 4, y + 4, 4, 4})) return 1;
                   if (t.MOVEBOX({x, y - 1000, 16, 8}, 0, 2000).Y != y - 8) return 2;
                   if (t.SOLIDAT({x + 16, y, 16, 16})) return 3;
                 }
                 // A move across the whole span stops at the first of them.
                 const float y0 = -float(1 << 23);
                 if (t.MOVEBOX({-3e10f, y0, 8, 8}, 6e10f, 0).X != -float(1 << 24) - 8) return 4;
                 return 0;
               }),
      0);
  // Cells set far apart, and a 300 x 300 level built cell by cell (quadratic, it would take
  // hours): the same solids as a map gives.
  EXPECT_EQ(
      in_child(
          60,
          [] {
            TILECOLLIDER t;
            t.TILEWIDTH = t.TILEHEIGHT = 16;
            t.SETSOLID(0, 0);
            t.SETSOLID(200000, 200000, true);
            t.SETSOLID(-2147483647 - 1, 2147483647);
            if (!t.SOLIDAT({1, 1, 1, 1}) ||
                !t.SOLIDAT({-float(int64_t{1} << 35), float(int64_t{1} << 35) - 4096, 16, 4096}))
              return 1;
            // The one-way cell holds what falls onto it, not what jumps through it.
            if (t.MOVEBOX({3.2e6f, 3.2e6f - 50, 8, 8}, 0, 100).Y != 3.2e6f - 8 ||
                t.MOVEBOX({3.2e6f, 3.2e6f + 50, 8, 8}, 0, -100).Y != 3.2e6f - 50)
              return 2;
            TILEMAP map = one_tile_map(true);
            LAYER l;
            l.WIDTH = l.HEIGHT = 300;
            TILECOLLIDER built;
            built.TILEWIDTH = built.TILEHEIGHT = 16;
            for (int32_t y = 0; y < 300; ++y)
              for (int32_t x = 0; x < 300; ++x) {
                const bool solid = (x * 7 + y * 3) % 5 == 0;
                l.CELLS.push_back(solid);
                if (solid) built.SETSOLID(x, y);
              }
            map.LAYERS.push_back(l);
            const TILECOLLIDER loaded(map);
            for (int32_t i = 0; i < 300 * 300; i += 7) {
              const MATH::RECTF box{float(i % 300 * 16 + 3), float(i / 300 * 16 + 5), 7, 9};
              const MOVED a = built.MOVEBOX(box, float(i % 61) - 30, float(i % 43) - 21),
                          b = loaded.MOVEBOX(box, float(i % 61) - 30, float(i % 43) - 21);
              if (a.X != b.X || a.Y != b.Y || a.TOUCHED != b.TOUCHED) return 3;
            }
            return 0;
          }),
      0);
  // A map at the cell cap with no solid tile costs no collision data (it took 584 MB).
  EXPECT_EQ(in_child(120,
                     [] {
                       TILEMAP map = one_tile_map(false);
                       LAYER l;
                       l.WIDTH = l.HEIGHT = 4096;
                       l.CELLS.assign(size_t(4096) * 4096, 1);
                       map.LAYERS.push_back(std::move(l));
                       const int64_t before = peak_kib();
                       const TILECOLLIDER t(map);
                       const int64_t grown = peak_kib() - before;
                       std::fprintf(stderr, "collision data at the cell cap: %lld KiB\n",
                                    static_cast<long long>(grown));
                       return grown < 16 * 1024 && !t.SOLIDAT({0, 0, 65536, 65536}) ? 0 : 1;
                     }),
            0);
}

TEST(HostileWorlds, FarImageLayersDrawAsTheirNearTwins) {
  // A repeated picture 3 x 2 at a far offset, or moved far by parallax, shows as it shows at the
  // same place modulo its size.
  EXPECT_EQ(
      in_child(60,
               [] {
                 vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
                 CAMERA cam(40, 30);
                 cam.X = 10, cam.Y = 7;
                 const auto draw = [&](double offx, double offy, double parx, bool repeat) {
                   TILEMAP map;
                   map.TILEWIDTH = map.TILEHEIGHT = 16;
                   LAYER l;
                   l.KIND = LAYERIMAGE;
                   l.OFFSETX = offx, l.OFFSETY = offy, l.PARALLAXX = parx;
                   l.REPEATX = l.REPEATY = repeat;
                   l.IMAGE.HANDLE(pixel_model::make_image(3, 2, 4, 0).release());
                   for (int32_t p = 0; p < 6; ++p)
                     l.IMAGE.PIXEL({p % 3, p / 3}, 0xFF000000u | uint32_t(p * 0x102030));
                   map.LAYERS.push_back(std::move(l));
                   auto out = pixel_model::make_image(40, 30, 4, 0x11223344);
                   if (!DRAWMAP(out.get(), map, cam)) return std::vector<uint32_t>{};
                   std::vector<uint32_t> px;
                   const auto pic = pixel_model::picture_of(out.get());
                   for (int32_t y = 0; y < 30; ++y)
                     for (int32_t x = 0; x < 40; ++x) px.push_back(pic.get(x, y));
                   return px;
                 };
                 // 1e17 is 1 more than a multiple of 3, and 4e17 a multiple of 2.
                 if (draw(1e17, 4e17, 1, true) != draw(1, 0, 1, true)) return 1;
                 // Parallax moving it by 10 * (1 + 3e16): the same modulo 3.
                 if (draw(0, 0, -3e16, true) != draw(std::fmod(10 * (1 + 3e16), 3), 0, 1, true))
                   return 2;
                 // Unrepeated and far (by offset or parallax): out of sight, and drawn at
                 // once (these never returned).
                 const auto none = draw(1e9, 0, 1, false);
                 if (draw(1e17, 0, 1, false) != none || draw(0, 0, -1e16, false) != none) return 3;
                 if (draw(0, 0, -1e308, true) != none) return 4;  // beyond every double
                 return 0;
               }),
      0);
}

TEST(HostileWorlds, ATurnedViewFarOutCostsItsPixels) {
  // 16,777,216 one-pixel tiles under a turned view of 64 x 48 pixels at zoom 1/64: drawn tile by
  // tile it takes minutes; each pixel shows the tile under it.
  EXPECT_EQ(in_child(10,
                     [] {
                       vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
                       TILEMAP map;
                       map.TILEWIDTH = map.TILEHEIGHT = 1;
                       TILESET ts;
                       ts.TILEWIDTH = ts.TILEHEIGHT = 1, ts.TILECOUNT = 1, ts.COLUMNS = 1;
                       ts.IMAGEPATH = "one",
                       ts.IMAGE.HANDLE(pixel_model::make_image(1, 1, 4, 0xFF8040C0).release());
                       map.TILESETS.push_back(ts);
                       LAYER l;
                       l.WIDTH = l.HEIGHT = 4096;
                       l.CELLS.assign(size_t(4096) * 4096, 1);
                       map.LAYERS.push_back(std::move(l));
                       CAMERA cam(64, 48);
                       cam.X = cam.Y = 2048, cam.ZOOM = 1.0f / 64, cam.ANGLE = 30;
                       auto out = pixel_model::make_image(64, 48, 4, 0x11223344);
                       if (!DRAWLAYER(out.get(), map, 0, cam, 0, GRAPHICS::VOXPSET)) return 1;
                       const auto pic = pixel_model::picture_of(out.get());
                       int32_t shown = 0;
                       for (int32_t y = 0; y < 48; ++y)
                         for (int32_t x = 0; x < 64; ++x) {
                           const MATH::POINTF w = cam.TOWORLD(float(x) + 0.5f, float(y) + 0.5f);
                           const bool inside = w.X > 1 && w.Y > 1 && w.X < 4095 && w.Y < 4095;
                           const uint32_t p = pic.get(x, y);
                           if (p != 0xFF8040C0u && p != 0x11223344u) return 2;
                           if (inside && p != 0xFF8040C0u) return 3;
                           shown += p == 0xFF8040C0u;
                         }
                       return shown > 64 * 48 / 2 ? 0 : 4;
                     }),
            0);
}
