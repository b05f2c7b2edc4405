// A replay-driven test: a small catching game that checks its own rules every pass and ends with
// status 3 when one breaks. Record a round (KASTREL_RECORD=round.kst), then every replay
// (kastrel-replay --verify round.kst game, or kastrel_add_session_tests in CMake) checks both the
// frames and the rules on Linux, Windows and the Web. Arrows move the bat; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320, BATW = 70;
FONT TEXT;
AUDIO::SOUND CATCH;
float BAT = 205, FRUITX = 100, FRUITY = 0, SPEED = 160;
int32_t CAUGHT = 0, MISSED = 0;
const char* BROKEN = nullptr;  // the first rule that broke

void DROP() {  // a new fruit at a random column
  FRUITX = float(10 + vox_Rnd(1) * (WIDTH - 20));
  FRUITY = 0;
}

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  const int32_t BEFORE = CAUGHT + MISSED;
  if (vox_GfxMultikey(KEY::LEFT)) BAT -= 260 * ELAPSED;
  if (vox_GfxMultikey(KEY::RIGHT)) BAT += 260 * ELAPSED;
  BAT = BAT < 0 ? 0 : BAT > WIDTH - BATW ? WIDTH - BATW : BAT;
  FRUITY += SPEED * ELAPSED;
  if (FRUITY >= HEIGHT - 30) {
    if (FRUITX >= BAT && FRUITX <= BAT + BATW)
      ++CAUGHT, SPEED += 15, CATCH.PLAY();
    else
      ++MISSED;
    DROP();
  }
  // The rules: the bat stays on the screen, the fruit above the bat's row, one fruit at a time.
  if (BAT < 0 || BAT > WIDTH - BATW) BROKEN = "the bat left the screen";
  if (FRUITY < 0 || FRUITY >= HEIGHT - 30) BROKEN = "the fruit passed the bat's row";
  if (CAUGHT + MISSED > BEFORE + 1) BROKEN = "two fruits ended in one pass";
  if (BROKEN) ENGINE::SHUTDOWN(TRUE);
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1C2838);
  FILLCIRCLE(DEST, int32_t(FRUITX), int32_t(FRUITY), 8, 0xFFE05050);
  FILLRECT(DEST, {int32_t(BAT), HEIGHT - 30, BATW - 1, 7}, 0xFFE8E8E8);
  TEXT.DRAW(DEST, 8, 6, "caught " + std::to_string(CAUGHT) + "   missed " + std::to_string(MISSED),
            0xFFFFD040);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(16) || !CATCH.LOADFROMFILE(PATHS::DATA() + "coin.wav")) return;
    LOADED = true;
    DROP();  // the random source is seeded by INITIALIZE from the clock, which a replay repeats
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "checked: %s\n", LASTERROR());
    return 2;
  }
  if (BROKEN) {
    std::fprintf(stderr, "checked: a rule broke: %s\n", BROKEN);
    return 3;
  }
  std::printf("caught %d, missed %d\n", CAUGHT, MISSED);
  return 0;
}
