// tools/run-demo.sh, run for real against a stand-in for the game that records the input it
// receives: the private Xvfb, the scripted session with xdotool, the screenshots, the exit
// status, and that nothing is left running afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "tests/testing/png_read.h"
#include "tests/testing/process.h"
#include "tests/testing/xvfb.h"

namespace {

using kastrel_testing::EnvChanges;

const std::string kScript = std::string(KASTREL_SOURCE_DIR) + "/tools/run-demo.sh";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Event {
  std::string kind;  // motion, press, release, key, ...
  std::vector<std::string> args;
};

std::vector<Event> events_of(const std::string& log) {
  std::vector<Event> events;
  for (const std::string& line : lines_of(log)) {
    std::istringstream in(line);
    Event e;
    in >> e.kind;
    for (std::string word; in >> word;) e.args.push_back(word);
    events.push_back(e);
  }
  return events;
}

EnvChanges headless_env(const kastrel_testing::TempDir& dir, const std::string& mode) {
  return {{"DISPLAY", std::nullopt},
          {"WAYLAND_DISPLAY", std::nullopt},
          {"KASTREL_DEMO_HEADLESS", std::nullopt},
          {"KASTREL_DEMO_BIN", KASTREL_DEMO_STANDIN},
          {"KASTREL_SCREENSHOT_DIR", dir.file("shots")},
          {"KASTREL_STANDIN_LOG", dir.file("log")},
          {"KASTREL_STANDIN_STATUS", "7"},
          {"KASTREL_STANDIN_MODE", mode}};
}

bool process_exists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

TEST(RunDemo, PlaysTheScriptedSessionInAPrivateXServer) {
  kastrel_testing::TempDir dir;
  const auto r = kastrel_testing::run({kScript, KASTREL_BINARY_DIR}, headless_env(dir, "normal"),
                                      std::chrono::seconds(180));
  ASSERT_FALSE(r.timed_out) << r.errors;
  EXPECT_EQ(r.exit_status, 7) << "the game's own status must come out\n" << r.errors;

  const std::vector<Event> events = events_of(kastrel_testing::read_file(dir.file("log")));
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[1].kind + " " + events[1].args.at(0), "images yes")
      << "the game must run where images/ is";
  ASSERT_EQ(events[2].kind, "display");
  const std::string display = events[2].args.at(0);
  ASSERT_EQ(display.substr(0, 1), ":");

  // Where the ball rests: centred with halves to even, its collision box (the picture less 7 by
  // 9 pixels) on the bottom edge of the 640 x 480 window.
  kastrel_testing::RgbaImage ball;
  std::string error;
  ASSERT_TRUE(kastrel_testing::read_png(std::string(KASTREL_SOURCE_DIR) + "/demo/images/ball.png",
                                        &ball, &error))
      << error;
  const int box_x = static_cast<int>(std::nearbyint((640.0 - ball.width) / 2.0));
  const int box_w = static_cast<int>(ball.width) - 7;
  const int box_h = static_cast<int>(ball.height) - 9;
  const int box_y = 480 - box_h;

  // Hover, press over the ball (the hit test looks 5 pixels right of and below the pointer),
  // drag with the button held, release while moving, then Escape.
  std::size_t press = 0, release = 0, escape = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    if (e.kind == "press" && press == 0) press = i;
    if (e.kind == "release" && release == 0) release = i;
    if (e.kind == "key" && e.args.at(0) == "Escape") escape = i;
  }
  ASSERT_GT(press, 0u) << "no button press";
  ASSERT_GT(release, press) << "no release after the press";
  EXPECT_GT(escape, release) << "no Escape after the throw";
  EXPECT_EQ(events[press].args.at(0), "1");
  EXPECT_EQ(events[release].args.at(0), "1");
  const int px = std::stoi(events[press].args.at(1)) + 5;
  const int py = std::stoi(events[press].args.at(2)) + 5;
  EXPECT_TRUE(px >= box_x && px <= box_x + box_w && py >= box_y && py <= box_y + box_h)
      << "pressed at (" << px << ", " << py << "), the ball rests at (" << box_x << ", " << box_y
      << ") size " << box_w << " x " << box_h;
  int hover_moves = 0;
  for (std::size_t i = 0; i < press; ++i) hover_moves += events[i].kind == "motion";
  EXPECT_GE(hover_moves, 2);
  std::vector<std::pair<int, int>> held;
  for (std::size_t i = press + 1; i < release; ++i) {
    if (events[i].kind == "motion" && events[i].args.at(2) == "held") {
      held.emplace_back(std::stoi(events[i].args.at(0)), std::stoi(events[i].args.at(1)));
    }
  }
  ASSERT_GE(held.size(), 5u) << "no drag";
  const auto last = held.back();
  const auto before = held[held.size() - 2];
  EXPECT_NE(last, before) << "the button must come up while the pointer moves";
  EXPECT_EQ(std::to_string(last.first), events[release].args.at(1));
  EXPECT_EQ(events.back().kind + " " + events.back().args.at(0), "exit 7");

  // The screenshots: listed on standard output, the game's 640 x 480 window.
  const std::vector<std::string> shots = lines_of(r.output);
  EXPECT_GE(shots.size(), 4u) << r.output;
  for (const std::string& path : shots) {
    SCOPED_TRACE(path);
    EXPECT_EQ(path.rfind(dir.file("shots/"), 0), 0u);
    kastrel_testing::RgbaImage img;
    ASSERT_TRUE(kastrel_testing::read_png(path, &img, &error)) << error;
    ASSERT_EQ(img.width, 640u);
    ASSERT_EQ(img.height, 480u);
    // The stand-in's marker square at the top-left and its background colour.
    EXPECT_EQ(img.at(2, 2)[0], 0xF0);
    EXPECT_EQ(img.at(2, 2)[1], 0xC0);
    EXPECT_EQ(img.at(2, 2)[2], 0x20);
    EXPECT_EQ(img.at(600, 40)[0], 0x20);
    EXPECT_EQ(img.at(600, 40)[1], 0x40);
    EXPECT_EQ(img.at(600, 40)[2], 0x60);
  }

  // Nothing left behind: the game is gone and so is the private server's socket.
  EXPECT_FALSE(process_exists(std::stoi(events[0].args.at(0))));
  EXPECT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X" + display.substr(1)));
}

TEST(RunDemo, RunsStraightOnAnExistingDisplay) {
  kastrel_testing::Xvfb xvfb("800x600x24");
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  kastrel_testing::TempDir dir;
  EnvChanges env = headless_env(dir, "exit-when-mapped");
  env["DISPLAY"] = xvfb.display();
  const auto r = kastrel_testing::run({kScript, KASTREL_BINARY_DIR}, env, std::chrono::seconds(60));
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 5) << r.errors;
  const std::string log = kastrel_testing::read_file(dir.file("log"));
  EXPECT_NE(log.find("images yes\ndisplay " + xvfb.display() + "\nmapped\n"), std::string::npos)
      << log;
  EXPECT_EQ(r.output, "") << "no scripted session on a real display";
  EXPECT_FALSE(std::filesystem::exists(dir.file("shots")));
}

TEST(RunDemo, EndsWithTheGamesStatusWhenItFailsOrHangs) {
  {
    SCOPED_TRACE("the game ends before it shows a window");
    kastrel_testing::TempDir dir;
    const auto r = kastrel_testing::run({kScript, KASTREL_BINARY_DIR},
                                        headless_env(dir, "exit-early"), std::chrono::seconds(120));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 3) << r.errors;
    EXPECT_EQ(r.output, "");
  }
  {
    SCOPED_TRACE("the game ignores Escape");
    kastrel_testing::TempDir dir;
    EnvChanges env = headless_env(dir, "ignore-escape");
    env["KASTREL_DEMO_EXIT_TIMEOUT"] = "2";
    const auto r =
        kastrel_testing::run({kScript, KASTREL_BINARY_DIR}, env, std::chrono::seconds(180));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 124) << r.errors;
    EXPECT_NE(r.errors.find("did not end"), std::string::npos) << r.errors;
    const std::vector<Event> events = events_of(kastrel_testing::read_file(dir.file("log")));
    ASSERT_FALSE(events.empty());
    EXPECT_FALSE(process_exists(std::stoi(events[0].args.at(0)))) << "the game was left running";
  }
  {
    SCOPED_TRACE("no game built");
    kastrel_testing::TempDir dir;
    EnvChanges env = headless_env(dir, "normal");
    env["KASTREL_DEMO_BIN"] = dir.file("kastrel-demo");
    const auto r = kastrel_testing::run({kScript, KASTREL_BINARY_DIR}, env);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.errors.find("not built"), std::string::npos) << r.errors;
  }
  kastrel_testing::TempDir dir;
  EXPECT_EQ(kastrel_testing::run({kScript}, headless_env(dir, "normal")).exit_status, 2);
  EXPECT_EQ(
      kastrel_testing::run({kScript, dir.file("nowhere")}, headless_env(dir, "normal")).exit_status,
      2);
}

}  // namespace
