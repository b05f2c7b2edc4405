// Settings: a small file of key=value lines in the player's own folder (PATHS::SAVES), read at
// the start and written when something changes, so a colour and a size chosen here come back
// the next time, with the number of runs. C changes the colour, Up and Down the size; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
const uint32_t COLORS[] = {0xFF50C0F0, 0xFFE05050, 0xFF50C070, 0xFFFFD040};
FONT TEXT;
SETTINGS SAVED;
int32_t COLOR = 0, SIZE = 40, RUNS = 0;
std::string STATUS = "";

void SAVE() {
  SAVED.SETINT("colour", COLOR);
  SAVED.SETINT("size", SIZE);
  // SAVE writes a new file and renames it over the old: a crash leaves one or the other whole.
  STATUS = SAVED.SAVE() ? "saved" : std::string("not saved: ") + LASTERROR();
}

void FRAME(float, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT != ENGINE::INPUTEVENT::KEYPRESS) return;
  if (EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
  if (EVENT.SCANCODE == KEY::C) COLOR = (COLOR + 1) % 4, SAVE();
  if (EVENT.SCANCODE == KEY::UP && SIZE < 100) SIZE += 10, SAVE();
  if (EVENT.SCANCODE == KEY::DOWN && SIZE > 10) SIZE -= 10, SAVE();
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202830);
  TEXT.DRAW(DEST, 10, 8, "C: colour   Up/Down: size   (kept for next time)", 0xFFFFFFFF);
  TEXT.DRAW(DEST, 10, 34, "run number " + std::to_string(RUNS) + "   " + STATUS, 0xFFB0B8C8);
  FILLCIRCLE(DEST, WIDTH / 2, 190, SIZE, COLORS[COLOR]);
}

}  // namespace

int main() {
  // Read before the window opens; a missing file is no error (the first run), a damaged one is.
  if (!SAVED.LOAD(PATHS::SAVES("kastrel-gallery", "settings") + "settings.txt"))
    std::fprintf(stderr, "settings: starting afresh: %s\n", LASTERROR());
  COLOR = SAVED.GETINT("colour", 0) & 3;  // a value edited by hand stays in range
  SIZE = SAVED.GETINT("size", 40);
  SIZE = SIZE < 10 ? 10 : SIZE > 100 ? 100 : SIZE;
  RUNS = SAVED.GETINT("runs", 0) + 1;
  SAVED.SETINT("runs", RUNS);
  SAVE();
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
    std::fprintf(stderr, "settings: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
