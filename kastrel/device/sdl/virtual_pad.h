#pragma once
// A gamepad for a game's own tests: plugged in while the object lives, in the standard layout,
// and driven through SDL's joystick layer, so the engine reads it exactly as a real pad (pad
// events, vox_GfxPadButton, vox_GfxPadAxis). Three lines:
//
//   KASTREL::TESTING::VIRTUALPAD PAD;     // plugged in: pad 0 when it is the only one
//   PAD.PRESS(KASTREL::PAD::START);       // and PAD.RELEASE(KASTREL::PAD::START)
//   PAD.MOVE(KASTREL::PAD::LEFTX, 32767); // the left stick fully right
//
// SDL passes pad input to a focused window only; on the null driver pads are not read.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/device/keys.h"

namespace KASTREL::TESTING {

class VIRTUALPAD {
 public:
  VIRTUALPAD() {
    // Before the screen opens SDL's joystick layer is started here (and stopped again after).
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
      if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return;
      STARTED = true;
    }
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.axis_mask = (1u << desc.naxes) - 1;
    desc.button_mask = (1u << desc.nbuttons) - 1;
    STICK = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
    // Triggers rest at their low end, not in the middle of the joystick's range.
    MOVE(PAD::LEFTTRIGGER, 0);
    MOVE(PAD::RIGHTTRIGGER, 0);
  }
  // Unplugs the pad.
  ~VIRTUALPAD() {
    if (!STICK) {
      if (STARTED) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
      return;
    }
    const SDL_JoystickID id = SDL_JoystickInstanceID(STICK);
    SDL_JoystickClose(STICK);
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    if (STARTED) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  VIRTUALPAD(const VIRTUALPAD&) = delete;
  VIRTUALPAD& operator=(const VIRTUALPAD&) = delete;

  // Whether SDL gave the pad (SDL_GetError() says why not).
  BOOLEAN PLUGGED() const { return TOBOOLEAN(STICK != nullptr); }
  // A PAD:: button held down or let go.
  void PRESS(int32_t B) { HOLD(B, true); }
  void RELEASE(int32_t B) { HOLD(B, false); }
  void HOLD(int32_t B, bool DOWN) { SDL_JoystickSetVirtualButton(STICK, B, DOWN ? 1 : 0); }
  // A PAD:: axis: sticks -32768 (left, up) to 32767, triggers 0 (rest) to 32767.
  void MOVE(int32_t AXIS, int32_t VALUE) {
    const bool trigger = AXIS == PAD::LEFTTRIGGER || AXIS == PAD::RIGHTTRIGGER;
    const int32_t raw = trigger
                            ? int32_t(int64_t{std::clamp(VALUE, 0, 32767)} * 65535 / 32767 - 32768)
                            : std::clamp(VALUE, -32768, 32767);
    SDL_JoystickSetVirtualAxis(STICK, AXIS, static_cast<Sint16>(raw));
  }
  // SDL's instance number of the pad.
  SDL_JoystickID ID() const { return SDL_JoystickInstanceID(STICK); }

 private:
  SDL_Joystick* STICK = nullptr;
  bool STARTED = false;
};

}  // namespace KASTREL::TESTING
