#include "kastrel/device/desktop/sdl_driver.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/detail/pointer_reading.h"
#include "kastrel/device/display.h"
#include "kastrel/device/sdl/mouse_snapshot.h"
#include "kastrel/device/sdl/paced_present.h"
#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/sdl/sdl_driver_state.h"
#include "kastrel/device/sdl/sdl_gamepad.h"
#include "kastrel/device/sdl/sdl_input.h"
#include "kastrel/device/sdl/x11_guard.h"

namespace KASTREL::SDL_DETAIL {

Driver g_driver;

namespace {

constexpr auto PASS_PAUSE = std::chrono::milliseconds(25);
constexpr int32_t KEEP_COORDINATE = INT32_MIN;

VOX_MOUSE_SNAPSHOT g_mouse;  // what get_mouse answers, from any thread

// Presentation thread (or the program thread while no presentation thread runs).
void publish_mouse() {
  const VOX_SDL_INPUT& in = g_driver.input;
  g_mouse.publish({in.active && in.over_client ? 1 : 0, in.pointer_x, in.pointer_y, in.wheel,
                   in.buttons, in.clip ? 1 : 0});
}

// ---- the update lock -------------------------------------------------------

void update_lock() {
  Driver& d = g_driver;
  std::unique_lock g(d.m);
  auto self = std::this_thread::get_id();
  if (d.count > 0 && d.owner == self) {
    ++d.count;
    return;
  }
  d.cv.wait(g, [&] { return d.count == 0; });
  d.owner = self;
  d.count = 1;
}

void update_unlock() {
  Driver& d = g_driver;
  std::unique_lock g(d.m);
  // An unlock by a thread that does not hold the lock is ignored.
  if (d.count == 0 || d.owner != std::this_thread::get_id()) return;
  if (--d.count == 0) {
    d.owner = {};
    d.cv.notify_all();
  }
}

// Drops every hold the calling thread has on the update lock.
void update_release_all() {
  Driver& d = g_driver;
  std::unique_lock g(d.m);
  if (d.count > 0 && d.owner == std::this_thread::get_id()) {
    d.count = 0;
    d.owner = {};
    d.cv.notify_all();
  }
}
// ---- requests -----------------------------------------------------------------

void set_mouse_now(Request& r) {
  Driver& d = g_driver;
  VOX_SDL_INPUT& in = d.input;
  if (d.window == nullptr) return;
  if (r.a >= 0) {
    int32_t x = std::min(r.a, d.width - 1);
    int32_t y = std::clamp(r.b, 0, d.height - 1);
    if (scaled()) vox_scale_to_window(d.layout, std::max(x, 0), y, &x, &y);
    SDL_WarpMouseInWindow(d.window, x, y);
    in.pointer_x = x;  // where the pointer is, before its motion arrives
    in.pointer_y = y;
  }
  if (r.c > 0 && !in.cursor_visible) {
    in.cursor_visible = true;
    SDL_ShowCursor(SDL_ENABLE);
  } else if (r.c == 0 && in.cursor_visible) {
    in.cursor_visible = false;
    SDL_ShowCursor(SDL_DISABLE);
  }
  if (r.d > 0) {
    in.clip = true;
    set_grab(true);
  } else if (r.d == 0) {
    in.clip = false;
    set_grab(false);
  }
}

int32_t set_pos_now(Request& r) {
  Driver& d = g_driver;
  if (d.window == nullptr || (d.flags & MODE_FULLSCREEN)) return 0;
  int x = 0, y = 0, top = 0, left = 0;
  SDL_GetWindowPosition(d.window, &x, &y);
  if (SDL_GetWindowBordersSize(d.window, &top, &left, nullptr, nullptr) != 0) top = left = 0;
  int32_t old_left = x - left, old_top = y - top;
  int32_t new_left = r.a == KEEP_COORDINATE ? old_left : r.a;
  int32_t new_top = r.b == KEEP_COORDINATE ? old_top : r.b;
  SDL_SetWindowPosition(d.window, new_left + left, new_top + top);
  SDL_GetWindowPosition(d.window, &d.input.window_x, &d.input.window_y);
  return static_cast<int32_t>((static_cast<uint32_t>(old_left) & 0xFFFF) |
                              (static_cast<uint32_t>(old_top) << 16));
}

void carry_out(Request& r) {
  Driver& d = g_driver;
  switch (r.kind) {
    case RequestKind::SET_MOUSE:
      set_mouse_now(r);
      break;
    case RequestKind::SET_TITLE:
      d.title = r.text;
      if (d.window != nullptr) SDL_SetWindowTitle(d.window, d.title.c_str());
      break;
    case RequestKind::SET_POS:
      r.result = set_pos_now(r);
      break;
    case RequestKind::FETCH_MODES:
      r.modes = list_modes(r.a);
      break;
  }
}

// Carries out `r` with `g` released; the caller makes sure that the update
// lock is held, by the requester or by this thread.
void serve(std::unique_lock<std::mutex>& g, Request* r) {
  Driver& d = g_driver;
  d.requests.erase(std::find(d.requests.begin(), d.requests.end(), r));
  g.unlock();
  carry_out(*r);
  publish_mouse();
  g.lock();
  r->done = true;
  d.cv.notify_all();
}

// The first request that can be carried out now: its requester holds the
// update lock (and waits), or the lock is free and this thread takes it.
bool serve_one(std::unique_lock<std::mutex>& g) {
  Driver& d = g_driver;
  for (Request* r : d.requests) {
    if (d.count > 0 && d.owner == r->requester) {
      serve(g, r);
      return true;
    }
  }
  if (!d.requests.empty() && d.count == 0) {
    d.owner = std::this_thread::get_id();
    d.count = 1;
    serve(g, d.requests.front());
    d.count = 0;
    d.owner = {};
    d.cv.notify_all();
    return true;
  }
  return false;
}

// Takes the update lock for a pass. While another thread holds it, requests
// of that thread are still carried out, so a program that asks for something
// while holding the lock is not left waiting on a pass that cannot start.
bool take_pass_lock(std::unique_lock<std::mutex>& g) {
  Driver& d = g_driver;
  for (;;) {
    if (!d.running) return false;
    if (d.count == 0) {
      d.owner = std::this_thread::get_id();
      d.count = 1;
      return true;
    }
    if (serve_one(g)) continue;
    d.cv.wait(g);
  }
}

void pause_between_passes(std::unique_lock<std::mutex>& g) {
  Driver& d = g_driver;
  auto deadline = std::chrono::steady_clock::now() + PASS_PAUSE;
  if (vox_paced_on()) {  // shown without the update lock, then paced by the display
    g.unlock();
    deadline = vox_paced_show(d.layout);
    g.lock();
  }
  while (d.running) {
    if (serve_one(g)) continue;
    if (d.cv.wait_until(g, deadline) == std::cv_status::timeout) return;
  }
}

bool on_game_thread();

bool submit(Request& r) {
  Driver& d = g_driver;
  if (on_game_thread()) {  // the window is this thread's own
    carry_out(r);
    publish_mouse();
    return true;
  }
  std::unique_lock g(d.m);
  if (!d.thread_alive) return false;
  r.requester = std::this_thread::get_id();
  d.requests.push_back(&r);
  d.cv.notify_all();
  d.cv.wait(g, [&] { return r.done || !d.thread_alive; });
  auto it = std::find(d.requests.begin(), d.requests.end(), &r);
  if (it != d.requests.end()) d.requests.erase(it);
  return r.done;
}

// ---- the presentation thread -----------------------------------------------

// Xlib stops the process (a failed assertion) when one of its small allocations fails: with
// less address space than this to spare, the window is not tried at all.
constexpr size_t DESKTOP_HEADROOM = size_t{16} << 20;

bool desktop_open_armed() {
  if (g_driver.lost) {
    KASTREL::SETLASTERROR("the connection to the desktop was lost earlier");
    return false;
  }
  if (!KASTREL::PLATFORM::ADDRESSSPACELEFT(DESKTOP_HEADROOM)) {
    KASTREL::SETLASTERROR("out of memory: too little address space is left to open the window");
    return false;
  }
  if (!sdl_video_up()) return false;
  vox_sdl_pads_start();  // a game without pads still gets its window
  SDL_DisableScreenSaver();
  if (!open_window()) {
    g_driver.start_error = std::string("the window did not open: ") + SDL_GetError();
    SDL_EnableScreenSaver();
    vox_sdl_pads_stop();
    sdl_video_down();
    return false;
  }
  vox_x11_guard(g_driver.window);
  VOX_GFX_SCREEN* s = __vox_gfx;
  SDL_DisplayMode mode;
  if (s != nullptr && SDL_GetCurrentDisplayMode(0, &mode) == 0) s->refresh_rate = mode.refresh_rate;
  return true;
}

// A server lost while SDL opens the display or the window would have Xlib exit the process
// from this thread; until the window's own guard is in place the loss jumps back here, and the
// connection is left alone for good.
bool desktop_open() {
  std::jmp_buf lost;
  if (setjmp(lost) != 0) {
    g_driver.lost = true;
    KASTREL::SETLASTERROR("the connection to the desktop was lost while the window opened");
    return false;
  }
  vox_x11_arm(&lost);
  const bool up = desktop_open_armed();
  vox_x11_arm(nullptr);
  return up;
}

void desktop_close() {
  // A dead connection is left as it is: closing the window would wait on it for ever.
  g_driver.want_full = -1;
  if (desktop_lost() && vox_x11_dead()) return;
  destroy_window();
  SDL_EnableScreenSaver();
  vox_sdl_pads_stop();
  sdl_video_down();
}

// Why desktop_open failed, on the thread that tried.
std::string open_failure() {
  std::string why = KASTREL::LASTERROR();
  if (why.empty()) why = g_driver.start_error;
  if (why.empty()) why = std::string("the window could not be opened: ") + SDL_GetError();
  return why;
}

void thread_main() {
  Driver& d = g_driver;
  bool up = desktop_open();
  const std::string why = up ? std::string() : open_failure();
  std::unique_lock g(d.m);
  d.failure = why;
  d.start = up ? StartState::UP : StartState::FAILED;
  d.cv.notify_all();
  if (up) {
    while (take_pass_lock(g)) {
      g.unlock();
      run_pass();
      publish_mouse();
      g.lock();
      d.count = 0;
      d.owner = {};
      d.cv.notify_all();
      pause_between_passes(g);
    }
    g.unlock();
    desktop_close();
    publish_mouse();
    g.lock();
  }
  // SDL keeps this thread's error text until told: the thread ends here.
  SDL_TLSCleanup();
  d.thread_alive = false;
  d.cv.notify_all();
  g.unlock();
  SDL_TLSCleanup();  // SDL's data for this thread, which only SDL_Quit here would free
}

// ---- the game's thread serves the window ------------------------------------------
// No presentation thread: the thread that opened the screen runs the pass itself, when it is
// due, at the points where the game gives the screen up (taking the lock, waiting for a
// present or a refresh, the platform's sleeps), as the browser does. Every SDL video call then
// comes from that one thread. The update lock is only a count: no other thread presents.

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_game_model{false};       // the open screen is served by the game's thread
std::atomic<std::thread::id> g_game_thread;  // which thread that is
Clock::time_point g_next_pass;               // when its next pass is due (that thread only)

bool on_game_thread() {
  return g_game_model.load(std::memory_order_relaxed) &&
         g_game_thread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

// The user's KASTREL_PASS_THREAD, else the game's vox_GfxSetPassThread, else the driver's own
// thread. A value the user did not mean is said once a screen and ignored.
bool game_thread_asked() {
  std::string asked;
  if (KASTREL::PLATFORM::GETENVIRONMENT("KASTREL_PASS_THREAD", &asked) && !asked.empty()) {
    if (SDL_strcasecmp(asked.c_str(), "game") == 0) return true;
    if (SDL_strcasecmp(asked.c_str(), "own") == 0) return false;
    std::fprintf(stderr, "kastrel: KASTREL_PASS_THREAD=\"%s\" is neither game nor own; ignored\n",
                 asked.c_str());
  }
  return __vox_gfx_pass_thread == PASS_GAME_THREAD;
}

// The pass when it is due and the game does not hold the screen; when the next one is due.
Clock::time_point game_pass() {
  Driver& d = g_driver;
  if (!on_game_thread() || !d.running || d.count > 0) return Clock::time_point::max();
  if (Clock::now() < g_next_pass) return g_next_pass;
  run_pass();
  publish_mouse();
  // Shown right away, as the presentation thread shows it once the lock is free again.
  g_next_pass = vox_paced_on() ? vox_paced_show(g_driver.layout) : Clock::now() + PASS_PAUSE;
  return g_next_pass;
}

int32_t game_init() {
  Driver& d = g_driver;
  g_game_thread = std::this_thread::get_id();
  if (!desktop_open()) {
    const std::string why = open_failure();
    KASTREL::SETLASTERROR("SDL driver: %s", why.c_str());
    return -1;
  }
  d.count = 0;
  d.running = true;
  g_game_model = true;
  g_next_pass = Clock::now();
  KASTREL::PLATFORM::SETIDLEPASS(game_pass);
  game_pass();  // the first picture at once
  return 0;
}

void game_exit() {
  Driver& d = g_driver;
  KASTREL::PLATFORM::SETIDLEPASS(nullptr);
  d.running = false;
  d.count = 0;
  if (__vox_gfx != nullptr) __vox_gfx->flags &= ~(SCREEN_LOCKED | SCREEN_AUTO_LOCKED);
  g_game_model = false;
  desktop_close();
  publish_mouse();
}

void game_lock() {
  if (!on_game_thread()) return;
  if (g_driver.count == 0) game_pass();
  ++g_driver.count;
}

void game_unlock() {
  if (on_game_thread() && g_driver.count > 0) --g_driver.count;
}

// Until the pass after `pass` has copied the frame: the next refresh's, run here.
void game_wait_present(int32_t pass) {
  if (!on_game_thread()) return vox_paced_wait(pass);
  if (vox_paced_pass() != pass) return;
  const Clock::time_point due = std::min(g_next_pass, Clock::now() + PASS_PAUSE * 4);
  std::this_thread::sleep_until(due);
  g_next_pass = std::min(g_next_pass, Clock::now());
  game_pass();
}

// ---- driver table slots --------------------------------------------------------

void driver_exit();

int32_t driver_init(const char* title, int32_t width, int32_t height, int32_t depth,
                    int32_t refresh_rate, int32_t flags) {
  if (!check_request("SDL driver", "window", width, height, flags)) return -1;
  driver_exit();
  Driver& d = g_driver;
  std::lock_guard life(d.lifecycle);
  take_request(title, width, height, depth, refresh_rate, flags);
  vox_sdl_input_start(d.input, flags);
  publish_mouse();
  vox_paced_start(flags);
  if (game_thread_asked()) return game_init();
  {
    std::unique_lock g(d.m);
    d.running = true;
    d.thread_alive = true;
    d.start = StartState::PENDING;
  }
  try {
    d.thread = std::thread(thread_main);
  } catch (const std::system_error& e) {
    std::unique_lock g(d.m);
    d.running = d.thread_alive = false;
    KASTREL::SETLASTERROR("SDL driver: the presentation thread cannot start: %s", e.what());
    return -1;
  }
  bool up;
  {
    std::unique_lock g(d.m);
    d.cv.wait(g, [&] { return d.start != StartState::PENDING; });
    up = d.start == StartState::UP;
    if (!up) d.running = false;
  }
  if (!up) {
    d.thread.join();
    KASTREL::SETLASTERROR("SDL driver: %s", d.failure.c_str());
    return -1;
  }
  return 0;
}

void driver_exit() {
  Driver& d = g_driver;
  std::lock_guard life(d.lifecycle);
  if (g_game_model) return game_exit();
  {
    std::unique_lock g(d.m);
    d.running = false;
    d.cv.notify_all();
  }
  // A program holding the lock would keep the last pass from ever finishing.
  update_release_all();
  if (__vox_gfx != nullptr) __vox_gfx->flags &= ~(SCREEN_LOCKED | SCREEN_AUTO_LOCKED);
  // Never from the presentation thread itself (an exit there runs the closing-at-exit
  // path): it ends on its own once running is false.
  if (d.thread.joinable()) {
    if (d.thread.get_id() == std::this_thread::get_id()) {
      d.thread.detach();
    } else {
      d.thread.join();
    }
  }
  d.input.clip = false;
}

void driver_lock() {
  if (g_game_model) return game_lock();
  update_lock();
}

void driver_unlock() {
  if (g_game_model) return game_unlock();
  update_unlock();
}

void driver_set_palette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  Driver& d = g_driver;
  driver_lock();
  d.palette[index] =
      static_cast<uint32_t>(((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF));
  d.palette_changed = true;
  driver_unlock();
}

void driver_wait_vsync() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  int32_t rate = s != nullptr ? s->refresh_rate : 0;
  // Through the platform's wait: on the game's thread it serves the window meanwhile.
  KASTREL::PLATFORM::SLEEPUNTIL(Clock::now() +
                                std::chrono::milliseconds(rate > 0 ? 1000 / rate : 16));
}

void driver_wait_present(int32_t pass) {
  if (g_game_model) return game_wait_present(pass);
  vox_paced_wait(pass);
}

int32_t driver_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  int32_t v[VOX_MOUSE_SNAPSHOT::COUNT];
  g_mouse.read(v);
  if (v[VOX_MOUSE_SNAPSHOT::OK] == 0) return -1;
  using M = VOX_MOUSE_SNAPSHOT;
  const int32_t reading[] = {v[M::X], v[M::Y], v[M::WHEEL], v[M::BUTTONS], v[M::CLIP]};
  return vox_gfx_put_pointer(reading, x, y, wheel, buttons, clip);
}

void driver_set_mouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  Request r(RequestKind::SET_MOUSE);
  r.a = x;
  r.b = y;
  r.c = cursor;
  r.d = clip;
  submit(r);
}

void driver_set_window_title(const char* title) {
  Request r(RequestKind::SET_TITLE);
  r.text = title != nullptr ? title : "";
  submit(r);
}

int32_t driver_set_window_pos(int32_t x, int32_t y) {
  Request r(RequestKind::SET_POS);
  r.a = x;
  r.b = y;
  return submit(r) ? r.result : 0;
}

int32_t* driver_fetch_modes(int32_t depth, int32_t* count) {
  Driver& d = g_driver;
  if (count != nullptr) *count = 0;
  std::vector<int32_t> modes;
  {
    std::lock_guard life(d.lifecycle);
    Request r(RequestKind::FETCH_MODES);
    r.a = depth;
    if (submit(r)) {
      modes = std::move(r.modes);
    } else if (sdl_video_up()) {
      // No window, so no thread owns the desktop: ask it from here.
      modes = list_modes(depth);
      sdl_video_down();
    }
  }
  if (modes.empty()) return nullptr;
  auto* out = static_cast<int32_t*>(std::malloc(modes.size() * sizeof(int32_t)));
  if (out == nullptr) return nullptr;
  std::memcpy(out, modes.data(), modes.size() * sizeof(int32_t));
  if (count != nullptr) *count = static_cast<int32_t>(modes.size());
  return out;
}

}  // namespace

}  // namespace KASTREL::SDL_DETAIL

using namespace KASTREL::SDL_DETAIL;

const VOX_GFX_DRIVER vox_gfxDriverSDL = {
    "SDL",
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
    driver_fetch_modes,
    driver_set_display,
    nullptr,
    vox_paced_present_count,
    vox_paced_pass,
    driver_wait_present,
    vox_hPadCount,
    vox_hPadConnected,
    vox_hPadButton,
    vox_hPadAxis,
    vox_paced_shown_count,
};
