// Transitions: two screens, and SHOW switching between them with an animated effect: each
// Space goes to the other screen with the next of fades, slides, zooms and stripes, from the
// next direction. Press Space; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;
using ENGINE::TRANSITIONDIRECTION;
using ENGINE::TRANSITIONEFFECT;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
int32_t FIRST = 0, SECOND = 0, COUNT = 0;  // the two screens, and switches so far
const char* NAMES[] = {"none",    "fade",     "slide in",           "slide out",
                       "zoom in", "zoom out", "horizontal stripes", "vertical stripes"};

void FRAME(float, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT != ENGINE::INPUTEVENT::KEYPRESS) return;
  if (EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
  if (EVENT.SCANCODE == KEY::SPACE) {
    ++COUNT;
    const auto EFFECT = TRANSITIONEFFECT(1 + (COUNT - 1) % 7);  // FADE to VERTICALSTRIPES
    const auto DIRECTION = TRANSITIONDIRECTION((COUNT - 1) % 8);
    // The new screen paints itself while the effect runs; SHOW returns at once.
    ENGINE::SHOW(ENGINE::ACTIVEGAMESCREEN == FIRST ? SECOND : FIRST, EFFECT, DIRECTION);
  }
}

void PAGE(BITMAP& DEST, uint32_t BACK, const char* TITLE) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, BACK);
  for (int32_t I = 0; I < 6; ++I)
    FILLCIRCLE(DEST, 40 + I * 80, 250, 20 + I * 3, 0x60FFFFFF, VOXALPHA);
  TEXT.DRAW(DEST, WIDTH / 2, 60, TITLE, 0xFFFFFFFF, TEXTCENTRE);
  const std::string LAST =
      COUNT == 0 ? "Space: switch" : std::string("came by ") + NAMES[1 + (COUNT - 1) % 7];
  TEXT.DRAW(DEST, WIDTH / 2, 120, LAST, 0xFFFFFFFF, TEXTCENTRE);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(24)) return;
    LOADED = true;
    ENGINE::TRANSITIONDURATION = 0.6;  // seconds
    FIRST = ENGINE::NEWGAMESCREEN();
    SECOND = ENGINE::NEWGAMESCREEN();
    for (int32_t SCREEN : {FIRST, SECOND}) {
      ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
      // A screen shown is repainted whole; nothing changes between switches.
      ENGINE::GAMESCREENS[SCREEN].ONSHOW += [] { ENGINE::MARKWHOLEWINDOW(); };
    }
    ENGINE::GAMESCREENS[FIRST].ONPAINT +=
        [](BITMAP& DEST, MATH::RECT&) { PAGE(DEST, 0xFF2050A0, "The first screen"); };
    ENGINE::GAMESCREENS[SECOND].ONPAINT +=
        [](BITMAP& DEST, MATH::RECT&) { PAGE(DEST, 0xFFA04020, "The second screen"); };
    ENGINE::SHOW(FIRST);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "transitions: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
