// A particle fountain: hundreds of sparks thrown up from where the pointer is, each with a random
// speed (vox_Rnd, seeded by INITIALIZE), falling under gravity and fading as it ages, added onto
// the screen so crowded sparks glow. Move the pointer; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320, MAXSPARKS = 1500;
constexpr float LIFE = 2.0f, GRAVITY = 260;
struct SPARK {
  float X, Y, VX, VY, AGE;
};
std::vector<SPARK> SPARKS;
FONT TEXT;
float SOURCEX = WIDTH / 2, SOURCEY = HEIGHT - 20, OWED = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  int32_t PX = -1, PY = -1;
  vox_GetMouse(&PX, &PY, nullptr, nullptr, nullptr);
  if (PX >= 0) SOURCEX = float(PX), SOURCEY = float(PY);
  // 400 new sparks a second, whatever the frame rate.
  for (OWED += 400 * ELAPSED; OWED >= 1 && int32_t(SPARKS.size()) < MAXSPARKS; OWED -= 1)
    SPARKS.push_back(
        {SOURCEX, SOURCEY, float(vox_Rnd(1) * 120 - 60), float(-150 - vox_Rnd(1) * 150), 0});
  if (OWED > 1) OWED = 1;
  for (SPARK& S : SPARKS) {
    S.VY += GRAVITY * ELAPSED;
    S.X += S.VX * ELAPSED;
    S.Y += S.VY * ELAPSED;
    S.AGE += ELAPSED;
  }
  std::erase_if(SPARKS, [](const SPARK& S) { return S.AGE > LIFE || S.Y > HEIGHT; });
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF080810);
  for (const SPARK& S : SPARKS) {
    // Young sparks are yellow-white and big, old ones dim red; VOXADD adds them up.
    const float LEFT = 1 - S.AGE / LIFE;
    const uint32_t R = uint32_t(200 * LEFT), G = uint32_t(160 * LEFT * LEFT),
                   B = uint32_t(60 * LEFT * LEFT * LEFT);
    FILLCIRCLE(DEST, int32_t(S.X), int32_t(S.Y), LEFT > 0.6f ? 2 : 1,
               0xFF000000 | R << 16 | G << 8 | B, VOXADD);
  }
  TEXT.DRAW(DEST, 8, 6, std::to_string(SPARKS.size()) + " sparks", 0xFFB0B8C8);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(14)) return;
    LOADED = true;
    SPARKS.reserve(MAXSPARKS);
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "fountain: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
