#pragma once
#include <cstddef>
#include <cstdint>

// The 20-byte device event record shared by the display layer and the engine.
// The 16 bytes after TYPE are overlaid; which names carry meaning depends on TYPE.
namespace VOX {

struct EVENT {
  int32_t TYPE;
  union {
    int32_t SCANCODE;
    int32_t X;
    int32_t BUTTON;
    int32_t Z;
    int32_t W;
  };
  union {
    int32_t ASCII;
    int32_t Y;
  };
  int32_t DX;
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
};

static_assert(sizeof(EVENT) == 20);
static_assert(offsetof(EVENT, TYPE) == 0);
static_assert(offsetof(EVENT, SCANCODE) == 4 && offsetof(EVENT, X) == 4 &&
              offsetof(EVENT, BUTTON) == 4 && offsetof(EVENT, Z) == 4 && offsetof(EVENT, W) == 4);
static_assert(offsetof(EVENT, ASCII) == 8 && offsetof(EVENT, Y) == 8);
static_assert(offsetof(EVENT, DX) == 12 && offsetof(EVENT, DY) == 16);

}  // namespace VOX
