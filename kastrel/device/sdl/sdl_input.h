#pragma once
#include <SDL2/SDL_events.h>

#include <array>
#include <cstdint>

#include "kastrel/device/event.h"

// Translation of SDL's events into device events. It is a function of the
// event and the input state below, so it runs the same on the presentation
// thread and in tests on constructed events; what it asks of the window
// (a full-screen switch, a repaint, confinement) comes back as requests.

// Input state of the window side, written on the presentation thread under
// the update lock.
struct VOX_SDL_INPUT {
  bool active;         // a window exists
  int32_t mode_flags;  // the driver's mode flag word (MODE_NOSWITCH matters here)
  uint32_t window_id;  // events of other windows are ignored; 0 accepts every window
  int32_t window_x;    // client origin on the desktop
  int32_t window_y;
  int32_t window_w;  // client size
  int32_t window_h;
  int32_t pointer_x;  // client position of the last move, or the last one placed
  int32_t pointer_y;
  int32_t wheel;  // running totals of wheel steps
  int32_t hwheel;
  int32_t buttons;   // 1 left, 2 right, 4 middle, 8 and 16 the extra buttons
  bool over_client;  // the pointer lay inside the client area at the last pointer event
  bool have_last;    // last_x/last_y hold a desktop position
  int32_t last_x;
  int32_t last_y;
  bool cursor_visible;
  bool pointer_inside;  // an entry was reported and no exit since
  bool clip;            // the pointer is confined to the client area
  bool focused;         // the window has the keyboard focus
  int32_t click_bit;    // the button of the last press, and its place in a run (1 or 2)
  int32_t click_run;
  // Per physical key: the ASCII its press reported (a release repeats it), and
  // whether the press posted nothing (its release posts nothing either).
  std::array<int16_t, SDL_NUM_SCANCODES> key_ascii;
  std::array<bool, SDL_NUM_SCANCODES> key_silent;
};

// Resets what a driver start resets (wheel total, buttons, last position,
// cursor visibility, clip, focus, click runs); pointer-inside, pointer position
// and the horizontal total carry over.
void vox_sdl_input_start(VOX_SDL_INPUT& input, int32_t mode_flags);

// What one SDL event produced.
struct VOX_SDL_OUTPUT {
  VOX::EVENT events[4];
  int event_count;
  int32_t typed[SDL_TEXTINPUTEVENT_TEXT_SIZE + 1];  // keys for the typed-key buffer
  int typed_count;
  VOX::EVENT text[SDL_TEXTINPUTEVENT_TEXT_SIZE];  // TEXTTYPED, after the events above
  int text_count;
  bool switch_mode;  // carry out the windowed/full-screen switch
  bool repaint;      // show the window's retained picture again
  bool resized;      // the client area changed size
  bool confine;      // confine the pointer to the client area again
  bool blurred;      // the window lost the focus: release held keys and buttons
};

// Translates `event`. `next` is the event that follows it in SDL's queue, or
// null: a key press takes its character from a text event right behind it, and
// a move right before the pointer leaves is SDL's own, clamped to the edge.
// Returns true when `next` was used up that way.
bool vox_sdl_translate(const SDL_Event& event, const SDL_Event* next, VOX_SDL_INPUT& input,
                       VOX_SDL_OUTPUT& out);
