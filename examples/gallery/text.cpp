// Text and alignment: the engine's own font at three sizes, lines placed left, centred and right
// on a guide, several lines in one call, and a counter framed by the box MEASURE gives for its ink.
// Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT SMALL, MEDIUM, LARGE;
float T = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  T += ELAPSED;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1E2230);
  LARGE.DRAW(DEST, WIDTH / 2, 8, "Text and alignment", 0xFFFFD040, TEXTCENTRE);
  // A guide at X = 240: each line's pen starts there, is centred on it, or ends there.
  DRAWLINE(DEST, 240, 50, 240, 140, 0xFF606880);
  MEDIUM.DRAW(DEST, 240, 52, "TEXTLEFT starts here", 0xFFFFFFFF, TEXTLEFT);
  MEDIUM.DRAW(DEST, 240, 82, "TEXTCENTRE centres", 0xFFFFFFFF, TEXTCENTRE);
  MEDIUM.DRAW(DEST, 240, 112, "TEXTRIGHT ends here", 0xFFFFFFFF, TEXTRIGHT);
  // "\n" starts a new line, LINEHEIGHT lower; each line is aligned on its own.
  SMALL.DRAW(DEST, 120, 160, "Several lines\nin one call,\neach centred", 0xFFA0D0FF, TEXTCENTRE);
  // A changing text framed by its ink: the pixels DRAW touches, relative to where it is drawn.
  const std::string COUNT = "Seconds: " + std::to_string(int32_t(T * 10) / 10.0f).substr(0, 4);
  const TEXTSIZE SIZE = LARGE.MEASURE(COUNT);
  const int32_t X = 270, Y = 180;
  DRAWRECT(DEST, {X + SIZE.INK.X - 2, Y + SIZE.INK.Y - 2, SIZE.INK.W + 4, SIZE.INK.H + 4},
           0xFF50C070);
  DRAWLINE(DEST, X, Y + SIZE.ASCENT, X + SIZE.W, Y + SIZE.ASCENT, 0xFFE05050);  // the baseline
  LARGE.DRAW(DEST, X, Y, COUNT, 0xFFFFFFFF);
  SMALL.DRAW(DEST, 8, HEIGHT - 8 - SMALL.LINEHEIGHT(), "green: the ink box   red: the baseline",
             0xFF9098B0);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!SMALL.OPENDEFAULT(14) || !MEDIUM.OPENDEFAULT(18) || !LARGE.OPENDEFAULT(28)) return;
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "text: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
