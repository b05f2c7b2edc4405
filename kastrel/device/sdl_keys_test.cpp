#include "kastrel/device/sdl_keys.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace {

TEST(SdlKeys, PhysicalKeysGiveTheirSetOneCodes) {
  // Either Shift, Ctrl or Alt reports the left-hand code; keypad keys share the
  // codes of the keys they double; keys without a row give 0.
  const std::pair<SDL_Scancode, int32_t> cases[] = {
      {SDL_SCANCODE_ESCAPE, 1},       {SDL_SCANCODE_1, 2},
      {SDL_SCANCODE_0, 11},           {SDL_SCANCODE_Q, 16},
      {SDL_SCANCODE_A, 30},           {SDL_SCANCODE_M, 50},
      {SDL_SCANCODE_LSHIFT, 42},      {SDL_SCANCODE_RSHIFT, 42},
      {SDL_SCANCODE_RCTRL, 29},       {SDL_SCANCODE_RALT, 56},
      {SDL_SCANCODE_KP_ENTER, 28},    {SDL_SCANCODE_KP_8, 72},
      {SDL_SCANCODE_UP, 72},          {SDL_SCANCODE_KP_MINUS, 12},
      {SDL_SCANCODE_KP_DIVIDE, 53},   {SDL_SCANCODE_KP_PERIOD, 83},
      {SDL_SCANCODE_F10, 68},         {SDL_SCANCODE_F11, 87},
      {SDL_SCANCODE_F12, 88},         {SDL_SCANCODE_RGUI, 92},
      {SDL_SCANCODE_APPLICATION, 93}, {SDL_SCANCODE_KP_5, 0},
      {SDL_SCANCODE_PRINTSCREEN, 0},  {static_cast<SDL_Scancode>(SDL_NUM_SCANCODES), 0},
  };
  for (auto [key, code] : cases) EXPECT_EQ(vox_sdl_set1_code(key), code) << key;

  // The table: 86 rows, ascending, no row for 74, 76, 84 to 86, 89, 90.
  ASSERT_EQ(vox_sdl_key_row_count, 86);
  std::set<int> codes;
  for (int i = 0; i < vox_sdl_key_row_count; ++i) {
    codes.insert(vox_sdl_key_rows[i].scancode);
    if (i > 0) {
      EXPECT_LT(vox_sdl_key_rows[i - 1].scancode, vox_sdl_key_rows[i].scancode);
    }
  }
  for (int missing : {74, 76, 84, 85, 86, 89, 90}) EXPECT_EQ(codes.count(missing), 0u) << missing;
}

TEST(SdlKeys, KeyStateFollowsEveryKeyOfARow) {
  std::vector<uint8_t> sdl(SDL_NUM_SCANCODES, 0);
  uint8_t state[128];
  std::fill(std::begin(state), std::end(state), 0xAA);
  vox_sdl_refresh_key_state(sdl.data(), SDL_NUM_SCANCODES, state);
  for (int i = 0; i < vox_sdl_key_row_count; ++i) EXPECT_EQ(state[vox_sdl_key_rows[i].scancode], 0);

  sdl[SDL_SCANCODE_RSHIFT] = 1;
  sdl[SDL_SCANCODE_KP_7] = 1;
  sdl[SDL_SCANCODE_KP_MINUS] = 1;
  sdl[SDL_SCANCODE_RCTRL] = 1;
  vox_sdl_refresh_key_state(sdl.data(), SDL_NUM_SCANCODES, state);
  int down = 0;
  for (int i = 0; i < vox_sdl_key_row_count; ++i) down += state[vox_sdl_key_rows[i].scancode];
  EXPECT_EQ(state[42], 1);
  EXPECT_EQ(state[54], 1);
  EXPECT_EQ(state[71], 1);
  EXPECT_EQ(state[12], 1);
  EXPECT_EQ(state[29], 1);
  EXPECT_EQ(down, 5);

  // A short keyboard state array reads as keys up.
  vox_sdl_refresh_key_state(sdl.data(), SDL_SCANCODE_KP_7, state);
  EXPECT_EQ(state[71], 0);
  EXPECT_EQ(state[42], 0);
}

TEST(SdlKeys, KeyCodesFollowTheKeystrokeVocabulary) {
  const VOX_SDL_MODS none{false, false, false}, shift{true, false, false}, ctrl{false, true, false},
      alt{false, false, true};
  EXPECT_EQ(vox_sdl_key_code(30, 'a', none), 'a');
  EXPECT_EQ(vox_sdl_key_code(30, 'A', shift), 'A');
  EXPECT_EQ(vox_sdl_key_code(1, 0, none), 27);
  EXPECT_EQ(vox_sdl_key_code(28, 0, none), 13);
  EXPECT_EQ(vox_sdl_key_code(14, 0, none), 8);
  EXPECT_EQ(vox_sdl_key_code(15, 0, none), 9);
  EXPECT_EQ(vox_sdl_key_code(15, 0, shift), 0x0FFF);
  EXPECT_EQ(vox_sdl_key_code(59, 0, none), 0x3BFF);
  EXPECT_EQ(vox_sdl_key_code(59, 0, shift), 0x54FF);
  EXPECT_EQ(vox_sdl_key_code(59, 0, ctrl), 0x5EFF);
  EXPECT_EQ(vox_sdl_key_code(59, 0, alt), 0x68FF);
  EXPECT_EQ(vox_sdl_key_code(62, 0, alt), VOX_CLOSE_KEY);
  EXPECT_EQ(vox_sdl_key_code(87, 0, none), 0x85FF);
  EXPECT_EQ(vox_sdl_key_code(72, 0, none), 0x48FF);
  EXPECT_EQ(vox_sdl_key_code(72, '8', none), '8');  // keypad 8 with Num Lock on
  EXPECT_EQ(vox_sdl_key_code(30, 'a', alt), 0x1EFF);
  EXPECT_EQ(vox_sdl_key_code(2, '1', alt), 0x78FF);
  EXPECT_EQ(vox_sdl_key_code(57, ' ', alt), ' ');
  EXPECT_EQ(vox_sdl_key_code(46, 'c', ctrl), 3);
  EXPECT_EQ(vox_sdl_key_code(46, 'C', {true, true, false}), 3);
  EXPECT_EQ(vox_sdl_key_code(26, '[', ctrl), 27);
  EXPECT_EQ(vox_sdl_key_code(30, 'a', {false, true, true}), 0x1EFF);  // Alt before Ctrl
  EXPECT_EQ(vox_sdl_key_code(42, 0, shift), -1);
  EXPECT_EQ(vox_sdl_key_code(0, 0, none), -1);
  EXPECT_EQ(vox_sdl_key_code(0, 0xE9, none), 0xE9);
}

TEST(SdlKeys, TypedCharactersBecomeCodePage437) {
  EXPECT_EQ(vox_sdl_to_cp437('A'), 'A');
  EXPECT_EQ(vox_sdl_to_cp437(0x00E9), 0x82);  // e acute
  EXPECT_EQ(vox_sdl_to_cp437(0x00A3), 0x9C);  // pound sign
  EXPECT_EQ(vox_sdl_to_cp437(0x00DF), 0xE1);  // sharp s
  EXPECT_EQ(vox_sdl_to_cp437(0x00A0), 0xFF);
  EXPECT_EQ(vox_sdl_to_cp437(0x20AC), -1);  // euro sign: none
  EXPECT_EQ(vox_sdl_to_cp437(0x110000), -1);
}

}  // namespace
