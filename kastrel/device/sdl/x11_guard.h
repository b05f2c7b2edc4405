#pragma once
#include <SDL2/SDL_video.h>

// Keeps a lost X connection from ending the process. Xlib's own handlers exit on
// whichever thread saw the loss (the presentation thread), which then collides with the
// closing-at-exit path that joins that very thread. These handlers only note the loss;
// the driver then stops touching the desktop and lets the game end normally.

// Installs the handlers for the display of `window` when SDL runs on X11 (after each
// start of SDL video, which puts back its own). Does nothing elsewhere.
void vox_x11_guard(SDL_Window* window);

// True once the X server reported the connection lost or an error on it.
bool vox_x11_lost();

// True once the connection itself is gone (not just our window): SDL would wait on it
// forever for replies that never come.
bool vox_x11_dead();
