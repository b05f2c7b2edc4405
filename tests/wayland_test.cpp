// The window driver and the demonstration under a real Wayland compositor: Weston's headless
// backend, started by each test with a runtime directory of its own. That backend has no input
// and so offers no seat; with our test module (testing/weston_seat.c) it offers one, whose
// keyboard the test presses through the module and whose repaints the module counts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/kastrel.h"
#include "kastrel/base/testing/process.h"
#include "kastrel/device/desktop/sdl_driver.h"

// This process opens Wayland windows itself too: see client_env for the leak check.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

using namespace std::chrono_literals;
using kastrel_testing::EnvChanges;
const std::string kSocket = "kastrel-test";

class Weston {
 public:
  explicit Weston(std::vector<std::string> backend) {
    std::vector<std::string> argv{"weston", "--socket=" + kSocket, "--idle-time=0", "--no-config"};
    argv.insert(argv.end(), backend.begin(), backend.end());
    server_.emplace(argv, EnvChanges{{"XDG_RUNTIME_DIR", runtime_.path()}});
    struct stat st;
    for (int i = 0; i < 300 && server_->running(); ++i) {
      if (stat(runtime_.file(kSocket).c_str(), &st) == 0) {
        up_ = true;
        break;
      }
      std::this_thread::sleep_for(100ms);
    }
  }
  bool up() const { return up_; }
  std::string file(const std::string& name) const { return runtime_.file(name); }
  // What a Wayland client of this compositor needs; sanitizer reports fail the run. The leak
  // check is off: SDL's Wayland driver, its decoration library and the GL libraries it
  // renders through (unloaded before the check, so no suppression can name them) keep
  // memory at exit.
  EnvChanges client_env() const {
    const std::string end = ":exitcode=86";
    return {{"XDG_RUNTIME_DIR", runtime_.path()},
            {"WAYLAND_DISPLAY", kSocket},
            {"DISPLAY", std::nullopt},
            {"SDL_VIDEODRIVER", "wayland"},
            {"VOXGFX", std::nullopt},
            {"ASAN_OPTIONS", "detect_leaks=0" + end},
            {"UBSAN_OPTIONS", "print_stacktrace=1" + end}};
  }
  void use() const {  // makes this process a client
    for (const auto& [name, value] : client_env())
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

 private:
  kastrel_testing::TempDir runtime_;
  std::optional<kastrel_testing::ChildProcess> server_;
  bool up_ = false;
};

bool have_weston() { return std::system("command -v weston >/dev/null 2>&1") == 0; }

// The compositor's repaints so far, as the seat module counts them; -1 before its first count.
long repaints(const Weston& weston) {
  long n = -1;
  std::sscanf(kastrel_testing::read_file(weston.file("kastrel-frames")).c_str(), "%ld", &n);
  return n;
}

TEST(DemoOnWayland, WithoutASeatEndsAtOnceWithTheReasonNotACrash) {
  if (!have_weston()) GTEST_SKIP() << "weston is not installed (make test installs it)";
  Weston weston({"--backend=headless-backend.so"});
  ASSERT_TRUE(weston.up());
  auto r = kastrel_testing::run({KASTREL_DEMO_BIN}, weston.client_env(), 60s,
                                KASTREL_SOURCE_DIR "/demo");
  EXPECT_EQ(r.exit_status, 1) << r.errors;
  EXPECT_NE(r.errors.find("kastrel-demo: "), std::string::npos) << r.errors;
}

TEST(DemoOnWayland, RunsPresentsEndsOnEscapeAndEveryModeFlagOpens) {
  if (!have_weston()) GTEST_SKIP() << "weston is not installed (make test installs it)";
  if (*KASTREL_WESTON_SEAT == 0)
    GTEST_SKIP() << "built without libweston-10-dev (make test installs it): no seat module";
  Weston weston({"--backend=headless-backend.so", "--use-pixman", "--width=1024",
                 "--height=768", "--modules=" KASTREL_WESTON_SEAT});
  ASSERT_TRUE(weston.up());
  long before = -1;
  for (int i = 0; i < 300 && before < 0; ++i) {
    std::this_thread::sleep_for(100ms);
    before = repaints(weston);
  }
  ASSERT_GE(before, 0) << "the seat module never counted";

  kastrel_testing::ChildProcess game({KASTREL_DEMO_BIN}, weston.client_env(),
                                     KASTREL_SOURCE_DIR "/demo");
  std::this_thread::sleep_for(5s);
  EXPECT_TRUE(game.running()) << game.errors();
  // The falling ball is presented every pass; under load its first frames can come late.
  for (int i = 0; i < 300 && repaints(weston) - before < 20 && game.running(); ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_GE(repaints(weston) - before, 20) << "the game's frames never reached the compositor";
  // Escape on the seat's keyboard, whose focus the shell gives the game's window when it opens.
  for (int attempt = 0; attempt < 6 && !game.wait(0s); ++attempt) {
    std::FILE* escape = std::fopen(weston.file("kastrel-escape").c_str(), "w");
    if (escape != nullptr) std::fclose(escape);
    game.wait(10s);
  }
  ASSERT_TRUE(game.wait(0s)) << "the game did not end on Escape";
  EXPECT_EQ(game.exit_status(), 1) << game.errors();

  // In this process: every mode flag opens a window under Wayland (no mode changes and no
  // shapes there: full screen takes the desktop's size, a shaped window is plain frameless).
  weston.use();
  for (int32_t flags : std::vector<int32_t>{0, MODE_FULLSCREEN, MODE_NOSWITCH, MODE_NOFRAME,
                                            MODE_SHAPED, MODE_ONTOP, MODE_ALPHAPRIMITIVES,
                                            MODE_SCALED, MODE_FULLSCREEN | MODE_SCALED}) {
    vox_GfxScreenRes(320, 240, 32, 1, flags, 0);
    EXPECT_EQ(vox_GetError(), 0) << flags << ": " << KASTREL::LASTERROR();
    ASSERT_NE(__vox_gfx, nullptr) << flags;
    EXPECT_EQ(__vox_gfx->driver, &vox_gfxDriverSDL) << flags;
  }
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
}

// Paced, this process's pictures follow the compositor's frame callbacks: every present is one
// repaint of the output, over 5 s of a new picture each pass.
TEST(PacedOnWayland, PresentsMatchTheCompositorsRepaints) {
  if (!have_weston()) GTEST_SKIP() << "weston is not installed (make test installs it)";
  if (*KASTREL_WESTON_SEAT == 0) GTEST_SKIP() << "built without libweston-10-dev: no seat module";
  Weston weston({"--backend=headless-backend.so", "--use-pixman", "--width=1024", "--height=768",
                 "--modules=" KASTREL_WESTON_SEAT});
  ASSERT_TRUE(weston.up());
  for (int i = 0; i < 300 && repaints(weston) < 0; ++i) std::this_thread::sleep_for(100ms);
  weston.use();
  vox_GfxSetPresentation(PRESENT_VSYNC);
  vox_GfxScreenRes(320, 240, 32, 1, 0, 0);
  ASSERT_EQ(vox_GetError(), 0) << KASTREL::LASTERROR();
  ASSERT_GE(vox_GfxPresentPass(), 0);
  // Passes of a frame loop, a new picture each, from one rewrite of the module's count (every
  // 100 ms) to the first after `seconds`: the repaints and presents in between.
  uint32_t color = 0xFF000000u;
  auto pass = [&] {
    vox_GfxLock();
    std::fill_n(reinterpret_cast<uint32_t*>(__vox_gfx->framebuffer), 320 * 240, ++color);
    const int32_t seen = vox_GfxPresentPass();
    vox_GfxUnlock(-1, -1);
    vox_GfxWaitPresent(seen);
  };
  auto rewrite = [&] {
    for (const long now = repaints(weston); repaints(weston) == now;) pass();
    return std::make_pair(repaints(weston), long(vox_GfxPresentCount()));
  };
  auto run = [&](double seconds) {
    const auto [repaints0, presents0] = rewrite();
    for (const double end = vox_Timer() + seconds; vox_Timer() < end;) pass();
    const auto [repaints1, presents1] = rewrite();
    return std::make_pair(repaints1 - repaints0, presents1 - presents0);
  };
  run(1.0);
  const auto [shown, presented] = run(5.0);
  std::printf("%ld presents, %ld repaints in about 5 s\n", presented, shown);
  EXPECT_GT(presented, 50);
  EXPECT_LE(std::abs(presented - shown), 1 + shown / 50);
  vox_GfxScreenRes(1, 1, 32, 1, MODE_NULL, 0);
}

}  // namespace
