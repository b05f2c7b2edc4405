#include "kastrel/device/sdl/sdl_keys.h"

#include <array>
#include <atomic>

#include "kastrel/device/detail/relaxed_byte.h"
#include "kastrel/device/keys.h"

namespace {

constexpr SDL_Scancode NO_KEY = SDL_SCANCODE_UNKNOWN;

}  // namespace

// Built from the one key table, so the names and the translation cannot drift apart.
#define KASTREL_SDL_ROW(NAME, CODE, TEXT, FIRST, SECOND) \
  {KASTREL::KEY::NAME, {SDL_SCANCODE_##FIRST, SDL_SCANCODE_##SECOND}},
const VOX_SDL_KEY_ROW vox_sdl_key_rows[] = {KASTREL_KEY_ROWS(KASTREL_SDL_ROW)};
#undef KASTREL_SDL_ROW

const int vox_sdl_key_row_count = static_cast<int>(std::size(vox_sdl_key_rows));

namespace {

// SDL key -> set-1 code, built once from the rows (first row wins).
struct Set1Map {
  std::array<uint8_t, SDL_NUM_SCANCODES> code{};
  Set1Map() {
    for (int i = vox_sdl_key_row_count - 1; i >= 0; --i) {
      for (SDL_Scancode key : vox_sdl_key_rows[i].keys) {
        if (key != NO_KEY) code[key] = static_cast<uint8_t>(vox_sdl_key_rows[i].scancode);
      }
    }
  }
};

const Set1Map& set1_map() {
  static const Set1Map map;
  return map;
}

int32_t extended(int32_t bios_code) { return (bios_code << 8) | 0xFF; }

// Keystroke codes for keys without a character: plain, Shift, Ctrl, Alt (0: none).
struct SpecialKey {
  int32_t set1;
  int32_t plain, shift, ctrl, alt;
};

constexpr SpecialKey SPECIAL_KEYS[] = {
    {59, 0x3B, 0x54, 0x5E, 0x68}, {60, 0x3C, 0x55, 0x5F, 0x69}, {61, 0x3D, 0x56, 0x60, 0x6A},
    {62, 0x3E, 0x57, 0x61, 0x6B}, {63, 0x3F, 0x58, 0x62, 0x6C}, {64, 0x40, 0x59, 0x63, 0x6D},
    {65, 0x41, 0x5A, 0x64, 0x6E}, {66, 0x42, 0x5B, 0x65, 0x6F}, {67, 0x43, 0x5C, 0x66, 0x70},
    {68, 0x44, 0x5D, 0x67, 0x71}, {87, 0x85, 0x87, 0x89, 0x8B}, {88, 0x86, 0x88, 0x8A, 0x8C},
    {71, 0x47, 0x47, 0x77, 0x97}, {72, 0x48, 0x48, 0x8D, 0x98}, {73, 0x49, 0x49, 0x84, 0x99},
    {75, 0x4B, 0x4B, 0x73, 0x9B}, {77, 0x4D, 0x4D, 0x74, 0x9D}, {79, 0x4F, 0x4F, 0x75, 0x9F},
    {80, 0x50, 0x50, 0x91, 0xA0}, {81, 0x51, 0x51, 0x76, 0xA1}, {82, 0x52, 0x52, 0x92, 0xA2},
    {83, 0x53, 0x53, 0x93, 0xA3}, {15, 0, 0x0F, 0x94, 0xA5},
};

const SpecialKey* find_special(int32_t set1) {
  for (const SpecialKey& key : SPECIAL_KEYS) {
    if (key.set1 == set1) return &key;
  }
  return nullptr;
}

// Alt with a key that has a character: the BIOS code is the key's own scancode,
// except for the digit row.
int32_t alt_code(int32_t set1) {
  if (set1 >= 2 && set1 <= 13) return extended(0x78 + (set1 - 2));  // 1..0, minus, equals
  switch (set1) {
    case 1:
    case 14:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
    case 37:
    case 38:
    case 39:
    case 40:
    case 41:
    case 43:
    case 44:
    case 45:
    case 46:
    case 47:
    case 48:
    case 49:
    case 50:
    case 51:
    case 52:
    case 53:
    case 55:
    case 78:
      return extended(set1);
    case 57:
      return ' ';
    default:
      return -1;
  }
}

}  // namespace

int32_t vox_sdl_set1_code(SDL_Scancode key) {
  if (key < 0 || key >= SDL_NUM_SCANCODES) return 0;
  return set1_map().code[key];
}

void vox_sdl_refresh_key_state(const uint8_t* sdl_state, int sdl_count, uint8_t* key_state) {
  for (int i = 0; i < vox_sdl_key_row_count; ++i) {
    const VOX_SDL_KEY_ROW& row = vox_sdl_key_rows[i];
    uint8_t down = 0;
    for (SDL_Scancode key : row.keys) {
      if (key != NO_KEY && key < sdl_count && sdl_state[key]) down = 1;
    }
    // Read without a lock by any thread (vox_GfxMultikey).
    vox_relaxed_store(&key_state[row.scancode], down);
  }
}

int32_t vox_sdl_key_code(int32_t set1, int32_t character, VOX_SDL_MODS mods) {
  const SpecialKey* special = find_special(set1);
  if (mods.alt) {
    if (special != nullptr) return special->alt != 0 ? extended(special->alt) : -1;
    return alt_code(set1);
  }
  if (mods.ctrl) {
    if (special != nullptr) return special->ctrl != 0 ? extended(special->ctrl) : -1;
    if (character >= 'a' && character <= 'z') return character - 'a' + 1;
    if (character >= 'A' && character <= 'Z') return character - 'A' + 1;
    switch (character) {
      case '[':
        return 27;
      case '\\':
        return 28;
      case ']':
        return 29;
      default:
        break;
    }
    switch (set1) {
      case 1:
        return 27;  // Escape
      case 14:
        return 127;  // Backspace
      case 28:
        return 10;  // Enter
      case 3:
        return extended(0x03);
      case 7:
        return 30;
      case 12:
        return 31;
      default:
        return -1;
    }
  }
  // A character from the layout wins (keypad digits with Num Lock on, for example).
  if (character > 0) return character;
  if (special != nullptr) {
    int32_t code = mods.shift ? special->shift : special->plain;
    if (code != 0) return extended(code);
  }
  switch (set1) {
    case 1:
      return 27;
    case 14:
      return 8;
    case 15:
      return 9;
    case 28:
      return 13;
    default:
      return -1;
  }
}

int32_t vox_sdl_to_cp437(uint32_t code_point) {
  static constexpr uint16_t UPPER_HALF[128] = {
      0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
      0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
      0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
      0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
      0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
      0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
      0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
      0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
      0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
      0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
      0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
      0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
  };
  if (code_point < 0x80) return static_cast<int32_t>(code_point);
  for (int i = 0; i < 128; ++i) {
    if (UPPER_HALF[i] == code_point) return 0x80 + i;
  }
  return -1;
}

const char* KASTREL::KEYNAME(int32_t SCANCODE) {
#define KASTREL_KEY_TEXT(NAME, CODE, TEXT, FIRST, SECOND) \
  case CODE:                                              \
    return TEXT;
  switch (SCANCODE) { KASTREL_KEY_ROWS(KASTREL_KEY_TEXT) default: return ""; }
#undef KASTREL_KEY_TEXT
}
