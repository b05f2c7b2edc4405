#include "kastrel/device/web/web_driver.h"

#include <SDL2/SDL.h>
#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/detail/pointer_reading.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/sdl/paced_present.h"
#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/sdl/sdl_driver_state.h"
#include "kastrel/device/sdl/sdl_gamepad.h"
#include "kastrel/device/sdl/sdl_input.h"

// Resolves after the page's next animation frame; a hidden page has none, so a timer stands in
// (browsers slow it down there) and the game still takes its focus events.
EM_ASYNC_JS(void, kastrel_web_next_frame, (), {
  await new Promise(function(done) {
    var timer = setTimeout(done, 250);
    requestAnimationFrame(function() {
      clearTimeout(timer);
      done();
    });
  });
});

// Whether the browser would grant full screen now: only while the player's last click or key
// press is fresh (its user activation).
EM_JS(int, kastrel_web_may_go_full, (), {
  var activation = navigator.userActivation;
  return document.fullscreenEnabled && (!activation || activation.isActive) ? 1 : 0;
});

namespace KASTREL::SDL_DETAIL {

// The window's state, shared with the window driver's pass and window code.
Driver g_driver;

namespace {

int32_t g_pass = 0;  // passes run since the screen opened

// A page hidden or shown is the player leaving the game or coming back: the focus events a
// desktop window would get. Changed in place before SDL queues it.
int SDLCALL visibility_as_focus(void*, SDL_Event* event) {
  if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_HIDDEN)
    event->window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  else if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_SHOWN)
    event->window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
  return 1;
}

// The pass: the changed picture out, the page's input in. Only while the game does not hold
// the screen: its frame is whole then. The page's waits run it each turn, whatever it answers.
std::chrono::steady_clock::time_point pass() {
  Driver& d = g_driver;
  if (d.window == nullptr || d.count > 0) return std::chrono::steady_clock::time_point::max();
  run_pass();
  ++g_pass;
  return std::chrono::steady_clock::now();
}

void driver_exit();

int32_t driver_init(const char* title, int32_t width, int32_t height, int32_t depth,
                    int32_t refresh_rate, int32_t flags) {
  if (!check_request("web driver", "canvas", width, height, flags)) return -1;
  driver_exit();
  Driver& d = g_driver;
  // The page allows full screen only from a gesture.
  take_request(title, width, height, depth, refresh_rate, flags & ~MODE_FULLSCREEN);
  vox_sdl_input_start(d.input, d.flags);
  // The counters from 0, and never a renderer (as for a shaped window): the picture goes out
  // through the canvas's own surface.
  vox_paced_start(MODE_SHAPED);
  if (!sdl_video_up()) {
    KASTREL::SETLASTERROR("web driver: %s", std::string(KASTREL::LASTERROR()).c_str());
    return -1;
  }
  vox_sdl_pads_start();
  if (!open_window()) {
    KASTREL::SETLASTERROR("web driver: the canvas could not be used: %s", SDL_GetError());
    vox_sdl_pads_stop();
    sdl_video_down();
    return -1;
  }
  SDL_SetEventFilter(visibility_as_focus, nullptr);
  if (__vox_gfx != nullptr) __vox_gfx->refresh_rate = 60;
  d.running = true;
  d.count = 0;
  g_pass = 0;
  KASTREL::PLATFORM::SETIDLEPASS(pass);
  return 0;
}

void driver_exit() {
  Driver& d = g_driver;
  KASTREL::PLATFORM::SETIDLEPASS(nullptr);
  if (__vox_gfx != nullptr) __vox_gfx->flags &= ~(SCREEN_LOCKED | SCREEN_AUTO_LOCKED);
  d.count = 0;
  if (!d.running) return;
  d.running = false;
  SDL_SetEventFilter(nullptr, nullptr);
  destroy_window();
  vox_sdl_pads_stop();
  sdl_video_down();
  d.input.active = false;
  d.input.clip = false;
}

void driver_lock() { ++g_driver.count; }

void driver_unlock() {
  if (g_driver.count > 0) --g_driver.count;
}

void driver_set_palette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  g_driver.palette[index] =
      static_cast<uint32_t>(((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF));
  g_driver.palette_changed = true;
}

void driver_wait_vsync() {
  KASTREL::PLATFORM::SLEEPUNTIL(std::chrono::steady_clock::now() + std::chrono::milliseconds(16));
}

int32_t driver_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  const VOX_SDL_INPUT& in = g_driver.input;
  if (!in.active || !in.over_client) return -1;
  const int32_t v[] = {in.pointer_x, in.pointer_y, in.wheel, in.buttons, in.clip ? 1 : 0};
  return vox_gfx_put_pointer(v, x, y, wheel, buttons, clip);
}

// A page cannot move the player's pointer: a placed pointer is where the game's next reading
// finds it until the player moves. A confined pointer is the browser's pointer lock, which the
// page grants after a click.
void driver_set_mouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  Driver& d = g_driver;
  VOX_SDL_INPUT& in = d.input;
  if (d.window == nullptr) return;
  if (x >= 0) {
    in.pointer_x = std::clamp(x, 0, d.width - 1);
    in.pointer_y = std::clamp(y, 0, d.height - 1);
  }
  if (cursor >= 0 && (cursor > 0) != in.cursor_visible) {
    in.cursor_visible = cursor > 0;
    SDL_ShowCursor(in.cursor_visible ? SDL_ENABLE : SDL_DISABLE);
  }
  if (clip >= 0) {
    in.clip = clip > 0;
    set_grab(in.clip);
  }
}

void driver_set_window_title(const char* title) {
  Driver& d = g_driver;
  d.title = title != nullptr ? title : "";
  if (d.window != nullptr) SDL_SetWindowTitle(d.window, d.title.c_str());  // the page's title
}

int32_t driver_set_window_pos(int32_t, int32_t) { return 0; }  // the page places the canvas

// Full screen asked for without a fresh gesture is refused at once, with the reason, and the
// canvas stays as it is: the browser would otherwise hold the request back until the player's
// next click and the game would read a full screen it does not have.
int32_t web_set_display(int32_t fullscreen, int32_t scale) {
  Driver& d = g_driver;
  const int32_t now = d.want_full.load();
  const int32_t asked = fullscreen == -1 ? !now : fullscreen;
  if (d.window != nullptr && now == 0 && asked == 1 && !kastrel_web_may_go_full()) {
    if (scale >= 0) driver_set_display(-2, scale);
    KASTREL::SETLASTERROR(
        "the browser allows full screen only right after the player clicks or presses a key");
    return -2;
  }
  return driver_set_display(fullscreen, scale);
}

int32_t driver_present_pass() { return g_driver.window != nullptr ? g_pass : -1; }

// The page's next animation frame, then the pass: the picture the game just finished is on
// the canvas for that frame, and the input the page took meanwhile is posted.
void driver_wait_present(int32_t pass_seen) {
  if (g_driver.window == nullptr || g_pass != pass_seen) return;
  kastrel_web_next_frame();
  pass();
}

}  // namespace

}  // namespace KASTREL::SDL_DETAIL

using namespace KASTREL::SDL_DETAIL;

const VOX_GFX_DRIVER vox_gfxDriverWeb = {
    "WEB",
    driver_init,
    driver_exit,
    driver_lock,
    driver_unlock,
    driver_set_palette,
    driver_wait_vsync,
    driver_get_mouse,
    driver_set_mouse,
    driver_set_window_title,
    driver_set_window_pos,
    nullptr,  // the page has no display modes to choose from
    web_set_display,
    nullptr,
    vox_paced_present_count,
    driver_present_pass,
    driver_wait_present,
    vox_hPadCount,
    vox_hPadConnected,
    vox_hPadButton,
    vox_hPadAxis,
    vox_paced_shown_count,
};

// The page's own way to ask for full screen or a window as a game does (from a button's click,
// say): 0 when asked, 1 when refused (LASTERROR() says why). The second reads the answer back.
extern "C" EMSCRIPTEN_KEEPALIVE int32_t kastrel_web_set_fullscreen(int32_t mode) {
  vox_GfxSetFullscreen(mode);
  return vox_GetError();
}
extern "C" EMSCRIPTEN_KEEPALIVE int32_t kastrel_web_fullscreen() { return vox_GfxFullscreen(); }

// The drivers a mode set tries in the browser.
const VOX_GFX_DRIVER* __vox_gfx_drivers_list[] = {
    &vox_gfxDriverWeb,
    nullptr,
};
