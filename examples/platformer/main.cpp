// The platformer's program: the game, scaled to fit the desktop and presented once per refresh.
// Exit status 0 after Escape or the close box, 2 when no window opens or the map is missing.
#include <cstdio>

#include "platformer.h"

int main() {
  if (PLATFORMER::RUN(MODE_SCALED | MODE_VSYNC) == KASTREL::FALSE) {
    std::fprintf(stderr, "platformer: %s\n", KASTREL::LASTERROR());
    return 2;
  }
  return 0;
}
