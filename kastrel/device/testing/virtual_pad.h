#pragma once
// The engine's own tests drive the pad games get (kastrel/device/sdl/virtual_pad.h), triggers
// given in the joystick's range (-32768 at rest).
#include <SDL2/SDL.h>

#include "kastrel/device/sdl/virtual_pad.h"

namespace virtual_pad {

class Pad : public KASTREL::TESTING::VIRTUALPAD {
 public:
  bool ok() const { return PLUGGED() != 0; }
  SDL_JoystickID id() const { return ID(); }
  void button(int b, bool down) { HOLD(b, down); }
  void axis(int a, int value) {
    const bool trigger = a == VOX::PAD_LEFTTRIGGER || a == VOX::PAD_RIGHTTRIGGER;
    MOVE(a, trigger ? (value + 32768) / 2 : value);
  }
};

}  // namespace virtual_pad
