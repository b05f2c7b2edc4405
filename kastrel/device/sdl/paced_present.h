#pragma once
#include <SDL2/SDL_render.h>
#include <SDL2/SDL_video.h>

#include <chrono>
#include <cstdint>

#include "kastrel/device/screen.h"
#include "kastrel/device/sdl/scaling.h"

// The window driver's paced presentation (MODE_VSYNC): an SDL renderer with a streaming
// texture, one picture per display refresh. The presentation thread copies the frame's changed
// rows under the update lock (vox_paced_copy), then shows them without it (vox_paced_show),
// which says when the next pass is due: at once after a present that waited for the vertical
// blank, else on a timer at the display's refresh rate. Which of the two holds is measured from
// the intervals between presents, never taken from a flag. Everything here runs on the
// presentation thread except the counters and vox_paced_wait.

// The presentation asked for: `env` (the KASTREL_PRESENT text, may be null) when it is "vsync"
// (1) or "25ms" (0), else `game`.
int32_t vox_present_request(const char* env, int32_t game);

// At driver start, with the mode flag word: whether this screen is paced (the user's
// KASTREL_PRESENT, else vox_GfxSetPresentation, else MODE_VSYNC; never a shaped window). The
// counters start again from 0.
void vox_paced_start(int32_t flags);
bool vox_paced_on();

// A renderer and texture for a frame of width x height on `window` (made on the presentation
// thread); *out_w x *out_h is the size drawn into. False, with nothing left open, on failure.
bool vox_paced_open(SDL_Window* window, int32_t width, int32_t height, int32_t* out_w,
                    int32_t* out_h);
void vox_paced_close();
// The same with a renderer made elsewhere (a bench's software renderer on a surface), which it
// then owns, and the display's refresh rate (0: unknown).
bool vox_paced_attach(SDL_Renderer* renderer, int32_t width, int32_t height, int32_t hz);

// Under the update lock: the rows of the dirty band that really changed, into the texture the
// next show presents (widened to the picture's `scale` on the software renderer). Counts the
// pass and wakes vox_paced_wait.
void vox_paced_copy(const VOX_GFX_SCREEN* s, const uint32_t* palette, int32_t scale);
// Without the lock: uploads the changed rows and presents them at `layout` (nothing when no row
// changed and nothing asked for a redraw). Returns when the next pass should start.
std::chrono::steady_clock::time_point vox_paced_show(const VOX_SCALE_LAYOUT& layout);

// Counters, from any thread.
void vox_sdl_presented();  // the 25 ms pass drew a band
int32_t vox_paced_present_count();
// Presentation passes with the picture on show, changed or not: one per display refresh when
// paced, one per 25 ms pass otherwise.
void vox_sdl_shown();
int32_t vox_paced_shown_count();
int32_t vox_paced_pass();  // -1 while not paced
void vox_paced_wait(int32_t pass);
