// Turning and scaling: one picture drawn by DRAWTRANSFORMED turned about its centre, scaled,
// mirrored, tinted, and zoomed with hard pixels (NEAREST) beside smooth ones (BILINEAR).
// Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cmath>
#include <cstdio>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
BITMAP ARROW;  // 32 x 16, made in code
float T = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  T += ELAPSED;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202838);
  TRANSFORM CENTRE;  // the pivot at the picture's middle: it turns and scales about it
  CENTRE.PIVOTX = 16;
  CENTRE.PIVOTY = 8;
  TRANSFORM TURN = CENTRE;  // turning, 90 degrees a second
  TURN.ANGLE = T * 90;
  ARROW.DRAWTRANSFORMED(DEST, 70, 80, TURN);
  TRANSFORM GROW = CENTRE;  // scaling, between half and twice the size
  GROW.SCALEX = GROW.SCALEY = 1.25f + 0.75f * std::sin(T * 2);
  ARROW.DRAWTRANSFORMED(DEST, 200, 80, GROW);
  TRANSFORM MIRROR = CENTRE;  // mirrored left to right, and tinted half see-through green
  MIRROR.FLIP = FLIPH;
  MIRROR.TINT = 0x8040FF40;
  ARROW.DRAWTRANSFORMED(DEST, 330, 80, MIRROR);
  TRANSFORM BOTH = CENTRE;  // turning and stretched at once
  BOTH.ANGLE = -T * 45;
  BOTH.SCALEX = 2;
  ARROW.DRAWTRANSFORMED(DEST, 420, 80, BOTH);
  // Four times the size and turned a little: NEAREST keeps hard pixels, BILINEAR smooths.
  TRANSFORM HARD = CENTRE;
  HARD.SCALEX = HARD.SCALEY = 4;
  HARD.ANGLE = 10 * std::sin(T);
  ARROW.DRAWTRANSFORMED(DEST, 130, 230, HARD);
  TRANSFORM SMOOTH = HARD;
  SMOOTH.FILTER = BILINEAR;
  ARROW.DRAWTRANSFORMED(DEST, 350, 230, SMOOTH);
}

}  // namespace

int main() {
  ENGINE::ONINITIALIZE += [] {
    ARROW.CREATE(32, 16, 0x00000000, 32);
    FILLRECT(ARROW, {0, 5, 19, 5}, 0xFFFFD040);
    FILLTRIANGLE(ARROW, {18, 0}, {31, 8}, {18, 16}, 0xFFFF8030);
    DRAWPOINT(ARROW, 2, 7, 0xFF000000);
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC)) {
    std::fprintf(stderr, "transform: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
