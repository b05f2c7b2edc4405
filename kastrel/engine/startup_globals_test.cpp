// A game's global data and start-up code in a file of its own, linked first so that it runs
// before anything else of the binary is initialised: the engine's globals must be ready.
#include "kastrel/engine/engine.h"

namespace startup_game {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

void GAME_ONINITIALIZE();
void MAINSCREEN_ONFRAME(float FELAPSED, INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA);
int32_t MAINSCREEN = -1;
RESOLUTIONLIST MENU;

namespace {
struct Game {
  Game() {
    ONINITIALIZE += GAME_ONINITIALIZE;
    MAINSCREEN = NEWGAMESCREEN();
    GAMESCREENS[MAINSCREEN].ONFRAME += MAINSCREEN_ONFRAME;
    MATH::RECT early{1, 2, 3, 4};
    MARKDIRTY(early);
    MENU.ADD(320, 200);
  }
} game;
}  // namespace

}  // namespace startup_game
