#include "kastrel/engine/engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <string>
#include <utility>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/input.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/replay.h"
#include "kastrel/engine/transition.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/clip.h"
#include "kastrel/math/random.h"

namespace KASTREL::ENGINE {

constinit BOOLEAN INITIALIZED = FALSE;
constinit BOOLEAN STARTED = FALSE;
constinit BOOLEAN GAMELOOPRUNNING = FALSE;
constinit int32_t FRAMECOUNT = 0;
constinit float FPS = 0.0f;
constinit float PRESENTEDFPS = 0.0f;

constinit __SIMPLE_EVENT ONINITIALIZE;
constinit __SIMPLE_EVENT ONSTART;
constinit ONSHUTDOWNEVENT ONSHUTDOWN;
constinit __SIMPLE_EVENT ONDESTROY;
constinit __SIMPLE_EVENT ONFOCUS;
constinit __SIMPLE_EVENT ONBLUR;
constinit __SIMPLE_EVENT ONMOUSEENTER;
constinit __SIMPLE_EVENT ONMOUSELEAVE;

namespace {

// The rectangles being painted. The paint step swaps them out of DIRTYREGIONS first, so the
// rectangles handed to paint handlers stay put even if a handler marks regions dirty (those
// are painted in the next pass). The two arrays take turns; neither is allocated again once
// large enough.
constinit RECTLIST PAINTING;

// Smoothed frame count and frame time behind FPS.
constexpr double kFpsSeconds = 1.0;
double fps_frames = 0.0;
double fps_seconds = 0.0;
double presented = 0.0;
int32_t present_count = 0;

int32_t target_fps = 0;
bool clip_paint = false;  // CLIPPAINT
std::chrono::steady_clock::time_point target_next{};

int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrap_abs(int32_t a) {
  return a < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(a)) : a;
}

// The active screen's record, looked up afresh at every raise; null without one.
GAMESCREENEVENTS* active_screen() {
  const int32_t scr = ACTIVEGAMESCREEN;
  return scr >= 0 && scr < GAMESCREENS.ICOUNT ? GAMESCREENS.IITEM[scr] : nullptr;
}

int32_t cursor_width() { return static_cast<int32_t>(MOUSECURSORBITMAP->WIDTH()); }
int32_t cursor_height() { return static_cast<int32_t>(MOUSECURSORBITMAP->HEIGHT()); }

// Widens [*start, *start + *size] to take in the cursor image (size extent) at old_corner and
// new_corner, when both fit the 32-bit range. A size below 1 is left to MARKDIRTY, which
// stretches it to the window's edge.
void cover_cursor(int32_t* start, int32_t* size, int32_t old_corner, int32_t new_corner,
                  int32_t extent) {
  if (*size < 1 || extent <= 0) return;
  const int64_t lo = std::min({int64_t{*start}, int64_t{old_corner}, int64_t{new_corner}});
  const int64_t hi = std::max(
      {int64_t{*start} + *size, int64_t{old_corner} + extent, int64_t{new_corner} + extent});
  if (lo < INT32_MIN || hi - lo > INT32_MAX) return;
  *start = static_cast<int32_t>(lo);
  *size = static_cast<int32_t>(hi - lo);
}

// A pointer move with a visible cursor bitmap: mark the trail between the old and the new
// place dirty and follow the pointer.
void move_cursor(int32_t x, int32_t y) {
  const MATH::POINT old = MOUSECURSORPOSITION;
  const MATH::POINT hot = MOUSECURSORHOTSPOT;
  const int32_t w = cursor_width(), h = cursor_height();
  MATH::RECT trail;
  trail.X = MATH::MIN(x, old.X);
  trail.Y = MATH::MIN(y, old.Y);
  const int32_t reach_x = wrap_sub(w, hot.X), reach_y = wrap_sub(h, hot.Y);
  trail.W = wrap_add(wrap_abs(wrap_sub(x, old.X)), wrap_add(reach_x, reach_x));
  trail.H = wrap_add(wrap_abs(wrap_sub(y, old.Y)), wrap_add(reach_y, reach_y));
  cover_cursor(&trail.X, &trail.W, wrap_add(old.X, hot.X), wrap_add(x, hot.X), w);
  cover_cursor(&trail.Y, &trail.H, wrap_add(old.Y, hot.Y), wrap_add(y, hot.Y), h);
  MARKDIRTY(trail);
  MOUSECURSORPOSITION = MATH::POINT{x, y};
}

// The pointer left the window: the cursor image where it was last drawn must go.
void mark_cursor_area() {
  const int32_t w = cursor_width(), h = cursor_height();
  if (w <= 0 || h <= 0) return;  // an empty cursor left nothing to erase
  MATH::RECT area{wrap_add(MOUSECURSORPOSITION.X, MOUSECURSORHOTSPOT.X),
                  wrap_add(MOUSECURSORPOSITION.Y, MOUSECURSORHOTSPOT.Y), w, h};
  MARKDIRTY(area);
}

bool cursor_shown() { return MOUSECURSORVISIBLE != FALSE && MOUSECURSORBITMAP != nullptr; }

// Turns one device event into engine events; the input event frame handlers get.
INPUTEVENT dispatch(const VOX::EVENT& event) {
  switch (event.TYPE) {
    case VOX::MOUSEMOVED:
      if (cursor_shown()) move_cursor(event.X, event.Y);
      return INPUTEVENT::MOUSEMOVE;
    case VOX::KEYPRESSED:
    case VOX::KEYRELEASED:
    case VOX::KEYREPEATED:
    case VOX::BUTTONPRESSED:
    case VOX::BUTTONRELEASED:
    case VOX::BUTTONDOUBLECLICKED:
    case VOX::WHEELMOVED:
    case VOX::HWHEELMOVED:
    case VOX::PADCONNECTED:
    case VOX::PADDISCONNECTED:
    case VOX::PADBUTTONPRESSED:
    case VOX::PADBUTTONRELEASED:
    case VOX::PADAXISMOVED:
    case VOX::TEXTTYPED:
      return static_cast<INPUTEVENT>(event.TYPE);
    case VOX::MOUSEENTERED:
      ONMOUSEENTER.RAISE();
      MOUSECURSORINSIDEWINDOW = TRUE;
      // The entry may be a jump (a warp, a tablet): it carries the pointer's place.
      if (cursor_shown()) move_cursor(event.X, event.Y);
      return INPUTEVENT::NONE;
    case VOX::MOUSEEXITED:
      ONMOUSELEAVE.RAISE();
      MOUSECURSORINSIDEWINDOW = FALSE;
      if (cursor_shown()) mark_cursor_area();
      return INPUTEVENT::NONE;
    case VOX::FOCUSGAINED:
      ONFOCUS.RAISE();
      return INPUTEVENT::NONE;
    case VOX::FOCUSLOST:
      ONBLUR.RAISE();
      return INPUTEVENT::NONE;
    case VOX::CLOSEREQUESTED:
      SHUTDOWN(FALSE);
      return INPUTEVENT::NONE;
    default:
      return INPUTEVENT::NONE;
  }
}

// The cursor image's place on the screen, as a closed rectangle; false when it has no pixels.
bool cursor_image(MATH::RECT* image) {
  const int32_t w = cursor_width(), h = cursor_height();
  if (w <= 0 || h <= 0) return false;
  *image = MATH::RECT{wrap_add(MOUSECURSORHOTSPOT.X, MOUSECURSORPOSITION.X),
                      wrap_add(MOUSECURSORHOTSPOT.Y, MOUSECURSORPOSITION.Y), w - 1, h - 1};
  return true;
}

bool overlap(const MATH::RECT& a, const MATH::RECT& b) {
  return int64_t{a.X} <= int64_t{b.X} + b.W && int64_t{b.X} <= int64_t{a.X} + a.W &&
         int64_t{a.Y} <= int64_t{b.Y} + b.H && int64_t{b.Y} <= int64_t{a.Y} + a.H;
}

// Repaints the dirty rectangles; false when there were none. *covered: a repainted rectangle
// met the cursor image.
bool paint(GRAPHICS::BITMAP& screen, bool* covered) {
  if (DIRTYREGIONS.COUNT <= 0) return false;
  std::swap(DIRTYREGIONS.COUNT, PAINTING.COUNT);
  std::swap(DIRTYREGIONS.RECT, PAINTING.RECT);
  std::swap(DIRTYREGIONS.ISIZE, PAINTING.ISIZE);
  const MATH::RECT& first = PAINTING.RECT[0];
  const bool whole = first.X == 0 && first.Y == 0 && first.W == SCREENRESOLUTION.WIDTH &&
                     first.H == SCREENRESOLUTION.HEIGHT;
  const int32_t count = whole ? 1 : PAINTING.COUNT;
  MATH::RECT image{};
  const bool check = cursor_shown() && cursor_image(&image);
  for (int32_t i = 0; i < count; ++i) {
    if (check && overlap(PAINTING.RECT[i], image)) *covered = true;
    GAMESCREENEVENTS* screen_events = active_screen();
    if (!screen_events) continue;
    if (clip_paint) {
      const MATH::RECT& r = PAINTING.RECT[i];
      const GRAPHICS::CLIPSCOPE clip(screen, {r.X, r.Y, r.W > 0 ? r.W - 1 : -1, r.H > 0 ? r.H - 1 : -1});
      screen_events->ONPAINT.RAISE(screen, PAINTING.RECT[i]);
    } else {
      screen_events->ONPAINT.RAISE(screen, PAINTING.RECT[i]);
    }
  }
  PAINTING.CLEAR();
  return true;
}

// After a repaint: on a move or idle pass as ever, and on any pass whose repaint covered the
// cursor (a screen switched by a key or a click would otherwise lose it until the next move).
void draw_cursor(INPUTEVENT input, bool covered) {
  if ((covered || input == INPUTEVENT::MOUSEMOVE || input == INPUTEVENT::NONE) && cursor_shown() &&
      MOUSECURSORINSIDEWINDOW == TRUE) {
    const int32_t x = wrap_add(MOUSECURSORHOTSPOT.X, MOUSECURSORPOSITION.X);
    const int32_t y = wrap_add(MOUSECURSORHOTSPOT.Y, MOUSECURSORPOSITION.Y);
    TRANSITIONSTEP::CURSORDRAWING(x, y, cursor_width(), cursor_height());
    MOUSECURSORBITMAP->DRAWTO(static_cast<void*>(nullptr), x, y, 0, 0, 0, 0, GRAPHICS::VOXALPHA,
                              nullptr, nullptr);
    TRANSITIONSTEP::CURSORDRAWN();
  }
}

// The paint step. During a transition the compositor puts the incoming picture back before
// the repaint and draws the pass's composition after it, under the cursor.
void paint_step(GRAPHICS::BITMAP& screen, INPUTEVENT input) {
  const bool composing = TRANSITIONRUNNING() != FALSE;
  if (composing) TRANSITIONSTEP::BEFOREPAINT();
  bool covered = false;
  const bool repainted = paint(screen, &covered);
  if (composing) TRANSITIONSTEP::AFTERPAINT(repainted);
  if (composing || repainted) draw_cursor(input, composing || covered);
}

// Every pass counts as a frame of its own length; FPS is published when time has passed.
void count_frame(double elapsed) {
  FRAMECOUNT = wrap_add(FRAMECOUNT, 1);
  const double keep = std::exp(-elapsed / kFpsSeconds);
  fps_frames = fps_frames * keep + 1.0;
  fps_seconds = fps_seconds * keep + elapsed;
  const int32_t count = vox_GfxShownCount();
  presented = presented * keep + static_cast<uint32_t>(wrap_sub(count, present_count));
  present_count = count;
  if (elapsed != 0.0 && fps_seconds > 0.0) {
    FPS = static_cast<float>(fps_frames / fps_seconds);
    PRESENTEDFPS = static_cast<float>(presented / fps_seconds);
  }
}

// Between passes, with the screen unlocked. `pass` is the presentation pass seen while it was
// locked (-1: the screen is not paced); `took` says this pass took a device event.
void pause(int32_t pass, bool took) {
  if (!SESSIONHOOK::PAUSES()) return;
  if (target_fps == 0 && pass < 0) {
    vox_SleepEx(1, 1);
    return;
  }
  // One event a pass: while more wait, the next pass comes at once; so does the pass after one
  // that took an event, which paints what its handlers marked in time for the next picture.
  const bool waiting = took || SESSIONHOOK::EVENTWAITING();
  if (target_fps == 0) {
    if (!waiting) vox_GfxWaitPresent(pass);
    return;
  }
  using namespace std::chrono;
  const auto period = duration_cast<steady_clock::duration>(duration<double>(1.0 / target_fps));
  const auto now = steady_clock::now();
  // The first pause, or a loop more than a period behind or ahead, starts the beat again.
  if (target_next + period < now || target_next > now + period) target_next = now;
  target_next += period;
  if (!waiting) PLATFORM::SLEEPUNTIL(target_next);
}

}  // namespace

BOOLEAN INITIALIZE(int32_t W, int32_t H, BOOLEAN FS, int32_t FLAGS) {
  if (INITIALIZED != FALSE) return TRUE;
  FLAGS = SESSIONHOOK::MODE(W, H, FS, FLAGS);  // recorded, or checked against a replay
  vox_GfxScreenRes(W, H, 32, 1, FS != FALSE ? (FLAGS | MODE_FULLSCREEN) : FLAGS, 0);
  // A refused request leaves any screen opened before in place: the error says so.
  if (vox_GetError() != 0 || vox_GfxScreenPtr() == nullptr) {
    SETLASTERROR("INITIALIZE: no %d x %d screen: %s", W, H, std::string(LASTERROR()).c_str());
    return FALSE;
  }
  SCREENRESOLUTION = RESOLUTION{W, H};
  HIDECURSOR();
  vox_Randomize(vox_Timer(), 0);
  INITIALIZED = TRUE;
  ONINITIALIZE.RAISE();
  return TRUE;
}

BOOLEAN INITIALIZE(const RESOLUTION& RES, BOOLEAN FS, int32_t FLAGS) {
  return INITIALIZE(RES.WIDTH, RES.HEIGHT, FS, FLAGS);
}

void START() {
  if (STARTED != FALSE || ACTIVEGAMESCREEN <= -1) return;
  GRAPHICS::BITMAP SCREENBITMAP;  // no image: draws onto the frame buffer
  double FELAPSED = 0.0;
  double FTIMER = vox_Timer();
  VOX::EVENT SYSTEMEVENT{};
  INPUTEVENT EINPUTEVENT = INPUTEVENT::NONE;

  STARTED = TRUE;
  ONSTART.RAISE();
  GAMELOOPRUNNING = TRUE;
  present_count = vox_GfxShownCount();
  vox_GfxLock();
  do {
    const double now = vox_Timer();
    FELAPSED = now - FTIMER;
    FTIMER = now;

    const bool took = SESSIONHOOK::FETCHEVENT(&SYSTEMEVENT) != 0;
    EINPUTEVENT = took ? dispatch(SYSTEMEVENT) : INPUTEVENT::NONE;

    paint_step(SCREENBITMAP, EINPUTEVENT);

    count_frame(FELAPSED);

    if (GAMESCREENEVENTS* screen = active_screen())
      screen->ONFRAME.RAISE(static_cast<float>(FELAPSED), EINPUTEVENT, SYSTEMEVENT);
    SESSIONHOOK::ENDPASS();  // frames to files, the pass's block to the recording

    // The presentation thread runs only while the lock is free.
    const int32_t pass = vox_GfxPresentPass();
    vox_GfxUnlock(-1, -1);
    pause(pass, took);
    vox_GfxLock();
  } while (GAMELOOPRUNNING != FALSE);
  vox_GfxUnlock(-1, -1);
  SESSIONHOOK::FINISH();
}

void CLIPPAINT(BOOLEAN ON) { clip_paint = ON != FALSE; }
BOOLEAN CLIPPAINT() { return TOBOOLEAN(clip_paint); }

BOOLEAN TARGETFPS(int32_t N) {
  if (N < 0 || N > 1000) {
    SETLASTERROR("TARGETFPS: %d passes a second is out of range (0, or 1 to 1000)", N);
    return FALSE;
  }
  target_fps = N;
  return TRUE;
}

int32_t TARGETFPS() { return target_fps; }

BOOLEAN SETPASSTHREAD(PASSTHREAD THREAD) {
  if (INITIALIZED != FALSE) {
    SETLASTERROR(
        "SETPASSTHREAD: the window is served already; choose its thread before INITIALIZE");
    return FALSE;
  }
  if (THREAD != PASSTHREAD::OWN && THREAD != PASSTHREAD::GAME) {
    SETLASTERROR("SETPASSTHREAD: %d is neither PASSTHREAD::OWN nor PASSTHREAD::GAME",
                 static_cast<int32_t>(THREAD));
    return FALSE;
  }
  vox_GfxSetPassThread(static_cast<int32_t>(THREAD));
  return vox_GetError() == 0 ? TRUE : FALSE;
}

BOOLEAN SHUTDOWN(BOOLEAN FORCE) {
  BOOLEAN CANCEL = FALSE;
  ONSHUTDOWN.RAISE(CANCEL);
  if ((~static_cast<int32_t>(FORCE) & static_cast<int32_t>(CANCEL)) != 0) return FALSE;
  if (ACTIVEGAMESCREEN > -1 && ACTIVEGAMESCREEN < GAMESCREENS.ICOUNT) {
    BOOLEAN IGNORED = FALSE;
    GAMESCREENS[ACTIVEGAMESCREEN].ONHIDE.RAISE(-1, IGNORED);
  }
  ONDESTROY.RAISE();
  GAMELOOPRUNNING = FALSE;
  // A running transition ends on its incoming picture, which stays on screen after the loop.
  if (TRANSITIONSTEP::FINISH()) draw_cursor(INPUTEVENT::NONE, true);
  return TRUE;
}

}  // namespace KASTREL::ENGINE
