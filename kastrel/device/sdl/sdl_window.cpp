#include <SDL2/SDL.h>
#include <SDL2/SDL_shape.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/sdl/paced_present.h"
#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/sdl/sdl_driver_state.h"
#include "kastrel/device/sdl/wayland_check.h"
#include "kastrel/device/sdl/x11_guard.h"

namespace KASTREL::SDL_DETAIL {

// ---- SDL video on the owning thread ----------------------------------------

namespace {

// The player's KASTREL_SCALE; "" when unset, which asks for nothing.
std::string user_scale() {
  std::string value;
  KASTREL::PLATFORM::GETENVIRONMENT("KASTREL_SCALE", &value);
  return value;
}

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
  std::string asked;
  KASTREL::PLATFORM::GETENVIRONMENT("SDL_VIDEODRIVER", &asked);
  std::string list = !asked.empty() ? asked : "x11,wayland";
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

}  // namespace

bool check_request(const char* driver, const char* surface, int32_t width, int32_t height,
                   int32_t flags) {
  if (flags & 2) {
    KASTREL::SETLASTERROR("%s: no surface of that kind (flag 2)", driver);
    return false;
  }
  if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF) {
    KASTREL::SETLASTERROR("%s: no %s of %d x %d pixels", driver, surface, width, height);
    return false;
  }
  return true;
}

void take_request(const char* title, int32_t width, int32_t height, int32_t depth,
                  int32_t refresh_rate, int32_t flags) {
  Driver& d = g_driver;
  d.title = title != nullptr ? title : "";
  d.width = width;
  d.height = height;
  d.depth = std::max(depth, 8);
  d.refresh = refresh_rate;
  d.flags = flags;
  // The user's KASTREL_SCALE, else the game's call, else its mode flag, else unscaled.
  const int32_t game_scale = __vox_gfx_scale >= 0 ? __vox_gfx_scale : (flags & MODE_SCALED) ? 0 : 1;
  d.scale_request = vox_scale_request(user_scale().c_str(), game_scale);
  std::memset(d.palette, 0, sizeof d.palette);
  d.palette_changed = false;
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
  std::string asked;
  KASTREL::PLATFORM::GETENVIRONMENT("SDL_VIDEODRIVER", &asked);
  if (driver != nullptr &&
      (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0) &&
      SDL_strcasestr(asked.c_str(), driver) == nullptr) {
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

namespace {

int32_t normal_depth(int32_t bits) {
  if (bits == 15) return 16;
  if (bits == 24) return 32;
  return bits;
}

}  // namespace

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

namespace {

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

}  // namespace

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

namespace {

// The open window made full screen or a window again, and sized for the scale, in place: the
// desktop keeps the same window, so the focus, window managers and tools keep it too.
bool refit_window() {
  Driver& d = g_driver;
  // SDL puts the pointer back where it was in the window after a full-screen change; the player
  // left it where it is on the desktop.
  int pointer_x = 0, pointer_y = 0;
  SDL_GetGlobalMouseState(&pointer_x, &pointer_y);
  d.desktop_full = false;
  bool ok = true;
  if (d.flags & MODE_FULLSCREEN) {
    // Laid over the display first: without a window manager to act on the full-screen state,
    // that is what full screen is.
    const auto lay_over = [&](int w, int h) {
      SDL_SetWindowBordered(d.window, SDL_FALSE);
      SDL_SetWindowPosition(d.window, 0, 0);
      SDL_SetWindowSize(d.window, w, h);
    };
    SDL_DisplayMode mode, now;
    // The display is switched to exactly the screen's size, or not changed at all.
    const bool exact = !on_wayland() && exact_display_mode(&mode) &&
                       (lay_over(mode.w, mode.h), SDL_SetWindowDisplayMode(d.window, &mode)) == 0 &&
                       SDL_SetWindowFullscreen(d.window, SDL_WINDOW_FULLSCREEN) == 0 &&
                       SDL_GetCurrentDisplayMode(0, &now) == 0 && now.w == d.width &&
                       now.h == d.height;
    if (!exact) {
      SDL_DisplayMode desk;
      ok = SDL_GetDesktopDisplayMode(0, &desk) == 0 && d.width <= desk.w && d.height <= desk.h;
      if (ok) {
        SDL_SetWindowFullscreen(d.window, 0);
        lay_over(desk.w, desk.h);
        ok = SDL_SetWindowFullscreen(d.window, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
      }
      d.desktop_full = ok;
    }
  } else {
    ok = SDL_SetWindowFullscreen(d.window, 0) == 0;
    SDL_SetWindowBordered(d.window, (d.flags & MODE_NOFRAME) ? SDL_FALSE : SDL_TRUE);
    SDL_DisplayMode desk;
    const int32_t n = window_scale();
    SDL_SetWindowSize(d.window, d.width * n, d.height * n);
    if (SDL_GetDesktopDisplayMode(0, &desk) == 0)
      SDL_SetWindowPosition(d.window, (desk.w - d.width * n) >> 1, (desk.h - d.height * n) >> 1);
  }
  SDL_WarpMouseGlobal(pointer_x, pointer_y);
  int32_t w = 0, h = 0;
  SDL_GetWindowSize(d.window, &w, &h);
  place_picture(w, h);
  d.shown_surface = nullptr;  // the window surface is fetched again at its new size
  VOX_SDL_INPUT& in = d.input;
  SDL_GetWindowPosition(d.window, &in.window_x, &in.window_y);
  in.window_w = w;
  in.window_h = h;
  return ok;
}

}  // namespace

// The windowed/full-screen switch and scale changes, asked for by Alt+Enter or the program,
// made on the same window; a shaped window is made anew. A mode that cannot be set reverts.
void apply_display_requests() {
  Driver& d = g_driver;
  const int32_t scale = d.want_scale.exchange(-1);
  const int32_t full = d.want_full.load();
  const bool toggle = full >= 0 && full != ((d.flags & MODE_FULLSCREEN) != 0);
  if (!toggle && scale < 0) return;
  if (scale >= 0) d.scale_request = vox_scale_request(user_scale().c_str(), scale);
  if (toggle) d.flags ^= MODE_FULLSCREEN;
  const bool in_place = d.window != nullptr && !d.shaped;
  if (in_place ? !refit_window() : (destroy_window(), !open_window())) {
    if (toggle) d.flags ^= MODE_FULLSCREEN;
    if (in_place)
      refit_window();
    else
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

}  // namespace KASTREL::SDL_DETAIL
