#include "kastrel/device/sdl/sdl_gamepad.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"

namespace {

constexpr int32_t DEFAULT_DEAD_ZONE = 8000;
constexpr int32_t DEFAULT_AXIS_STEP = 1024;  // 1/64 of an axis's travel

struct Pad {
  bool connected = false;
  SDL_GameController* controller = nullptr;  // presentation thread only
  SDL_JoystickID id = -1;
  uint32_t buttons = 0;                // bit per PAD_* button held
  int32_t axes[VOX::PAD_AXES] = {};    // as polled: dead zone applied
  int32_t posted[VOX::PAD_AXES] = {};  // as last posted
};

std::mutex g_pads_mutex;
Pad g_pads[VOX::MAX_PADS];
std::atomic<int32_t> g_dead_zone{DEFAULT_DEAD_ZONE};
std::atomic<int32_t> g_axis_step{DEFAULT_AXIS_STEP};
// Held buttons were let go when the focus left; the first focused pass reads them again.
bool g_reread = false;  // under g_pads_mutex

// Our numbering is SDL's standard layout.
constexpr bool same(int32_t ours, int sdl) { return ours == sdl; }
static_assert(same(VOX::PAD_BUTTONS, SDL_CONTROLLER_BUTTON_MAX) &&
              same(VOX::PAD_DOWN, SDL_CONTROLLER_BUTTON_DPAD_DOWN) &&
              same(VOX::PAD_TOUCHPAD, SDL_CONTROLLER_BUTTON_TOUCHPAD));
static_assert(same(VOX::PAD_AXES, SDL_CONTROLLER_AXIS_MAX) &&
              same(VOX::PAD_RIGHTTRIGGER, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));

void post(int32_t type, int32_t pad, int32_t control = 0, int32_t value = 0) {
  VOX::EVENT e{};
  e.TYPE = type;
  e.PAD = pad;
  e.CONTROL = control;
  e.VALUE = value;
  vox_hPostEvent(&e);
}

// Under g_pads_mutex: the slot of an SDL instance, or -1.
int slot_of(SDL_JoystickID id) {
  for (int i = 0; i < VOX::MAX_PADS; ++i) {
    if (g_pads[i].connected && g_pads[i].id == id) return i;
  }
  return -1;
}

void added(int device_index) {
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  std::lock_guard g(g_pads_mutex);
  // SDL reports pads present at start-up once more when its subsystem comes up.
  if (id < 0 || slot_of(id) >= 0) return;
  int slot = 0;
  while (slot < VOX::MAX_PADS && g_pads[slot].connected) ++slot;
  if (slot == VOX::MAX_PADS) return;
  SDL_GameController* c = SDL_GameControllerOpen(device_index);
  if (c == nullptr) return;
  g_pads[slot] = Pad{};
  g_pads[slot].connected = true;
  g_pads[slot].controller = c;
  g_pads[slot].id = id;
  post(VOX::PADCONNECTED, slot);
}

void removed(SDL_JoystickID id) {
  std::lock_guard g(g_pads_mutex);
  int slot = slot_of(id);
  if (slot < 0) return;
  SDL_GameControllerClose(g_pads[slot].controller);
  g_pads[slot] = Pad{};
  post(VOX::PADDISCONNECTED, slot);
}

void button(SDL_JoystickID id, int32_t b, bool down, bool focused) {
  if (b < 0 || b >= VOX::PAD_BUTTONS) return;
  std::lock_guard g(g_pads_mutex);
  int slot = slot_of(id);
  if (slot < 0) return;
  uint32_t bit = 1u << b;
  Pad& p = g_pads[slot];
  // A release counts only after a press that counted: focus changes release buttons.
  if (down == ((p.buttons & bit) != 0) || (down && !focused)) return;
  p.buttons ^= bit;
  post(down ? VOX::PADBUTTONPRESSED : VOX::PADBUTTONRELEASED, slot, b);
}

}  // namespace

bool vox_sdl_pads_start() {
  {
    std::lock_guard g(g_pads_mutex);
    for (Pad& p : g_pads) p = Pad{};
    g_reread = false;
  }
  // SDL keeps following the pads while another window has the focus, so what is held on
  // return is known; presses count here only while focused.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  return SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

void vox_sdl_pads_stop() {
  if (SDL_WasInit(SDL_INIT_GAMECONTROLLER) == 0) return;
  {
    std::lock_guard g(g_pads_mutex);
    for (Pad& p : g_pads) {
      if (p.controller != nullptr) SDL_GameControllerClose(p.controller);
      p = Pad{};
    }
  }
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

bool vox_sdl_pad_event(const SDL_Event& event, bool focused) {
  switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED:
      added(event.cdevice.which);
      return true;
    case SDL_CONTROLLERDEVICEREMOVED:
      removed(event.cdevice.which);
      return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
      button(event.cbutton.which, event.cbutton.button, event.type == SDL_CONTROLLERBUTTONDOWN,
             focused);
      return true;
    case SDL_CONTROLLERAXISMOTION:  // the pass reads the axes
    case SDL_CONTROLLERDEVICEREMAPPED:
    case SDL_CONTROLLERTOUCHPADDOWN:
    case SDL_CONTROLLERTOUCHPADMOTION:
    case SDL_CONTROLLERTOUCHPADUP:
    case SDL_CONTROLLERSENSORUPDATE:
      return true;
    default:
      return false;
  }
}

void vox_sdl_pads_pass(bool focused) {
  const int32_t zone = g_dead_zone.load(std::memory_order_relaxed);
  const int32_t step = g_axis_step.load(std::memory_order_relaxed);
  std::lock_guard g(g_pads_mutex);
  const bool reread = focused && g_reread;
  if (focused) g_reread = false;
  for (int slot = 0; slot < VOX::MAX_PADS; ++slot) {
    Pad& p = g_pads[slot];
    if (!p.connected) continue;
    for (int b = 0; reread && b < VOX::PAD_BUTTONS; ++b) {
      const bool down = SDL_GameControllerGetButton(p.controller, static_cast<SDL_GameControllerButton>(b));
      if (down && !(p.buttons & (1u << b))) {
        p.buttons |= 1u << b;
        post(VOX::PADBUTTONPRESSED, slot, b);
      }
    }
    for (int a = 0; a < VOX::PAD_AXES; ++a) {
      int32_t v =
          focused ? SDL_GameControllerGetAxis(p.controller, static_cast<SDL_GameControllerAxis>(a))
                  : 0;
      if (std::abs(v) <= zone) v = 0;
      p.axes[a] = v;
      // Events by the step, polling exact: rest and both ends are always reported.
      bool moved = std::abs(v - p.posted[a]) >= step || v == 0 || v == -32768 || v == 32767;
      if (v == p.posted[a] || !moved) continue;
      p.posted[a] = v;
      post(VOX::PADAXISMOVED, slot, a, v);
    }
  }
}

void vox_sdl_pads_release() {
  std::lock_guard g(g_pads_mutex);
  for (int slot = 0; slot < VOX::MAX_PADS; ++slot) {
    Pad& p = g_pads[slot];
    for (int b = 0; b < VOX::PAD_BUTTONS; ++b) {
      if (p.buttons & (1u << b)) post(VOX::PADBUTTONRELEASED, slot, b);
    }
    p.buttons = 0;
  }
  g_reread = true;
}

// ---- polling, from any thread ------------------------------------------------

int32_t vox_hPadCount() {
  std::lock_guard g(g_pads_mutex);
  int32_t n = 0;
  for (const Pad& p : g_pads) n += p.connected ? 1 : 0;
  return n;
}

int32_t vox_hPadConnected(int32_t pad) {
  if (pad < 0 || pad >= VOX::MAX_PADS) return 0;
  std::lock_guard g(g_pads_mutex);
  return g_pads[pad].connected ? -1 : 0;
}

int32_t vox_hPadButton(int32_t pad, int32_t button) {
  if (pad < 0 || pad >= VOX::MAX_PADS || button < 0 || button >= VOX::PAD_BUTTONS) return 0;
  std::lock_guard g(g_pads_mutex);
  return (g_pads[pad].buttons & (1u << button)) != 0 ? -1 : 0;
}

int32_t vox_hPadAxis(int32_t pad, int32_t axis) {
  if (pad < 0 || pad >= VOX::MAX_PADS || axis < 0 || axis >= VOX::PAD_AXES) return 0;
  std::lock_guard g(g_pads_mutex);
  return g_pads[pad].axes[axis];
}

namespace {
// Sets an axis setting (0..32767) and returns the one before; -1 only returns it.
int32_t axis_setting(std::atomic<int32_t>& setting, int32_t value, const char* call,
                     const char* what) {
  if (value < -1 || value > 32767) {
    KASTREL::SETLASTERROR("%s: %d is not %s (0 to 32767, or -1)", call, value, what);
    vox_hSetError(1);
    return -1;
  }
  vox_hSetError(0);
  if (value == -1) return setting.load();
  return setting.exchange(value);
}
}  // namespace

int32_t vox_GfxPadDeadZone(int32_t dead_zone) {
  return axis_setting(g_dead_zone, dead_zone, "vox_GfxPadDeadZone", "a dead zone");
}

int32_t vox_GfxPadAxisStep(int32_t step) {
  return axis_setting(g_axis_step, step, "vox_GfxPadAxisStep", "an axis step");
}
