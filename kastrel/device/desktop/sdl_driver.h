#pragma once
#include "kastrel/device/driver.h"

// The window driver ("SDL"): shows the screen in a desktop window or full
// screen through SDL2 and turns the desktop's input into device events. One
// presentation thread owns SDL's video and event functions; the program
// thread's requests (pointer, title, position, mode list) are carried out there.
// With PASS_GAME_THREAD (vox_GfxSetPassThread, KASTREL_PASS_THREAD=game) there is
// no such thread: the program thread owns them and runs the pass at its waits.
extern const VOX_GFX_DRIVER vox_gfxDriverSDL;
//
// Scaling: each frame-buffer pixel shows as an N x N block (vox_GfxSetScale, MODE_SCALED,
// KASTREL_SCALE); pointer positions are frame-buffer pixels, and over the black border
// around a letterboxed or full-screen picture they clamp to the frame's edge.
// A lost desktop (the X server gone, the connection killed, the window destroyed under
// the game) prints one line on standard error and posts the close box's events
// (CLOSEREQUESTED and the close key), so the game ends through its normal shut-down
// with its normal status; no later mode set opens a window in that process.
