// A game of many turning sprites over a tile map that repaints only what it marks changed, each
// paint clipped to its rectangle, against the same game repainted whole.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"
#include "kastrel/engine/collision.h"
#include "kastrel/engine/engine.h"
#include "kastrel/engine/regions.h"
#include "kastrel/engine/screens.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/shapes.h"
#include "kastrel/world/camera.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

constexpr int32_t kW = 160, kH = 120, kFrames = 1800;  // a minute at 30 frames a second
constexpr uint32_t kBack = 0xFF204060u;

struct Sprite {
  float x, y, dx, dy, angle, turn;
};
GRAPHICS::BITMAP sprite, reference;
WORLD::TILEMAP world;  // its background, a repeated picture and a layer of tiles, some clear
WORLD::CAMERA camera(kW, kH);
std::vector<Sprite> sprites;
int32_t frame = 0, wrong_frames = 0, first_wrong = -1;

GRAPHICS::TRANSFORM Transform(const Sprite& s) {
  GRAPHICS::TRANSFORM t;
  t.ANGLE = s.angle, t.SCALEX = t.SCALEY = 1.5f;
  t.PIVOTX = 8, t.PIVOTY = 5.5f, t.FILTER = GRAPHICS::BILINEAR;
  return t;
}
// The usual repaint: the world under the rectangle, then every sprite that meets it.
void Paint(void* dest, const MATH::RECT& closed) {
  WORLD::DRAWMAP(dest, world, camera);
  for (const Sprite& s : sprites) {
    if (COLLIDES(closed, GRAPHICS::TRANSFORMEDBOUNDS(sprite, s.x, s.y, Transform(s))))
      sprite.DRAWTRANSFORMED(dest, s.x, s.y, Transform(s));
  }
}
void ONPAINT(GRAPHICS::BITMAP& DEST, MATH::RECT& RGN) { Paint(DEST.HANDLE(), {RGN.X, RGN.Y, RGN.W - 1, RGN.H - 1}); }

void ONFRAME(float, INPUTEVENT, VOX::EVENT&) {
  Paint(reference.HANDLE(), {0, 0, kW - 1, kH - 1});
  const auto* screen = static_cast<const uint8_t*>(vox_GfxScreenPtr());
  bool same = true;
  for (int32_t y = 0; y < kH && same; ++y)
    for (int32_t x = 0; x < kW && same; ++x)
      same = reinterpret_cast<const uint32_t*>(screen + y * __vox_gfx->pitch)[x] == reference.PIXEL({x, y});
  if (!same && first_wrong < 0) first_wrong = frame;
  wrong_frames += same ? 0 : 1;
  for (Sprite& s : sprites) {
    MARKCHANGED(GRAPHICS::TRANSFORMEDBOUNDS(sprite, s.x, s.y, Transform(s)));
    s.x += s.dx, s.y += s.dy, s.angle += s.turn;
    if (s.x < 0 || s.x > kW) s.dx = -s.dx;
    if (s.y < 0 || s.y > kH) s.dy = -s.dy;
    MARKCHANGED(GRAPHICS::TRANSFORMEDBOUNDS(sprite, s.x, s.y, Transform(s)));
  }
  if (++frame == kFrames) SHUTDOWN(TRUE);
}

void ONINIT() {
  CLIPPAINT(true);
  sprite.CREATE(16, 11, 0, 32);
  reference.CREATE(kW, kH, 0, 32);
  std::mt19937 random(36);
  for (int32_t y = 0; y < 11; ++y)
    for (int32_t x = 0; x < 16; ++x) sprite.PIXEL({x, y}, uint32_t(x * 16 + y * 8) << 24 | (random() & 0xFFFFFF));
  world.TILEWIDTH = world.TILEHEIGHT = 16, world.BACKGROUND = kBack;
  WORLD::TILESET tiles;
  tiles.TILEWIDTH = tiles.TILEHEIGHT = 16, tiles.TILECOUNT = 2, tiles.COLUMNS = 2, tiles.IMAGEPATH = "tiles";
  tiles.IMAGE.CREATE(32, 16, 0, 32);
  for (int32_t i = 0; i < 32 * 16; ++i) tiles.IMAGE.PIXEL({i % 32, i / 32}, i % 3 ? uint32_t(random()) | 0xFF000000u : 0);
  WORLD::LAYER picture, cells;
  picture.KIND = WORLD::LAYERIMAGE, picture.IMAGE = sprite, picture.REPEATX = true, picture.OPACITY = 0.5f;
  cells.WIDTH = 12, cells.HEIGHT = 9;
  for (int32_t i = 0; i < 12 * 9; ++i) cells.CELLS.push_back(random() % 3);
  world.TILESETS = {tiles};
  world.LAYERS = {picture, cells};
  camera.X = 91, camera.Y = 67, camera.ZOOM = 2;
  for (int32_t i = 0; i < 60; ++i) {
    auto f = [&](float lo, float hi) { return lo + (hi - lo) * float(random() % 1000) / 1000.0f; };
    sprites.push_back({f(0, kW), f(0, kH), f(-1.7f, 1.7f), f(-1.3f, 1.3f), f(0, 360), f(-6, 6)});
  }
  const int32_t screen = NEWGAMESCREEN();
  GAMESCREENS[screen].ONPAINT += ONPAINT;
  GAMESCREENS[screen].ONFRAME += ONFRAME;
  SHOW(screen, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
}

TEST(ClipPaint, MarkedClippedRepaintsShowWhatWholeRepaintsShowFrameForFrame) {
  PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  EXPECT_EQ(CLIPPAINT(), FALSE);  // off unless asked for
  ONINITIALIZE += ONINIT;
  ASSERT_EQ(INITIALIZE(kW, kH, FALSE, MODE_NOSWITCH), TRUE);
  EXPECT_EQ(frame, kFrames);
  EXPECT_EQ(wrong_frames, 0) << "first at frame " << first_wrong;
}

}  // namespace
