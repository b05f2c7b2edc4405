#pragma once
// The test desktop: the shared virtual X server started by the CTest fixture, seen
// through a connection of the test's own, and driven with xdotool.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace x_desktop {

// Points DISPLAY at the fixture's server and SDL at X11. False, with the reason,
// when the server is not there (the test then skips).
bool use_test_server(std::string* why);

// Polls `done` every few milliseconds until it holds or `seconds` have passed.
bool wait_for(const std::function<bool()>& done, double seconds = 10.0);

// Runs xdotool with the given arguments; true when it succeeded.
bool xdotool(const std::string& args);

struct Geometry {
  int x, y, width, height;  // client area in root coordinates
};

// A connection to the server, opened on the calling thread.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool ok() const { return display_ != nullptr; }
  // The mapped top-level window with this title, or 0.
  unsigned long find_window(const std::string& title);
  unsigned long wait_for_window(const std::string& title, double seconds = 10.0);
  bool exists(unsigned long window);
  Geometry geometry(unsigned long window);
  // 0x00RRGGBB of a client pixel, or 0xFFFFFFFF when it cannot be read.
  uint32_t pixel(unsigned long window, int x, int y);
  std::string title(unsigned long window);
  // Atom names of _NET_WM_STATE.
  std::vector<std::string> net_wm_state(unsigned long window);
  // WM_NORMAL_HINTS minimum and maximum size (0 when absent).
  void size_hints(unsigned long window, int* min_w, int* min_h, int* max_w, int* max_h);
  // The decorations field of _MOTIF_WM_HINTS, or -1 when absent.
  long motif_decorations(unsigned long window);
  // The pointer in root coordinates.
  void pointer(int* x, int* y);
  // Pixels of the cursor on show that are not fully transparent.
  int visible_cursor_pixels();
  // The bounding shape of the window as rectangles in window coordinates.
  std::vector<Geometry> shape(unsigned long window);
  // A plain white window over the given root rectangle; destroyed with destroy().
  unsigned long cover(int x, int y, int width, int height);
  void destroy(unsigned long window);
  // What a window manager does to a window it minimises.
  void mark_minimised(unsigned long window);
  // What the window manager sends when the close box is pressed.
  void send_close_request(unsigned long window);
  void sync();

 private:
  void* display_;
};

}  // namespace x_desktop
