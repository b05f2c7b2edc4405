// The Breakout example end to end: the real program in a private Xvfb, driven with xdotool, its
// window read back over X, its sound written by SDL's disk audio driver and searched for the
// brick sound with a matched filter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "kastrel/graphics/font.h"
#include "kastrel/base/testing/process.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using namespace std::chrono_literals;
using Pixels = std::vector<uint32_t>;  // 0x00RRGGBB, rows top first

constexpr uint32_t kBack = 0x101828, kTitle = 0xFFD040, kBrick = 0xE04848, kPaddle = 0xE0E0F0;
constexpr int kPaddleRow = 445;
const std::string kDir = KASTREL_SOURCE_DIR "/examples/breakout";

using x_desktop::eventually;

long file_frames(const std::string& path) {  // 16-bit stereo frames written so far
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? long(st.st_size / 4) : 0;
}

struct Game {
  x_desktop::Server xvfb{"1024x768x24"};
  kastrel_testing::TempDir tmp;
  std::optional<kastrel_testing::ChildProcess> game;
  std::optional<x_desktop::Connection> x;
  std::string window;

  Game() {
    kastrel_testing::EnvChanges env = x_desktop::game_env(xvfb.display());
    env.insert({{"SDL_AUDIODRIVER", "disk"},
                {"SDL_DISKAUDIOFILE", tmp.file("out.raw")},
                {"KASTREL_RECORD", tmp.file("session.kst")},
                {"KASTREL_FRAMES", tmp.file("recorded")},
                {"KASTREL_FRAMES_EVERY", "200"}});
    game.emplace(std::vector<std::string>{KASTREL_BREAKOUT_BIN}, env, kDir);
    window = xdo({"search", "--sync", "--onlyvisible", "--name", "^breakout$"});
    while (!window.empty() && window.back() == '\n') window.pop_back();
    x.emplace(xvfb.display());
  }
  ~Game() { game.reset(); }
  std::string xdo(std::vector<std::string> args) {
    return x_desktop::xdotool(std::move(args), xvfb.display()).output;
  }
  void pointer(int px) { xdo({"mousemove", "--window", window, std::to_string(px), "300"}); }
  Pixels grab(int x0, int y0, int w, int h) { return x->grab(std::stoul(window), x0, y0, w, h); }
  int paddle_left() {  // the paddle's first column on its middle row, or -1
    const Pixels row = grab(0, kPaddleRow, 640, 1);
    for (size_t i = 0; i < row.size(); ++i)
      if (row[i] == kPaddle) return int(i);
    return -1;
  }
};

bool near(uint32_t p, uint32_t q) {  // within the rounding of a blend
  for (int s = 0; s < 24; s += 8)
    if (std::abs(int(p >> s & 255) - int(q >> s & 255)) > 3) return false;
  return true;
}

// The heading's pixels lie in the box the font measures, placed as the game places it, and
// plenty of them have the heading's colour; beside the box, on the same rows, only background.
bool heading_shows(Game& g, const char* text) {
  KASTREL::GRAPHICS::FONT font;
  if (font.OPENDEFAULT(56) == KASTREL::FALSE) return false;
  const KASTREL::MATH::RECT box = font.MEASURE(text, KASTREL::GRAPHICS::TEXTCENTRE).INK;
  const int left = 320 + box.X, top = 150 + box.Y, w = box.W + 1, h = box.H + 1;
  const Pixels band = g.grab(0, top, 640, h);
  int inside = 0;
  for (int y = 0; y < h && !band.empty(); ++y)
    for (int x = 0; x < 640; ++x) {
      const uint32_t p = band[size_t(y * 640 + x)];
      if (x >= left && x < left + w) {
        inside += near(p, kTitle);
      } else if (p != kBack) {
        return false;
      }
    }
  return inside > w * h / 10;
}

// Each channel of p strictly between those of a and b.
bool between(uint32_t p, uint32_t a, uint32_t b) {
  for (int s = 0; s < 24; s += 8) {
    const uint32_t c = p >> s & 255, lo = std::min(a >> s & 255, b >> s & 255);
    if (c <= lo || c >= std::max(a >> s & 255, b >> s & 255)) return false;
  }
  return true;
}

// brick.wav (22050 Hz mono) at the output's 44.1 kHz, by linear interpolation.
std::vector<double> brick_sound() {
  std::ifstream in(kDir + "/sounds/brick.wav", std::ios::binary);
  const std::vector<char> b(std::istreambuf_iterator<char>(in), {});
  std::vector<double> s;
  for (size_t i = 44; i + 1 < b.size(); i += 2)
    s.push_back(double(int16_t(uint8_t(b[i]) | uint8_t(b[i + 1]) << 8)));
  std::vector<double> out;
  for (size_t i = 0; i + 1 < s.size(); ++i) out.insert(out.end(), {s[i], (s[i] + s[i + 1]) / 2});
  return out;
}

// The normalised correlation of the output (left and right summed) with `t` at each frame in
// [from, to): 1 where the output is `t` scaled; music beside it lowers the peak a little only.
std::vector<double> matched(const std::vector<int16_t>& out, const std::vector<double>& t,
                            long from, long to) {
  double tt = 0;
  for (double v : t) tt += v * v;
  std::vector<double> r;
  for (long k = std::max(from, 0L); k < to && size_t(k) + t.size() <= out.size() / 2; ++k) {
    double xt = 0, xx = 0;
    for (size_t i = 0; i < t.size(); ++i) {
      const double v = double(out[2 * (size_t(k) + i)]) + out[2 * (size_t(k) + i) + 1];
      xt += v * t[i];
      xx += v * v;
    }
    r.push_back(xx > 0 ? xt / std::sqrt(xx * tt) : 0);
  }
  return r;
}

TEST(BreakoutOnX, TitleFadeIntoPlayPaddleScoreSoundGameOverAndEscape) {
  Game g;
  ASSERT_TRUE(g.xvfb.ok()) << g.xvfb.error();
  ASSERT_FALSE(g.window.empty()) << g.game->errors();
  ASSERT_TRUE(g.x->ok());
  g.xdo({"windowfocus", "--sync", g.window});
  EXPECT_TRUE(eventually([&] { return heading_shows(g, "BREAKOUT"); })) << "no title";

  // Space fades into play: some frame shows the first brick between background and brick.
  g.xdo({"key", "space"});
  bool fading = false;
  ASSERT_TRUE(eventually([&] {
    const Pixels p = g.grab(50, 79, 1, 1);
    fading = fading || (!p.empty() && between(p[0], kBack, kBrick));
    return !p.empty() && p[0] == kBrick;
  })) << "no bricks";
  EXPECT_TRUE(fading) << "no frame of the fade was seen";

  // The first brick hit (the serve goes up into the wall) changes the score; the sound file's
  // length then says where in the output the hit was seen.
  const Pixels score = g.grab(0, 0, 320, 32);
  long seen_at = 0;
  ASSERT_TRUE(eventually([&] {
    seen_at = file_frames(g.tmp.file("out.raw"));
    const Pixels now = g.grab(0, 0, 320, 32);
    return !now.empty() && now != score;
  })) << "the score never changed";

  // The pointer and the keys move the paddle (the first move only enters the window).
  for (const int px : {200, 100, 500}) g.pointer(px);
  EXPECT_TRUE(eventually([&] { return g.paddle_left() == 460; }, 20));
  g.pointer(100);
  EXPECT_TRUE(eventually([&] { return g.paddle_left() == 60; }, 20));
  g.xdo({"keydown", "Right"});
  EXPECT_TRUE(eventually([&] { return g.paddle_left() > 200; }, 20)) << "Right";
  g.xdo({"keyup", "Right", "keydown", "Left"});
  EXPECT_TRUE(eventually([&] { return g.paddle_left() == 0; }, 20)) << "Left";
  g.xdo({"keyup", "Left"});

  // With the paddle left in the corner the balls are lost, and the game is over.
  EXPECT_TRUE(eventually([&] { return heading_shows(g, "GAME OVER"); }, 180)) << "no game over";
  g.xdo({"key", "Escape"});
  ASSERT_TRUE(g.game->wait(60s));
  EXPECT_EQ(g.game->exit_status(), 0) << g.game->errors();

  // The recording replays headless to the same frames, bit for bit.
  const auto replay = [&](std::vector<std::string> args) {
    args.insert(args.begin(), KASTREL_REPLAY_BIN);
    return kastrel_testing::run(args, {{"DISPLAY", std::nullopt}, {"SDL_AUDIODRIVER", "dummy"}},
                                300s);
  };
  const auto recorded = replay({"--hash", g.tmp.file("recorded")});
  const auto replayed =
      replay({"--every", "200", "-C", kDir, g.tmp.file("session.kst"), KASTREL_BREAKOUT_BIN});
  EXPECT_EQ(replayed.exit_status, 0) << replayed.errors;
  EXPECT_NE(recorded.output.find("pass 200 "), std::string::npos) << recorded.output;
  EXPECT_EQ(replayed.output, recorded.output);

  // The brick sound starts within two mixing buffers (1024 frames) of the hit being seen, and
  // fits there far better than the title's music does anywhere in the output's first second.
  std::ifstream raw(g.tmp.file("out.raw"), std::ios::binary);
  const std::vector<char> bytes(std::istreambuf_iterator<char>(raw), {});
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  const std::vector<double> t = brick_sound();
  const long from = std::max(seen_at - 22050, 0L);  // half a second each side
  const std::vector<double> fit = matched(out, t, from, seen_at + 22050);
  ASSERT_FALSE(fit.empty()) << out.size() << " samples";
  const auto best = std::max_element(fit.begin(), fit.end());
  const long onset = from + long(best - fit.begin());
  const std::vector<double> music = matched(out, t, 0, 44100);
  ASSERT_FALSE(music.empty());
  EXPECT_GT(*best, 0.8) << "no brick sound";
  EXPECT_LT(*std::max_element(music.begin(), music.end()), 0.5) << "the music fits as well";
  EXPECT_LE(std::abs(onset - seen_at), 2048) << "onset " << onset << ", hit seen " << seen_at;
}

}  // namespace
