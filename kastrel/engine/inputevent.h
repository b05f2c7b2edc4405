#pragma once
#include <cstdint>

#include "kastrel/device/event.h"

namespace KASTREL::ENGINE {

// The input event handed to frame handlers; its values equal the device event
// types. Scoped, so it is written INPUTEVENT::KEYPRESS, INPUTEVENT::NONE, and
// its NONE does not clash with other enumerations of the engine.
enum class INPUTEVENT : int32_t {
  NONE = -1,  // no input in this pass
  KEYPRESS = VOX::KEYPRESSED,
  KEYRELEASE = VOX::KEYRELEASED,
  KEYREPEAT = VOX::KEYREPEATED,
  MOUSEMOVE = VOX::MOUSEMOVED,
  MOUSEBUTTONPRESS = VOX::BUTTONPRESSED,
  MOUSEBUTTONRELEASE = VOX::BUTTONRELEASED,
  MOUSEBUTTONDOUBLECLICK = VOX::BUTTONDOUBLECLICKED,
  MOUSEWHEEL = VOX::WHEELMOVED,
  MOUSEHWHEEL = VOX::HWHEELMOVED,
  // Gamepads: the record's PAD, CONTROL and VALUE say which pad, button or axis, and where.
  PADCONNECT = VOX::PADCONNECTED,
  PADDISCONNECT = VOX::PADDISCONNECTED,
  PADBUTTONPRESS = VOX::PADBUTTONPRESSED,
  PADBUTTONRELEASE = VOX::PADBUTTONRELEASED,
  PADAXISMOVE = VOX::PADAXISMOVED,
  // Text typed while text input is on: the record's CODEPOINT and TEXT (UTF-8) say what.
  TEXTINPUT = VOX::TEXTTYPED,
};

static_assert(static_cast<int32_t>(INPUTEVENT::KEYPRESS) == 1);
static_assert(static_cast<int32_t>(INPUTEVENT::MOUSEWHEEL) == 8);
static_assert(static_cast<int32_t>(INPUTEVENT::MOUSEHWHEEL) == 14);
static_assert(static_cast<int32_t>(INPUTEVENT::PADAXISMOVE) == 19);

}  // namespace KASTREL::ENGINE
