#pragma once
// The tests' X desktop: the shared virtual X server started by the CTest fixture, or a
// private one a test starts for itself, seen through a connection of the test's own and
// driven with xdotool.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kastrel/base/testing/process.h"

namespace x_desktop {

// A private X server: Xvfb on a display number it picks itself.
class Server {
 public:
  // Starts Xvfb with one screen of `geometry` (WIDTHxHEIGHTxDEPTH) and waits until it accepts
  // connections. ok() says whether that worked; error() says why not.
  explicit Server(const std::string& geometry = "800x600x24");
  // Stops the server gently, so it removes its socket and lock file.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Kills the server at once, as a crash would.
  void kill();

  bool ok() const { return !display_.empty(); }
  // ":N", for $DISPLAY.
  const std::string& display() const { return display_; }
  const std::string& error() const { return error_; }

 private:
  kastrel_testing::ChildProcess server_;
  std::string display_;
  std::string error_;
};

// Points DISPLAY at the fixture's server and SDL at X11, with no driver named. False, with the
// reason, when the server is not there (the test then skips).
bool use_test_server(std::string* why);
#define X_DESKTOP_OR_SKIP() \
  if (std::string why_; !x_desktop::use_test_server(&why_)) GTEST_SKIP() << why_

// Polls `done` every few milliseconds until it holds or `seconds` have passed.
bool wait_for(const std::function<bool()>& done, double seconds = 10.0);
// With the bound a whole game needs, run under the sanitizers on a shared machine.
inline bool eventually(const std::function<bool()>& done, double seconds = 60) {
  return wait_for(done, seconds);
}

// The environment of a game run as a child on the X server at `display`: sanitizer reports
// fail it, and SDL opens its window on X whatever desktop the tests run in.
kastrel_testing::EnvChanges game_env(const std::string& display);

// Runs xdotool with the given space-separated arguments against $DISPLAY; true when it
// succeeded.
bool xdotool(const std::string& args);
// The same against the server at `display` (":N"), bounded; what it printed and its status.
kastrel_testing::RunResult xdotool(std::vector<std::string> args, const std::string& display);

struct Geometry {
  int x, y, width, height;  // client area in root coordinates
  bool operator==(const Geometry&) const = default;
};

// A connection to the server, opened on the calling thread. Windows are X ids.
class Connection {
 public:
  // To $DISPLAY, or to the server at `display`.
  explicit Connection(const std::string& display = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool ok() const { return display_ != nullptr; }
  // The mapped top-level window with this title, or 0.
  unsigned long find_window(const std::string& title);
  unsigned long wait_for_window(const std::string& title);
  Geometry geometry(unsigned long window);
  // 0x00RRGGBB of a client pixel, or 0xFFFFFFFF when it cannot be read.
  uint32_t pixel(unsigned long window, int x, int y);
  // A client rectangle as 0x00RRGGBB, rows top first; empty when it cannot be read.
  std::vector<uint32_t> grab(unsigned long window, int x, int y, int width, int height);
  std::string title(unsigned long window);
  // Whether _NET_WM_STATE holds the named state.
  bool has_state(unsigned long window, const char* state);
  // WM_NORMAL_HINTS minimum and maximum width and height (0 when absent).
  std::vector<int> size_hints(unsigned long window);
  // The decorations field of _MOTIF_WM_HINTS, or -1 when absent.
  long motif_decorations(unsigned long window);
  // The pointer in root coordinates.
  std::pair<int, int> pointer();
  // Pixels of the cursor on show that are not fully transparent.
  int visible_cursor_pixels();
  // The bounding shape of the window as rectangles in window coordinates.
  std::vector<Geometry> shape(unsigned long window);
  // Covers the root rectangle with a plain white window until it shows, then
  // destroys it; false when it never showed.
  bool cover_briefly(int x, int y, int width, int height);
  // Maps a small window at the desktop's corner and gives it the keyboard focus, as
  // activating another program does; it lives as long as the connection.
  void focus_other_window();
  // What a window manager does to a window it minimises.
  void mark_minimised(unsigned long window);
  // What the window manager sends when the close box is pressed.
  void send_close_request(unsigned long window);
  void sync();

 private:
  std::vector<long> property(unsigned long window, const char* name);
  void* display_;
};

}  // namespace x_desktop
