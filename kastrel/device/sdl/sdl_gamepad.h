#pragma once
#include <SDL2/SDL_events.h>

#include <cstdint>

// Gamepads through SDL's game controller layer, on the presentation thread. The pad state
// the polling calls (input.h) read lives here, under a lock of its own, so those calls are
// safe from any thread.

// Starts and stops SDL's game controller subsystem; stopping forgets every pad, posting
// nothing (the screen is closing). False when no pad can be read (the window works on).
bool vox_sdl_pads_start();
void vox_sdl_pads_stop();

// Handles one SDL event if it is a game controller event (posting pad events); true when
// it was one. Presses count only while `focused`.
bool vox_sdl_pad_event(const SDL_Event& event, bool focused);

// Once per pass, after the events: reads every pad's axes (centred while not `focused`)
// and posts the moves of an axis step or more; the first focused pass after a release
// reads the buttons again and posts a press for each one held.
void vox_sdl_pads_pass(bool focused);

// Focus left the window: every held button is released (with its event).
void vox_sdl_pads_release();

// The pad state as it is now, for the polling calls of input.h (which pass it through the
// input filter): the same meaning and arguments as vox_GfxPadCount and its neighbours.
int32_t vox_hPadCount();
int32_t vox_hPadConnected(int32_t pad);
int32_t vox_hPadButton(int32_t pad, int32_t button);
int32_t vox_hPadAxis(int32_t pad, int32_t axis);
