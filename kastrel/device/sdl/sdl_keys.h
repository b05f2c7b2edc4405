#pragma once
#include <SDL2/SDL_scancode.h>

#include <cstdint>

// Keyboard vocabulary of the window driver: SDL's physical keys against the
// PC set-1 scancodes the device events carry, and the key codes of the
// typed-key buffer.

// One row of the scancode table: a set-1 code and the physical keys that hold it down.
struct VOX_SDL_KEY_ROW {
  int32_t scancode;
  SDL_Scancode keys[2];  // SDL_SCANCODE_UNKNOWN where unused
};

// The rows in ascending scancode order.
extern const VOX_SDL_KEY_ROW vox_sdl_key_rows[];
extern const int vox_sdl_key_row_count;

// The set-1 code of a physical key: the first row naming it, 0 when none does.
int32_t vox_sdl_set1_code(SDL_Scancode key);

// The key state array (128 bytes) from SDL's keyboard state: a row's byte is 1
// while any of its keys is down. Both Shift rows follow either Shift key.
void vox_sdl_refresh_key_state(const uint8_t* sdl_state, int sdl_count, uint8_t* key_state);

// Modifier state at the time of a key event.
struct VOX_SDL_MODS {
  bool shift;
  bool ctrl;
  bool alt;
};

// The key code of a key: the character it types (1..255), an extended code
// (BIOS keystroke code in the high byte, 0xFF in the low byte) for keys and
// combinations without a character, or -1 for a key with no meaning.
// `character` is what the layout gave for the key (0 for none); Alt takes
// precedence over Ctrl and Ctrl over Shift.
int32_t vox_sdl_key_code(int32_t set1, int32_t character, VOX_SDL_MODS mods);

// The close key that the window's close box adds to the typed-key buffer (also Alt+F4).
inline constexpr int32_t VOX_CLOSE_KEY = 0x6BFF;

// A Unicode code point as a code page 437 byte, or -1 when it has none.
int32_t vox_sdl_to_cp437(uint32_t code_point);
