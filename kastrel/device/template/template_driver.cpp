// The template driver: every slot of VOX_GFX_DRIVER, each with a body that works on nothing but
// memory and a comment on what a real port does there. See template_driver.h.
//
// A port starts by copying this folder to kastrel/device/<name>/, renaming the driver, and
// replacing the marked bodies with the system's calls, keeping each slot's promise (driver.h):
// then the contract tests (testing/driver_contract.h) run on the new driver as they run here.
#include "kastrel/device/template/template_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/pointer_reading.h"
#include "kastrel/device/screen.h"

namespace {

// The display a real port asks the system about: its size (where an automatic scale and a
// full-screen picture are fitted) and the modes it offers.
constexpr int32_t kDesktopWidth = 1024, kDesktopHeight = 768;
constexpr int32_t kModes[] = {640 << 16 | 480, 800 << 16 | 600,
                              kDesktopWidth << 16 | kDesktopHeight};
constexpr int32_t kKeepCoordinate = INT32_MIN;  // set_window_pos: leave this coordinate
constexpr int32_t kCloseKey = 0x6BFF;           // the typed key of a close request
constexpr size_t kMaxPending = EVENT_QUEUE_SLOTS - 1;
// A program that never waits for a pass still has one this often, when it gives the screen back.
constexpr auto kPassInterval = std::chrono::milliseconds(25);

// The window. A real port keeps its system handles here (window, renderer, texture). Fields the
// program's reading calls answer from any thread are atomic; the rest belong to the program
// thread, which in this model is the only one that runs the pass. A port that gives the window to
// a thread of the driver's (as the desktop driver's presentation thread) guards the rest with a
// lock that lock and unlock take as well.
struct Window {
  std::atomic<bool> open{false};
  int32_t width = 0, height = 0;
  std::unique_ptr<uint32_t[]> picture;  // what the window shows, 0x00RRGGBB
  bool whole = false;                   // the next pass copies every line
  uint32_t palette[256] = {};
  bool palette_changed = false;
  std::string title;
  int32_t x = 0, y = 0;  // the window's place on the desktop
  std::atomic<int32_t> fullscreen{0};
  int32_t scale = 1;
  int32_t locks = 0;
  std::vector<VOX::EVENT> pending;  // input that came in since the last pass
  std::atomic<int32_t> passes{0}, presents{0}, shown{0};
  std::chrono::steady_clock::time_point last_pass;
  // The pointer, as the last pass left it.
  std::atomic<int32_t> pointer_x{0}, pointer_y{0}, wheel{0}, buttons{0};
  std::atomic<bool> over{false}, clip{false};
  bool cursor = true;
};

Window g_window;
bool g_allow_fullscreen = true;

// The largest whole scale at which the frame fits the desktop (at least 1).
int32_t fitting_scale(int32_t width, int32_t height) {
  return std::max(
      1, std::min(kDesktopWidth / std::max(width, 1), kDesktopHeight / std::max(height, 1)));
}

void driver_exit();

// Opens the window. A real port creates the system's window (or takes over the app's single
// surface), centred, titled, full screen when flags ask, at the refresh rate asked for when the
// display has it; it sets __vox_gfx->refresh_rate to the rate it got and starts reading input.
// Anything it cannot give is refused with a reason: the mode set then tries again (another rate,
// a window instead of full screen, another driver).
int32_t driver_init(const char* title, int32_t width, int32_t height, int32_t depth,
                    int32_t refresh_rate, int32_t flags) {
  if (flags >= 0 && (flags & 2)) {
    KASTREL::SETLASTERROR("template driver: no surface of that kind (flag 2)");
    return -1;
  }
  // The display layer caps a screen at 2 GiB; the picture is another copy of it at 4 bytes a
  // pixel, so it is held to the same cap.
  if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF ||
      static_cast<int64_t>(width) * height > (int64_t{1} << 29)) {
    KASTREL::SETLASTERROR("template driver: no window of %d x %d pixels", width, height);
    return -1;
  }
  if (flags >= 0 && (flags & MODE_FULLSCREEN) && !g_allow_fullscreen) {
    KASTREL::SETLASTERROR("template driver: the display refuses full screen now");
    return -1;
  }
  (void)depth;  // the pass reads the frame's own depth from the screen
  driver_exit();
  Window& w = g_window;
  w.picture.reset(new (std::nothrow) uint32_t[static_cast<size_t>(width) * height]());
  if (!w.picture) {
    KASTREL::SETLASTERROR("template driver: out of memory for a %d x %d window", width, height);
    return -1;
  }
  w.width = width;
  w.height = height;
  w.title = title != nullptr ? title : "";
  w.fullscreen = flags >= 0 && (flags & MODE_FULLSCREEN) ? 1 : 0;
  const int32_t scale = __vox_gfx_scale >= 0                    ? __vox_gfx_scale
                        : (flags >= 0 && (flags & MODE_SCALED)) ? 0
                                                                : 1;
  w.scale = scale == 0 ? fitting_scale(width, height) : scale;
  w.x = (kDesktopWidth - width * w.scale) / 2;
  w.y = (kDesktopHeight - height * w.scale) / 2;
  std::memset(w.palette, 0, sizeof w.palette);
  w.whole = true;  // the first pass shows the frame as the mode set filled it
  w.locks = 0;
  w.passes = w.presents = w.shown = 0;
  w.last_pass = std::chrono::steady_clock::now();
  w.pointer_x = w.pointer_y = w.wheel = w.buttons = 0;
  w.over = w.clip = false;
  w.cursor = true;
  if (__vox_gfx != nullptr) __vox_gfx->refresh_rate = refresh_rate > 0 ? refresh_rate : 60;
  w.open = true;
  return 0;
}

// Closes the window and lets go of everything init took. Called after every failed init too,
// and more than once: it must be safe with nothing open. A driver with a thread stops it here,
// before the display layer frees the frame buffer it reads.
void driver_exit() {
  Window& w = g_window;
  w.open = false;
  w.picture.reset();
  w.width = w.height = 0;
  w.pending.clear();
  w.over = false;
}

void pass();

// The program takes and releases the screen around its drawing; the pass copies the frame only
// while nobody holds it, so a picture is never half drawn. With a presentation thread these
// take the lock that thread takes for its pass. Here, giving the screen back runs the pass when
// one is due, so that a loop paced by its own timer, which never waits for a pass, is shown too.
void driver_lock() { ++g_window.locks; }
void driver_unlock() {
  Window& w = g_window;
  if (w.locks > 0 && --w.locks == 0 &&
      std::chrono::steady_clock::now() - w.last_pass >= kPassInterval)
    pass();
}

// Colours of an 8-bit screen (0..255 each); pixels already shown change with them.
void driver_set_palette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  g_window.palette[index] =
      static_cast<uint32_t>(((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF));
  g_window.palette_changed = true;
}

// One line of the frame into the window's colours: 32-bit 0xAARRGGBB, 16-bit 5-6-5, or a
// palette index. A real port hands the rows to the system's texture or surface instead.
void convert_row(const uint8_t* src, int32_t bytes_per_pixel, int32_t width, uint32_t* dst) {
  for (int32_t x = 0; x < width; ++x) {
    if (bytes_per_pixel == 4) {
      uint32_t p;
      std::memcpy(&p, src + 4 * x, 4);
      dst[x] = p & 0xFFFFFF;
    } else if (bytes_per_pixel == 2) {
      const uint32_t p = static_cast<uint32_t>(src[2 * x] | (src[2 * x + 1] << 8));
      const uint32_t r = ((p >> 11) * 255 + 15) / 31, g = (((p >> 5) & 0x3F) * 255 + 31) / 63,
                     b = ((p & 0x1F) * 255 + 15) / 31;
      dst[x] = (r << 16) | (g << 8) | b;
    } else {
      dst[x] = g_window.palette[src[x]];
    }
  }
}

// Keeps the pointer state that vox_GetMouse reads in step with the events posted.
void track_pointer(const VOX::EVENT& e) {
  Window& w = g_window;
  switch (e.TYPE) {
    case VOX::MOUSEMOVED:
    case VOX::MOUSEENTERED:
      w.pointer_x = std::clamp(e.X, 0, w.width - 1);
      w.pointer_y = std::clamp(e.Y, 0, w.height - 1);
      w.over = true;
      break;
    case VOX::MOUSEEXITED:
      w.over = false;
      break;
    case VOX::BUTTONPRESSED:
    case VOX::BUTTONDOUBLECLICKED:
      w.buttons |= e.BUTTON;
      break;
    case VOX::BUTTONRELEASED:
      w.buttons &= ~e.BUTTON;
      break;
    case VOX::WHEELMOVED:
      w.wheel = e.Z;
      break;
    default:
      break;
  }
}

// The pass: the changed lines out, then the input that came in. In the game-thread model the
// program's waits run it; a presentation thread runs it every display interval or 25 ms. A
// real port copies the changed band into its texture, presents it (waiting for the vertical
// blank where the display paces), and pumps the system's events, turning each into VOX::EVENT
// records for vox_hPostEvent and typed keys for vox_hTypedKeyAdd (the SDL core's sdl_input
// does that for SDL's events).
void pass() {
  Window& w = g_window;
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!w.open || w.locks > 0 || s == nullptr || s->width != w.width || s->height != w.height)
    return;
  const bool all = w.whole || (w.palette_changed && s->bytes_per_pixel == 1);
  w.whole = w.palette_changed = false;
  bool changed = false;
  for (int32_t y = 0; y < s->height; ++y) {
    if (!all && s->dirty[y] == 0) continue;
    s->dirty[y] = 0;
    convert_row(s->framebuffer + static_cast<size_t>(y) * s->pitch, s->bytes_per_pixel, s->width,
                w.picture.get() + static_cast<size_t>(y) * w.width);
    changed = true;
  }
  // A picture that did not change is not sent again; it still counts as shown.
  if (changed) ++w.presents;
  ++w.shown;
  for (const VOX::EVENT& e : w.pending) {
    track_pointer(e);
    const bool typed = e.TYPE == VOX::KEYPRESSED || e.TYPE == VOX::KEYREPEATED;
    if (typed && e.ASCII > 0 && e.ASCII < 256) vox_hTypedKeyAdd(e.ASCII);
    if (e.TYPE == VOX::CLOSEREQUESTED) vox_hTypedKeyAdd(kCloseKey);
    vox_hPostEvent(&e);
  }
  w.pending.clear();
  w.last_pass = std::chrono::steady_clock::now();
  ++w.passes;
}

// The display's own pace: a real port waits for its next vertical blank.
void driver_wait_vsync() { pass(); }

// The pointer in frame-buffer pixels (a port divides the system's window coordinates by the
// scale and takes off any border), its wheel total, buttons and confinement; -1 while it is
// outside the window. Read from any thread: only atomics here.
int32_t driver_get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  const Window& w = g_window;
  if (!w.open || !w.over) return -1;
  const int32_t v[] = {w.pointer_x, w.pointer_y, w.wheel, w.buttons, w.clip ? 1 : 0};
  return vox_gfx_put_pointer(v, x, y, wheel, buttons, clip);
}

// Places the pointer (x < 0: leave it), shows or hides the cursor, confines or frees it
// (negative: leave as is). A system that cannot move the pointer (a browser, a touch screen)
// keeps the place for the game's next reading, as here.
void driver_set_mouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  Window& w = g_window;
  if (!w.open) return;
  if (x >= 0) {
    w.pointer_x = std::clamp(x, 0, w.width - 1);
    w.pointer_y = std::clamp(y, 0, w.height - 1);
  }
  if (cursor >= 0) w.cursor = cursor > 0;
  if (clip >= 0) w.clip = clip > 0;
}

void driver_set_window_title(const char* title) { g_window.title = title != nullptr ? title : ""; }

// Moves the window (kKeepCoordinate keeps one coordinate) and returns where it was, packed as
// (x & 0xFFFF) | (y << 16); 0 without a window, and in full screen, where it stays.
int32_t driver_set_window_pos(int32_t x, int32_t y) {
  Window& w = g_window;
  if (!w.open || w.fullscreen != 0) return 0;
  const int32_t old = static_cast<int32_t>((static_cast<uint32_t>(w.x) & 0xFFFF) |
                                           (static_cast<uint32_t>(w.y) << 16));
  if (x != kKeepCoordinate) w.x = x;
  if (y != kKeepCoordinate) w.y = y;
  return old;
}

// The display's full-screen modes, in a block the caller frees with std::free. A system with no
// modes to choose from (a browser, a phone) leaves the slot empty.
int32_t* driver_fetch_modes(int32_t depth, int32_t* count) {
  *count = 0;
  if (depth <= 0) return nullptr;
  auto* modes = static_cast<int32_t*>(std::malloc(sizeof kModes));
  if (modes == nullptr) return nullptr;
  std::memcpy(modes, kModes, sizeof kModes);
  *count = static_cast<int32_t>(std::size(kModes));
  return modes;
}

// Full screen or a window, and the picture's scale, while a window is open (driver.h gives the
// arguments). A real port records the request and makes it on its next pass, on the thread that
// owns the window; this one has nothing to wait for. A display that will not switch now says
// why and changes nothing.
int32_t driver_set_display(int32_t fullscreen, int32_t scale) {
  Window& w = g_window;
  if (!w.open) return -1;
  const int32_t now = w.fullscreen;
  const int32_t asked = fullscreen == -2 ? now : fullscreen == -1 ? !now : fullscreen != 0;
  if (asked == 1 && now == 0 && !g_allow_fullscreen) {
    KASTREL::SETLASTERROR("the display refuses full screen now");
    return -2;
  }
  w.fullscreen = asked;
  if (scale >= 0) w.scale = scale == 0 ? fitting_scale(w.width, w.height) : scale;
  return asked;
}

int32_t driver_present_count() { return g_window.presents; }
int32_t driver_shown_count() { return g_window.shown; }

// Every screen is paced: the pass number while a window is open.
int32_t driver_present_pass() { return g_window.open ? static_cast<int32_t>(g_window.passes) : -1; }

// The program's wait for the pass after `seen`: here the pass runs at once. A port with a
// presentation thread waits for that thread's next pass, with a deadline of a few display
// intervals; one that hands control back to the system (a browser) runs the pass when it
// gets control again.
void driver_wait_present(int32_t seen) {
  if (g_window.open && g_window.passes == seen) pass();
}

// Pads: none on this display. A port reads the system's pads on its pass, posts PADCONNECTED,
// PADBUTTONPRESSED, PADAXISMOVED ... and answers these from what the pass saw (the SDL core's
// sdl_gamepad.cpp does both for SDL's game controllers).
int32_t driver_pad_count() { return 0; }
int32_t driver_pad_connected(int32_t) { return 0; }
int32_t driver_pad_button(int32_t, int32_t) { return 0; }
int32_t driver_pad_axis(int32_t, int32_t) { return 0; }

}  // namespace

const VOX_GFX_DRIVER vox_gfxDriverTemplate = {
    "TEMPLATE",
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
    nullptr,  // reserved_2: never filled
    driver_present_count,
    driver_present_pass,
    driver_wait_present,
    driver_pad_count,
    driver_pad_connected,
    driver_pad_button,
    driver_pad_axis,
    driver_shown_count,
};

namespace KASTREL::TEMPLATEDRIVER {

const uint32_t* PICTURE() { return g_window.open ? g_window.picture.get() : nullptr; }
int32_t WIDTH() { return g_window.width; }
int32_t HEIGHT() { return g_window.height; }
const char* TITLE() { return g_window.title.c_str(); }

bool INJECT(const VOX::EVENT& EVENT) {
  Window& w = g_window;
  if (!w.open || w.pending.size() >= kMaxPending) return false;
  w.pending.push_back(EVENT);
  return true;
}

void ALLOWFULLSCREEN(bool ALLOW) { g_allow_fullscreen = ALLOW; }

}  // namespace KASTREL::TEMPLATEDRIVER
