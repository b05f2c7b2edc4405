// A Tiled map: data/level1.tmx (made in the Tiled editor, its tileset in tiles.tsx) loaded with
// TILEMAP and drawn by DRAWMAP through a camera: its layers in order, the sky's parallax, the
// animated tiles, and the object layer's coins drawn by the game. Arrows scroll; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
WORLD::TILEMAP MAP;
WORLD::CAMERA VIEW(WIDTH, HEIGHT);
SPRITESHEET TILES;  // the tileset's picture cut into tiles
float CLOCK = 0;    // seconds, for the tiles' animations

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  CLOCK += ELAPSED;
  const float STEP = 240 * ELAPSED;
  if (vox_GfxMultikey(KEY::LEFT)) VIEW.X -= STEP;
  if (vox_GfxMultikey(KEY::RIGHT)) VIEW.X += STEP;
  if (vox_GfxMultikey(KEY::UP)) VIEW.Y -= STEP;
  if (vox_GfxMultikey(KEY::DOWN)) VIEW.Y += STEP;
  VIEW.CLAMP();  // never past the map's edges
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  // Every visible tile layer, over the map's background colour.
  const int64_t MS = int64_t(CLOCK * 1000);
  WORLD::DRAWMAP(nullptr, MAP, VIEW, MS);
  // Object layers are the game's to draw: here each object that shows a tile, animated too.
  for (const WORLD::LAYER& LAYER : MAP.LAYERS) {
    if (LAYER.KIND != WORLD::LAYEROBJECTS) continue;
    for (const WORLD::MAPOBJECT& THING : LAYER.OBJECTS) {
      if (THING.SHAPE != WORLD::SHAPETILE) continue;  // a tile object's (X, Y) is its bottom left
      const uint32_t GID = MAP.ANIMATEDGID(THING.GID, MS) & WORLD::TILEGIDMASK;
      VIEW.DRAW(nullptr, TILES, int32_t(GID - MAP.TILESETS[0].FIRSTGID), float(THING.X),
                float(THING.Y - THING.HEIGHT));
    }
  }
  TEXT.DRAW(DEST, 8, 6,
            std::to_string(MAP.WIDTH) + " x " + std::to_string(MAP.HEIGHT) + " tiles, " +
                std::to_string(MAP.LAYERS.size()) + " layers   x " +
                std::to_string(int32_t(VIEW.X)),
            0xFF102030);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(16) || !MAP.LOADFROMFILE(PATHS::DATA() + "level1.tmx")) return;
    TILES = SPRITESHEET(MAP.TILESETS[0].IMAGE, MAP.TILEWIDTH, MAP.TILEHEIGHT);
    LOADED = true;
    // The whole map is the camera's world; it starts at the left edge.
    VIEW.BOUNDS = {0, 0, float(MAP.WIDTH * MAP.TILEWIDTH - 1),
                   float(MAP.HEIGHT * MAP.TILEHEIGHT - 1)};
    VIEW.X = 0, VIEW.Y = 0;
    VIEW.CLAMP();
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "tilemap: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
