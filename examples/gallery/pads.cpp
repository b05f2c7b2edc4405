// Pads: every connected gamepad listed with its buttons held and its left stick, and a dot moved
// by pad 0's left stick or D-pad (or the arrow keys when no pad is there). Connect a pad and
// press its buttons; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
float X = 240, Y = 200;
std::string LAST = "no pad event yet";

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  if (INPUT == ENGINE::INPUTEVENT::PADCONNECT)
    LAST = "pad " + std::to_string(EVENT.PAD) + " connected";
  if (INPUT == ENGINE::INPUTEVENT::PADDISCONNECT)
    LAST = "pad " + std::to_string(EVENT.PAD) + " removed";
  if (INPUT == ENGINE::INPUTEVENT::PADBUTTONPRESS)
    LAST = "pad " + std::to_string(EVENT.PAD) + ": button " + std::to_string(EVENT.CONTROL);
  // The stick runs from -32768 to 32767 and reads 0 inside its dead zone; the D-pad and the
  // arrow keys count as the stick pushed all the way.
  float DX = float(vox_GfxPadAxis(0, PAD::LEFTX)) / 32768,
        DY = float(vox_GfxPadAxis(0, PAD::LEFTY)) / 32768;
  if (vox_GfxPadButton(0, PAD::LEFT) || vox_GfxMultikey(KEY::LEFT)) DX = -1;
  if (vox_GfxPadButton(0, PAD::RIGHT) || vox_GfxMultikey(KEY::RIGHT)) DX = 1;
  if (vox_GfxPadButton(0, PAD::UP) || vox_GfxMultikey(KEY::UP)) DY = -1;
  if (vox_GfxPadButton(0, PAD::DOWN) || vox_GfxMultikey(KEY::DOWN)) DY = 1;
  X += DX * 160 * ELAPSED;
  Y += DY * 160 * ELAPSED;
  X = X < 10 ? 10 : X > WIDTH - 10 ? WIDTH - 10 : X;
  Y = Y < 130 ? 130 : Y > HEIGHT - 10 ? HEIGHT - 10 : Y;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202830);
  TEXT.DRAW(DEST, 8, 6, std::to_string(vox_GfxPadCount()) + " pad(s) connected;  " + LAST,
            0xFFFFFFFF);
  int32_t ROW = 30;
  for (int32_t P = 0; P < VOX::MAX_PADS && ROW < 120; ++P) {
    if (!vox_GfxPadConnected(P)) continue;
    std::string HELD;
    for (int32_t B = 0; B < VOX::PAD_BUTTONS; ++B)
      if (vox_GfxPadButton(P, B)) HELD.append(" ").append(std::to_string(B));
    TEXT.DRAW(DEST, 8, ROW,
              "pad " + std::to_string(P) + ": stick " +
                  std::to_string(vox_GfxPadAxis(P, PAD::LEFTX)) + ", " +
                  std::to_string(vox_GfxPadAxis(P, PAD::LEFTY)) + "  held:" + HELD,
              0xFFB0D0FF);
    ROW += 22;
  }
  if (ROW == 30) TEXT.DRAW(DEST, 8, ROW, "connect a pad, or use the arrow keys", 0xFF9098B0);
  DRAWLINE(DEST, 0, 124, WIDTH - 1, 124, 0xFF404858);
  FILLCIRCLE(DEST, int32_t(X), int32_t(Y), 10,
             vox_GfxPadButton(0, PAD::A) ? 0xFFFFD040 : 0xFF50C0F0);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(15)) return;
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "pads: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
