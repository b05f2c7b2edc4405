#pragma once
// The Breakout example's game, apart from its main() so that tests can run it in their own
// process and watch its state.
#include <kastrel/kastrel.h>

namespace BREAKOUT {

using namespace KASTREL;

inline constexpr int32_t WIDTH = 640, HEIGHT = 480, PADDLEW = 80;
inline constexpr int32_t COLUMNS = 10, ROWS = 6;

struct GAMESTATE {
  BOOLEAN BRICKS[COLUMNS * ROWS];
  int32_t BRICKSLEFT = 0, SCORE = 0, LIVES = 0, WALL = 0;
  float PADDLEX = 0, BALLX = 0, BALLY = 0, VX = 0, VY = 0, SERVEWAIT = 0;
  BOOLEAN PAUSED = FALSE;
};
extern GAMESTATE GAME;
extern int32_t TITLESCREEN, PLAYSCREEN, OVERSCREEN;

// Opens the window with the MODE_* word FLAGS and runs the whole game in it. FALSE, with the
// reason in KASTREL::LASTERROR(), when no window opens.
BOOLEAN RUN(int32_t FLAGS);

}  // namespace BREAKOUT
