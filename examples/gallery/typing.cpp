// Typed text: with text input on, every character typed arrives as a TEXTINPUT event carrying it
// in UTF-8 (accents and other scripts included), while Backspace and Enter still come as key
// presses. Type a line, Enter keeps it; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
std::string LINE;               // being typed
std::vector<std::string> KEPT;  // lines ended with Enter
float BLINK = 0;

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::TEXTINPUT && LINE.size() < 60) {
    LINE.append(EVENT.TEXT, strnlen(EVENT.TEXT, 4));  // one character, 1 to 4 bytes
  } else if (INPUT == ENGINE::INPUTEVENT::KEYPRESS || INPUT == ENGINE::INPUTEVENT::KEYREPEAT) {
    if (EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
    if (EVENT.SCANCODE == KEY::BACKSPACE && !LINE.empty()) {
      size_t END = LINE.size() - 1;  // back over a whole UTF-8 character
      while (END > 0 && (LINE[END] & 0xC0) == 0x80) --END;
      LINE.erase(END);
    }
    if (EVENT.SCANCODE == KEY::ENTER) {
      KEPT.push_back(LINE);
      if (KEPT.size() > 6) KEPT.erase(KEPT.begin());
      LINE.clear();
    }
  }
  BLINK += ELAPSED;
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1C2230);
  TEXT.DRAW(DEST, 10, 8, "Type, Backspace, Enter:", 0xFF9098B0);
  for (size_t I = 0; I < KEPT.size(); ++I)
    TEXT.DRAW(DEST, 10, 40 + int32_t(I) * 28, KEPT[I], 0xFFB0D0FF);
  FILLRECT(DEST, {6, HEIGHT - 46, WIDTH - 13, 34}, 0xFF2C3446);
  TEXT.DRAW(DEST, 12, HEIGHT - 40, LINE, 0xFFFFFFFF);
  if (int32_t(BLINK * 2) % 2 == 0) {  // a caret after the last character's advance
    const int32_t X = 12 + TEXT.MEASURE(LINE).W;
    FILLRECT(DEST, {X + 1, HEIGHT - 40, 1, TEXT.LINEHEIGHT()}, 0xFFFFD040);
  }
}

}  // namespace

int main() {
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&LOADED] {
    if (!TEXT.OPENDEFAULT(20)) return;
    LOADED = true;
    vox_GfxTextInput(1);  // characters typed now also arrive as TEXTINPUT events
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC) || !LOADED) {
    std::fprintf(stderr, "typing: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
