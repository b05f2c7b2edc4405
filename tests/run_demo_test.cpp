// tools/run-demo.sh run for real: with the game itself in a private Xvfb, and with stand-ins
// (small scripts) that fail or hang, to see that their status comes out and nothing is left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/testing/png_read.h"
#include "kastrel/base/testing/process.h"

namespace {

using kastrel_testing::EnvChanges;
using kastrel_testing::RunResult;

const std::string kScript = std::string(KASTREL_SOURCE_DIR) + "/tools/run-demo.sh";

RunResult run_demo(EnvChanges env, const std::string& shots) {
  env.merge(EnvChanges{{"DISPLAY", std::nullopt},
                       {"WAYLAND_DISPLAY", std::nullopt},
                       {"KASTREL_DEMO_HEADLESS", std::nullopt},
                       {"KASTREL_SCREENSHOT_DIR", shots}});
  return kastrel_testing::run({kScript, KASTREL_BINARY_DIR}, env, std::chrono::seconds(240));
}

// The script with the real game: it ends normally, says so, and its screenshots show the game
// where the script's coordinates expect it.
TEST(RunDemo, PlaysTheGameInAPrivateXServerAndSavesScreenshots) {
  kastrel_testing::TempDir dir;
  EnvChanges env = kastrel_testing::sanitizer_env();
  env.insert({{"VOXGFX", std::nullopt}, {"KASTREL_DEMO_BIN", KASTREL_DEMO_BIN}});
  const RunResult r = run_demo(env, dir.file("shots"));
  ASSERT_FALSE(r.timed_out) << r.errors;
  EXPECT_EQ(r.exit_status, 1) << r.errors;
  EXPECT_NE(r.errors.find("the game ended normally (exit status 1)"), std::string::npos);
  // The private server is gone with its socket.
  const std::size_t at = r.errors.find("private X server (:");
  ASSERT_NE(at, std::string::npos) << r.errors;
  const std::string number = r.errors.substr(at + 19, r.errors.find(')', at) - at - 19);
  EXPECT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X" + number));

  std::string error;
  kastrel_testing::RgbaImage background;
  ASSERT_TRUE(kastrel_testing::read_png(KASTREL_SOURCE_DIR "/demo/images/background.png",
                                        &background, &error));
  std::vector<kastrel_testing::RgbaImage> shots;
  std::istringstream paths(r.output);
  for (std::string path; std::getline(paths, path);) {
    SCOPED_TRACE(path);
    EXPECT_EQ(path.rfind(dir.file("shots/"), 0), 0u);
    ASSERT_TRUE(kastrel_testing::read_png(path, &shots.emplace_back(), &error)) << error;
    ASSERT_EQ(shots.back().width, 640u);
    ASSERT_EQ(shots.back().height, 480u);
    // The background's top-left corner, where neither the ball nor the cursor goes.
    for (std::uint32_t y = 0; y < 60; ++y) {
      for (std::uint32_t x = 0; x < 60; ++x) {
        for (int c = 0; c < 3; ++c)
          ASSERT_NEAR(shots.back().at(x, y)[c], background.at(x, y)[c], 2);
      }
    }
  }
  ASSERT_EQ(shots.size(), 6u) << r.output;
  // The ball's middle: red where it rests in the second shot; in the fourth it has been dragged
  // off, up and to the left, and the background shows there again.
  const auto red = [](const std::uint8_t* p) { return p[0] > p[1] + 60 && p[0] > p[2] + 60; };
  EXPECT_TRUE(red(shots[1].at(320, 451)));
  EXPECT_NEAR(shots[3].at(320, 451)[1], background.at(320, 451)[1], 2);
  EXPECT_TRUE(red(shots[3].at(288 - 140 + 32, 423 - 260 + 28)));
}

// A stand-in for the game: a script named like it that notes where and how it ran, then runs
// `body`.
std::string stand_in(const kastrel_testing::TempDir& dir, const std::string& body) {
  const std::string path = dir.file("kastrel-demo");
  std::ofstream(path) << "#!/bin/sh\necho \"$$ $PWD $DISPLAY\" >" << dir.file("log") << "\n"
                      << body << "\n";
  chmod(path.c_str(), 0755);
  return path;
}

TEST(RunDemo, PassesOnTheGamesStatusAndNeverWaitsForeverOrLeavesItRunning) {
  for (const bool desktop : {true, false}) {
    SCOPED_TRACE(desktop ? "on a desktop" : "in a private X server");
    kastrel_testing::TempDir dir;
    EnvChanges env{{"KASTREL_DEMO_BIN", stand_in(dir, "exit 5")}};
    if (desktop) env["DISPLAY"] = ":4242";
    const RunResult r = run_demo(env, dir.file("shots"));
    EXPECT_EQ(r.exit_status, 5) << r.errors;
    EXPECT_NE(r.errors.find("the game failed: exit status 5"), std::string::npos) << r.errors;
    EXPECT_EQ(r.output, "") << "no screenshots of a game that never showed";
    std::istringstream log(kastrel_testing::read_file(dir.file("log")));
    std::string pid, cwd, display;
    log >> pid >> cwd >> display;
    EXPECT_EQ(cwd, std::string(KASTREL_SOURCE_DIR) + "/demo") << "the game runs where images/ is";
    EXPECT_EQ(display == ":4242", desktop) << display;
  }
  // A game that shows its window but ignores Escape, and SIGTERM too, is killed after the bound.
  kastrel_testing::TempDir dir;
  const std::string deaf = stand_in(dir, "trap '' TERM; exec xclock -title kastrel-demo");
  const RunResult r =
      run_demo({{"KASTREL_DEMO_BIN", deaf}, {"KASTREL_DEMO_EXIT_TIMEOUT", "2"}}, dir.file("shots"));
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 124) << r.errors;
  EXPECT_NE(r.errors.find("did not end"), std::string::npos) << r.errors;
  EXPECT_NE(r.output, "") << "it had a window to take pictures of";
  const pid_t pid = std::stoi(kastrel_testing::read_file(dir.file("log")));
  EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << "the game was left running";
  // No game built: the script's own failure, never the game's normal status 1.
  EXPECT_EQ(run_demo({{"KASTREL_DEMO_BIN", dir.file("nothing")}}, dir.file("shots")).exit_status,
            2);
}

}  // namespace
