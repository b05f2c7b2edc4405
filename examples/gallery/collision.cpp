// Tile collision: a box that runs and jumps on data/level1.tmx, stopped by its solid tiles and
// landing on its one-way platforms from above (TILECOLLIDER, from the layers' "solid" and
// "oneway" properties), with the sides it touched shown. Arrows run, Space jumps; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
constexpr float BOXW = 12, BOXH = 14, GRAVITY = 900, JUMP = 330, SPEED = 130;
FONT TEXT;
WORLD::TILEMAP MAP;
WORLD::TILECOLLIDER SOLID;
WORLD::CAMERA VIEW(WIDTH, HEIGHT);
float X = 40, Y = 200, VY = 0;
int32_t TOUCHED = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  if (ELAPSED > 0.05f) ELAPSED = 0.05f;  // a long pause must not throw the box through the floor
  const bool GROUNDED = (TOUCHED & WORLD::TOUCHBOTTOM) != 0;
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::SPACE && GROUNDED) VY = -JUMP;
  float DX = 0;
  if (vox_GfxMultikey(KEY::LEFT)) DX -= SPEED * ELAPSED;
  if (vox_GfxMultikey(KEY::RIGHT)) DX += SPEED * ELAPSED;
  VY += GRAVITY * ELAPSED;
  // Across by DX, then down by VY: each stopped at the first solid part in the way.
  const WORLD::MOVED MOVED = SOLID.MOVEBOX({X, Y, BOXW, BOXH}, DX, VY * ELAPSED);
  X = MOVED.X, Y = MOVED.Y, TOUCHED = MOVED.TOUCHED;
  if (TOUCHED & (WORLD::TOUCHBOTTOM | WORLD::TOUCHTOP)) VY = 0;
  if (Y > float(MAP.HEIGHT * MAP.TILEHEIGHT)) X = 40, Y = 200, VY = 0;  // fell off: start again
  VIEW.FOLLOW(X + BOXW / 2, Y + BOXH / 2, ELAPSED);
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  WORLD::DRAWMAP(nullptr, MAP, VIEW);
  const MATH::RECTF BOX = VIEW.TOVIEW(MATH::RECTF{X, Y, BOXW - 1, BOXH - 1});
  const MATH::RECT R{int32_t(BOX.X), int32_t(BOX.Y), int32_t(BOX.W), int32_t(BOX.H)};
  FILLRECT(DEST, R, 0xFFE05050);
  // A bright edge on each side that met something this pass.
  if (TOUCHED & WORLD::TOUCHLEFT) FILLRECT(DEST, {R.X, R.Y, 1, R.H}, 0xFFFFFF40);
  if (TOUCHED & WORLD::TOUCHRIGHT) FILLRECT(DEST, {R.X + R.W - 1, R.Y, 1, R.H}, 0xFFFFFF40);
  if (TOUCHED & WORLD::TOUCHTOP) FILLRECT(DEST, {R.X, R.Y, R.W, 1}, 0xFFFFFF40);
  if (TOUCHED & WORLD::TOUCHBOTTOM) FILLRECT(DEST, {R.X, R.Y + R.H - 1, R.W, 1}, 0xFFFFFF40);
  TEXT.DRAW(DEST, 8, 6,
            std::string("touching:") + (TOUCHED & WORLD::TOUCHLEFT ? " left" : "") +
                (TOUCHED & WORLD::TOUCHRIGHT ? " right" : "") +
                (TOUCHED & WORLD::TOUCHTOP ? " top" : "") +
                (TOUCHED & WORLD::TOUCHBOTTOM ? " ground" : ""),
            0xFF102030);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(16) || !MAP.LOADFROMFILE(PATHS::DATA() + "level1.tmx")) return;
    SOLID = WORLD::TILECOLLIDER(MAP);  // every tile layer's solid and one-way cells
    VIEW.BOUNDS = {0, 0, float(MAP.WIDTH * MAP.TILEWIDTH - 1),
                   float(MAP.HEIGHT * MAP.TILEHEIGHT - 1)};
    VIEW.DEADZONEW = 80, VIEW.DEADZONEH = 60;
    VIEW.X = X, VIEW.Y = Y;
    VIEW.CLAMP();
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "collision: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
