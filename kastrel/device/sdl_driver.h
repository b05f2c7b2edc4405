#pragma once
#include "kastrel/device/driver.h"

// The window driver ("SDL"): shows the screen in a desktop window or full
// screen through SDL2 and turns the desktop's input into device events. One
// presentation thread owns SDL's video and event functions; the program
// thread's requests (pointer, title, position, mode list) are carried out there.
extern const VOX_GFX_DRIVER vox_gfxDriverSDL;
