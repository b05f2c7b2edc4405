#include "kastrel/device/sdl_driver.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_shape.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/frame_rows.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/sdl_gamepad.h"
#include "kastrel/device/sdl_input.h"
#include "kastrel/device/sdl_keys.h"

namespace {

constexpr auto PASS_PAUSE = std::chrono::milliseconds(25);
constexpr int MAX_EVENTS_PER_PASS = 4096;
constexpr int32_t KEEP_COORDINATE = INT32_MIN;

enum class RequestKind { SET_MOUSE, SET_TITLE, SET_POS, FETCH_MODES };

// Something the program thread asks of the window; carried out on the
// presentation thread while the asking thread waits.
struct Request {
  explicit Request(RequestKind k) : kind(k) {}
  RequestKind kind;
  std::thread::id requester;
  int32_t a = 0, b = 0, c = 0, d = 0;
  std::string text;
  int32_t result = 0;
  std::vector<int32_t> modes;
  bool done = false;
};

enum class StartState { PENDING, UP, FAILED };

struct Driver {
  // `m` guards the update lock (owner, count), the request queue and the thread's life.
  std::mutex m;
  std::condition_variable cv;
  std::thread::id owner;
  int count = 0;
  std::deque<Request*> requests;
  bool running = false;
  bool thread_alive = false;
  StartState start = StartState::PENDING;
  std::string start_error;  // why the thread could not open the window

  // Serialises initialise, shut down and the mode list on the program side.
  std::mutex lifecycle;
  std::thread thread;

  // Set before the thread starts.
  std::string title;
  int32_t width = 0, height = 0, depth = 8, refresh = 0;
  int32_t flags = 0;  // the presentation thread flips MODE_FULLSCREEN on a switch

  // Under the update lock.
  uint32_t palette[256] = {};
  bool palette_changed = false;
  VOX_SDL_INPUT input{};

  // Presentation thread only.
  SDL_Window* window = nullptr;
  SDL_Surface* shown_surface = nullptr;
  int32_t shown_w = 0, shown_h = 0;
  SDL_Surface* shape = nullptr;
  bool shaped = false;
  std::vector<uint32_t> row;
};

Driver g_driver;

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

// ---- SDL video on the owning thread ----------------------------------------

bool sdl_video_up() {
  // The program keeps its own signal handling; pressed buttons capture the pointer.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
  // The window's own surface goes straight to the desktop: no renderer behind it
  // (one would also replace the window, losing its shape).
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // The driver suspends the screen saver itself, so it can restore it at the end.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

void sdl_video_down() {
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  if (SDL_WasInit(0) == 0) SDL_Quit();
}

int32_t normal_depth(int32_t bits) {
  if (bits == 15) return 16;
  if (bits == 24) return 32;
  return bits;
}

std::vector<int32_t> list_modes(int32_t depth) {
  std::vector<int32_t> modes;
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
    if (normal_depth(static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format))) != normal_depth(depth))
      continue;
    modes.push_back(static_cast<int32_t>((static_cast<uint32_t>(mode.w) << 16) |
                                         (static_cast<uint32_t>(mode.h) & 0xFFFF)));
  }
  return modes;
}

// ---- the window ------------------------------------------------------------

void mark_all_dirty() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 1, g_driver.height);
}

void destroy_window() {
  Driver& d = g_driver;
  if (d.shape != nullptr) SDL_FreeSurface(d.shape);
  d.shape = nullptr;
  // Destroying a full-screen window gives the display its own mode back.
  if (d.window != nullptr) SDL_DestroyWindow(d.window);
  d.window = nullptr;
  d.shown_surface = nullptr;
  d.input.active = false;
  d.input.window_id = 0;
}

bool exact_display_mode(SDL_DisplayMode* found) {
  Driver& d = g_driver;
  bool have = false;
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) != 0 || mode.w != d.width || mode.h != d.height) continue;
    if (!have || (d.refresh != 0 && mode.refresh_rate == d.refresh)) *found = mode;
    have = true;
  }
  return have;
}

bool open_fullscreen() {
  Driver& d = g_driver;
  SDL_DisplayMode mode;
  // The display is switched to exactly the screen's size, or not at all.
  if (!exact_display_mode(&mode)) {
    SDL_SetError("the display has no mode of exactly %d x %d", d.width, d.height);
    return false;
  }
  Uint32 flags = SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN;
  if (d.flags & MODE_ONTOP) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  d.window = SDL_CreateWindow(d.title.c_str(), 0, 0, d.width, d.height, flags);
  if (d.window == nullptr) return false;
  if (SDL_SetWindowDisplayMode(d.window, &mode) != 0) return false;
  SDL_ShowWindow(d.window);
  SDL_DisplayMode now;
  if (SDL_GetCurrentDisplayMode(0, &now) != 0 || now.w != d.width || now.h != d.height)
    return false;
  return (SDL_GetWindowFlags(d.window) & SDL_WINDOW_FULLSCREEN) != 0;
}

bool open_windowed() {
  Driver& d = g_driver;
  SDL_DisplayMode desk;
  if (SDL_GetDesktopDisplayMode(0, &desk) != 0) return false;
  Uint32 flags = 0;
  if (!(d.flags & MODE_NOSWITCH)) flags |= SDL_WINDOW_RESIZABLE;
  if (d.flags & MODE_NOFRAME) flags |= SDL_WINDOW_BORDERLESS;
  if (d.flags & MODE_ONTOP) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  int x = (desk.w - d.width) >> 1;
  int y = (desk.h - d.height) >> 1;
  if (d.flags & MODE_SHAPED) {
    d.window =
        SDL_CreateShapedWindow(d.title.c_str(), static_cast<unsigned>(x), static_cast<unsigned>(y),
                               static_cast<unsigned>(d.width), static_cast<unsigned>(d.height),
                               flags & ~static_cast<Uint32>(SDL_WINDOW_RESIZABLE));
    if (d.window == nullptr) return false;
    d.shape = SDL_CreateRGBSurfaceWithFormat(0, d.width, d.height, 32, SDL_PIXELFORMAT_RGB888);
    if (d.shape == nullptr) return false;
    SDL_FillRect(d.shape, nullptr, 0);
    SDL_WindowShapeMode mode;
    mode.mode = ShapeModeColorKey;
    mode.parameters.colorKey = SDL_Color{255, 0, 255, 255};
    if (SDL_SetWindowShape(d.window, d.shape, &mode) != 0) return false;
    d.shaped = true;
    SDL_SetWindowPosition(d.window, x, y);
  } else {
    d.window = SDL_CreateWindow(d.title.c_str(), x, y, d.width, d.height, flags);
    if (d.window == nullptr) return false;
  }
  // Centre the outer frame once the desktop has told its size.
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(d.window, &top, &left, &bottom, &right) == 0 &&
      (top | left | bottom | right) != 0) {
    SDL_SetWindowPosition(d.window, ((desk.w - (d.width + left + right)) >> 1) + left,
                          ((desk.h - (d.height + top + bottom)) >> 1) + top);
  }
  return true;
}

bool open_window() {
  Driver& d = g_driver;
  d.shaped = false;
  bool ok = (d.flags & MODE_FULLSCREEN) ? open_fullscreen() : open_windowed();
  if (ok) {
    SDL_Surface* surface = SDL_GetWindowSurface(d.window);
    ok = surface != nullptr;
    if (ok) {
      SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
      SDL_UpdateWindowSurface(d.window);
    }
  }
  if (!ok) {
    destroy_window();
    return false;
  }
  SDL_RaiseWindow(d.window);
  VOX_SDL_INPUT& in = d.input;
  in.window_id = SDL_GetWindowID(d.window);
  SDL_GetWindowPosition(d.window, &in.window_x, &in.window_y);
  SDL_GetWindowSize(d.window, &in.window_w, &in.window_h);
  in.mode_flags = d.flags;
  in.active = true;
  return true;
}

// The windowed/full-screen switch; a mode that cannot be set reverts.
void switch_display() {
  Driver& d = g_driver;
  destroy_window();
  d.flags ^= MODE_FULLSCREEN;
  if (!open_window()) {
    d.flags ^= MODE_FULLSCREEN;
    open_window();
  }
  d.palette_changed = true;
  mark_all_dirty();
  d.input.pointer_inside = false;
}

// ---- the pass ----------------------------------------------------------------

void present(VOX_GFX_SCREEN* s) {
  Driver& d = g_driver;
  int32_t lines = std::min(d.height, s->height);
  SDL_Surface* surface = SDL_GetWindowSurface(d.window);
  if (surface == nullptr) return;
  if (surface != d.shown_surface || surface->w != d.shown_w || surface->h != d.shown_h) {
    // A new or resized surface: black beyond the frame, the whole frame again.
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(d.window);
    d.shown_surface = surface;
    d.shown_w = surface->w;
    d.shown_h = surface->h;
    std::memset(s->dirty, 1, lines);
  }
  int32_t first, last;
  if (!vox_dirty_band(s->dirty, lines, &first, &last)) return;

  int32_t width = std::min(s->width, surface->w);
  int32_t rows_end = std::min(last + 1, surface->h);
  bool direct = surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                surface->format->format == SDL_PIXELFORMAT_ARGB8888;
  d.row.resize(static_cast<size_t>(std::max(s->width, 1)));
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  for (int32_t y = first; y < rows_end; ++y) {
    if (s->dirty[y] == 0) continue;  // clean lines inside the band keep what they show
    const uint8_t* src = s->framebuffer + static_cast<size_t>(y) * s->pitch;
    auto* dst = static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
    if (direct) {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, reinterpret_cast<uint32_t*>(dst));
    } else {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, d.row.data());
      SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB888, d.row.data(), width * 4,
                        surface->format->format, dst, surface->pitch);
    }
    if (d.shape != nullptr && y < d.shape->h) {
      auto* mask = static_cast<uint8_t*>(d.shape->pixels) + static_cast<size_t>(y) * d.shape->pitch;
      vox_row_to_shape(src, s->bytes_per_pixel, std::min(width, d.shape->w),
                       reinterpret_cast<uint32_t*>(mask));
    }
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (first < rows_end) {
    SDL_Rect band{0, first, width, rows_end - first};
    SDL_UpdateWindowSurfaceRects(d.window, &band, 1);
  }
  if (d.shape != nullptr) {
    SDL_WindowShapeMode mode;
    mode.mode = ShapeModeColorKey;
    mode.parameters.colorKey = SDL_Color{255, 0, 255, 255};
    SDL_SetWindowShape(d.window, d.shape, &mode);
  }
}

// Nothing stays held once the window loses the focus (SDL resets its own keyboard too).
void release_on_blur() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (s != nullptr && s->key_state != nullptr) {
    for (int i = 0; i < KEY_STATE_SIZE; ++i)
      std::atomic_ref<uint8_t>(s->key_state[i]).store(0, std::memory_order_relaxed);
  }
  vox_sdl_pads_release();
}

void drain_events() {
  Driver& d = g_driver;
  SDL_Event event;
  SDL_Event next;
  for (int n = 0; n < MAX_EVENTS_PER_PASS && SDL_PollEvent(&event); ++n) {
    const SDL_Event* follower = nullptr;
    if (vox_sdl_pad_event(event, d.input.focused)) continue;
    if ((event.type == SDL_KEYDOWN || event.type == SDL_MOUSEMOTION) &&
        SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
      follower = &next;
    }
    VOX_SDL_OUTPUT out;
    if (vox_sdl_translate(event, follower, d.input, out)) {
      SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
    }
    if (out.blurred) release_on_blur();  // the releases come before the focus loss
    if (__vox_gfx != nullptr) {
      for (int i = 0; i < out.event_count; ++i) vox_hPostEvent(&out.events[i]);
      for (int i = 0; i < out.typed_count; ++i) vox_hTypedKeyAdd(out.typed[i]);
    }
    if (d.window == nullptr) continue;
    if (out.confine && d.input.clip) SDL_SetWindowMouseGrab(d.window, SDL_TRUE);
    if (out.repaint && d.shown_surface != nullptr) SDL_UpdateWindowSurface(d.window);
    if (out.switch_mode) switch_display();
  }
  vox_sdl_pads_pass(d.input.focused);
}

void run_pass() {
  Driver& d = g_driver;
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (d.palette_changed) {
    d.palette_changed = false;
    // Palette pixels already on show change colour with the palette.
    if (s != nullptr && s->bytes_per_pixel == 1) mark_all_dirty();
  }
  if (s != nullptr && d.window != nullptr && s->framebuffer != nullptr && s->dirty != nullptr) {
    present(s);
  }
  if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 0, d.height);
  if (s != nullptr && s->key_state != nullptr && d.input.active) {
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    vox_sdl_refresh_key_state(state, count, s->key_state);
  }
  drain_events();
}

// ---- requests -----------------------------------------------------------------

void set_mouse_now(Request& r) {
  Driver& d = g_driver;
  VOX_SDL_INPUT& in = d.input;
  if (d.window == nullptr) return;
  if (r.a >= 0) {
    int32_t x = std::min(r.a, d.width - 1);
    int32_t y = std::clamp(r.b, 0, d.height - 1);
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
    SDL_SetWindowMouseGrab(d.window, SDL_TRUE);
  } else if (r.d == 0) {
    in.clip = false;
    SDL_SetWindowMouseGrab(d.window, SDL_FALSE);
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
  while (d.running) {
    if (serve_one(g)) continue;
    if (d.cv.wait_until(g, deadline) == std::cv_status::timeout) return;
  }
}

bool submit(Request& r) {
  Driver& d = g_driver;
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

bool desktop_open() {
  if (!sdl_video_up()) {
    g_driver.start_error = std::string("SDL video did not start: ") + SDL_GetError();
    return false;
  }
  vox_sdl_pads_start();  // a game without pads still gets its window
  SDL_DisableScreenSaver();
  if (!open_window()) {
    g_driver.start_error = std::string("the window did not open: ") + SDL_GetError();
    SDL_EnableScreenSaver();
    vox_sdl_pads_stop();
    sdl_video_down();
    return false;
  }
  VOX_GFX_SCREEN* s = __vox_gfx;
  SDL_DisplayMode mode;
  if (s != nullptr && SDL_GetCurrentDisplayMode(0, &mode) == 0) s->refresh_rate = mode.refresh_rate;
  return true;
}

void desktop_close() {
  destroy_window();
  SDL_EnableScreenSaver();
  vox_sdl_pads_stop();
  sdl_video_down();
}

void thread_main() {
  Driver& d = g_driver;
  bool up = desktop_open();
  std::unique_lock g(d.m);
  d.start = up ? StartState::UP : StartState::FAILED;
  d.cv.notify_all();
  if (up) {
    while (take_pass_lock(g)) {
      g.unlock();
      run_pass();
      g.lock();
      d.count = 0;
      d.owner = {};
      d.cv.notify_all();
      pause_between_passes(g);
    }
    g.unlock();
    desktop_close();
    g.lock();
  }
  d.thread_alive = false;
  d.cv.notify_all();
  g.unlock();
  SDL_TLSCleanup();  // SDL's data for this thread, which only SDL_Quit here would free
}

// ---- driver table slots --------------------------------------------------------

void driver_exit();

int32_t driver_init(const char* title, int32_t width, int32_t height, int32_t depth,
                    int32_t refresh_rate, int32_t flags) {
  if (flags & 2) {
    KASTREL::SETLASTERROR("SDL driver: no surface of that kind (flag 2)");
    return -1;
  }
  if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF) {
    KASTREL::SETLASTERROR("SDL driver: no window of %d x %d pixels", width, height);
    return -1;
  }
  driver_exit();
  Driver& d = g_driver;
  std::lock_guard life(d.lifecycle);
  d.title = title != nullptr ? title : "";
  d.width = width;
  d.height = height;
  d.depth = std::max(depth, 8);
  d.refresh = refresh_rate;
  d.flags = flags;
  std::memset(d.palette, 0, sizeof d.palette);
  d.palette_changed = false;
  vox_sdl_input_start(d.input, flags);
  {
    std::unique_lock g(d.m);
    d.running = true;
    d.thread_alive = true;
    d.start = StartState::PENDING;
  }
  d.thread = std::thread(thread_main);
  bool up;
  {
    std::unique_lock g(d.m);
    d.cv.wait(g, [&] { return d.start != StartState::PENDING; });
    up = d.start == StartState::UP;
    if (!up) d.running = false;
  }
  if (!up) {
    d.thread.join();
    KASTREL::SETLASTERROR("SDL driver: %s", d.start_error.c_str());
    return -1;
  }
  return 0;
}

void driver_exit() {
  Driver& d = g_driver;
  std::lock_guard life(d.lifecycle);
  {
    std::unique_lock g(d.m);
    d.running = false;
    d.cv.notify_all();
  }
  // A program holding the lock would keep the last pass from ever finishing.
  update_release_all();
  if (__vox_gfx != nullptr) __vox_gfx->flags &= ~(SCREEN_LOCKED | SCREEN_AUTO_LOCKED);
  if (d.thread.joinable()) d.thread.join();
  d.input.clip = false;
}

void driver_set_palette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  Driver& d = g_driver;
  update_lock();
  d.palette[index] =
      static_cast<uint32_t>(((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF));
  d.palette_changed = true;
  update_unlock();
}

void driver_wait_vsync() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  int32_t rate = s != nullptr ? s->refresh_rate : 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(rate > 0 ? 1000 / rate : 16));
}

int32_t driver_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  Driver& d = g_driver;
  update_lock();
  const VOX_SDL_INPUT& in = d.input;
  bool ok = in.active && in.over_client;
  if (ok) {
    if (x != nullptr) *x = in.pointer_x;
    if (y != nullptr) *y = in.pointer_y;
    if (wheel != nullptr) *wheel = in.wheel;
    if (buttons != nullptr) *buttons = in.buttons;
    if (clip != nullptr) *clip = in.clip ? 1 : 0;
  }
  update_unlock();
  return ok ? 0 : -1;
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

const VOX_GFX_DRIVER vox_gfxDriverSDL = {
    "SDL",
    driver_init,
    driver_exit,
    update_lock,
    update_unlock,
    driver_set_palette,
    driver_wait_vsync,
    driver_get_mouse,
    driver_set_mouse,
    driver_set_window_title,
    driver_set_window_pos,
    driver_fetch_modes,
    nullptr,
    nullptr,
};
