#pragma once
#include <cstdint>

#include "kastrel/engine/events.h"

namespace KASTREL::ENGINE {

// One game screen: the handler lists game code attaches to.
//   ONSHOW   raised by SHOW once the screen has become the active one.
//   ONHIDE   raised before another screen replaces this active one (NEWSCREEN = its index;
//            a handler that leaves CANCEL at TRUE keeps this screen), and by SHUTDOWN
//            (NEWSCREEN = -1, CANCEL ignored).
//   ONPAINT  raised by the frame loop for each dirty rectangle while the screen is active.
//            DEST is an empty bitmap standing for the frame buffer: draw into it with DRAWTO.
//            Paint handlers must not mark regions dirty.
//   ONFRAME  raised by the frame loop once per pass while the screen is active.
struct GAMESCREENEVENTS {
  __SIMPLE_EVENT ONSHOW;
  ONHIDEEVENT ONHIDE;
  ONPAINTEVENT ONPAINT;
  ONFRAMEEVENT ONFRAME;
};

// The screen table, indexed by screen number from 0. Screens are never removed. Reach a
// screen through the table at the moment of use:
//   GAMESCREENS[MAINSCREEN].ONFRAME += MAINSCREEN_ONFRAME;
// and keep no reference to a record or list across NEWGAMESCREEN. (The table keeps each
// record at a fixed address, as its lists cannot move, but only the index is the screen's
// identity.) Constant-initialised: usable from any global constructor. The fields are for
// inspection; only NEWGAMESCREEN changes them.
struct GAMESCREENTABLE {
  GAMESCREENEVENTS** IITEM = nullptr;  // one owned record per screen, ISIZE slots
  int32_t ICOUNT = 0;                  // screens created
  int32_t ISIZE = 0;

  constexpr GAMESCREENTABLE() noexcept = default;
  GAMESCREENTABLE(const GAMESCREENTABLE&) = delete;
  GAMESCREENTABLE& operator=(const GAMESCREENTABLE&) = delete;
  ~GAMESCREENTABLE();

  // The screen with this index. An index that NEWGAMESCREEN has not returned ends the program
  // with runtime error 1, "illegal function call".
  GAMESCREENEVENTS& operator[](int32_t SCR);
};

// The game's screens, indexed by the numbers NEWGAMESCREEN returns.
extern constinit GAMESCREENTABLE GAMESCREENS;
// Number of screens created, which is also the index the next one gets (read-only).
extern constinit const int32_t& SCREENCOUNT;
// Index of the active screen; -1 until the first SHOW.
extern constinit int32_t ACTIVEGAMESCREEN;

// How SHOW switches screens: at once (NONE) or animated (transition.h defines every effect to
// the pixel). Scoped, as NONE also names an input event: write TRANSITIONEFFECT::NONE and
// INPUTEVENT::NONE.
enum class TRANSITIONEFFECT : int32_t {
  NONE = 0,
  FADE = 1,
  SLIDEIN = 2,
  SLIDEOUT = 3,
  ZOOMIN = 4,
  ZOOMOUT = 5,
  HORISONTALSTRIPES = 6,
  VERTICALSTRIPES = 7,
};

// Written TRANSITIONDIRECTION::FROMLEFT and so on.
enum class TRANSITIONDIRECTION : int32_t {
  FROMLEFT = 0,
  FROMRIGHT = 1,
  FROMTOP = 2,
  FROMBOTTOM = 3,
  FROMTOPLEFT = 4,
  FROMTOPRIGHT = 5,
  FROMBOTTOMLEFT = 6,
  FROMBOTTOMRIGHT = 7,
};

// Adds a screen with four empty lists and returns its index (0, 1, 2, ...). When the table
// cannot grow, the program ends with runtime error 4, "out of memory".
int32_t NEWGAMESCREEN();

// Makes screen SCR the active one. Another active screen's ONHIDE is raised first
// (NEWSCREEN = SCR); if a handler leaves CANCEL non-zero nothing else happens. Then SCR's
// ONSHOW is raised and the whole window is marked dirty. Showing the first screen starts the
// frame loop: SHOW then returns only after the loop has ended. Showing the active screen
// again raises its ONSHOW again but not its ONHIDE. An SCR that NEWGAMESCREEN has not
// returned is ignored. A hide handler must not call SHOW. With an effect other than NONE the
// switch is animated over TRANSITIONDURATION seconds (transition.h).
//   SHOW(MAINSCREEN, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
void SHOW(int32_t SCR, TRANSITIONEFFECT TRANSMETHOD = TRANSITIONEFFECT::NONE,
          TRANSITIONDIRECTION TRANSDIR = TRANSITIONDIRECTION::FROMLEFT);

}  // namespace KASTREL::ENGINE
