// The demonstration game's program. GAME has already attached the game to the engine during
// start-up (game.cpp), so the whole game runs inside INITIALIZE: it opens the 640 x 480 window
// and raises ONINITIALIZE, whose handler shows the game's screen and with it runs the frame loop
// until Escape or the close box ends it.
#include <kastrel/kastrel.h>

#include <cstdio>

int main() {
  if (!KASTREL::ENGINE::INITIALIZE(640, 480, KASTREL::FALSE, MODE_NOSWITCH)) {
    std::fprintf(stderr, "kastrel-demo: %s\n", KASTREL::LASTERROR());
  }
  // The game's normal end, also when the window could not be opened.
  return 1;
}
