#pragma once
// The SDL core's state: what the window, the pass and input share with the driver on top of them
// (the desktop driver's presentation thread, or the browser driver on the page's own thread).

#include <SDL2/SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/sdl/sdl_input.h"

namespace KASTREL::SDL_DETAIL {

enum class RequestKind { SET_MOUSE, SET_TITLE, SET_POS, FETCH_MODES };

// Something the program thread asks of the window; carried out on the
// presentation thread while the asking thread waits.
struct Request {
  explicit Request(RequestKind k) : kind(k) {}
  RequestKind kind;
  std::thread::id requester;
  int32_t a = 0, b = 0, c = 0, d = 0;
  std::string text;
  int32_t result = 0;
  std::vector<int32_t> modes;
  bool done = false;
};

enum class StartState { PENDING, UP, FAILED };

struct Driver {
  // `m` guards the update lock (owner, count), the request queue and the thread's life.
  std::mutex m;
  std::condition_variable cv;
  std::thread::id owner;
  int count = 0;
  std::deque<Request*> requests;
  bool running = false;
  bool thread_alive = false;
  StartState start = StartState::PENDING;
  std::string failure;      // why the thread could not open the window, for the program thread
  std::string start_error;  // why the thread could not open the window

  // Serialises initialise, shut down and the mode list on the program side.
  std::mutex lifecycle;
  std::thread thread;

  // Set before the thread starts.
  std::string title;
  int32_t width = 0, height = 0, depth = 8, refresh = 0;
  int32_t flags = 0;  // the presentation thread flips MODE_FULLSCREEN on a switch

  // Under the update lock.
  uint32_t palette[256] = {};
  bool palette_changed = false;
  VOX_SDL_INPUT input{};

  // Presentation thread only.
  SDL_Window* window = nullptr;
  SDL_Surface* shown_surface = nullptr;
  int32_t shown_w = 0, shown_h = 0;
  SDL_Surface* shape = nullptr;
  bool shaped = false;
  std::vector<uint32_t> row;
  // Pixel scaling: the scale asked for (0 auto, 1 today's unscaled picture), whether the
  // window is full screen at the desktop's size, and where the picture lies in the window.
  int32_t scale_request = 1;
  bool desktop_full = false;
  VOX_SCALE_LAYOUT layout{1, 0, 0, 0, 0};
  std::vector<uint32_t> wide;
  // The desktop connection broke: nothing touches SDL video again in this process.
  bool lost = false;
  // Display changes asked for from any thread, made by the next pass: the full-screen state
  // wanted (-1 no window) and a new scale (-1 none).
  std::atomic<int32_t> want_full{-1};
  std::atomic<int32_t> want_scale{-1};

  // A process that exits with the thread still running (an exit() on any thread) must not
  // end in std::terminate.
  ~Driver() {
    if (thread.joinable()) thread.detach();
  }
};

extern Driver g_driver;

// The window (sdl_window.cpp).
// A start's request checked: false, with the reason naming DRIVER and its SURFACE ("window",
// "canvas"), for a kind of surface or a size no driver gives.
bool check_request(const char* driver, const char* surface, int32_t width, int32_t height,
                   int32_t flags);
// The request taken into the driver's state, FLAGS as the driver keeps them; the palette black.
void take_request(const char* title, int32_t width, int32_t height, int32_t depth,
                  int32_t refresh_rate, int32_t flags);
bool sdl_video_up();
void sdl_video_down();
std::vector<int32_t> list_modes(int32_t depth);
void mark_all_dirty();
void destroy_window();
void place_picture(int32_t win_w, int32_t win_h);
bool scaled();
bool open_window();
void apply_display_requests();
int32_t driver_set_display(int32_t fullscreen, int32_t scale);

// The pass (sdl_pass.cpp).
void set_grab(bool on);
bool desktop_lost();
void run_pass();

}  // namespace KASTREL::SDL_DETAIL
