#pragma once
#include <cstdint>

#include "kastrel/device/driver.h"
#include "kastrel/device/event.h"

// The template driver ("TEMPLATE"): the starting point for a new platform's driver, and a driver
// that really works with no window system at all. Every slot of VOX_GFX_DRIVER is filled; its
// window is a picture in memory, its display offers a few modes and full screen, and its input
// is what the program (a test) hands it through INJECT. Copy the folder, rename it and replace
// each body with the system's calls: the comments in template_driver.cpp say what goes where.
//
// It uses the game-thread model: no thread of its own. The pass, which copies the changed lines
// out and posts the input that came in meanwhile, runs on the program's thread: when it waits
// for the next picture (vox_GfxWaitPresent, which the engine's frame loop calls every pass, since
// every screen here is paced) and when it gives the screen back 25 ms or more after the last
// pass (a loop paced by its own timer). Lock and unlock only count otherwise.
//
// It is built on every platform and is in no driver list: VOXGFX=template chooses it for a
// program, and a test may point __vox_gfx_drivers at a list that holds it. Its table,
// vox_gfxDriverTemplate, is declared in driver.h, where the display layer finds it by name; a
// port's own driver declares its table in its own header and goes in its platform's list.

namespace KASTREL::TEMPLATEDRIVER {

// What the window shows: WIDTH() x HEIGHT() pixels 0x00RRGGBB, row after row (the frame's
// size: the scale changes how big a real window would draw it, not the picture). Null and 0
// without a window.
const uint32_t* PICTURE();
int32_t WIDTH();
int32_t HEIGHT();
// The window's title now.
const char* TITLE();
// Input as a system would deliver it, from the program thread: queued now, posted into the
// device's event queue by the next pass. Pointer events (MOUSEMOVED and MOUSEENTERED at X, Y;
// MOUSEEXITED; BUTTONPRESSED and BUTTONRELEASED of the BUTTON bit; WHEELMOVED to the total Z)
// also move the pointer vox_GetMouse reads; a key press or repeat with an ASCII character types
// it, and CLOSEREQUESTED types the close key, as the desktop window's close box does. FALSE when
// no window is open or 127 events wait already (nothing is queued then).
bool INJECT(const VOX::EVENT& EVENT);
// Whether the display grants full screen to a mode set and to vox_GfxSetFullscreen (it does
// until told otherwise): a stand-in for a system that refuses at times, as a browser does
// without a fresh gesture.
void ALLOWFULLSCREEN(bool ALLOW);

}  // namespace KASTREL::TEMPLATEDRIVER
