#include "kastrel/device/sdl/sdl_driver.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_shape.h>
#include <sys/mman.h>

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

#include "kastrel/base/error.h"
#include "kastrel/device/sdl/frame_rows.h"
#include "kastrel/device/sdl/mouse_snapshot.h"
#include "kastrel/device/sdl/paced_present.h"
#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/sdl/sdl_gamepad.h"
#include "kastrel/device/sdl/sdl_input.h"
#include "kastrel/device/sdl/sdl_keys.h"
#include "kastrel/device/sdl/wayland_check.h"
#include "kastrel/device/sdl/x11_guard.h"

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
  std::string failure;  // why the thread could not open the window, for the program thread
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
  // Pixel scaling: the scale asked for (0 auto, 1 today's unscaled picture), whether the
  // window is full screen at the desktop's size, and where the picture lies in the window.
  int32_t scale_request = 1;
  bool desktop_full = false;
  VOX_SCALE_LAYOUT layout{1, 0, 0, 0, 0};
  std::vector<uint32_t> wide;
  // The desktop connection broke: nothing touches SDL video again in this process.
  bool lost = false;
  // Display changes asked for from any thread, made by the next pass: the full-screen state
  // wanted (-1 no window) and a new scale (-1 none).
  std::atomic<int32_t> want_full{-1};
  std::atomic<int32_t> want_scale{-1};

  // A process that exits with the thread still running (an exit() on any thread) must not
  // end in std::terminate.
  ~Driver() {
    if (thread.joinable()) thread.detach();
  }
};

Driver g_driver;
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

// ---- SDL video on the owning thread ----------------------------------------

// Under Wayland a client can neither change display modes nor shape its window.
bool on_wayland() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && SDL_strcmp(driver, "wayland") == 0;
}

// Why Wayland was left out, for the reason when nothing else starts either.
const char* g_wayland_left_out = "";

// SDL's Wayland start-up crashes on a compositor without a seat: leave Wayland out of
// the drivers SDL may pick then, and fail with the reason when nothing else is left. Without
// any Wayland display to reach it is left out too: SDL's try would only print libwayland's
// complaints before our own message.
bool avoid_seatless_wayland() {
  g_wayland_left_out = "";
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  std::string list = asked != nullptr && *asked != 0 ? asked : "x11,wayland";
  const bool unreachable = vox_wayland_unreachable();
  if (list.find("wayland") == std::string::npos || !(unreachable || vox_wayland_seatless())) {
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);  // SDL_VIDEODRIVER or SDL's own order
    return true;
  }
  std::string kept;
  for (size_t at = 0; at <= list.size();) {
    size_t end = std::min(list.find(',', at), list.size());
    std::string name = list.substr(at, end - at);
    if (!name.empty() && SDL_strcasecmp(name.c_str(), "wayland") != 0) {
      kept += (kept.empty() ? "" : ",") + name;
    }
    at = end + 1;
  }
  if (kept.empty() && unreachable) {
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);  // asked for by name: SDL says why it fails
    return true;
  }
  if (kept.empty()) {
    KASTREL::SETLASTERROR(
        "the Wayland compositor offers no seat (keyboard or pointer), which SDL's Wayland "
        "driver cannot run without");
    return false;
  }
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, kept.c_str(), SDL_HINT_OVERRIDE);
  g_wayland_left_out = unreachable ? " (and no Wayland display: neither WAYLAND_DISPLAY nor "
                                     "XDG_RUNTIME_DIR is set)"
                                   : " (Wayland was left out: its compositor offers no seat)";
  return true;
}

bool sdl_video_up() {
  // The program keeps its own signal handling; pressed buttons capture the pointer.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
  // The window's own surface goes straight to the desktop: no renderer behind it
  // (one would also replace the window, losing its shape).
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // The driver suspends the screen saver itself, so it can restore it at the end.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  if (!avoid_seatless_wayland()) return false;
  vox_x11_guard_early();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    KASTREL::SETLASTERROR("no desktop to show the window on: %s%s", SDL_GetError(),
                          g_wayland_left_out);
    return false;
  }
  // Without a desktop SDL falls back to drivers that show nothing; a game would then run
  // on unseen. Those only when SDL_VIDEODRIVER names them.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  if (driver != nullptr &&
      (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0) &&
      (asked == nullptr || SDL_strcasestr(asked, driver) == nullptr)) {
    KASTREL::SETLASTERROR(
        "no desktop to show the window on (DISPLAY and WAYLAND_DISPLAY name none)");
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (SDL_WasInit(0) == 0) SDL_Quit();
    return false;
  }
  // Wayland has no window surface of its own: SDL shows it through a renderer there.
  if (on_wayland()) SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
  return true;
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
  vox_paced_close();  // the renderer goes before its window
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

// Without a display mode of the screen's size (or any mode changes, as under Wayland):
// a full-screen window at the desktop's own size, the picture scaled and centred in it.
bool open_desktop_fullscreen() {
  Driver& d = g_driver;
  SDL_DisplayMode desk;
  if (SDL_GetDesktopDisplayMode(0, &desk) != 0 || d.width > desk.w || d.height > desk.h) {
    return false;
  }
  Uint32 flags = SDL_WINDOW_FULLSCREEN_DESKTOP;
  if (d.flags & MODE_ONTOP) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  d.window = SDL_CreateWindow(d.title.c_str(), 0, 0, desk.w, desk.h, flags);
  if (d.window == nullptr) return false;
  d.desktop_full = true;
  return true;
}

bool open_fullscreen() {
  Driver& d = g_driver;
  SDL_DisplayMode mode;
  // The display is switched to exactly the screen's size, or not changed at all.
  if (on_wayland() || !exact_display_mode(&mode)) return open_desktop_fullscreen();
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

// The scale of a new window: the one asked for, or the largest that fits the usable area.
int32_t window_scale() {
  Driver& d = g_driver;
  SDL_Rect area;
  if (SDL_GetDisplayUsableBounds(0, &area) != 0) return std::max(d.scale_request, 1);
  const int32_t fit = vox_scale_fit(d.width, d.height, area.w, area.h);
  if (d.scale_request == 0) return fit;
  if (d.scale_request <= fit) return d.scale_request;
  // A window larger than the desktop shows only part of the game.
  std::fprintf(stderr, "kastrel: picture scale %d does not fit the desktop (%d x %d); using %d\n",
               d.scale_request, area.w, area.h, fit);
  return fit;
}

bool open_windowed() {
  Driver& d = g_driver;
  SDL_DisplayMode desk;
  if (SDL_GetDesktopDisplayMode(0, &desk) != 0) return false;
  const int32_t n = window_scale();
  const int32_t win_w = d.width * n, win_h = d.height * n;
  Uint32 flags = 0;
  // A frameless window has no frame to resize it by, and keeps its size.
  if (!(d.flags & (MODE_NOSWITCH | MODE_NOFRAME))) flags |= SDL_WINDOW_RESIZABLE;
  if (d.flags & MODE_NOFRAME) flags |= SDL_WINDOW_BORDERLESS;
  if (d.flags & MODE_ONTOP) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  int x = (desk.w - win_w) >> 1;
  int y = (desk.h - win_h) >> 1;
  // No shapes under Wayland: a frameless window showing the key colour as it is.
  if ((d.flags & MODE_SHAPED) && !on_wayland()) {
    d.window =
        SDL_CreateShapedWindow(d.title.c_str(), static_cast<unsigned>(x), static_cast<unsigned>(y),
                               static_cast<unsigned>(win_w), static_cast<unsigned>(win_h),
                               flags & ~static_cast<Uint32>(SDL_WINDOW_RESIZABLE));
    if (d.window == nullptr) return false;
    d.shape = SDL_CreateRGBSurfaceWithFormat(0, win_w, win_h, 32, SDL_PIXELFORMAT_RGB888);
    if (d.shape == nullptr) return false;
    SDL_FillRect(d.shape, nullptr, 0);
    SDL_WindowShapeMode mode;
    mode.mode = ShapeModeColorKey;
    mode.parameters.colorKey = SDL_Color{255, 0, 255, 255};
    if (SDL_SetWindowShape(d.window, d.shape, &mode) != 0) return false;
    d.shaped = true;
    SDL_SetWindowPosition(d.window, x, y);
  } else {
    d.window = SDL_CreateWindow(d.title.c_str(), x, y, win_w, win_h, flags);
    if (d.window == nullptr) return false;
  }
  // Centre the outer frame once the desktop has told its size.
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(d.window, &top, &left, &bottom, &right) == 0 &&
      (top | left | bottom | right) != 0) {
    SDL_SetWindowPosition(d.window, ((desk.w - (win_w + left + right)) >> 1) + left,
                          ((desk.h - (win_h + top + bottom)) >> 1) + top);
  }
  return true;
}

// Where the picture lies in a window of the given size: today's top-left picture at
// scale 1, else the largest scale that fits, centred.
void place_picture(int32_t win_w, int32_t win_h) {
  Driver& d = g_driver;
  if (d.scale_request == 1 && !d.desktop_full) {
    d.layout = VOX_SCALE_LAYOUT{1, 0, 0, win_w, win_h};
  } else {
    d.layout = vox_scale_layout(d.width, d.height, win_w, win_h,
                                vox_scale_fit(d.width, d.height, win_w, win_h));
  }
}

bool scaled() {
  const VOX_SCALE_LAYOUT& l = g_driver.layout;
  return l.scale != 1 || l.x != 0 || l.y != 0;
}

bool open_window() {
  Driver& d = g_driver;
  d.shaped = false;
  d.desktop_full = false;
  bool ok = (d.flags & MODE_FULLSCREEN) ? open_fullscreen() : open_windowed();
  if (ok && vox_paced_on()) {  // a renderer instead of the window's own surface
    int32_t w = 0, h = 0;
    ok = vox_paced_open(d.window, d.width, d.height, &w, &h);
    if (ok) place_picture(w, h);
  } else if (ok) {
    SDL_Surface* surface = SDL_GetWindowSurface(d.window);
    ok = surface != nullptr;
    if (ok) {
      place_picture(surface->w, surface->h);
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
  d.want_full = (d.flags & MODE_FULLSCREEN) != 0;
  return true;
}

// The windowed/full-screen switch and scale changes, asked for by Alt+Enter or the program; the
// window is made anew, and a mode that cannot be set reverts.
void apply_display_requests() {
  Driver& d = g_driver;
  const int32_t scale = d.want_scale.exchange(-1);
  const int32_t full = d.want_full.load();
  const bool toggle = full >= 0 && full != ((d.flags & MODE_FULLSCREEN) != 0);
  if (!toggle && scale < 0) return;
  if (scale >= 0) d.scale_request = vox_scale_request(std::getenv("KASTREL_SCALE"), scale);
  destroy_window();
  if (toggle) d.flags ^= MODE_FULLSCREEN;
  if (!open_window() && toggle) {
    d.flags ^= MODE_FULLSCREEN;
    open_window();
  }
  d.want_full = (d.flags & MODE_FULLSCREEN) != 0;
  d.palette_changed = true;
  mark_all_dirty();
  d.input.pointer_inside = false;
}

int32_t driver_set_display(int32_t fullscreen, int32_t scale) {
  Driver& d = g_driver;
  int32_t want = d.want_full.load();
  while (want >= 0 && fullscreen != -2) {
    const int32_t next = fullscreen == -1 ? !want : fullscreen;
    if (d.want_full.compare_exchange_weak(want, next)) {
      want = next;
      break;
    }
  }
  if (want >= 0 && scale >= 0) d.want_scale = scale;
  return want;
}

// ---- the pass ----------------------------------------------------------------

void present(VOX_GFX_SCREEN* s) {
  Driver& d = g_driver;
  if (vox_paced_on()) return vox_paced_copy(s, d.palette, d.layout.scale);  // shown unlocked
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
    place_picture(surface->w, surface->h);
    std::memset(s->dirty, 1, lines);
  }
  int32_t first, last;
  if (!vox_dirty_band(s->dirty, lines, &first, &last)) return;

  // The band from the first to the last changed line goes out whole, clean lines included.
  const int32_t n = d.layout.scale;
  const int32_t left = std::max(d.layout.x, 0);
  const int32_t right = std::min<int64_t>(surface->w, d.layout.x + int64_t{s->width} * n);
  const int32_t top = std::max<int64_t>(0, d.layout.y + int64_t{first} * n);
  const int32_t bottom = std::min<int64_t>(surface->h, d.layout.y + (int64_t{last} + 1) * n);
  if (left >= right || top >= bottom) return;
  const int32_t width = right - left;
  const bool direct = surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                      surface->format->format == SDL_PIXELFORMAT_ARGB8888;
  const bool plain = n == 1 && d.layout.x == 0;
  d.row.resize(static_cast<size_t>(std::max(s->width, 1)));
  if (!plain) d.wide.resize(static_cast<size_t>(s->width) * n);
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  for (int32_t wy = top; wy < bottom; ++wy) {
    const int32_t y = (wy - d.layout.y) / n;
    const bool first_copy = wy == top || (wy - d.layout.y) % n == 0;
    const uint8_t* src = s->framebuffer + static_cast<size_t>(y) * s->pitch;
    auto* dst = static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(wy) * surface->pitch +
                static_cast<size_t>(left) * surface->format->BytesPerPixel;
    const uint32_t* shown;
    if (plain && direct) {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, reinterpret_cast<uint32_t*>(dst));
      shown = nullptr;
    } else if (plain) {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, d.row.data());
      shown = d.row.data();
    } else if (direct && s->bytes_per_pixel == 4 && left == d.layout.x &&
               width == s->width * n) {
      // A whole 32-bit row goes straight to all its window rows at once.
      if (first_copy) {
        const int32_t rows = std::min(n - (wy - d.layout.y) % n, bottom - wy);
        vox_scale_row_xrgb32(src, s->width, n, reinterpret_cast<uint32_t*>(dst),
                             static_cast<size_t>(surface->pitch) / 4, rows);
      }
      shown = nullptr;
    } else {
      // One conversion per frame row; its copies below reuse the widened row.
      if (first_copy) {
        vox_row_to_xrgb(src, s->bytes_per_pixel, s->width, d.palette, d.row.data());
        vox_scale_row(d.row.data(), s->width, n, d.wide.data());
      }
      shown = d.wide.data() + (left - d.layout.x);
    }
    if (shown != nullptr && direct) {
      std::memcpy(dst, shown, static_cast<size_t>(width) * 4);
    } else if (shown != nullptr) {
      SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB888, shown, width * 4, surface->format->format,
                        dst, surface->pitch);
    }
    if (d.shape != nullptr && wy < d.shape->h) {
      auto* mask =
          static_cast<uint8_t*>(d.shape->pixels) + static_cast<size_t>(wy) * d.shape->pitch;
      const int32_t cut = std::min(s->width, d.shape->w / n);
      if (n == 1) {
        vox_row_to_shape(src, s->bytes_per_pixel, cut, reinterpret_cast<uint32_t*>(mask));
      } else {
        vox_row_to_shape(src, s->bytes_per_pixel, cut, d.row.data());
        // d.row is free again: the copies of this row come from d.wide.
        vox_scale_row(d.row.data(), cut, n, reinterpret_cast<uint32_t*>(mask));
      }
    }
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_Rect band{left, top, width, bottom - top};
  SDL_UpdateWindowSurfaceRects(d.window, &band, 1);
  vox_sdl_presented();
  if (d.shape != nullptr) {
    SDL_WindowShapeMode mode;
    mode.mode = ShapeModeColorKey;
    mode.parameters.colorKey = SDL_Color{255, 0, 255, 255};
    SDL_SetWindowShape(d.window, d.shape, &mode);
  }
}

// Scaled pictures: pointer positions become frame-buffer pixels before translation, so
// events, vox_GetMouse and hit tests never see window pixels.
void pointer_to_frame(SDL_Event& event) {
  Driver& d = g_driver;
  if (!scaled()) return;
  int32_t* x = nullptr;
  int32_t* y = nullptr;
  if (event.type == SDL_MOUSEMOTION) {
    x = &event.motion.x;
    y = &event.motion.y;
  } else if (event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) {
    x = &event.button.x;
    y = &event.button.y;
  }
  if (x != nullptr) vox_scale_to_frame(d.layout, d.width, d.height, *x, *y, x, y);
  // The client area, as the translation sees it, is the frame.
  d.input.window_w = d.width;
  d.input.window_h = d.height;
}

// Confinement keeps the pointer on the picture, not on the black border around it.
void set_grab(bool on) {
  Driver& d = g_driver;
  if (on && scaled()) {
    const VOX_SCALE_LAYOUT& l = d.layout;
    SDL_Rect picture{std::max(l.x, 0), std::max(l.y, 0), std::min(d.width * l.scale, l.win_w),
                     std::min(d.height * l.scale, l.win_h)};
    SDL_SetWindowMouseRect(d.window, &picture);
  } else {
    SDL_SetWindowMouseRect(d.window, nullptr);
  }
  SDL_SetWindowMouseGrab(d.window, on ? SDL_TRUE : SDL_FALSE);
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
    pointer_to_frame(event);
    if (vox_sdl_translate(event, follower, d.input, out)) {
      SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
    }
    if (out.resized && d.scale_request != 1) {
      place_picture(d.input.window_w, d.input.window_h);
      d.input.window_w = d.width;
      d.input.window_h = d.height;
    }
    if (out.blurred) release_on_blur();  // the releases come before the focus loss
    if (__vox_gfx != nullptr) {
      for (int i = 0; i < out.event_count; ++i) vox_hPostEvent(&out.events[i]);
      for (int i = 0; i < out.typed_count; ++i) vox_hTypedKeyAdd(out.typed[i]);
      for (int i = 0; i < out.text_count; ++i) vox_hPostEvent(&out.text[i]);
    }
    if (d.window == nullptr) continue;
    if (out.confine && d.input.clip) set_grab(true);
    if (out.repaint && d.shown_surface != nullptr) SDL_UpdateWindowSurface(d.window);
    if (out.switch_mode) driver_set_display(-1, -1), apply_display_requests();
  }
  if (d.window != nullptr) apply_display_requests();
  vox_sdl_pads_pass(d.input.focused);
}

// The X server went away or refused our window: one line, then the close box's events,
// so the game ends through its normal shut-down.
bool desktop_lost() {
  Driver& d = g_driver;
  if (d.lost) return true;
  if (!vox_x11_lost()) return false;
  d.lost = true;
  std::fprintf(stderr, "kastrel: the connection to the desktop was lost; closing the game\n");
  if (__vox_gfx != nullptr) {
    VOX::EVENT close{};
    close.TYPE = VOX::CLOSEREQUESTED;
    vox_hTypedKeyAdd(VOX_CLOSE_KEY);
    vox_hPostEvent(&close);
  }
  return true;
}

void run_pass() {
  Driver& d = g_driver;
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (desktop_lost()) {
    if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 0, d.height);
    return;
  }
  if (d.palette_changed) {
    d.palette_changed = false;
    // Palette pixels already on show change colour with the palette.
    if (s != nullptr && s->bytes_per_pixel == 1) mark_all_dirty();
  }
  if (s != nullptr && d.window != nullptr && s->framebuffer != nullptr && s->dirty != nullptr) {
    present(s);
  }
  if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 0, d.height);
  drain_events();
  // After the input: the keys read as the events just posted left them.
  if (s != nullptr && s->key_state != nullptr && d.input.active) {
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    vox_sdl_refresh_key_state(state, count, s->key_state);
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

// Xlib stops the process (a failed assertion) when one of its small allocations fails: with
// less address space than this to spare, the window is not tried at all.
constexpr size_t DESKTOP_HEADROOM = size_t{16} << 20;

bool desktop_open_armed() {
  if (g_driver.lost) {
    KASTREL::SETLASTERROR("the connection to the desktop was lost earlier");
    return false;
  }
  void* room = mmap(nullptr, DESKTOP_HEADROOM, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (room == MAP_FAILED) {
    KASTREL::SETLASTERROR("out of memory: too little address space is left to open the window");
    return false;
  }
  munmap(room, DESKTOP_HEADROOM);
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

void thread_main() {
  Driver& d = g_driver;
  bool up = desktop_open();
  std::string why;
  if (!up) {
    why = KASTREL::LASTERROR();
    if (why.empty()) why = d.start_error;
    if (why.empty()) why = std::string("the window could not be opened: ") + SDL_GetError();
  }
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
  // The user's KASTREL_SCALE, else the game's call, else its mode flag, else unscaled.
  int32_t game_scale = __vox_gfx_scale >= 0 ? __vox_gfx_scale : (flags & MODE_SCALED) ? 0 : 1;
  d.scale_request = vox_scale_request(std::getenv("KASTREL_SCALE"), game_scale);
  std::memset(d.palette, 0, sizeof d.palette);
  d.palette_changed = false;
  vox_sdl_input_start(d.input, flags);
  publish_mouse();
  vox_paced_start(flags);
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
  int32_t v[VOX_MOUSE_SNAPSHOT::COUNT];
  g_mouse.read(v);
  if (v[VOX_MOUSE_SNAPSHOT::OK] == 0) return -1;
  int32_t* out[] = {x, y, wheel, buttons, clip};
  for (int i = 0; i < 5; ++i) {
    if (out[i] != nullptr) *out[i] = v[VOX_MOUSE_SNAPSHOT::X + i];
  }
  return 0;
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
    driver_set_display,
    nullptr,
    vox_paced_present_count,
    vox_paced_pass,
    vox_paced_wait,
    vox_hPadCount,
    vox_hPadConnected,
    vox_hPadButton,
    vox_hPadAxis,
};
