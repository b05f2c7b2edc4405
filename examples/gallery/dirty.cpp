// Dirty rectangles: instead of repainting the whole window every pass, the game marks only what
// changed (MARKCHANGED: where a ball was and where it is now), and with CLIPPAINT on each ONPAINT
// repaints just its rectangle, so the costly background is drawn only where something moved.
// Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320, SIZE = 24;
struct BALL {
  float X, Y, VX, VY;
  uint32_t COLOR;
};
BALL BALLS[3] = {{40, 60, 120, 90, 0xFFE05050},
                 {300, 200, -80, 130, 0xFF50C070},
                 {200, 100, 150, -60, 0xFF5090F0}};
FONT TEXT;
int32_t PAINTED = 0;  // rectangles repainted in the last pass

MATH::RECT BOX(const BALL& B) { return {int32_t(B.X), int32_t(B.Y), SIZE - 1, SIZE - 1}; }

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  PAINTED = 0;
  for (BALL& B : BALLS) {
    ENGINE::MARKCHANGED(BOX(B));  // where it was
    B.X += B.VX * ELAPSED;
    B.Y += B.VY * ELAPSED;
    if (B.X < 0 || B.X > WIDTH - SIZE) B.VX = -B.VX, B.X = B.X < 0 ? 0 : WIDTH - SIZE;
    if (B.Y < 30 || B.Y > HEIGHT - SIZE) B.VY = -B.VY, B.Y = B.Y < 30 ? 30 : HEIGHT - SIZE;
    ENGINE::MARKCHANGED(BOX(B));  // and where it is: overlapping boxes merge
  }
  ENGINE::MARKCHANGED({0, 0, 200, 24});  // the counter
}

// Called once per marked rectangle, clipped to it: it may draw everything, only RGN changes.
void PAINT(BITMAP& DEST, MATH::RECT&) {
  ++PAINTED;
  for (int32_t Y = 0; Y < HEIGHT; Y += 16)  // a background that is costly to draw in whole
    for (int32_t X = 0; X < WIDTH; X += 16)
      FILLRECT(DEST, {X, Y, 15, 15}, ((X + Y) / 16) % 2 ? 0xFF2A3240 : 0xFF323C4C);
  for (const BALL& B : BALLS) FILLCIRCLE(DEST, int32_t(B.X) + 11, int32_t(B.Y) + 11, 11, B.COLOR);
  TEXT.DRAW(DEST, 6, 4, "rectangles repainted: " + std::to_string(PAINTED), 0xFFFFFFFF);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(14)) return;
    LOADED = true;
    ENGINE::CLIPPAINT(TRUE);  // each ONPAINT is clipped to the rectangle it repaints
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);  // the first pass paints the whole window
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "dirty: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
