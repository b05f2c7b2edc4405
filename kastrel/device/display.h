#pragma once
#include <cstdint>

#include "kastrel/device/driver.h"
#include "kastrel/device/screen.h"

// The screen: one at a time, a frame buffer the program writes directly, shown by a
// presentation driver. While a screen is open, __vox_gfx (screen.h) describes it: width,
// height, depth, bytes_per_pixel and pitch of the frame buffer.
//
// A program that draws into the frame buffer itself, as the engine does:
//   vox_GfxScreenRes(w, h, 32, 1, flags, 0);
//   uint8_t* fb = static_cast<uint8_t*>(vox_GfxScreenPtr());  // null: the mode set failed
//   vox_GfxLock();
//   ... write pixels, rows __vox_gfx->pitch bytes apart ...
//   vox_GfxUnlock(-1, -1);  // every line changed; the driver presents them
//   vox_SleepEx(1, 1);      // the presentation thread runs only while the lock is free
//   vox_GfxLock(); ...
//
// Threads: these calls belong to the program thread, the one that opened the screen. From any
// other thread vox_GfxScreenRes, vox_GfxLock, vox_GfxUnlock, vox_GfxScreenList,
// vox_GfxSetScale, vox_GfxSetPresentation, vox_GfxSetFullscreen and vox_GfxSetWindowTitle do
// nothing but set vox_GetError() to 1 and say why in KASTREL::LASTERROR(): the frame loop holds
// the screen for the program thread, so a second thread's lock would wait on it or undo it, and
// a change of mode under way would race the program's own. Only reading calls answer any thread:
// vox_GfxScreenPtr, vox_GfxPresentCount, vox_GfxShownCount, vox_GfxPresentPass, vox_GfxWaitPresent,
// vox_GfxFullscreen and vox_GetError.

// Closes the current screen and opens a new one. width and height > 0; depth one of 1, 2, 4,
// 8, 15, 16, 24, 32 (24 gives a 32-bit screen, 15 a 16-bit one); pages below 1 mean 1; flags
// is the MODE_* word (MODE_NULL: no window); refresh_rate 0 = the display's default.
// vox_GetError() is 0 on success and 1 on failure, when KASTREL::LASTERROR() says why.
// Invalid arguments (including a screen
// whose pages would exceed 2 GiB) change nothing; a failure after that leaves no screen.
// The driver is chosen by name from the environment variable VOXGFX ("null": no window;
// "template": the template driver, whose window is a picture in memory).
// Every page starts filled with 0xFF000000 on 32-bit screens and 0 otherwise.
void vox_GfxScreenRes(int32_t width, int32_t height, int32_t depth, int32_t pages, int32_t flags,
                      int32_t refresh_rate);

// The first byte of the calling thread's work page (page 0), or null without a screen.
void* vox_GfxScreenPtr();

// Takes the screen lock for the program unless it already holds it (no nesting count).
void vox_GfxLock();
// Marks lines first..last changed (first < 0: 0; last < 0: the last line; nothing when
// first > last or last >= height) and releases the program's lock if it holds it.
void vox_GfxUnlock(int32_t first, int32_t last);

// Full-screen modes packed as (width << 16) | height. depth > 0 rebuilds the list from every
// driver (sorted by width, then height, duplicates dropped) and returns its first mode; 0
// returns the next one. 0 when there are no more.
int32_t vox_GfxScreenList(int32_t depth);

// The scale of the picture for later mode sets: every frame-buffer pixel shows as a
// scale x scale block (1..16; 0: the largest that fits the desktop). Games keep working in
// frame-buffer pixels; the user's KASTREL_SCALE (a number or "auto") overrides it, and
// without either the mode flag MODE_SCALED means 0, no flag 1. A full-screen request without
// a display mode of the screen's size gets the desktop's size, the picture scaled to fit and
// centred on black; pointer positions over that border clamp to the frame's edge. An open window
// takes the new scale at once (on the presentation thread's next pass), unless KASTREL_SCALE
// is set.
// vox_GetError() is 1 for a scale out of range (nothing changes), else 0.
void vox_GfxSetScale(int32_t scale);

// How later screens are presented. PRESENT_PASS: the changed lines every 25 ms, whatever the
// display does. PRESENT_VSYNC: once per display refresh, through an SDL renderer that waits
// for the vertical blank where the desktop does, else paced by a timer at the display's
// refresh rate (60 Hz when unknown); a picture that did not change is not sent again. The
// user's KASTREL_PRESENT ("vsync" or "25ms") overrides it; without either the mode flag
// MODE_VSYNC means PRESENT_VSYNC. Shaped windows always use PRESENT_PASS.
// vox_GetError() is 1 for any other value (nothing changes), else 0.
enum : int32_t { PRESENT_PASS = 0, PRESENT_VSYNC = 1 };
void vox_GfxSetPresentation(int32_t presentation);

// Which thread runs the window's presentation pass (the picture out, the desktop's input in)
// for later screens. PASS_OWN_THREAD: a presentation thread of the driver's own, whatever the
// program thread is doing. PASS_GAME_THREAD: no such thread; the thread that opened the screen
// runs the pass itself whenever it gives the screen up and the pass is due: as it takes the
// screen lock, in vox_GfxWaitPresent and in every wait (vox_SleepEx and the engine's pauses), as
// the browser does. A game that does not call these for a while has its window served at its
// next call. The user's KASTREL_PASS_THREAD ("game" or "own") overrides it; without either the
// presentation thread runs it. vox_GetError() is 1 for any other value (nothing changes), else 0.
enum : int32_t { PASS_OWN_THREAD = 0, PASS_GAME_THREAD = 1 };
void vox_GfxSetPassThread(int32_t thread);

// Pictures shown in the window since the screen opened (in either presentation; 0 without a
// screen or a window): a picture that did not change is not shown again.
int32_t vox_GfxPresentCount();
// Presentation passes at which the window showed the game's picture, an unchanged one included,
// since the screen opened: one per display refresh in the paced presentation, one per 25 ms
// pass in the other (0 without a screen or a window). It counts the display's rate at rest.
int32_t vox_GfxShownCount();

// The frame loop's wait in the paced presentation. With the screen lock held, the number of
// the last presentation pass, or -1 when the screen is not paced. After unlocking, wait for
// the pass after it, which copies what was drawn: at most a few display intervals.
int32_t vox_GfxPresentPass();
void vox_GfxWaitPresent(int32_t pass);

// While a window is open: full screen (mode 1), a window (0) or the other of the two (-1), the
// very switch Alt+Enter makes (which MODE_NOSWITCH only keeps from the user). The frame buffer
// stays, and events and pointer positions stay in frame-buffer pixels. The switch is made by the
// presentation thread's next pass. vox_GetError() is 1, with LASTERROR(), without a window, and
// where the display refuses the change (a browser, unless the player has just clicked or pressed
// a key), which then changes nothing.
void vox_GfxSetFullscreen(int32_t mode);
// 1 when the open window is full screen (or a switch there is under way), else 0.
int32_t vox_GfxFullscreen();

// Sets the window title (at most 127 bytes) for this and every later screen. Until a program
// sets one, the title is the executable's file name without directory and extension.
void vox_GfxSetWindowTitle(const char* title);

// The calling thread's last error number from the display layer: 0 none, 1 illegal call.
int32_t vox_GetError();
