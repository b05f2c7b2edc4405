#pragma once
#include <SDL2/SDL_events.h>

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
// and posts the moves that pass the dead zone.
void vox_sdl_pads_pass(bool focused);

// Focus left the window: every held button is released (with its event).
void vox_sdl_pads_release();
