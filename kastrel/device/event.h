#pragma once
#include <cstddef>
#include <cstdint>

// The 20-byte device event record shared by the display layer and the engine.
// The 16 bytes after TYPE are overlaid; which names carry meaning depends on TYPE.
namespace VOX {

// One device event, as vox_GfxEvent hands it over. TYPE is one of the values below; the rest:
//   key events: SCANCODE, the set-1 scancode (KEY::, keys.h), and ASCII, the character code
//     the key typed (0 .. 255), 0 for none;
//   pointer events: X and Y, the pointer in frame-buffer pixels, and DX and DY, its move since
//     the previous position;
//   button events: BUTTON, the BUTTON:: bit (keys.h);
//   WHEELMOVED and HWHEELMOVED: Z and W, the wheel's and the horizontal wheel's totals so far;
//   pad and text events: as their field comments say.
struct EVENT {
  int32_t TYPE;
  union {
    int32_t SCANCODE;
    int32_t X;
    int32_t BUTTON;
    int32_t Z;
    int32_t W;
    int32_t PAD;        // pad events: the pad number
    int32_t CODEPOINT;  // TEXTTYPED: the character's Unicode code point
  };
  union {
    int32_t ASCII;
    int32_t Y;
    int32_t CONTROL;  // pad events: the PAD_* button or axis
    char TEXT[4];     // TEXTTYPED: the character in UTF-8, NUL-padded when shorter than 4 bytes
  };
  union {
    int32_t DX;
    int32_t VALUE;  // PADAXISMOVED: the axis value
  };
  int32_t DY;
};

// Values of EVENT::TYPE.
enum : int32_t {
  KEYPRESSED = 1,
  KEYRELEASED = 2,
  KEYREPEATED = 3,
  MOUSEMOVED = 4,
  BUTTONPRESSED = 5,
  BUTTONRELEASED = 6,
  BUTTONDOUBLECLICKED = 7,
  WHEELMOVED = 8,
  MOUSEENTERED = 9,
  MOUSEEXITED = 10,
  FOCUSGAINED = 11,
  FOCUSLOST = 12,
  CLOSEREQUESTED = 13,
  HWHEELMOVED = 14,
  // Gamepads. PAD is the pad number (0 .. MAX_PADS - 1); CONTROL the PAD_* button or axis
  // below; VALUE the axis value (PADAXISMOVED only; 0 otherwise). A connected pad takes the
  // lowest free number and keeps it until it is removed; a pad plugged in again takes the
  // lowest number free then (so a lone pad is always pad 0). Pads beyond MAX_PADS are
  // ignored until they are plugged in again.
  PADCONNECTED = 15,
  PADDISCONNECTED = 16,
  PADBUTTONPRESSED = 17,
  PADBUTTONRELEASED = 18,
  // Sent once per pass at most, for each axis whose value moved by more than the dead zone
  // (vox_GfxPadDeadZone, input.h) since its last event, or reached 0 or either end.
  PADAXISMOVED = 19,
  // A character typed as text, one per event, while text input is on (vox_GfxTextInput,
  // input.h): after the key press that typed it, or alone for a character composed from
  // several keys (dead keys, input methods). CODEPOINT and TEXT say which character.
  TEXTTYPED = 20,
};

// Gamepad buttons, in the standard layout (names by position: PAD_A is the bottom face
// button, PAD_Y the top one, whatever the pad prints on them).
enum : int32_t {
  PAD_A = 0,
  PAD_B = 1,
  PAD_X = 2,
  PAD_Y = 3,
  PAD_BACK = 4,
  PAD_GUIDE = 5,
  PAD_START = 6,
  PAD_LEFTSTICK = 7,  // the sticks pressed in
  PAD_RIGHTSTICK = 8,
  PAD_LEFTSHOULDER = 9,
  PAD_RIGHTSHOULDER = 10,
  PAD_UP = 11,  // the D-pad
  PAD_DOWN = 12,
  PAD_LEFT = 13,
  PAD_RIGHT = 14,
  PAD_MISC = 15,  // share, microphone or capture button
  PAD_PADDLE1 = 16,
  PAD_PADDLE2 = 17,
  PAD_PADDLE3 = 18,
  PAD_PADDLE4 = 19,
  PAD_TOUCHPAD = 20,
  PAD_BUTTONS = 21,  // the number of buttons
};

// Gamepad axes. Sticks run from -32768 (left, up) to 32767 (right, down); triggers from 0
// (released) to 32767.
enum : int32_t {
  PAD_LEFTX = 0,
  PAD_LEFTY = 1,
  PAD_RIGHTX = 2,
  PAD_RIGHTY = 3,
  PAD_LEFTTRIGGER = 4,
  PAD_RIGHTTRIGGER = 5,
  PAD_AXES = 6,  // the number of axes
  MAX_PADS = 8,  // pads numbered at once
};

static_assert(sizeof(EVENT) == 20);
static_assert(offsetof(EVENT, TYPE) == 0);
static_assert(offsetof(EVENT, SCANCODE) == 4 && offsetof(EVENT, X) == 4 &&
              offsetof(EVENT, BUTTON) == 4 && offsetof(EVENT, Z) == 4 && offsetof(EVENT, W) == 4 &&
              offsetof(EVENT, PAD) == 4);
static_assert(offsetof(EVENT, ASCII) == 8 && offsetof(EVENT, Y) == 8 &&
              offsetof(EVENT, CONTROL) == 8);
static_assert(offsetof(EVENT, DX) == 12 && offsetof(EVENT, VALUE) == 12 &&
              offsetof(EVENT, DY) == 16);

}  // namespace VOX
