#include "kastrel/device/sdl/sdl_keys.h"

#include "kastrel/device/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(SdlKeys, PhysicalKeysGiveTheirSetOneCodes) {
  // The main block and the function keys, row by row from the keyboard's layout.
  auto sdl = [](char c) {
    if (c >= 'a') return static_cast<SDL_Scancode>(SDL_SCANCODE_A + (c - 'a'));
    return c == '0' ? SDL_SCANCODE_0 : static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (c - '1'));
  };
  for (auto [row, first] :
       {std::pair{"1234567890", 2}, {"qwertyuiop", 16}, {"asdfghjkl", 30}, {"zxcvbnm", 44}}) {
    for (int i = 0; row[i] != 0; ++i)
      EXPECT_EQ(vox_sdl_set1_code(sdl(row[i])), first + i) << row[i];
  }
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(vox_sdl_set1_code(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i)), 59 + i);

  // Either Shift, Ctrl or Alt reports the left-hand code; keypad keys share the
  // codes of the keys they double; keys without a row give 0.
  // The named keys share the table: the keypad aliases are what the keypad posts.
  namespace KEY = KASTREL::KEY;
  const std::pair<SDL_Scancode, int32_t> cases[] = {
      {SDL_SCANCODE_ESCAPE, 1},     {SDL_SCANCODE_LSHIFT, 42},    {SDL_SCANCODE_RSHIFT, 42},
      {SDL_SCANCODE_RCTRL, 29},     {SDL_SCANCODE_RALT, 56},      {SDL_SCANCODE_KP_ENTER, 28},
      {SDL_SCANCODE_KP_8, 72},      {SDL_SCANCODE_UP, 72},        {SDL_SCANCODE_KP_MINUS, 12},
      {SDL_SCANCODE_KP_DIVIDE, 53}, {SDL_SCANCODE_KP_PERIOD, 83}, {SDL_SCANCODE_F11, 87},
      {SDL_SCANCODE_F12, 88},       {SDL_SCANCODE_RGUI, 92},      {SDL_SCANCODE_APPLICATION, 93},
      {SDL_SCANCODE_KP_5, 0},       {SDL_SCANCODE_PRINTSCREEN, 0},
      {static_cast<SDL_Scancode>(SDL_NUM_SCANCODES), 0},          {SDL_SCANCODE_KP_4, KEY::KP4},
      {SDL_SCANCODE_LEFT, KEY::LEFT}, {SDL_SCANCODE_KP_ENTER, KEY::KPENTER}};
  for (auto [key, code] : cases) EXPECT_EQ(vox_sdl_set1_code(key), code) << key;
  EXPECT_EQ(vox_sdl_key_row_count, 86);
  // Every code the driver posts has a name; the gaps have none.
  for (int i = 0; i < vox_sdl_key_row_count; ++i)
    EXPECT_STRNE(KASTREL::KEYNAME(vox_sdl_key_rows[i].scancode), "") << i;
  for (int32_t gap : {0, 74, 76, 84, 89, 94, -1}) EXPECT_STREQ(KASTREL::KEYNAME(gap), "") << gap;
  EXPECT_STREQ(KASTREL::KEYNAME(KEY::PAGEUP), "Page Up");
}

TEST(SdlKeys, KeyStateFollowsEveryKeyOfARow) {
  std::vector<uint8_t> sdl(SDL_NUM_SCANCODES, 0);
  for (SDL_Scancode k :
       {SDL_SCANCODE_RSHIFT, SDL_SCANCODE_KP_7, SDL_SCANCODE_KP_MINUS, SDL_SCANCODE_RCTRL})
    sdl[k] = 1;
  uint8_t state[128];
  std::fill(std::begin(state), std::end(state), 0xAA);
  vox_sdl_refresh_key_state(sdl.data(), SDL_NUM_SCANCODES, state);
  std::string down;
  for (int i = 0; i < vox_sdl_key_row_count; ++i) {
    int code = vox_sdl_key_rows[i].scancode;
    if (state[code] != 0) down += std::to_string(code) + " ";
  }
  EXPECT_EQ(down, "12 29 42 54 71 ");

  // A short keyboard state array reads as keys up.
  vox_sdl_refresh_key_state(sdl.data(), SDL_SCANCODE_KP_7, state);
  EXPECT_EQ(state[71] + state[42], 0);
}

TEST(SdlKeys, KeyCodesAndTypedCharacters) {
  // A character from the layout wins (keypad 8 with Num Lock on); Alt goes
  // before Ctrl, Ctrl before Shift; Alt+F4 gives the close key.
  const VOX_SDL_MODS no{false, false, false}, sh{true, false, false}, ct{false, true, false},
      alt{false, false, true}, ct_sh{true, true, false}, ct_alt{false, true, true};
  struct Case {
    int32_t set1, character;
    VOX_SDL_MODS mods;
    int32_t code;
  };
  const Case cases[] = {{30, 'a', no, 'a'},        {30, 'A', sh, 'A'},    {1, 0, no, 27},
                        {28, 0, no, 13},           {14, 0, no, 8},        {15, 0, no, 9},
                        {15, 0, sh, 0x0FFF},       {59, 0, no, 0x3BFF},   {59, 0, sh, 0x54FF},
                        {59, 0, ct, 0x5EFF},       {59, 0, alt, 0x68FF},  {62, 0, alt, 0x6BFF},
                        {87, 0, no, 0x85FF},       {72, 0, no, 0x48FF},   {72, '8', no, '8'},
                        {30, 'a', alt, 0x1EFF},    {2, '1', alt, 0x78FF}, {57, ' ', alt, ' '},
                        {46, 'c', ct, 3},          {46, 'C', ct_sh, 3},   {26, '[', ct, 27},
                        {30, 'a', ct_alt, 0x1EFF}, {42, 0, sh, -1},       {0, 0, no, -1},
                        {0, 0xE9, no, 0xE9}};
  for (const Case& c : cases)
    EXPECT_EQ(vox_sdl_key_code(c.set1, c.character, c.mods), c.code)
        << c.set1 << " " << c.character;

  const std::pair<uint32_t, int32_t> cp437[] = {{'A', 'A'},    {0xE9, 0x82}, {0xA3, 0x9C},
                                                {0xDF, 0xE1},  {0xA0, 0xFF}, {0x20AC, -1},
                                                {0x110000, -1}};
  for (auto [code_point, byte] : cp437) EXPECT_EQ(vox_sdl_to_cp437(code_point), byte) << code_point;
}

}  // namespace
