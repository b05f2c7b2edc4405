// Breakout's program: the game, scaled to fit the desktop and presented once per refresh. Exit status 0 after Escape or the
// close box, 2 when no window opens.
#include <cstdio>

#include "breakout.h"

int main() {
  if (BREAKOUT::RUN(MODE_SCALED | MODE_VSYNC) == KASTREL::FALSE) {
    std::fprintf(stderr, "breakout: %s\n", KASTREL::LASTERROR());
    return 2;
  }
  return 0;
}
