// The clip: SETCLIP keeps every drawing call inside a rectangle, so a scene drawn across the
// whole window shows only through a moving window of it; CLIPSCOPE sets one for a block and puts
// the previous one back. Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cmath>
#include <cstdio>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
float T = 0;

void SCENE(BITMAP& DEST, uint32_t TINT) {  // stripes and circles over the whole window
  for (int32_t X = -HEIGHT + int32_t(T * 40) % 40; X < WIDTH; X += 40)
    for (int32_t W = 0; W < 16; ++W) DRAWLINE(DEST, X + W, 0, X + W + HEIGHT, HEIGHT, TINT);
  for (int32_t I = 0; I < 6; ++I) FILLCIRCLE(DEST, 40 + I * 80, 160, 30, 0xFFFFD040 & TINT);
}

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  T += ELAPSED;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF181C24);
  SCENE(DEST, 0xFF303848);  // the scene dimmed, everywhere
  // The bright scene again, inside a rectangle that wanders: nothing lands outside it.
  const MATH::RECT VIEW{int32_t(180 + 150 * std::sin(T)), int32_t(100 + 60 * std::cos(T * 1.3f)),
                        119, 99};
  {
    CLIPSCOPE INSIDE(DEST, VIEW);  // the clip holds until the end of this block
    SCENE(DEST, 0xFF60A0FF);
    TEXT.DRAW(DEST, VIEW.X + 60, VIEW.Y + 40, "clipped text runs past the edges", 0xFFFFFFFF,
              TEXTCENTRE);
  }
  DRAWRECT(DEST, {VIEW.X - 1, VIEW.Y - 1, VIEW.W + 2, VIEW.H + 2}, 0xFFFFFFFF);
  // SETCLIP and CLEARCLIP by hand: a title cut in half along its middle row.
  SETCLIP(DEST, {0, 0, WIDTH - 1, 18});
  TEXT.DRAW(DEST, WIDTH / 2, 6, "Only the top half of this line shows", 0xFFFFD040, TEXTCENTRE);
  CLEARCLIP(DEST);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(18)) return;
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "clip: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
