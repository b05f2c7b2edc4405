#pragma once
#include "kastrel/device/driver.h"

// The browser driver ("WEB"): the window driver's picture, input and pads on a page's canvas,
// with no thread of its own. The program's waits for the next picture run the pass (picture
// out, input in) once per animation frame and hand control back to the page in between, so a
// game's blocking frame loop runs unchanged. Every screen is paced by the page's animation
// frames, as MODE_VSYNC; lock and unlock only count.
extern const VOX_GFX_DRIVER vox_gfxDriverWeb;
