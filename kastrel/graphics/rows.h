#pragma once
#include "kastrel/graphics/rasterop.h"

// The inner loops of the blit, one per mode and target depth: vox_gfxRows[mode][i] for 1, 2
// and 4 bytes per pixel (i = 0, 1, 2). The clipping and locking stay in vox_GfxPut; a faster
// loop for one mode and depth replaces just its entry here.
extern const VOX_PUT_ROUTINE vox_gfxRows[PUT_MODES][3];
extern const VOX_PUT_ROUTINE vox_gfxRowAlphaMask;
