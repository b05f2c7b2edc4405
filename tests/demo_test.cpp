// The demonstration game end to end: the real executable in a private Xvfb, driven with
// xdotool, its window read back with XGetImage and compared with models built from the
// pictures (decoded by libpng) and the blending rule written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/testing/png_read.h"
#include "tests/testing/process.h"
#include "tests/testing/xvfb.h"

// After the test framework: Xlib defines macros (None, Bool, Status) that clash with its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

namespace {

using kastrel_testing::RgbaImage;
using namespace std::chrono_literals;

constexpr int kW = 640;
constexpr int kH = 480;
const std::string kDemoDir = std::string(KASTREL_SOURCE_DIR) + "/demo";

// Polls `done` until it holds or the deadline passes; the deadlines are generous because the
// game runs under the sanitizers on a shared machine.
bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

RgbaImage picture(const std::string& name) {
  RgbaImage img;
  std::string error;
  EXPECT_TRUE(kastrel_testing::read_png(kDemoDir + "/images/" + name, &img, &error)) << error;
  return img;
}

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// What the window shows, 0x00RRGGBB per pixel.
struct Frame {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  Rgb at(int x, int y) const {
    const uint32_t p = px[static_cast<size_t>(y) * w + x];
    return {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
  }
};

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  bool has(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// Where the pictures should put each window pixel. The background covers the window; the ball,
// its alpha scaled by the fade, and the cursor are blended over it by their alpha.
class Model {
 public:
  Model()
      : bg_(picture("background.png")),
        ball_(picture("ball.png")),
        cursor_(picture("cursor.png")) {}

  int ball_w() const { return int(ball_.width); }
  int ball_h() const { return int(ball_.height); }
  int cursor_w() const { return int(cursor_.width); }
  int cursor_h() const { return int(cursor_.height); }
  // Centred with halves to even; the collision box (the picture less 7 by 9) on the bottom.
  int start_x() const { return int(std::nearbyint((kW - ball_w()) / 2.0)); }
  int rest_y() const { return kH - (ball_h() - 9); }

  Rgb background(int x, int y) const {
    const uint8_t* p = bg_.at(uint32_t(x), uint32_t(y));
    return {p[0], p[1], p[2]};
  }

  // The background with the ball at (bx, by) faded to `fade`.
  Rgb with_ball(int x, int y, int bx, int by, int fade) const {
    Rgb c = background(x, y);
    const int ix = x - bx, iy = y - by;
    if (ix >= 0 && iy >= 0 && ix < ball_w() && iy < ball_h()) {
      const uint8_t* p = ball_.at(uint32_t(ix), uint32_t(iy));
      c = blend(c, p, int(std::nearbyint(p[3] * (float(fade) / 255.0f))));
    }
    return c;
  }

  // The cursor's own pixel over `under`, or nothing outside the picture.
  std::optional<Rgb> with_cursor(Rgb under, int ix, int iy) const {
    if (ix < 0 || iy < 0 || ix >= cursor_w() || iy >= cursor_h()) return std::nullopt;
    const uint8_t* p = cursor_.at(uint32_t(ix), uint32_t(iy));
    return blend(under, p, p[3]);
  }

 private:
  static Rgb blend(Rgb d, const uint8_t* s, int a) {
    return {d.r + (s[0] - d.r) * a / 255, d.g + (s[1] - d.g) * a / 255,
            d.b + (s[2] - d.b) * a / 255};
  }

  RgbaImage bg_, ball_, cursor_;
};

int distance(Rgb a, Rgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// The game in its own X server, with a connection of the test's own to watch it.
class DemoRun {
 public:
  // Starts the game in `cwd` and waits for its window.
  explicit DemoRun(const std::string& cwd = kDemoDir, const std::string& program = KASTREL_DEMO_BIN)
      : xvfb_("1024x768x24") {
    if (!xvfb_.ok()) {
      ADD_FAILURE() << xvfb_.error();
      return;
    }
    dpy_ = XOpenDisplay(xvfb_.display().c_str());
    if (dpy_ == nullptr) {
      ADD_FAILURE() << "cannot connect to " << xvfb_.display();
      return;
    }
    // A window that has gone (the game ended) is not an error for the test's requests.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const std::string sanitizer_end = ":exitcode=86";
    game_.emplace(
        std::vector<std::string>{program},
        kastrel_testing::EnvChanges{{"DISPLAY", xvfb_.display()},
                                    {"WAYLAND_DISPLAY", std::nullopt},
                                    {"VOXGFX", std::nullopt},
                                    {"SDL_VIDEODRIVER", "x11"},
                                    // A sanitizer report must not pass for the game's own status 1.
                                    {"ASAN_OPTIONS", "detect_leaks=1" + sanitizer_end},
                                    {"UBSAN_OPTIONS", "print_stacktrace=1" + sanitizer_end},
                                    {"LSAN_OPTIONS", "suppressions=" KASTREL_SOURCE_DIR
                                                     "/kastrel/device/testing/lsan.supp" +
                                                         sanitizer_end}},
        cwd);
    if (!game_->started()) {
      ADD_FAILURE() << "the game did not start";
      return;
    }
    eventually([&] { return (window_ = find_window()) != 0 || !game_->running(); });
    if (window_ == 0) {
      ADD_FAILURE() << "no window titled kastrel-demo; the game said:\n" << game_->errors();
      return;
    }
    Window child;
    XTranslateCoordinates(dpy_, window_, DefaultRootWindow(dpy_), 0, 0, &origin_x_, &origin_y_,
                          &child);
    // The first move the window sees only tells it the pointer came in; the cursor follows
    // from the next move on.
    pointer_to(600, 20);
  }

  ~DemoRun() {
    game_.reset();
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }

  DemoRun(const DemoRun&) = delete;
  DemoRun& operator=(const DemoRun&) = delete;

  bool ok() const { return window_ != 0; }
  kastrel_testing::ChildProcess& game() { return *game_; }

  // xdotool against this server; the pointer moves are in window pixels.
  bool xdo(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto r = kastrel_testing::run(argv, {{"DISPLAY", xvfb_.display()}}, 30s);
    return r.exit_status == 0;
  }
  void pointer_to(int x, int y) {
    EXPECT_TRUE(xdo({"mousemove", std::to_string(origin_x_ + x), std::to_string(origin_y_ + y)}));
    pointer_x_ = x;
    pointer_y_ = y;
  }
  // Moves the pointer to (x, y) in `steps` equal moves, one motion event each.
  void glide_to(int x, int y, int steps) {
    const int x0 = pointer_x_, y0 = pointer_y_;
    for (int i = 1; i <= steps; ++i)
      pointer_to(x0 + (x - x0) * i / steps, y0 + (y - y0) * i / steps);
  }
  void button(const char* action, int number) {
    EXPECT_TRUE(xdo({action, std::to_string(number)}));
  }
  void key(const char* name) {
    EXPECT_TRUE(xdo({"windowfocus", "--sync", std::to_string(window_)}));
    EXPECT_TRUE(xdo({"key", name}));
  }

  // What the window manager sends when the close box is pressed.
  void close_box() {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window_;
    e.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy_, window_, False, NoEventMask, &e);
    XSync(dpy_, False);
  }

  // The cursor picture's place: 5 pixels right of and below the pointer.
  Box cursor_box(const Model& m) const {
    return {pointer_x_ + 5, pointer_y_ + 5, m.cursor_w(), m.cursor_h()};
  }

  Frame capture() {
    Frame f;
    XImage* image = XGetImage(dpy_, window_, 0, 0, kW, kH, AllPlanes, ZPixmap);
    if (image == nullptr) return f;
    f.w = kW;
    f.h = kH;
    f.px.resize(size_t{kW} * kH);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        f.px[size_t(y) * kW + x] = uint32_t(XGetPixel(image, x, y)) & 0xFFFFFFu;
      }
    }
    XDestroyImage(image);
    return f;
  }

  // Pixels of the system pointer on show that are not fully transparent.
  int system_pointer_pixels() {
    XFixesCursorImage* image = XFixesGetCursorImage(dpy_);
    if (image == nullptr) return -1;
    int visible = 0;
    for (int i = 0; i < image->width * image->height; ++i) visible += (image->pixels[i] >> 24) != 0;
    XFree(image);
    return visible;
  }

  // Waits for the game to end by itself and gives its exit status (-1 if it does not end).
  int exit_status() {
    if (!game_->wait(60s)) return -1;
    return game_->exit_status();
  }

 private:
  Window find_window() {
    Window root = DefaultRootWindow(dpy_), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(dpy_, root, &root, &parent, &children, &count) == 0) return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
      XWindowAttributes a;
      char* name = nullptr;
      if (XGetWindowAttributes(dpy_, children[i], &a) != 0 && a.map_state == IsViewable &&
          XFetchName(dpy_, children[i], &name) != 0 && name != nullptr) {
        if (std::string(name) == "kastrel-demo") found = children[i];
      }
      if (name != nullptr) XFree(name);
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  kastrel_testing::Xvfb xvfb_;
  Display* dpy_ = nullptr;
  std::optional<kastrel_testing::ChildProcess> game_;
  Window window_ = 0;
  int origin_x_ = 0, origin_y_ = 0;
  int pointer_x_ = -1, pointer_y_ = -1;
};

// The largest difference between the window and the model of the ball at (bx, by) over the
// ball's picture inside the window, leaving out the cursor's box.
int ball_error(const Frame& f, const Model& m, int bx, int by, int fade, Box skip) {
  int worst = 0;
  for (int y = std::max(by, 0); y < std::min(by + m.ball_h(), kH); ++y) {
    for (int x = std::max(bx, 0); x < std::min(bx + m.ball_w(), kW); ++x) {
      if (skip.has(x, y)) continue;
      worst = std::max(worst, distance(f.at(x, y), m.with_ball(x, y, bx, by, fade)));
    }
  }
  return worst;
}

// The drawn pixels match the model within the rounding of the blend.
constexpr int kTolerance = 3;

// Where the ball is: the place near the pixels that differ from the background where the model
// fits best. Nothing when no place fits.
std::optional<std::pair<int, int>> find_ball(const Frame& f, const Model& m, int fade, Box skip) {
  int min_x = kW, min_y = kH;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      if (skip.has(x, y) || distance(f.at(x, y), m.background(x, y)) < 40) continue;
      min_x = std::min(min_x, x);
      min_y = std::min(min_y, y);
    }
  }
  if (min_x == kW) return std::nullopt;
  std::optional<std::pair<int, int>> best;
  int best_error = kTolerance + 1;
  for (int by = min_y - 12; by <= min_y + 2; ++by) {
    for (int bx = min_x - 12; bx <= min_x + 2; ++bx) {
      const int e = ball_error(f, m, bx, by, fade, skip);
      if (e < best_error) {
        best_error = e;
        best = {bx, by};
      }
    }
  }
  return best;
}

// Waits until the ball shows at (x, y) with the given fade.
// With `hop`, a pixel higher counts too: a ball picked up from the bottom may have been caught
// in one of the one-pixel hops it makes at rest.
::testing::AssertionResult ball_shows_at(DemoRun& run, const Model& m, int x, int y, int fade,
                                         bool hop = false) {
  int error = 0;
  Frame last;
  const bool seen = eventually([&] {
    last = run.capture();
    if (last.px.empty()) return false;
    error = ball_error(last, m, x, y, fade, run.cursor_box(m));
    if (hop) error = std::min(error, ball_error(last, m, x, y - 1, fade, run.cursor_box(m)));
    return error <= kTolerance;
  });
  if (seen) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "the ball faded to " << fade << " never showed at (" << x << ", " << y
          << "); the closest frame is off by " << error;
  if (!last.px.empty()) {
    for (const int f : {205, 255}) {
      if (const auto at = find_ball(last, m, f, run.cursor_box(m))) {
        failure << "; at fade " << f << " it shows at (" << at->first << ", " << at->second << ")";
      }
    }
  }
  return failure;
}

// Parks the pointer over the middle of the window's top, away from the ball's column.
void park_pointer(DemoRun& run) { run.pointer_to(560, 40); }

// Waits until the ball lies still in column x: the model fits it on the bottom (or a pixel
// above, where the varying pass lengths make it hop now and then) in many frames running.
::testing::AssertionResult settles(DemoRun& run, const Model& m, int x, int fade) {
  int settled = 0, error = 0;
  const bool seen = eventually([&] {
    const Frame f = run.capture();
    if (f.px.empty()) return false;
    error = ball_error(f, m, x, m.rest_y(), fade, run.cursor_box(m));
    const int hop = ball_error(f, m, x, m.rest_y() - 1, fade, run.cursor_box(m));
    settled = std::min(error, hop) <= kTolerance ? settled + 1 : 0;
    return settled >= 40 && error <= kTolerance;
  });
  if (seen) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "the ball never came to rest at column " << x << " (last misfit " << error << ")";
}

void wait_for_rest(DemoRun& run, const Model& m) {
  park_pointer(run);
  ASSERT_TRUE(settles(run, m, m.start_x(), 205));
}

// Moves the pointer so that the hit-test point (5 right, 5 below) is at the ball's middle.
void hover_ball(DemoRun& run, const Model& m, int bx, int by) {
  run.glide_to(bx + m.ball_w() / 2 - 5, by + (m.ball_h() - 9) / 2 - 5, 3);
}

TEST(DemoGameOnX, ShowsBackgroundBallAndBitmapCursorAndTheBallLightsUpUnderIt) {
  const Model m;
  DemoRun run;
  ASSERT_TRUE(run.ok());
  wait_for_rest(run, m);

  const Frame f = run.capture();
  ASSERT_FALSE(f.px.empty());
  const Box cursor = run.cursor_box(m);
  const Box ball{m.start_x(), m.rest_y() - 1, m.ball_w(), m.ball_h() + 1};  // or a pixel up
  int background_checked = 0, cursor_drawn = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const Rgb shown = f.at(x, y);
      if (cursor.has(x, y)) {
        const auto want = m.with_cursor(m.background(x, y), x - cursor.x, y - cursor.y);
        ASSERT_TRUE(want);
        ASSERT_LE(distance(shown, *want), kTolerance) << "cursor pixel (" << x << ", " << y << ")";
        cursor_drawn += distance(*want, m.background(x, y)) > 60;
      } else if (!ball.has(x, y)) {
        ASSERT_LE(distance(shown, m.background(x, y)), 2)
            << "background (" << x << ", " << y << ")";
        ++background_checked;
      }
    }
  }
  EXPECT_GT(background_checked, kW * kH * 9 / 10);
  EXPECT_GT(cursor_drawn, 40) << "the cursor's picture stands out from the sky";
  EXPECT_EQ(run.system_pointer_pixels(), 0) << "the system pointer shows over the window";

  // Under the pointer the ball lights up; away from it, it fades again.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    hover_ball(run, m, m.start_x(), m.rest_y());
    EXPECT_TRUE(ball_shows_at(run, m, m.start_x(), m.rest_y(), 255));
    park_pointer(run);
    EXPECT_TRUE(ball_shows_at(run, m, m.start_x(), m.rest_y(), 205));
  }
  // The two models really differ: the lit one does not fit the faded ball.
  EXPECT_GT(ball_error(run.capture(), m, m.start_x(), m.rest_y(), 255, run.cursor_box(m)),
            3 * kTolerance);

  run.key("Escape");
  EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
}

// The top row of the ball, seen as it bounces: where the model of whole window columns fits
// best. The columns lie left of the middle, clear of the cursor's first place (right of and
// below the window's middle, where the pointer starts).
int ball_top(const Frame& f, const Model& m, int bx) {
  std::vector<int> columns;
  for (int x = bx + 12; x <= bx + 24; x += 4) columns.push_back(x);
  // Each row's misfit with the background alone, and the sum of them.
  std::vector<int> plain(kH, 0);
  int plain_total = 0;
  for (int y = 0; y < kH; ++y) {
    for (const int x : columns) plain[size_t(y)] += distance(f.at(x, y), m.background(x, y));
    plain_total += plain[size_t(y)];
  }
  int best_y = -m.ball_h(), best_error = plain_total;
  for (int by = -m.ball_h() + 1; by <= kH; ++by) {
    int error = plain_total;
    for (int y = std::max(by, 0); y < std::min(by + m.ball_h(), kH); ++y) {
      error -= plain[size_t(y)];
      for (const int x : columns) error += distance(f.at(x, y), m.with_ball(x, y, bx, by, 205));
    }
    if (error < best_error) {
      best_error = error;
      best_y = by;
    }
  }
  return best_y;
}

TEST(DemoGameOnX, BallFallsBouncesLowerEachTimeAndRestsNinePixelsPastTheBottom) {
  const Model m;
  DemoRun run;
  ASSERT_TRUE(run.ok());
  // The pointer stays outside: the cursor keeps to its corner, away from the ball's column.
  // The highest points between turns down, with a few pixels of hysteresis against the one
  // pixel hops the varying pass lengths give near the top of a flight.
  std::vector<int> peaks;
  int highest = 1 << 30, lowest = -1;
  bool rising = false;
  int resting = 0, last_y = 0, samples = 0;
  const bool rested = eventually([&] {
    const Frame f = run.capture();
    if (f.px.empty()) return false;
    const int y = ball_top(f, m, m.start_x());
    last_y = y;
    ++samples;
    if (rising) {
      highest = std::min(highest, y);
      if (y > highest + 4) {
        peaks.push_back(highest);
        rising = false;
        lowest = y;
      }
    } else {
      lowest = std::max(lowest, y);
      if (y < lowest - 4) {
        rising = true;
        highest = y;
      }
    }
    resting = y >= m.rest_y() - 1 ? resting + 1 : 0;
    return resting >= 60;
  });
  std::ostringstream seen;
  for (const int p : peaks) seen << p << " ";
  ASSERT_TRUE(rested) << "the ball did not come to rest; turned at " << seen.str() << "; last at "
                      << last_y << " after " << samples << " frames";
  ASSERT_GE(peaks.size(), 3u) << "fewer than three bounces seen";
  SCOPED_TRACE("highest rows of the flights: " + seen.str());
  EXPECT_GT(m.rest_y() - peaks[0], 100) << "the first bounce goes up about half the fall";
  EXPECT_LT(peaks[0], peaks[1]);
  EXPECT_LT(peaks[1], peaks[2]);

  // At rest the picture is 9 pixels past the bottom edge: its row ball_h - 10 is the window's
  // last, and the model fits there and nowhere a pixel off.
  const Box none{};
  Frame f;
  ASSERT_TRUE(eventually([&] {
    f = run.capture();
    return !f.px.empty() && ball_error(f, m, m.start_x(), m.rest_y(), 205, none) <= kTolerance;
  }));
  for (const auto& [dx, dy] :
       {std::pair{0, -1}, std::pair{0, 1}, std::pair{-1, 0}, std::pair{1, 0}}) {
    EXPECT_GT(ball_error(f, m, m.start_x() + dx, m.rest_y() + dy, 205, none), kTolerance)
        << "the ball fits a pixel off (" << dx << ", " << dy << ")";
  }
}

TEST(DemoGameOnX, LeftPressDragsWithinTheEdgesAndReleaseThrows) {
  const Model m;
  DemoRun run;
  ASSERT_TRUE(run.ok());
  wait_for_rest(run, m);
  const int x0 = m.start_x(), y0 = m.rest_y();

  // Lift it straight up and let go: no sideways speed, it drops back into its column.
  hover_ball(run, m, x0, y0);
  ASSERT_TRUE(ball_shows_at(run, m, x0, y0, 255));
  run.button("mousedown", 1);
  run.glide_to(x0 + m.ball_w() / 2 - 5, y0 + (m.ball_h() - 9) / 2 - 5 - 200, 5);
  ASSERT_TRUE(ball_shows_at(run, m, x0, y0 - 200, 255, true)) << "the ball follows the pointer";
  run.button("mouseup", 1);
  park_pointer(run);
  ASSERT_TRUE(settles(run, m, x0, 205)) << "dropped, it falls back to its place";

  // Drag it up and left, on past the top-left corner: it stops at the edges.
  hover_ball(run, m, x0, y0);
  ASSERT_TRUE(ball_shows_at(run, m, x0, y0, 255));
  run.button("mousedown", 1);
  run.glide_to(run.cursor_box(m).x - 5 - 100, run.cursor_box(m).y - 5 - 150, 5);
  ASSERT_TRUE(ball_shows_at(run, m, x0 - 100, y0 - 150, 255, true))
      << "moved by the pointer's motion";
  run.glide_to(15, 10, 5);
  ASSERT_TRUE(ball_shows_at(run, m, 0, 0, 255)) << "held inside the window";

  // Throw: a quick move to the right and the button comes up straight after it.
  run.pointer_to(15 + 150, 10);
  run.button("mouseup", 1);
  run.pointer_to(15 + 150, 10 + 300);  // out of the way, below the ball's start
  int furthest = 0;
  Box cursor = run.cursor_box(m);
  ASSERT_TRUE(eventually([&] {
    const Frame f = run.capture();
    if (f.px.empty()) return false;
    const auto at = find_ball(f, m, 205, cursor);
    if (at && at->first > furthest) furthest = at->first;
    if (!at) {
      if (const auto lit = find_ball(f, m, 255, cursor); lit)
        furthest = std::max(furthest, lit->first);
    }
    return furthest >= 150 + 40;
  })) << "thrown, it flies on to the right; furthest column seen "
      << furthest;
}

TEST(DemoGameOnX, RightPressOrAPressBesideTheBallNeverPicksItUp) {
  const Model m;
  DemoRun run;
  ASSERT_TRUE(run.ok());
  wait_for_rest(run, m);
  const int x0 = m.start_x(), y0 = m.rest_y();
  for (const auto& [button, beside] :
       {std::pair{3, false}, std::pair{1, true}, std::pair{2, false}}) {
    SCOPED_TRACE("button " + std::to_string(button) + (beside ? " beside the ball" : " over it"));
    if (beside) {
      run.glide_to(x0 - 60, y0 + 20, 3);
    } else {
      hover_ball(run, m, x0, y0);
      ASSERT_TRUE(ball_shows_at(run, m, x0, y0, 255));
    }
    run.button("mousedown", button);
    run.glide_to(x0 - 150, y0 - 250, 5);
    // Once the cursor shows at the end of the moves, the game has had them all.
    const Box cursor = run.cursor_box(m);
    ASSERT_TRUE(eventually([&] {
      const Frame f = run.capture();
      if (f.px.empty()) return false;
      for (int y = cursor.y; y < cursor.y + cursor.h; ++y) {
        for (int x = cursor.x; x < cursor.x + cursor.w; ++x) {
          const auto want = m.with_cursor(m.background(x, y), x - cursor.x, y - cursor.y);
          if (distance(f.at(x, y), *want) > kTolerance) return false;
        }
      }
      return true;
    }));
    EXPECT_TRUE(ball_shows_at(run, m, x0, y0, 205)) << "the ball stays where it rests";
    run.button("mouseup", button);
  }
}

TEST(DemoGameOnX, EscapeOrTheCloseBoxEndWithStatusOneAlsoWithoutPictures) {
  const Model m;
  {
    SCOPED_TRACE("Escape");
    DemoRun run;
    ASSERT_TRUE(run.ok());
    wait_for_rest(run, m);
    run.key("a");
    run.key("space");
    EXPECT_TRUE(ball_shows_at(run, m, m.start_x(), m.rest_y(), 205));
    EXPECT_TRUE(run.game().running()) << "only Escape ends the game";
    run.key("Escape");
    EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
  }
  {
    SCOPED_TRACE("the close box");
    DemoRun run;
    ASSERT_TRUE(run.ok());
    park_pointer(run);
    run.close_box();
    EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
  }
  {
    SCOPED_TRACE("no images folder");
    kastrel_testing::TempDir empty;
    DemoRun run(empty.path());
    ASSERT_TRUE(run.ok()) << "the game runs without its pictures";
    park_pointer(run);
    // Nothing to draw: the window stays black, and no pointer shows over it.
    const Frame f = run.capture();
    ASSERT_FALSE(f.px.empty());
    EXPECT_EQ(std::count(f.px.begin(), f.px.end(), 0u), kW * kH);
    EXPECT_EQ(run.system_pointer_pixels(), 0);
    EXPECT_TRUE(run.game().running());
    run.key("Escape");
    EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
  }
}

TEST(DemoGameOnX, InstalledLauncherRunsTheGameFromItsDataFolder) {
  const Model m;
  kastrel_testing::TempDir prefix;
  const auto install = kastrel_testing::run(
      {KASTREL_CMAKE_COMMAND, "--install", KASTREL_BINARY_DIR, "--prefix", prefix.path()}, {},
      120s);
  ASSERT_EQ(install.exit_status, 0) << install.output << install.errors;
  // Started from elsewhere, the game still finds its pictures.
  kastrel_testing::TempDir elsewhere;
  DemoRun run(elsewhere.path(), prefix.file("bin/kastrel-demo"));
  ASSERT_TRUE(run.ok());
  wait_for_rest(run, m);
  run.key("Escape");
  EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
}

}  // namespace
