// The clip table: every drawing call, the worlds' among them, clipped against itself unclipped.
#include "kastrel/base/detail/platform.h"
#include "kastrel/graphics/clip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/font.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/shapes.h"
#include "kastrel/graphics/sprites.h"
#include "kastrel/world/camera.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

uint32_t Blend(uint32_t s, uint32_t d, void*) { return (s ^ (d >> 3)) + 0x01020304u; }

// A target's bytes: an image block whole (header and row padding included, as guard words), or
// the screen's page.
std::vector<uint8_t> Bytes(void* dest) {
  if (!dest) {
    const auto* p = static_cast<const uint8_t*>(vox_GfxScreenPtr());
    return {p, p + size_t(__vox_gfx->pitch) * size_t(__vox_gfx->height)};
  }
  VOX_IMAGE_INFO info;
  vox_hImageInfo(dest, 4, &info);
  const auto* p = static_cast<const uint8_t*>(dest);
  return std::vector<uint8_t>(p, static_cast<const uint8_t*>(info.pixels) + size_t(info.pitch) * size_t(info.height));
}
void Restore(void* dest, const std::vector<uint8_t>& b) {
  std::memcpy(dest ? dest : vox_GfxScreenPtr(), b.data(), b.size());
}

// Every drawing call against itself unclipped: with a clip set, the target holds the unclipped
// result inside the clip and its old bytes everywhere else (header, padding and clip bytes too),
// on every loop set, under the lock (the blit's short way) and without it.
TEST(Clip, ClippedDrawsTheUnclippedPixelsInsideAndNothingElse) {
  PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  FONT font;
  const bool text = access(DEFAULTFONTPATH(), R_OK) == 0 && font.OPENDEFAULT(13);
  if (!text) std::fprintf(stderr, "no default font: text is not clipped here\n");
  std::mt19937 random(36);
  auto pick = [&](int32_t lo, int32_t hi) { return int32_t(lo + int32_t(random() % uint32_t(hi - lo + 1))); };
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest(); ++set) {
    SCOPED_TRACE(testing::Message() << "loop set " << set);
    vox_hRowPathForce(set);
    for (int32_t depth : {32, 16}) {
      vox_GfxScreenRes(61, 47, depth, 1, MODE_NULL, 0);
      const int32_t bpp = depth / 8;
      BITMAP sprite(23, 17, 0, depth), mask(9, 9, 0, 8);
      for (int32_t i = 0; i < 23 * 17 * bpp; ++i) static_cast<uint8_t*>(sprite.HANDLE())[32 + i % (23 * bpp) + (i / (23 * bpp)) * sprite.PITCH()] = uint8_t(random());
      const SPRITESHEET sheet(sprite, 7, 8);
      // A world of 8 x 8 tiles, some mirrored, over a tile layer and a repeated image layer.
      BITMAP tiles(24, 16, 0, 32);
      for (int32_t i = 0; i < 24 * 16; ++i) tiles.PIXEL({i % 24, i / 24}, uint32_t(random()) | (i % 5 ? 0xFF000000u : 0));
      WORLD::TILEMAP map;
      map.TILEWIDTH = map.TILEHEIGHT = 8, map.WIDTH = 12, map.HEIGHT = 9;
      WORLD::TILESET ts;
      ts.TILEWIDTH = ts.TILEHEIGHT = 8, ts.TILECOUNT = 6, ts.COLUMNS = 3, ts.IMAGEPATH = "tiles", ts.IMAGE = tiles;
      map.TILESETS.push_back(ts);
      WORLD::LAYER layer, picture;
      layer.WIDTH = 12, layer.HEIGHT = 9;
      for (int32_t i = 0; i < 12 * 9; ++i) layer.CELLS.push_back(random() % 7 ? (1 + uint32_t(random() % 6)) | (uint32_t(random()) & 0xE0000000u) : 0);
      picture.KIND = WORLD::LAYERIMAGE, picture.IMAGE = tiles, picture.REPEATX = true, picture.OPACITY = 0.5f;
      map.LAYERS = {picture, layer};
      for (int32_t trial = 0; trial < 900; ++trial) {
        BITMAP image(pick(1, 70), pick(1, 50), 0, depth);
        void* dest = trial % 3 == 0 ? nullptr : image.HANDLE();
        std::vector<uint8_t> start = Bytes(dest);
        for (uint8_t& b : start) b = uint8_t(random());
        if (dest) std::memcpy(start.data(), dest, 32);  // the header stays
        const RASTEROP op = RASTEROP(pick(0, 8));
        const uint32_t colour = random();
        const int32_t x = pick(-30, 70), y = pick(-30, 55), a = pick(-30, 70), b = pick(-30, 55), r = pick(0, 30);
        TRANSFORM t;
        t.ANGLE = float(pick(0, 359)), t.SCALEX = float(pick(5, 30)) / 10, t.SCALEY = float(pick(5, 30)) / 10;
        t.PIVOTX = 11.5f, t.PIVOTY = 8, t.FILTER = trial % 2 ? BILINEAR : NEAREST, t.METHOD = op, t.BLENDER = Blend;
        // Whole and fractional zooms, turned or not; grid tiles (drawn row by row) or moved ones.
        map.BACKGROUND = trial % 4 ? 0 : colour, map.TILESETS[0].OFFSETX = trial % 5 == 0 ? 3 : 0;
        map.LAYERS[1].TINT = trial % 7 == 0 ? colour | 0xFF000000u : 0xFFFFFFFFu;
        const auto camera = [&](bool turn) {
          WORLD::CAMERA cam;
          cam.VIEW = {pick(-20, 40), pick(-20, 30), pick(0, 80), pick(0, 60)};
          cam.X = float(pick(-200, 1200)) / 10, cam.Y = float(pick(-200, 900)) / 10;
          cam.ZOOM = std::array{1.0f, 2.0f, 0.5f, 1.5f, 3.0f}[size_t(pick(0, 4))], cam.ANGLE = turn && pick(0, 3) == 0 ? 90.0f : 0;
          return cam;
        };
        MATH::POLY poly;
        for (int32_t i = 0; i < 5; ++i) poly.ADDPOINT({pick(-10, 70), pick(-10, 55)});
        const std::function<void()> calls[] = {
            [&] { sprite.DRAWTO(dest, x, y, pick(0, 5), pick(0, 5), pick(0, 30), pick(0, 30), op, Blend); },
            [&] { sprite.DRAWTRANSFORMED(dest, float(x) + 0.25f, float(y), t); },
            [&] { sheet.DRAW(dest, pick(0, 5), x, y, op == VOXCUSTOM ? VOXALPHA : op); },
            [&] { if (bpp == 4) mask.DRAWTO(dest, x, y, 0, 0, 0, 0, VOXALPHA); },
            [&] { DRAWPOINT(dest, x, y, colour, RASTEROP(op % 8)); },
            [&] { DRAWLINE(dest, x, y, a, b, colour, RASTEROP(op % 8)); },
            [&] { DRAWRECT(dest, {x, y, a, b}, colour, RASTEROP(op % 8)); },
            [&] { FILLRECT(dest, {x, y, a, b}, colour, RASTEROP(op % 8)); },
            [&] { DRAWCIRCLE(dest, x, y, r, colour, RASTEROP(op % 8)); },
            [&] { FILLCIRCLE(dest, x, y, r, colour, RASTEROP(op % 8)); },
            [&] { FILLPOLY(dest, poly, colour, RASTEROP(op % 8)); },
            [&] { DRAWTRIANGLE(dest, {x, y}, {a, b}, {r, x}, colour, RASTEROP(op % 8)); },
            [&] { FILLTRIANGLE(dest, {x, y}, {a, b}, {r, x}, colour, RASTEROP(op % 8)); },
            [&] { if (text) font.DRAW(dest, x, y, "Ág jy\n中-", colour, TEXTALIGN(r % 3), op == VOXPSET ? VOXPSET : VOXALPHA); },
            [&] { WORLD::DRAWLAYER(dest, map, 1, camera(true), pick(0, 999), RASTEROP(op % 8)); },
            [&] { WORLD::DRAWMAP(dest, map, camera(true)); },
            [&] { camera(false).DRAW(dest, tiles, float(x) / 2, float(y) / 2, RASTEROP(op % 8)); },
            [&] {
              TRANSFORM u;  // unturned and unscaled: the tiles' pixel rule, mirrored and tinted
              u.FLIP = pick(0, 3), u.SCALEX = pick(0, 1) ? -1.0f : 1.0f, u.PIVOTX = 3, u.PIVOTY = 2, u.TINT = colour;
              u.METHOD = RASTEROP(op % 8), u.SOURCE = {pick(0, 8), pick(0, 4), pick(-1, 15), pick(-1, 11)};
              camera(false).DRAWTRANSFORMED(dest, tiles, float(x), float(y) / 4, u);
            },
        };
        const size_t which = size_t(trial) % std::size(calls);
        // Inside, across any edge, empty, or wholly outside.
        const MATH::RECT clip{pick(-20, 70), pick(-20, 50), pick(-3, 60), pick(-3, 45)};
        const bool locked = trial % 2 == 1;
        const uint32_t seed = random();
        auto run = [&](bool clipped) {
          Restore(dest, start);
          if (clipped) {
            ASSERT_TRUE(SETCLIP(dest, clip)) << LASTERROR();
          }
          random.seed(seed);  // both runs pick the same sub-arguments
          if (locked) vox_GfxLock();
          calls[which]();
          if (locked) vox_GfxUnlock(-1, -1);
          if (clipped) {
            ASSERT_TRUE(CLEARCLIP(dest));
          }
        };
        run(false);
        const std::vector<uint8_t> whole = Bytes(dest);
        run(true);
        const std::vector<uint8_t> cut = Bytes(dest);
        VOX_IMAGE_INFO info;
        if (dest) vox_hImageInfo(dest, 4, &info);
        const int64_t pitch = dest ? info.pitch : __vox_gfx->pitch, base = dest ? 32 : 0;
        const int64_t w = dest ? info.width : __vox_gfx->width;
        for (size_t i = 0; i < cut.size(); ++i) {
          const int64_t at = int64_t(i) - base, px = at % pitch / bpp, py = at / pitch;
          const bool inside = at >= 0 && px < w && px >= clip.X && px <= int64_t{clip.X} + clip.W &&
                              py >= clip.Y && py <= int64_t{clip.Y} + clip.H;
          ASSERT_EQ(cut[i], inside ? whole[i] : start[i])
              << "call " << which << " byte " << i << " (" << px << ", " << py << ") clip " << clip.X << " "
              << clip.Y << " " << clip.W << " " << clip.H << (dest ? " image" : " screen");
        }
      }
    }
  }
  vox_hRowPathForce(99);
}


}  // namespace
