#include "kastrel/device/sdl/virtual_pad.h"

#include <SDL2/SDL.h>

#include <algorithm>

#include "kastrel/base/error.h"

namespace KASTREL::TESTING {

namespace {
SDL_Joystick* stick(void* p) { return static_cast<SDL_Joystick*>(p); }
}  // namespace

VIRTUALPAD::VIRTUALPAD() {
  // Before the screen opens SDL's joystick layer is started here (and stopped again after).
  if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
      SETLASTERROR("VIRTUALPAD: SDL's joysticks cannot start: %s", SDL_GetError());
      return;
    }
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
  if (!STICK) {
    SETLASTERROR("VIRTUALPAD: SDL gave no virtual pad: %s", SDL_GetError());
    return;
  }
  // Triggers rest at their low end, not in the middle of the joystick's range.
  MOVE(PAD::LEFTTRIGGER, 0);
  MOVE(PAD::RIGHTTRIGGER, 0);
}

VIRTUALPAD::~VIRTUALPAD() {
  if (!STICK) {
    if (STARTED) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return;
  }
  const SDL_JoystickID id = SDL_JoystickInstanceID(stick(STICK));
  SDL_JoystickClose(stick(STICK));
  for (int i = 0; i < SDL_NumJoysticks(); ++i)
    if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  if (STARTED) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void VIRTUALPAD::HOLD(int32_t B, bool DOWN) {
  SDL_JoystickSetVirtualButton(stick(STICK), B, DOWN ? 1 : 0);
}

void VIRTUALPAD::MOVE(int32_t AXIS, int32_t VALUE) {
  const bool trigger = AXIS == PAD::LEFTTRIGGER || AXIS == PAD::RIGHTTRIGGER;
  const int32_t raw = trigger
                          ? int32_t(int64_t{std::clamp(VALUE, 0, 32767)} * 65535 / 32767 - 32768)
                          : std::clamp(VALUE, -32768, 32767);
  SDL_JoystickSetVirtualAxis(stick(STICK), AXIS, static_cast<Sint16>(raw));
}

int32_t VIRTUALPAD::ID() const { return SDL_JoystickInstanceID(stick(STICK)); }

}  // namespace KASTREL::TESTING
