// Shapes: points, lines, rectangles, circles, triangles and a polygon, each in one colour, and
// a star that turns and a ring that pulses so the picture moves. Nothing to press; Escape ends.
#include <kastrel/kastrel.h>

#include <cmath>
#include <cstdio>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320;
float T = 0;  // seconds since the start

void FRAME(float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE)
    ENGINE::SHUTDOWN(TRUE);
  T += ELAPSED;
  ENGINE::MARKWHOLEWINDOW();  // everything moves: repaint it all
}

void PAINT(BITMAP& DEST, MATH::RECT&) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF202830);
  // A fan of lines, and a dotted row of single pixels under it.
  for (int32_t I = 0; I <= 8; ++I) DRAWLINE(DEST, 20, 20, 20 + I * 15, 140, 0xFF80C0FF);
  for (int32_t X = 20; X < 140; X += 4) DRAWPOINT(DEST, X, 150, 0xFFFFFFFF);
  // Rectangles are closed: {X, Y, W, H} covers W + 1 columns and H + 1 rows.
  DRAWRECT(DEST, {170, 20, 100, 60}, 0xFFFFD040);
  FILLRECT(DEST, {180, 30, 80, 40}, 0xFFE05050);
  FILLRECT(DEST, {200, 50, 80, 40}, 0x8040A0FF, VOXALPHA);  // half see-through
  // Circles, filled and outlined; the outline's radius pulses.
  FILLCIRCLE(DEST, 360, 60, 40, 0xFF50C070);
  DRAWCIRCLE(DEST, 360, 60, 44 + int32_t(6 * std::sin(T * 4)), 0xFFFFFFFF);
  // Triangles.
  FILLTRIANGLE(DEST, {40, 300}, {100, 190}, {160, 300}, 0xFFC070E0);
  DRAWTRIANGLE(DEST, {30, 305}, {100, 180}, {170, 305}, 0xFFFFFFFF);
  // A five-pointed star as a polygon, turning: its points every 36 degrees, far and near.
  MATH::POLY STAR;
  for (int32_t I = 0; I < 10; ++I) {
    const float A = T + float(I) * 3.14159265f / 5, R = I % 2 == 0 ? 80.0f : 32.0f;
    STAR.ADDPOINT(int32_t(330 + R * std::sin(A)), int32_t(220 - R * std::cos(A)));
  }
  FILLPOLY(DEST, STAR, 0xFFFFB030);
}

}  // namespace

int main() {
  ENGINE::ONINITIALIZE += [] {
    const int32_t SCREEN = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[SCREEN].ONFRAME += FRAME;
    ENGINE::GAMESCREENS[SCREEN].ONPAINT += PAINT;
    ENGINE::SHOW(SCREEN);  // runs the frame loop until SHUTDOWN
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC)) {
    std::fprintf(stderr, "shapes: %s\n", LASTERROR());
    return 2;
  }
  return 0;
}
