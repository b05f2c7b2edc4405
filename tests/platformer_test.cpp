// The platformer example end to end: the real program in a private Xvfb, the keys held with
// xdotool until the runner reaches the flag, the best time found in the player's settings, and
// the recorded session replayed headless with every frame checked against its recorded hash.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "kastrel/base/testing/process.h"
#include "kastrel/device/testing/x_desktop.h"

namespace {

using namespace std::chrono_literals;
using x_desktop::eventually;

constexpr uint32_t kBack = 0x203048, kSky = 0x6CB4F0;  // the title's background, the map's
const std::string kDir = KASTREL_SOURCE_DIR "/examples/platformer";

bool near(uint32_t p, uint32_t q) {  // within the rounding of a blend
  for (int s = 0; s < 24; s += 8)
    if (std::abs(int(p >> s & 255) - int(q >> s & 255)) > 2) return false;
  return true;
}

TEST(PlatformerOnX, HeldKeysReachTheFlagTheBestTimeIsSavedAndTheSessionReplays) {
  x_desktop::Server xvfb{"1024x768x24"};
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  kastrel_testing::TempDir tmp;
  kastrel_testing::EnvChanges env = x_desktop::game_env(xvfb.display());
  env.insert({{"SDL_AUDIODRIVER", "disk"},
              {"SDL_DISKAUDIOFILE", tmp.file("out.raw")},
              {"XDG_DATA_HOME", tmp.file("saves")},
              {"KASTREL_RECORD", tmp.file("session.kst")}});
  std::optional<kastrel_testing::ChildProcess> game;
  game.emplace(std::vector<std::string>{KASTREL_PLATFORMER_BIN}, env, kDir);
  const auto xdo = [&](std::vector<std::string> args) {
    return x_desktop::xdotool(std::move(args), xvfb.display()).output;
  };
  std::string window = xdo({"search", "--sync", "--onlyvisible", "--name", "^platformer$"});
  window = window.substr(0, window.find('\n'));
  ASSERT_FALSE(window.empty()) << game->errors();
  x_desktop::Connection x(xvfb.display());
  ASSERT_TRUE(x.ok());
  const auto pixel = [&](int px, int py) { return x.pixel(std::stoul(window), px, py); };
  const auto sky_across = [&](int row) {  // pixels of row `row` showing the map's sky
    int n = 0;
    for (uint32_t p : x.grab(std::stoul(window), 0, row, 640, 1)) n += near(p, kSky);
    return n;
  };
  xdo({"windowfocus", "--sync", window});
  ASSERT_TRUE(eventually([&] { return pixel(5, 470) == kBack; })) << "no title";

  // Enter fades into the level: sky over most of a row near the top.
  xdo({"key", "Return"});
  ASSERT_TRUE(eventually([&] { return sky_across(100) > 400; })) << "no level";

  // Right and Up held: the runner hops up the plank, over the tower, across the pits and to
  // the flag, two and a half screens on; the goal screen follows and the time is saved.
  const std::string saved = tmp.file("saves/kastrel/platformer/settings.txt");
  xdo({"keydown", "Right", "keydown", "Up"});
  EXPECT_TRUE(eventually(
      [&] { return kastrel_testing::read_file(saved).find("best_ms=") != std::string::npos; }, 120))
      << "the flag was not reached";
  xdo({"keyup", "Up", "keyup", "Right"});
  EXPECT_TRUE(eventually([&] { return pixel(5, 470) == kBack; })) << "no goal screen";
  const std::string text = kastrel_testing::read_file(saved);
  const size_t at = text.find("best_ms=");
  const int best = at == std::string::npos ? 0 : std::stoi(text.substr(at + 8));
  EXPECT_GT(best, 4000) << text;  // some 850 pixels at 120 a second, and the climbs
  EXPECT_LT(best, 60000) << text;

  xdo({"key", "Escape"});
  ASSERT_TRUE(game->wait(60s));
  EXPECT_EQ(game->exit_status(), 0) << game->errors();
  // Every file of the game was found (it names each it misses), and its sound was mixed.
  EXPECT_EQ(game->errors().find("platformer:"), std::string::npos) << game->errors();
  const std::string sound = kastrel_testing::read_file(tmp.file("out.raw"));
  EXPECT_NE(sound.find_first_not_of('\0'), std::string::npos)
      << sound.size() << " bytes, all silent";

  // Replayed with no display from an empty saves folder, as the recording began, every frame
  // matches its recorded hash.
  const auto replayed = kastrel_testing::run(
      {KASTREL_REPLAY_BIN, "--verify", "-C", kDir, tmp.file("session.kst"), KASTREL_PLATFORMER_BIN},
      {{"DISPLAY", std::nullopt},
       {"SDL_AUDIODRIVER", "dummy"},
       {"XDG_DATA_HOME", tmp.file("replay")}},
      300s);
  EXPECT_EQ(replayed.exit_status, 0) << replayed.output << replayed.errors;
}

}  // namespace
