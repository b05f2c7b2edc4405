// The pointer: a cross where it is (vox_GetMouse), a dot dropped at each click (the button
// events), the wheel changing the dots' size, and the buttons held shown live. Move, click and
// scroll; Escape ends.
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
FONT TEXT;
struct DOT {
  int32_t X, Y, R;
  uint32_t COLOR;
};
std::vector<DOT> DOTS;
int32_t RADIUS = 8;

void FRAME(float, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  if (INPUT == ENGINE::INPUTEVENT::MOUSEBUTTONPRESS && DOTS.size() < 200) {
    int32_t X = 0, Y = 0;  // a button event says which button (BUTTON); the pointer says where
    vox_GetMouse(&X, &Y, nullptr, nullptr, nullptr);
    DOTS.push_back({X, Y, RADIUS, EVENT.BUTTON == BUTTON::LEFT ? 0xFF50C070 : 0xFFE05050});
  }
  if (INPUT == ENGINE::INPUTEVENT::MOUSEWHEEL) {  // Z: the wheel's steps so far, up counting up
    RADIUS = 8 + 2 * EVENT.Z;
    RADIUS = RADIUS < 2 ? 2 : RADIUS > 40 ? 40 : RADIUS;
  }
  ENGINE::MARKWHOLEWINDOW();
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1E2630);
  for (const DOT& D : DOTS) FILLCIRCLE(DEST, D.X, D.Y, D.R, D.COLOR);
  int32_t X = 0, Y = 0, BUTTONS = 0;
  vox_GetMouse(&X, &Y, nullptr, &BUTTONS, nullptr);  // -1 everywhere while outside the window
  std::string LINE = "outside the window";
  if (X >= 0) {
    DRAWLINE(DEST, X - 12, Y, X + 12, Y, 0xFFFFFFFF);
    DRAWLINE(DEST, X, Y - 12, X, Y + 12, 0xFFFFFFFF);
    DRAWCIRCLE(DEST, X, Y, RADIUS, 0xFFFFD040);
    LINE = std::to_string(X) + ", " + std::to_string(Y) +
           (BUTTONS & BUTTON::LEFT ? "  left held" : "") +
           (BUTTONS & BUTTON::RIGHT ? "  right held" : "");
  }
  TEXT.DRAW(DEST, 8, 6, LINE, 0xFFFFFFFF);
  TEXT.DRAW(DEST, 8, HEIGHT - 24, "click: a dot   wheel: its size " + std::to_string(RADIUS),
            0xFFB0B8C8);
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
    std::fprintf(stderr, "pointer: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
