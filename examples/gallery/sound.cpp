// Sound: two effects loaded from data/ and played on a key, the second panned to where the
// pointer is across the window, with a bar for each while it plays. 1 and 2 play them, Space
// plays both, M mutes; Escape ends. In a browser sound starts after the first key or click.
#include <kastrel/kastrel.h>

#include <cstdio>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
AUDIO::SOUND COIN, JUMP;
float PAN = 0;  // -1 left .. 1 right

void FRAME(float, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  int32_t X = -1;
  vox_GetMouse(&X, nullptr, nullptr, nullptr, nullptr);
  if (X >= 0) PAN = float(X) / (WIDTH - 1) * 2 - 1;
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS) {
    const int32_t CODE = EVENT.SCANCODE;
    if (CODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
    if (CODE == KEY::D1 || CODE == KEY::SPACE) COIN.PLAY();
    if (CODE == KEY::D2 || CODE == KEY::SPACE) JUMP.PLAY(0.8f, PAN);  // volume, pan
    if (CODE == KEY::M) AUDIO::MUTE(!AUDIO::MUTED());
  }
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202830);
  TEXT.DRAW(DEST, 10, 8, "1: coin   2: jump (panned)   Space: both   M: mute", 0xFFFFFFFF);
  // PLAYING is TRUE while a voice plays the sound.
  FILLRECT(DEST, {40, 80, 160, 60}, COIN.PLAYING() ? 0xFFFFD040 : 0xFF3A4454);
  TEXT.DRAW(DEST, 120, 100, "coin", 0xFF000000, TEXTCENTRE);
  FILLRECT(DEST, {280, 80, 160, 60}, JUMP.PLAYING() ? 0xFF50C0F0 : 0xFF3A4454);
  TEXT.DRAW(DEST, 360, 100, "jump", 0xFF000000, TEXTCENTRE);
  // Where the jump will sound, from left to right.
  DRAWLINE(DEST, 40, 200, WIDTH - 40, 200, 0xFF606880);
  FILLCIRCLE(DEST, 240 + int32_t(PAN * 200), 200, 8, 0xFF50C0F0);
  TEXT.DRAW(DEST, 240, 220, "pan: move the pointer", 0xFF9098B0, TEXTCENTRE);
  if (AUDIO::MUTED()) TEXT.DRAW(DEST, 240, 260, "muted", 0xFFE05050, TEXTCENTRE);
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    // No sound device is no error: the game runs silent. A missing file is.
    if (!TEXT.OPENDEFAULT(16) || !COIN.LOADFROMFILE(PATHS::DATA() + "coin.wav") ||
        !JUMP.LOADFROMFILE(PATHS::DATA() + "jump.wav"))
      return;
    LOADED = true;
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "sound: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
