#pragma once
#include <SDL2/SDL_video.h>

#include <csetjmp>

// Keeps a lost X connection from ending the process. Xlib's own handlers exit on
// whichever thread saw the loss (the presentation thread), which then collides with the
// closing-at-exit path that joins that very thread. These handlers only note the loss;
// the driver then stops touching the desktop and lets the game end normally.

// Installs the process-wide handlers before SDL opens its display connection, so that a
// server lost while SDL starts cannot end the process either. Does nothing without Xlib.
void vox_x11_guard_early();

// Until a display has its own handlers (vox_x11_guard), Xlib still exits on a lost
// connection once the process-wide handler returns. While a thread is armed, a loss it meets
// longjmps to `to` instead (set with setjmp; only C frames and frames without destructors may
// lie between), disarming it. Null disarms. The connection must not be touched again.
void vox_x11_arm(std::jmp_buf* to);

// Installs the handlers for the display of `window` when SDL runs on X11 (after each
// start of SDL video, which puts back its own). Does nothing elsewhere.
void vox_x11_guard(SDL_Window* window);

// True once the X server reported the connection lost or an error on it.
bool vox_x11_lost();

// True once the connection itself is gone (not just our window): SDL would wait on it
// forever for replies that never come.
bool vox_x11_dead();
