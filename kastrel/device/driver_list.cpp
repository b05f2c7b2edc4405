#include "kastrel/device/driver.h"
#include "kastrel/device/desktop/sdl_driver.h"

// The drivers a mode set tries, in order. The null driver is never listed: it is chosen by name
// or by the flag word alone.
const VOX_GFX_DRIVER* __vox_gfx_drivers_list[] = {
    &vox_gfxDriverSDL,
    nullptr,
};
