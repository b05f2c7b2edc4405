#pragma once
#include <cstdint>

#include "kastrel/device/event.h"

// Names for the keys and mouse buttons the device events carry: KEY::LEFT is the set-1 scancode
// that `vox_GfxMultikey` and EVENT::SCANCODE use for the left arrow, BUTTON::LEFT the bit
// EVENT::BUTTON holds for the left mouse button.
//
// KASTREL_KEY_ROWS is the one table of the keyboard: each row gives the name, the set-1 code,
// a printable name and the one or two physical keys (SDL scancode suffixes, UNKNOWN where
// unused) that hold the code down. The window driver's translation is built from these rows.
// Some codes stand for two keys: the keypad shares its codes with the cursor block (with Num
// Lock off), keypad Enter with Enter, keypad minus and divide with minus and slash; either
// Ctrl, Alt or Shift key holds its row (both Shift rows follow either Shift key).
#define KASTREL_KEY_ROWS(ROW)                                   \
  ROW(ESCAPE, 1, "Escape", ESCAPE, UNKNOWN)                     \
  ROW(D1, 2, "1", 1, UNKNOWN)                                   \
  ROW(D2, 3, "2", 2, UNKNOWN)                                   \
  ROW(D3, 4, "3", 3, UNKNOWN)                                   \
  ROW(D4, 5, "4", 4, UNKNOWN)                                   \
  ROW(D5, 6, "5", 5, UNKNOWN)                                   \
  ROW(D6, 7, "6", 6, UNKNOWN)                                   \
  ROW(D7, 8, "7", 7, UNKNOWN)                                   \
  ROW(D8, 9, "8", 8, UNKNOWN)                                   \
  ROW(D9, 10, "9", 9, UNKNOWN)                                  \
  ROW(D0, 11, "0", 0, UNKNOWN)                                  \
  ROW(MINUS, 12, "Minus", MINUS, KP_MINUS)                      \
  ROW(EQUALS, 13, "Equals", EQUALS, UNKNOWN)                    \
  ROW(BACKSPACE, 14, "Backspace", BACKSPACE, UNKNOWN)           \
  ROW(TAB, 15, "Tab", TAB, UNKNOWN)                             \
  ROW(Q, 16, "Q", Q, UNKNOWN)                                   \
  ROW(W, 17, "W", W, UNKNOWN)                                   \
  ROW(E, 18, "E", E, UNKNOWN)                                   \
  ROW(R, 19, "R", R, UNKNOWN)                                   \
  ROW(T, 20, "T", T, UNKNOWN)                                   \
  ROW(Y, 21, "Y", Y, UNKNOWN)                                   \
  ROW(U, 22, "U", U, UNKNOWN)                                   \
  ROW(I, 23, "I", I, UNKNOWN)                                   \
  ROW(O, 24, "O", O, UNKNOWN)                                   \
  ROW(P, 25, "P", P, UNKNOWN)                                   \
  ROW(LEFTBRACKET, 26, "Left Bracket", LEFTBRACKET, UNKNOWN)    \
  ROW(RIGHTBRACKET, 27, "Right Bracket", RIGHTBRACKET, UNKNOWN) \
  ROW(ENTER, 28, "Enter", RETURN, KP_ENTER)                     \
  ROW(CTRL, 29, "Ctrl", LCTRL, RCTRL)                           \
  ROW(A, 30, "A", A, UNKNOWN)                                   \
  ROW(S, 31, "S", S, UNKNOWN)                                   \
  ROW(D, 32, "D", D, UNKNOWN)                                   \
  ROW(F, 33, "F", F, UNKNOWN)                                   \
  ROW(G, 34, "G", G, UNKNOWN)                                   \
  ROW(H, 35, "H", H, UNKNOWN)                                   \
  ROW(J, 36, "J", J, UNKNOWN)                                   \
  ROW(K, 37, "K", K, UNKNOWN)                                   \
  ROW(L, 38, "L", L, UNKNOWN)                                   \
  ROW(SEMICOLON, 39, "Semicolon", SEMICOLON, UNKNOWN)           \
  ROW(APOSTROPHE, 40, "Apostrophe", APOSTROPHE, UNKNOWN)        \
  ROW(GRAVE, 41, "Grave", GRAVE, UNKNOWN)                       \
  ROW(LEFTSHIFT, 42, "Left Shift", LSHIFT, RSHIFT)              \
  ROW(BACKSLASH, 43, "Backslash", BACKSLASH, UNKNOWN)           \
  ROW(Z, 44, "Z", Z, UNKNOWN)                                   \
  ROW(X, 45, "X", X, UNKNOWN)                                   \
  ROW(C, 46, "C", C, UNKNOWN)                                   \
  ROW(V, 47, "V", V, UNKNOWN)                                   \
  ROW(B, 48, "B", B, UNKNOWN)                                   \
  ROW(N, 49, "N", N, UNKNOWN)                                   \
  ROW(M, 50, "M", M, UNKNOWN)                                   \
  ROW(COMMA, 51, "Comma", COMMA, UNKNOWN)                       \
  ROW(PERIOD, 52, "Period", PERIOD, UNKNOWN)                    \
  ROW(SLASH, 53, "Slash", SLASH, KP_DIVIDE)                     \
  ROW(RIGHTSHIFT, 54, "Right Shift", LSHIFT, RSHIFT)            \
  ROW(KPMULTIPLY, 55, "Keypad *", KP_MULTIPLY, UNKNOWN)         \
  ROW(ALT, 56, "Alt", LALT, RALT)                               \
  ROW(SPACE, 57, "Space", SPACE, UNKNOWN)                       \
  ROW(CAPSLOCK, 58, "Caps Lock", CAPSLOCK, UNKNOWN)             \
  ROW(F1, 59, "F1", F1, UNKNOWN)                                \
  ROW(F2, 60, "F2", F2, UNKNOWN)                                \
  ROW(F3, 61, "F3", F3, UNKNOWN)                                \
  ROW(F4, 62, "F4", F4, UNKNOWN)                                \
  ROW(F5, 63, "F5", F5, UNKNOWN)                                \
  ROW(F6, 64, "F6", F6, UNKNOWN)                                \
  ROW(F7, 65, "F7", F7, UNKNOWN)                                \
  ROW(F8, 66, "F8", F8, UNKNOWN)                                \
  ROW(F9, 67, "F9", F9, UNKNOWN)                                \
  ROW(F10, 68, "F10", F10, UNKNOWN)                             \
  ROW(NUMLOCK, 69, "Num Lock", NUMLOCKCLEAR, UNKNOWN)           \
  ROW(SCROLLLOCK, 70, "Scroll Lock", SCROLLLOCK, UNKNOWN)       \
  ROW(HOME, 71, "Home", HOME, KP_7)                             \
  ROW(UP, 72, "Up", UP, KP_8)                                   \
  ROW(PAGEUP, 73, "Page Up", PAGEUP, KP_9)                      \
  ROW(LEFT, 75, "Left", LEFT, KP_4)                             \
  ROW(RIGHT, 77, "Right", RIGHT, KP_6)                          \
  ROW(KPPLUS, 78, "Keypad +", KP_PLUS, UNKNOWN)                 \
  ROW(END, 79, "End", END, KP_1)                                \
  ROW(DOWN, 80, "Down", DOWN, KP_2)                             \
  ROW(PAGEDOWN, 81, "Page Down", PAGEDOWN, KP_3)                \
  ROW(INSERT, 82, "Insert", INSERT, KP_0)                       \
  ROW(DELETE, 83, "Delete", DELETE, KP_PERIOD)                  \
  ROW(F11, 87, "F11", F11, UNKNOWN)                             \
  ROW(F12, 88, "F12", F12, UNKNOWN)                             \
  ROW(LEFTWINDOWS, 91, "Left Windows", LGUI, UNKNOWN)           \
  ROW(RIGHTWINDOWS, 92, "Right Windows", RGUI, UNKNOWN)         \
  ROW(MENU, 93, "Menu", APPLICATION, UNKNOWN)

namespace KASTREL {

namespace KEY {
#define KASTREL_KEY_NAME(NAME, CODE, TEXT, FIRST, SECOND) NAME = CODE,
// Every key of KASTREL_KEY_ROWS by name, its value the key's set-1 scancode: KEY::ESCAPE is 1.
enum : int32_t { KASTREL_KEY_ROWS(KASTREL_KEY_NAME) };
#undef KASTREL_KEY_NAME

// The keypad keys that share a code with another key (the keypad with Num Lock off).
enum : int32_t {
  KP0 = INSERT,
  KP1 = END,
  KP2 = DOWN,
  KP3 = PAGEDOWN,
  KP4 = LEFT,
  KP6 = RIGHT,
  KP7 = HOME,
  KP8 = UP,
  KP9 = PAGEUP,
  KPPERIOD = DELETE,
  KPENTER = ENTER,
  KPMINUS = MINUS,
  KPDIVIDE = SLASH,
};
}  // namespace KEY

// The printable name of a set-1 scancode ("Left", "F1", "Space"), or "" for a code no key
// produces.
const char* KEYNAME(int32_t SCANCODE);

// The bits of EVENT::BUTTON and of the button mask from vox_GetMouse.
namespace BUTTON {
enum : int32_t {
  LEFT = 1,
  RIGHT = 2,
  MIDDLE = 4,
  X1 = 8,  // the extra side buttons
  X2 = 16,
};
}  // namespace BUTTON

// Gamepad buttons and axes (EVENT::CONTROL, vox_GfxPadButton, vox_GfxPadAxis): the PAD_*
// values of event.h under shorter names, PAD::A, PAD::UP (the D-pad), PAD::LEFTX.
namespace PAD {
enum : int32_t {
  A = VOX::PAD_A,
  B = VOX::PAD_B,
  X = VOX::PAD_X,
  Y = VOX::PAD_Y,
  BACK = VOX::PAD_BACK,
  GUIDE = VOX::PAD_GUIDE,
  START = VOX::PAD_START,
  LEFTSTICK = VOX::PAD_LEFTSTICK,
  RIGHTSTICK = VOX::PAD_RIGHTSTICK,
  LEFTSHOULDER = VOX::PAD_LEFTSHOULDER,
  RIGHTSHOULDER = VOX::PAD_RIGHTSHOULDER,
  UP = VOX::PAD_UP,
  DOWN = VOX::PAD_DOWN,
  LEFT = VOX::PAD_LEFT,
  RIGHT = VOX::PAD_RIGHT,
  LEFTX = VOX::PAD_LEFTX,
  LEFTY = VOX::PAD_LEFTY,
  RIGHTX = VOX::PAD_RIGHTX,
  RIGHTY = VOX::PAD_RIGHTY,
  LEFTTRIGGER = VOX::PAD_LEFTTRIGGER,
  RIGHTTRIGGER = VOX::PAD_RIGHTTRIGGER,
};
}  // namespace PAD

}  // namespace KASTREL
