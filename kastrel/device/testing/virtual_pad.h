#pragma once
// A virtual gamepad in the standard layout, driven through SDL's joystick layer, so the
// real game controller path runs in tests. Needs SDL's joystick subsystem up.
#include <SDL2/SDL.h>

namespace virtual_pad {

class Pad {
 public:
  Pad() {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.axis_mask = (1u << desc.naxes) - 1;
    desc.button_mask = (1u << desc.nbuttons) - 1;
    stick_ = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
    // Triggers rest at their low end, not in the middle of the joystick range.
    axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
    axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
  }
  // Unplugs the pad.
  ~Pad() {
    SDL_JoystickID id = SDL_JoystickInstanceID(stick_);
    SDL_JoystickClose(stick_);
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }
  }
  Pad(const Pad&) = delete;
  Pad& operator=(const Pad&) = delete;

  bool ok() const { return stick_ != nullptr; }
  SDL_JoystickID id() const { return SDL_JoystickInstanceID(stick_); }
  void button(int b, bool down) { SDL_JoystickSetVirtualButton(stick_, b, down ? 1 : 0); }
  void axis(int a, int value) { SDL_JoystickSetVirtualAxis(stick_, a, static_cast<Sint16>(value)); }

 private:
  SDL_Joystick* stick_;
};

}  // namespace virtual_pad
