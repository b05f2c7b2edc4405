#pragma once
// The platformer example's game, apart from its main() so that tests can run it in their own
// process and watch its state.
#include <kastrel/kastrel.h>

#include <vector>

namespace PLATFORMER {

using namespace KASTREL;

inline constexpr int32_t WIDTH = 640, HEIGHT = 480;

struct GAMESTATE {
  float X = 0, Y = 0, VX = 0, VY = 0;  // the player's box corner, world pixels
  bool ONGROUND = false, FACINGLEFT = false, PAUSED = false;
  std::vector<bool> TAKEN;  // per coin of the map
  int32_t COINS = 0;
  float TIME = 0;      // seconds since the run started
  int32_t BESTMS = 0;  // the best time in milliseconds, 0 when there is none
  bool NEWBEST = false;
};
extern GAMESTATE GAME;
extern int32_t TITLESCREEN, PLAYSCREEN, GOALSCREEN;

// Opens the window with the MODE_* word FLAGS and runs the whole game in it. FALSE, with the
// reason in KASTREL::LASTERROR(), when no window opens or the map does not load.
BOOLEAN RUN(int32_t FLAGS);

}  // namespace PLATFORMER
