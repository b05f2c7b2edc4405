#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/engine/collision.h"
#include "kastrel/engine/cursor.h"
#include "kastrel/engine/events.h"
#include "kastrel/engine/inputevent.h"
#include "kastrel/engine/regions.h"
#include "kastrel/engine/resolution.h"
#include "kastrel/engine/screens.h"

// The engine: start-up, the frame loop and shut-down. Everything runs on the thread that
// calls INITIALIZE. Other threads may read input (vox_GfxEvent, vox_GetMouse, vox_GfxMultikey,
// vox_GetKey, the pad polls) and work on bitmaps of their own; the screen, MARKDIRTY and the
// display calls refuse them (FALSE or error 1, with the reason in KASTREL::LASTERROR()). A game attaches to ONINITIALIZE (from its own start-up code if it likes:
// the lists are constant-initialised), calls INITIALIZE, and in its ONINITIALIZE handler
// creates a screen, attaches its handlers and SHOWs it, which runs the whole game:
//
//   void GAME_ONINITIALIZE() {
//     MAINSCREEN = NEWGAMESCREEN();
//     GAMESCREENS[MAINSCREEN].ONFRAME += MAINSCREEN_ONFRAME;
//     GAMESCREENS[MAINSCREEN].ONPAINT += MAINSCREEN_ONPAINT;
//     SHOW(MAINSCREEN, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
//   }
//   int main() { ONINITIALIZE += GAME_ONINITIALIZE; INITIALIZE(640, 480, FALSE, MODE_NOSWITCH); }
namespace KASTREL::ENGINE {

extern constinit BOOLEAN INITIALIZED;      // the display mode has been set by INITIALIZE
extern constinit BOOLEAN STARTED;          // START has begun; never cleared
extern constinit BOOLEAN GAMELOOPRUNNING;  // the frame loop goes on while non-zero
// Frame-loop passes since START, counted as each pass finishes its paint step (wraps).
extern constinit int32_t FRAMECOUNT;
// Frames per second, smoothed: passes counted over roughly the last second of frame time,
// each earlier pass weighing less by e^(-age / 1 s), divided by the time they took. On the
// first pass it is 1 / that pass's time; a steady pace of N passes a second reads N. Updated
// after every pass whose elapsed time is not 0; 0.0 before the first. Nothing in the engine
// reads it. It counts frame-loop passes, not pictures shown: see PRESENTEDFPS.
extern constinit float FPS;
// Presentation passes per second at which the window showed the game's picture, an unchanged
// one included (vox_GfxShownCount), smoothed over the same frame time as FPS. With the 25 ms
// presentation it stays near 40 however fast the loop runs; with the paced one it reads the
// display's refresh rate, at rest too. 0 without a window. A replay reads the recorded values.
extern constinit float PRESENTEDFPS;

// The frame loop's pace. 0 (the default): each pass ends with the 1 ms pause, or, when the
// screen is paced (MODE_VSYNC, display.h), waits for the next presentation pass, so the game
// gets one update per refresh. N (1 to 1000): each pass waits for its turn at N passes a second
// instead, asleep, without any tie to the display. Either way no pass waits while a device
// event is queued, so a burst of input drains at once, nor after a pass that took one, so what
// its handlers marked is painted in time for the next picture. FALSE, with LASTERROR(), for
// other values (nothing changes).
BOOLEAN TARGETFPS(int32_t N);
int32_t TARGETFPS();

// Which thread serves the window: the picture out, the desktop's input in. OWN (the default on
// Linux and Windows): a presentation thread of the driver's own. GAME: no such thread; the
// thread that calls INITIALIZE serves it at the frame loop's pauses and whenever it takes the
// screen, as a browser page is served (a desktop that keeps its video and input on one thread
// needs it). Call before INITIALIZE: FALSE, with LASTERROR(), after it (the window is served
// already) or for another value. The user's KASTREL_PASS_THREAD ("game" or "own") wins over it,
// as KASTREL_PRESENT wins over the game's presentation.
enum class PASSTHREAD : int32_t { OWN = 0, GAME = 1 };
BOOLEAN SETPASSTHREAD(PASSTHREAD THREAD);

// Whether the paint step clips each ONPAINT to the rectangle it repaints (the screen's clip,
// graphics/clip.h), so that a sprite overlapping the rectangle changes nothing outside it and
// a repaint of the marked rectangles shows exactly what a whole repaint would. Off by default:
// handlers then draw wherever they draw. The screen's clip in force before is put back after
// each raise.
void CLIPPAINT(BOOLEAN ON);
inline void CLIPPAINT(bool ON) { CLIPPAINT(TOBOOLEAN(ON)); }
BOOLEAN CLIPPAINT();

extern constinit __SIMPLE_EVENT ONINITIALIZE;  // end of the first successful INITIALIZE
extern constinit __SIMPLE_EVENT ONSTART;       // the frame loop is about to begin
extern constinit ONSHUTDOWNEVENT ONSHUTDOWN;   // first in SHUTDOWN; may cancel it
extern constinit __SIMPLE_EVENT ONDESTROY;     // a shutdown goes ahead, after ONHIDE
extern constinit __SIMPLE_EVENT ONFOCUS;       // the window gained the focus
extern constinit __SIMPLE_EVENT ONBLUR;        // the window lost the focus
extern constinit __SIMPLE_EVENT ONMOUSEENTER;  // the pointer entered the window
extern constinit __SIMPLE_EVENT ONMOUSELEAVE;  // the pointer left the window

// Opens a W x H window (full screen when FS is non-zero, which adds MODE_FULLSCREEN to the
// MODE_* word FLAGS) with 32-bit colour and one page, sets SCREENRESOLUTION, hides the system
// pointer, seeds the random source and raises ONINITIALIZE. FALSE when the display mode could
// not be set (nothing changes, KASTREL::LASTERROR() says why; INITIALIZE may be tried again). Once
// initialised it only returns TRUE: no second mode change, no second ONINITIALIZE. When the
// ONINITIALIZE handler shows the first screen, the whole game runs inside this call.
BOOLEAN INITIALIZE(int32_t W, int32_t H, BOOLEAN FS, int32_t FLAGS);
BOOLEAN INITIALIZE(const RESOLUTION& RES, BOOLEAN FS, int32_t FLAGS);
inline BOOLEAN INITIALIZE(int32_t W, int32_t H, bool FS, int32_t FLAGS) {
  return INITIALIZE(W, H, TOBOOLEAN(FS), FLAGS);
}
inline BOOLEAN INITIALIZE(const RESOLUTION& RES, bool FS, int32_t FLAGS) {
  return INITIALIZE(RES, TOBOOLEAN(FS), FLAGS);
}

// Runs the frame loop until SHUTDOWN; the first SHOW calls it. Returns at once when a loop
// has already run or no screen is shown. Each pass, with the screen locked throughout:
//  1. measures the seconds since the previous pass (since START's own reading on the first);
//  2. takes at most one device event: input events go to ONFRAME, pointer enter and leave
//     raise ONMOUSEENTER and ONMOUSELEAVE (an entry also moves a visible cursor bitmap to the
//     entry's place, as a move does), focus changes ONFOCUS and ONBLUR, a close request
//     calls SHUTDOWN(FALSE); without an event the input is INPUTEVENT::NONE and the record
//     keeps the previous event;
//  3. repaints the dirty rectangles through the active screen's ONPAINT (only once when the
//     first one is the whole window), empties DIRTYREGIONS and then draws the visible cursor
//     bitmap while the pointer is inside, when the pass's input is MOUSEMOVE or NONE or a
//     repainted rectangle met the cursor image; during an animated SHOW the pass shows a
//     composition of the outgoing and incoming pictures instead, always with the cursor
//     (transition.h);
//  4. counts FRAMECOUNT and updates FPS;
//  5. raises the active screen's ONFRAME;
//  6. unlocks the screen (every line changed), waits 1 ms (or as TARGETFPS says) and locks
//     it again.
// Regions marked by frame handlers are painted in the next pass.
//
// The cursor's dirty areas: on a pointer move with a visible cursor bitmap, the rectangle from
// (min(x, old x), min(y, old y)) of size |x - old x| + 2 * (cursor width - hot spot x) by
// |y - old y| + 2 * (cursor height - hot spot y), widened where needed to cover the cursor
// image at both its old and new places (the bare size misses them with a negative hot spot or
// a small cursor). When the pointer leaves the window, the cursor image's rectangle at its
// last drawn place: (MOUSECURSORPOSITION + MOUSECURSORHOTSPOT, cursor width, cursor height);
// the leave event carries no position and MOUSECURSORPOSITION stays.
void START();

// Raises ONSHUTDOWN with CANCEL = FALSE; unless FORCE is non-zero, a CANCEL left non-zero
// stops here and the result is FALSE. Otherwise raises the active screen's ONHIDE
// (NEWSCREEN -1, its CANCEL ignored) and ONDESTROY, clears GAMELOOPRUNNING (the loop ends
// after the current pass) and returns TRUE. Before START it only raises the events: START
// sets GAMELOOPRUNNING again. The program and the window go on. A running transition ends at
// once on its incoming picture. A shut-down handler must not call SHUTDOWN (events.h).
BOOLEAN SHUTDOWN(BOOLEAN FORCE);
inline BOOLEAN SHUTDOWN(bool FORCE) { return SHUTDOWN(TOBOOLEAN(FORCE)); }

}  // namespace KASTREL::ENGINE
