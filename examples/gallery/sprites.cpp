// Sprites: a picture loaded from data/, drawn whole, as one region of it, copied without its
// alpha (VOXPSET) and blended by it (VOXALPHA), faded with ALPHA, and a picture made in code
// bouncing around. Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
BITMAP PLAYER, FADED, BALL;
float X = 40, Y = 200, VX = 140, VY = -110;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  X += VX * ELAPSED;
  Y += VY * ELAPSED;
  if (X < 0 || X > WIDTH - 32) VX = -VX, X = X < 0 ? 0 : WIDTH - 32;
  if (Y < 120 || Y > HEIGHT - 32) VY = -VY, Y = Y < 120 ? 120 : HEIGHT - 32;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF3A4A60);
  for (int32_t I = 0; I < WIDTH; I += 40) FILLRECT(DEST, {I, 0, 19, 110}, 0xFF46587A);
  // The whole sheet (112 x 32), then one 16 x 16 frame of it: W and H are the last column and
  // row counted from the corner, as every closed rectangle.
  PLAYER.DRAWTO(DEST, 20, 20, 0, 0, 0, 0, VOXALPHA);
  PLAYER.DRAWTO(DEST, 160, 20, 16, 0, 15, 15, VOXALPHA);
  // The same frame copied with its see-through pixels as they are, and blended.
  PLAYER.DRAWTO(DEST, 200, 20, 16, 0, 15, 15, VOXPSET);
  FADED.DRAWTO(DEST, 240, 20, 16, 0, 15, 15, VOXALPHA);  // at a third of its opacity
  BALL.DRAWTO(DEST, int32_t(X), int32_t(Y), 0, 0, 0, 0, VOXALPHA);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!PLAYER.LOADFROMFILE(PATHS::DATA() + "player.png")) return;
    FADED.LOADFROMFILE(PATHS::DATA() + "player.png");
    FADED.ALPHA(85);
    // A picture made in code: a 32 x 32 disc with a highlight, see-through around it.
    BALL.CREATE(32, 32, 0x00000000, 32);
    FILLCIRCLE(BALL, 15, 15, 15, 0xFFE06030);
    FILLCIRCLE(BALL, 11, 10, 4, 0xC0FFFFFF, VOXALPHA);
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "sprites: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
