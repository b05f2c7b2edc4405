// A camera: a world four times the window, made in code, seen through a CAMERA that follows a
// ship with a dead zone and some lag, kept inside the world's edges, and zoomed. The arrow keys
// fly the ship, Z and X zoom in and out; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320, WORLDW = 960, WORLDH = 640;
FONT TEXT;
BITMAP GROUND, SHIP;
WORLD::CAMERA VIEW(WIDTH, HEIGHT);
float X = 480, Y = 320;  // the ship, in world pixels

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS) {
    if (EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
    if (EVENT.SCANCODE == KEY::Z && VIEW.ZOOM < 4) VIEW.ZOOM *= 2;
    if (EVENT.SCANCODE == KEY::X && VIEW.ZOOM > 0.5f) VIEW.ZOOM /= 2;
  }
  const float STEP = 220 * ELAPSED;
  if (vox_GfxMultikey(KEY::LEFT)) X -= STEP;
  if (vox_GfxMultikey(KEY::RIGHT)) X += STEP;
  if (vox_GfxMultikey(KEY::UP)) Y -= STEP;
  if (vox_GfxMultikey(KEY::DOWN)) Y += STEP;
  X = X < 0 ? 0 : X > WORLDW - 16 ? WORLDW - 16 : X;
  Y = Y < 0 ? 0 : Y > WORLDH - 16 ? WORLDH - 16 : Y;
  VIEW.FOLLOW(X + 8, Y + 8, ELAPSED);  // moves only once the ship leaves the dead zone
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF000000);
  VIEW.DRAW(nullptr, GROUND, 0, 0);  // the world's corner at world (0, 0); null: the screen
  VIEW.DRAW(nullptr, SHIP, X, Y);
  // A world point on the screen: a ring around the ship, at any zoom.
  const MATH::POINTF AT = VIEW.TOVIEW(X + 8, Y + 8);
  DRAWCIRCLE(DEST, int32_t(AT.X), int32_t(AT.Y), int32_t(14 * VIEW.ZOOM), 0xFFFFFFFF);
  TEXT.DRAW(DEST, 8, 6,
            "zoom " + std::to_string(VIEW.ZOOM).substr(0, 4) + "  ship " +
                std::to_string(int32_t(X)) + ", " + std::to_string(int32_t(Y)),
            0xFFFFFFFF);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(16)) return;
    // The world: a checkerboard of 64-pixel squares with a numbered landmark in some.
    GROUND.CREATE(WORLDW, WORLDH, 0xFF000000, 32);
    for (int32_t Y = 0; Y < WORLDH; Y += 64)
      for (int32_t X = 0; X < WORLDW; X += 64) {
        FILLRECT(GROUND, {X, Y, 63, 63}, ((X + Y) / 64) % 2 ? 0xFF2E5A3A : 0xFF386A46);
        if ((X / 64 * 7 + Y / 64 * 3) % 5 == 0) FILLCIRCLE(GROUND, X + 32, Y + 32, 12, 0xFFD0C060);
      }
    DRAWRECT(GROUND, {0, 0, WORLDW - 1, WORLDH - 1}, 0xFFFF4040);
    SHIP.CREATE(16, 16, 0x00000000, 32);
    FILLTRIANGLE(SHIP, {8, 0}, {16, 16}, {0, 16}, 0xFF60C0FF);
    VIEW.X = X, VIEW.Y = Y;
    VIEW.DEADZONEW = 120, VIEW.DEADZONEH = 80;  // the ship roams this much before the camera moves
    VIEW.LAG = 0.25f;                           // and then it catches up smoothly
    VIEW.BOUNDS = {0, 0, WORLDW - 1, WORLDH - 1};
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "camera: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
