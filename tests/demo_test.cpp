// The demonstration game end to end: the real executable in a private Xvfb, driven with
// xdotool, its window read back with XGetImage and compared with models built from the
// pictures (decoded by libpng) and the blending rule written out here.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/testing/process.h"
#include "kastrel/device/testing/x_desktop.h"
#include "tests/testing/png_read.h"

namespace {

using kastrel_testing::RgbaImage;
using namespace std::chrono_literals;

constexpr int kW = 640;
constexpr int kH = 480;
// The drawn pixels match the model within the rounding of the blend.
constexpr int kTolerance = 3;
const std::string kDemoDir = std::string(KASTREL_SOURCE_DIR) + "/demo";

using x_desktop::eventually;

struct Rgb {
  int r = 0, g = 0, b = 0;
};

int distance(Rgb a, Rgb b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  bool has(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// What the window shows, 0x00RRGGBB per pixel; empty when it could not be read.
struct Frame {
  std::vector<uint32_t> px;
  Rgb at(int x, int y) const {
    const uint32_t p = px[static_cast<size_t>(y) * kW + x];
    return {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
  }
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
  // Centred with halves to even; the collision box (the picture less 7 by 9) on the bottom.
  int start_x() const { return int(std::nearbyint((kW - ball_w()) / 2.0)); }
  int rest_y() const { return kH - (ball_h() - 9); }
  Box cursor_box(int pointer_x, int pointer_y) const {
    return {pointer_x + 5, pointer_y + 5, int(cursor_.width), int(cursor_.height)};
  }

  Rgb background(int x, int y) const {
    const uint8_t* p = bg_.at(uint32_t(x), uint32_t(y));
    return {p[0], p[1], p[2]};
  }
  // The background with the ball at (bx, by) faded to `fade`.
  Rgb with_ball(int x, int y, int bx, int by, int fade) const {
    const int ix = x - bx, iy = y - by;
    if (ix < 0 || iy < 0 || ix >= ball_w() || iy >= ball_h()) return background(x, y);
    const uint8_t* p = ball_.at(uint32_t(ix), uint32_t(iy));
    return blend(background(x, y), p, int(std::nearbyint(p[3] * (float(fade) / 255.0f))));
  }
  // The background with the cursor's pixel (ix, iy) over it.
  Rgb with_cursor(int x, int y, int ix, int iy) const {
    const uint8_t* p = cursor_.at(uint32_t(ix), uint32_t(iy));
    return blend(background(x, y), p, p[3]);
  }

 private:
  static RgbaImage picture(const std::string& name) {
    RgbaImage img;
    std::string error;
    EXPECT_TRUE(kastrel_testing::read_png(kDemoDir + "/images/" + name, &img, &error)) << error;
    return img;
  }
  static Rgb blend(Rgb d, const uint8_t* s, int a) {
    return {d.r + (s[0] - d.r) * a / 255, d.g + (s[1] - d.g) * a / 255,
            d.b + (s[2] - d.b) * a / 255};
  }

  RgbaImage bg_, ball_, cursor_;
};

// The game in its own X server, with a connection of the test's own to watch it.
class DemoRun {
 public:
  // Starts the game in `cwd` and waits for its window.
  explicit DemoRun(const std::string& cwd = kDemoDir, const std::string& program = KASTREL_DEMO_BIN,
                   const kastrel_testing::EnvChanges& more = {})
      : xvfb_("1024x768x24") {
    if (xvfb_.ok()) x_.emplace(xvfb_.display());
    if (!x_ || !x_->ok()) {
      ADD_FAILURE() << "no X server: " << xvfb_.error();
      return;
    }
    kastrel_testing::EnvChanges env = x_desktop::game_env(xvfb_.display());
    for (const auto& [name, value] : more) env[name] = value;
    game_.emplace(std::vector<std::string>{program}, env, cwd);
    eventually([&] { return (window_ = x_->find_window("kastrel-demo")) != 0 || !game_->running(); });
    if (window_ == 0) {
      ADD_FAILURE() << "no window titled kastrel-demo; the game said:\n" << game_->errors();
      return;
    }
    origin_x_ = x_->geometry(window_).x;
    origin_y_ = x_->geometry(window_).y;
    // The first move the window sees only tells it the pointer came in; the cursor follows
    // from the next move on, to its place clear of the ball's column.
    pointer_to(600, 20);
    park();
  }

  // Takes the desktop away under the running game: "server" kills the X server,
  // anything else is an xdotool command run on the game's window.
  void lose_desktop(const std::string& how) {
    if (how == "server") {
      x_.reset();
      xvfb_.kill();
    } else {
      xdo({how, std::to_string(window_)});
    }
  }

  bool ok() const { return window_ != 0; }
  kastrel_testing::ChildProcess& game() { return *game_; }

  // xdotool against this server; the pointer moves are in window pixels.
  void xdo(const std::vector<std::string>& args) {
    EXPECT_EQ(x_desktop::xdotool(args, xvfb_.display()).exit_status, 0);
  }
  void pointer_to(int x, int y) {
    xdo({"mousemove", std::to_string(origin_x_ + x), std::to_string(origin_y_ + y)});
    pointer_x_ = x;
    pointer_y_ = y;
  }
  void park() { pointer_to(560, 40); }
  // Moves the pointer to (x, y) in `steps` equal moves, one motion event each.
  void glide_to(int x, int y, int steps) {
    const int x0 = pointer_x_, y0 = pointer_y_;
    for (int i = 1; i <= steps; ++i)
      pointer_to(x0 + (x - x0) * i / steps, y0 + (y - y0) * i / steps);
  }
  void glide_by(int dx, int dy, int steps) { glide_to(pointer_x_ + dx, pointer_y_ + dy, steps); }
  // Moves the pointer so that the hit-test point (5 right, 5 below) is at the ball's middle.
  void hover(const Model& m, int bx, int by) {
    glide_to(bx + m.ball_w() / 2 - 5, by + (m.ball_h() - 9) / 2 - 5, 3);
  }
  void button(const char* action, int number) { xdo({action, std::to_string(number)}); }
  void key(const char* name) {
    xdo({"windowfocus", "--sync", std::to_string(window_)});
    xdo({"key", name});
  }
  Box cursor_box(const Model& m) const { return m.cursor_box(pointer_x_, pointer_y_); }

  x_desktop::Connection& x() { return *x_; }
  unsigned long window() const { return window_; }
  Frame capture() { return Frame{x_->grab(window_, 0, 0, kW, kH)}; }

  // Waits for the game to end by itself and gives its exit status (-1 if it does not end).
  int exit_status() { return game_->wait(60s) ? game_->exit_status() : -1; }

 private:
  x_desktop::Server xvfb_;
  std::optional<x_desktop::Connection> x_;
  std::optional<kastrel_testing::ChildProcess> game_;
  unsigned long window_ = 0;
  int origin_x_ = 0, origin_y_ = 0;
  int pointer_x_ = 0, pointer_y_ = 0;
};

// The largest difference between the window and the model of the ball at (bx, by) over the
// ball's picture inside the window, leaving out the cursor's box.
int ball_error(const Frame& f, const Model& m, int bx, int by, int fade, Box skip) {
  int worst = 0;
  for (int y = std::max(by, 0); y < std::min(by + m.ball_h(), kH); ++y) {
    for (int x = std::max(bx, 0); x < std::min(bx + m.ball_w(), kW); ++x) {
      if (!skip.has(x, y))
        worst = std::max(worst, distance(f.at(x, y), m.with_ball(x, y, bx, by, fade)));
    }
  }
  return worst;
}

// How far the ball at (x, y) with the given fade, or a pixel higher, is from what the window
// shows: a ball resting on the bottom makes a one-pixel hop now and then, as the
// passes vary in length, and higher ones while a recording writes frames.
int ball_misfit(const Frame& f, const Model& m, int x, int y, int fade, Box skip) {
  int best = 255;
  for (int up = 0; up <= 1 && !f.px.empty(); ++up)
    best = std::min(best, ball_error(f, m, x, y - up, fade, skip));
  return best;
}

// Waits until the ball shows at (x, y) with the given fade.
::testing::AssertionResult ball_shows_at(DemoRun& run, const Model& m, int x, int y, int fade) {
  int misfit = 0;
  if (eventually([&] {
        misfit = ball_misfit(run.capture(), m, x, y, fade, run.cursor_box(m));
        return misfit <= kTolerance;
      })) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the ball faded to " << fade << " never showed at (" << x
                                       << ", " << y << "); the last frame is off by " << misfit;
}

// The largest difference between the window and the cursor's picture over the background.
int cursor_error(const Frame& f, const Model& m, Box cursor) {
  int worst = 0;
  for (int y = cursor.y; y < cursor.y + cursor.h; ++y) {
    for (int x = cursor.x; x < cursor.x + cursor.w; ++x) {
      worst =
          std::max(worst, distance(f.at(x, y), m.with_cursor(x, y, x - cursor.x, y - cursor.y)));
    }
  }
  return worst;
}

TEST(DemoGameOnX, FallsRestsLightsUpIsDraggedAndThrownAndEndsOnEscape) {
  const Model m;
  DemoRun run;
  ASSERT_TRUE(run.ok());
  const int x0 = m.start_x(), y0 = m.rest_y();

  // The fall's bounces are checked in the game's own test; here the ball must come to rest,
  // lying still on the bottom for many frames running.
  int resting = 0;
  ASSERT_TRUE(eventually([&] {
    const Frame f = run.capture();
    resting = ball_misfit(f, m, x0, y0, 205, Box{}) <= kTolerance ? resting + 1 : 0;
    return resting >= 40;
  })) << "the ball did not come to rest";

  // At rest the picture is 9 pixels past the bottom edge: the model fits there and nowhere a
  // pixel off.
  Frame f;
  ASSERT_TRUE(eventually([&] {
    f = run.capture();
    return !f.px.empty() && ball_error(f, m, x0, y0, 205, Box{}) <= kTolerance;
  }));
  for (const auto& [dx, dy] :
       {std::pair{0, -1}, std::pair{0, 1}, std::pair{-1, 0}, std::pair{1, 0}}) {
    EXPECT_GT(ball_error(f, m, x0 + dx, y0 + dy, 205, Box{}), kTolerance) << dx << ", " << dy;
  }
  // Elsewhere the background, and the cursor's picture at the pointer instead of the system's.
  const Box cursor = run.cursor_box(m), ball{x0, y0, m.ball_w(), m.ball_h()};
  EXPECT_LE(cursor_error(f, m, cursor), kTolerance);
  EXPECT_EQ(run.x().visible_cursor_pixels(), 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      if (cursor.has(x, y) || ball.has(x, y)) continue;
      ASSERT_LE(distance(f.at(x, y), m.background(x, y)), 2) << "background " << x << ", " << y;
    }
  }

  // Under the pointer the ball lights up (which buttons pick it up is the game's own test).
  run.hover(m, x0, y0);
  EXPECT_TRUE(ball_shows_at(run, m, x0, y0, 255));

  // A left press picks it up: it follows the pointer's motion and stops at the window's edges.
  run.button("mousedown", 1);
  run.glide_by(-100, -150, 5);
  ASSERT_TRUE(ball_shows_at(run, m, x0 - 100, y0 - 150, 255));
  run.glide_to(15, 10, 5);
  ASSERT_TRUE(ball_shows_at(run, m, 0, 0, 255)) << "held inside the window";
  // Thrown: a quick move to the right and the button comes up straight after it. Each pass
  // moves the ball by speed x pass length rounded to whole pixels, so at several hundred passes
  // a second only a fast throw (over half a pixel a pass) carries it sideways: 400 pixels in
  // one move gives 800 pixels a second. Left alone, the ball would drop straight down from
  // column 400; thrown, it flies on to the right.
  const int throw_x = 400;
  run.pointer_to(15 + throw_x, 10);
  run.button("mouseup", 1);
  run.key("a");
  EXPECT_TRUE(eventually([&] {
    const Frame shown = run.capture();
    for (int y = 0; y < kH && !shown.px.empty(); ++y) {
      for (int x = throw_x + m.ball_w() + 40; x < kW; ++x) {
        if (distance(shown.at(x, y), m.background(x, y)) > 40) return true;
      }
    }
    return false;
  })) << "the ball was not thrown";
  EXPECT_TRUE(run.game().running()) << "only Escape ends the game";
  run.key("Escape");
  EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
}

TEST(DemoGameOnX, InstalledGameFindsItsPicturesAndTheCloseBoxEndsIt) {
  const Model m;
  kastrel_testing::TempDir prefix, elsewhere;
  const auto install = kastrel_testing::run(
      {KASTREL_CMAKE_COMMAND, "--install", KASTREL_BINARY_DIR, "--prefix", prefix.path()}, {},
      120s);
  ASSERT_EQ(install.exit_status, 0) << install.output << install.errors;
  DemoRun run(elsewhere.path(), prefix.file("bin/kastrel-demo"));
  ASSERT_TRUE(run.ok());
  EXPECT_TRUE(ball_shows_at(run, m, m.start_x(), m.rest_y(), 205));
  run.x().send_close_request(run.window());  // the close box
  EXPECT_EQ(run.exit_status(), 1) << run.game().errors();
}

TEST(DemoGameOnX, EndsWithItsNormalStatusWhenTheXServerOrItsConnectionGoes) {
  for (const std::string how : {"server", "windowkill"}) {
    DemoRun run;
    ASSERT_TRUE(run.ok()) << how;
    run.lose_desktop(how);
    EXPECT_EQ(run.exit_status(), 1) << how << ": " << run.game().errors();
    EXPECT_NE(run.game().errors().find("lost"), std::string::npos) << run.game().errors();
    EXPECT_EQ(run.game().errors().find("terminate"), std::string::npos) << run.game().errors();
  }
}

// A start-up that fails ends as a run whose window could not open does: status 1 and a line
// that says why, never an abort. The X server dies at a random moment of the first 200 ms, 50
// times; then no thread can start at all (a stack limit no thread stack can be mapped for).
TEST(DemoGameOnX, StartUpThatFailsEndsWithTheNormalStatus) {
  std::mt19937 rng(std::random_device{}());
  kastrel_testing::EnvChanges env = x_desktop::game_env("");
  // Whole stacks through the uninstrumented libraries, for the leak checker's suppressions.
  *env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0";
  for (int i = 0; i < 50; ++i) {
    x_desktop::Server xvfb;
    ASSERT_TRUE(xvfb.ok()) << xvfb.error();
    env["DISPLAY"] = xvfb.display();
    kastrel_testing::ChildProcess game({KASTREL_DEMO_BIN}, env, kDemoDir);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200000));
    xvfb.kill();
    ASSERT_TRUE(game.wait(60s)) << i;
    EXPECT_EQ(game.exit_status(), 1) << i << ": " << game.errors();
  }
  // A presentation thread that cannot start; the game's own thread needs none.
  std::string model;
  if (KASTREL::PLATFORM::GETENVIRONMENT("KASTREL_PASS_THREAD", &model) && model == "game") return;
  x_desktop::Server xvfb;
  env["DISPLAY"] = xvfb.display();
  const kastrel_testing::RunResult run = kastrel_testing::run(
      {"/bin/sh", "-c", "ulimit -s 4000000000 && exec \"$0\"", KASTREL_DEMO_BIN}, env, 60s,
      kDemoDir);
  EXPECT_EQ(run.exit_status, 1) << run.errors;
  EXPECT_NE(run.errors.find("thread cannot start"), std::string::npos) << run.errors;
}

}  // namespace

// kastrel-replay refuses what makes no sense, naming the option, and what is not a session file
// ends the game with status 6 and the reason.
TEST(ReplayTool, RefusesOptionsAndFilesThatMakeNoSense) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--hash", "/nonexistent"}, "--hash: \"/nonexistent\" is not a folder"},
      {{"--every", "5", "--at", "3", "s", "g"}, "--every and --at cannot be used together"},
      {{"--at", "", "s", "g"}, "--at: \"\" is not a list"},
      {{"--at", "3,,4", "s", "g"}, "--at: \"3,,4\" is not a list"},
      {{"--every", "0", "s", "g"}, "--every: \"0\" is not a pass number"},
      {{"-C", kDemoDir, "/tmp", KASTREL_DEMO_BIN}, "kastrel: /tmp: it is a folder"},
      {{"--verify", "-C", kDemoDir, "/dev/zero", KASTREL_DEMO_BIN},
       "kastrel: /dev/zero: it is a device"}};
  for (const auto& [args, says] : cases) {
    std::vector<std::string> argv{KASTREL_REPLAY_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    const kastrel_testing::RunResult r =
        kastrel_testing::run(argv, kastrel_testing::sanitizer_env(), 60s);
    EXPECT_EQ(r.exit_status, says.starts_with("kastrel:") ? 6 : 2) << says;
    EXPECT_NE(r.errors.find(says), std::string::npos) << r.errors;
    // A game that ended before its replay's summary gets no counts made up for it.
    if (args[0] == "--verify") {
      EXPECT_EQ(r.output,
                "kastrel-replay: no summary: the game ended with status 6 before its "
                "replay wrote one\n");
    }
  }
}

namespace {

uint32_t get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
  return v;
}
void put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += char(uint8_t(v >> (8 * i)));
}
// Where the session file's last block starts (blocks follow the 16-byte header: a flag byte, the
// stored and unpacked lengths, the body, a CRC-32).
size_t last_block(const std::string& file) {
  size_t last = 16;
  for (size_t at = 16; at + 9 <= file.size(); at += 9 + get32(file, at + 1) + 4) last = at;
  return last;
}
// The file with its end mark taken out: the last block's records without their last (the end
// mark, 0x06 and its count), stored as they are and no longer marked the last.
std::string without_end_mark(const std::string& file) {
  const size_t last = last_block(file), stored = get32(file, last + 1);
  std::string body(get32(file, last + 5), '\0');
  if ((file[last] & 1) == 0) {
    body = file.substr(last + 9, stored);
  } else {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + last + 9));
    z.avail_in = uInt(stored);
    z.next_out = reinterpret_cast<Bytef*>(body.data());
    z.avail_out = uInt(body.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    inflateEnd(&z);
  }
  size_t records = 0, at = 0;
  for (int shift = 0;; shift += 7) {
    const uint8_t b = uint8_t(body[at++]);
    records |= size_t(b & 0x7F) << shift;
    if ((b & 0x80) == 0) break;
  }
  size_t mark = at + records - 1;  // the count's last byte
  while (uint8_t(body[mark - 1]) & 0x80) --mark;
  EXPECT_EQ(body[--mark], 6) << "the end mark";
  // A block written at the last pass's end leaves the end mark one with clock readings alone:
  // without it, the block would hold no pass, which no recording has; the file ends before it.
  if (body.substr(at, mark - at).find_first_not_of('\x10') == std::string::npos)
    return file.substr(0, last);
  std::string kept;
  size_t n = mark - at;
  for (; n >= 0x80; n >>= 7) kept += char(uint8_t(n | 0x80));
  kept += char(uint8_t(n));
  kept += body.substr(at, mark - at) + body.substr(at + records);
  std::string block(1, '\0');
  put32(block, uint32_t(kept.size()));
  put32(block, uint32_t(kept.size()));
  block += kept;
  put32(block,
        uint32_t(crc32(0, reinterpret_cast<const Bytef*>(block.data()), uInt(block.size()))));
  return file.substr(0, last) + block;
}

}  // namespace

// The demonstration recorded for real and replayed by kastrel-replay --verify: the tool's
// standard output holds its one summary line alone (no frame written, none of the game's own
// output), and a recording cut at a block boundary or without its end mark says so, failing
// with status 8 under --whole.
TEST(ReplayTool, VerifyEndsOnOneSummaryLineThatTellsACutRecording) {
  kastrel_testing::TempDir tmp;
  const std::string session = tmp.file("demo.kst");
  {
    DemoRun run(kDemoDir, KASTREL_DEMO_BIN, {{"KASTREL_RECORD", session}});
    ASSERT_TRUE(run.ok());
    run.glide_by(-200, 100, 10);
    std::this_thread::sleep_for(2500ms);  // a block a second
    run.key("Escape");
    ASSERT_EQ(run.exit_status(), 1) << run.game().errors();
  }
  const std::string whole = kastrel_testing::read_file(session);
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(tmp.file(name), std::ios::binary) << bytes;
    return tmp.file(name);
  };
  const std::string cut = write("cut.kst", whole.substr(0, last_block(whole)));
  const std::string unended = write("unended.kst", without_end_mark(whole));
  std::filesystem::create_directories(tmp.file("tmp"));
  kastrel_testing::EnvChanges env = kastrel_testing::sanitizer_env();
  env.insert({{"DISPLAY", std::nullopt}, {"TMPDIR", tmp.file("tmp")}});
  const auto replay = [&](const std::vector<std::string>& options, const std::string& file) {
    std::vector<std::string> argv{KASTREL_REPLAY_BIN};
    argv.insert(argv.end(), options.begin(), options.end());
    // The game as a shell that prints a line first.
    argv.insert(argv.end(), {"-C", kDemoDir, file, "/bin/sh", "-c",
                             "echo the game speaks; exec \"$0\"", KASTREL_DEMO_BIN});
    return kastrel_testing::run(argv, env, 120s);
  };
  const std::regex summary(
      "kastrel-replay: ([0-9]+) frames compared, ([0-9]+) equal; the recording is "
      "(whole|cut short after pass [0-9]+)\n");
  std::smatch m;
  const auto r = replay({"--verify"}, session);
  EXPECT_EQ(r.exit_status, 1) << r.errors;
  ASSERT_TRUE(std::regex_match(r.output, m, summary)) << r.output;
  EXPECT_EQ(m[1], m[2]);
  EXPECT_GE(std::stoi(m[1]), 2);
  EXPECT_EQ(m[3], "whole");
  EXPECT_NE(r.errors.find("the game speaks"), std::string::npos) << r.errors;
  EXPECT_TRUE(std::filesystem::is_empty(tmp.file("tmp")));
  for (const std::string& file : {cut, unended}) {
    for (const bool asked : {false, true}) {
      const auto c = replay(asked ? std::vector<std::string>{"--verify", "--whole"}
                                  : std::vector<std::string>{"--verify"},
                            file);
      EXPECT_EQ(c.exit_status, asked ? 8 : 1) << file << ": " << c.errors;
      ASSERT_TRUE(std::regex_match(c.output, m, summary)) << file << ": " << c.output;
      EXPECT_EQ(m[1], m[2]);
      EXPECT_TRUE(m[3].str().starts_with("cut short after pass ")) << file << ": " << c.output;
    }
  }
}
