// Keys: a square moved by the arrow keys while they are held (vox_GfxMultikey polls the keyboard
// as it stands), and the last key pressed and released, by name, from the key events. Press any
// key; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
float X = 224, Y = 144;
std::string PRESSED = "-", RELEASED = "-";
int32_t COUNT = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS) {
    if (EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
    PRESSED = KEYNAME(EVENT.SCANCODE);
    ++COUNT;
  }
  if (INPUT == ENGINE::INPUTEVENT::KEYRELEASE) RELEASED = KEYNAME(EVENT.SCANCODE);
  // Held keys: 150 pixels a second whatever the frame rate.
  const float STEP = 150 * ELAPSED;
  if (vox_GfxMultikey(KEY::LEFT)) X -= STEP;
  if (vox_GfxMultikey(KEY::RIGHT)) X += STEP;
  if (vox_GfxMultikey(KEY::UP)) Y -= STEP;
  if (vox_GfxMultikey(KEY::DOWN)) Y += STEP;
  X = X < 0 ? 0 : X > WIDTH - 32 ? WIDTH - 32 : X;
  Y = Y < 60 ? 60 : Y > HEIGHT - 32 ? HEIGHT - 32 : Y;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202838);
  FILLRECT(DEST, {0, 0, WIDTH - 1, 55}, 0xFF2C3648);
  TEXT.DRAW(DEST, 10, 6, "pressed: " + PRESSED + "   released: " + RELEASED, 0xFFFFFFFF);
  TEXT.DRAW(DEST, 10, 30, "key presses: " + std::to_string(COUNT) + "   arrows move", 0xFFB0B8C8);
  const bool SPACE = vox_GfxMultikey(KEY::SPACE);  // held now?
  FILLRECT(DEST, {int32_t(X), int32_t(Y), 31, 31}, SPACE ? 0xFFFFD040 : 0xFF50C0F0);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(16)) return;
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "keys: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
