// Sprite sheets and animation: data/player.png cut into 16 x 16 frames (SPRITESHEET), the whole
// sheet shown numbered, and a runner whose ANIMATION steps through them as time passes, drawn four
// times the size. Space switches between running and standing; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
SPRITESHEET SHEET;
ANIMATION RUN(1, 6, 0.08f), STAND(0, 1, 1.0f);  // frames 1 to 6, 80 ms each; frame 0 alone
ANIMATION* NOW = &RUN;
FONT TEXT;
float X = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::SPACE) {
    NOW = NOW == &RUN ? &STAND : &RUN;
    NOW->RESET();
  }
  NOW->UPDATE(ELAPSED);
  if (NOW == &RUN) X += 90 * ELAPSED;
  if (X > WIDTH) X = -64;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF28303C);
  // Every frame of the sheet with its number.
  for (int32_t N = 0; N < SHEET.COUNT(); ++N) {
    const int32_t FX = 20 + (N % 7) * 64, FY = 20 + (N / 7) * 56;
    FILLRECT(DEST, {FX - 2, FY - 2, 19, 19}, N == NOW->FRAME() ? 0xFFFFD040 : 0xFF3C4658);
    SHEET.DRAW(DEST, N, FX, FY);
    TEXT.DRAW(DEST, FX + 22, FY, std::to_string(N), 0xFFB0B8C8);
  }
  // The animation's frame at four times the size, with hard pixels.
  TRANSFORM BIG;
  BIG.SCALEX = BIG.SCALEY = 4;
  SHEET.DRAWTRANSFORMED(DEST, NOW->FRAME(), X, 200, BIG);
  FILLRECT(DEST, {0, 264, WIDTH - 1, 3}, 0xFF70A050);
  TEXT.DRAW(DEST, 8, HEIGHT - 24, NOW == &RUN ? "running (Space: stand)" : "standing (Space: run)",
            0xFFFFFFFF);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    BITMAP IMAGE;
    if (!IMAGE.LOADFROMFILE(PATHS::DATA() + "player.png") || !TEXT.OPENDEFAULT(14)) return;
    SHEET = SPRITESHEET(IMAGE, 16, 16);  // every whole 16 x 16 cell, row by row
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "animation: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
