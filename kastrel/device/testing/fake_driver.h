#pragma once
// Drivers for tests: they record every call and accept or refuse initialisation as a test
// decides. Each test runs in its own process, so the record starts empty.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/screen.h"

namespace fake_driver {

struct Init {
  int driver;
  std::string title;
  int32_t width, height, depth, refresh_rate, flags;
};

struct Record {
  std::vector<Init> inits;
  int exits[2] = {};
  int locks = 0;
  int unlocks = 0;
  std::function<bool(const Init&)> accept = [](const Init&) { return true; };
  int32_t mouse[5] = {};
  int32_t mouse_result = 0;
  bool locked_in_mouse = false;  // SCREEN_LOCKED was set while a mouse slot ran
  std::vector<int32_t> set_mouse;
  std::vector<int32_t> modes[2];
  int32_t modes_depth = 0;
  std::string title;
  bool report_exit = false;  // print a line when shut down with a screen open
};

inline Record& record() {
  static Record r;
  return r;
}

template <int N>
int32_t init(const char* title, int32_t width, int32_t height, int32_t depth, int32_t rate,
             int32_t flags) {
  const Init call{N, title ? title : "", width, height, depth, rate, flags};
  record().inits.push_back(call);
  return record().accept(call) ? 0 : -1;
}

template <int N>
void exit() {
  ++record().exits[N];
  if (record().report_exit && __vox_gfx)
    std::fprintf(stderr, "shut down %dx%d\n", __vox_gfx->width, __vox_gfx->height);
}

inline void lock() { ++record().locks; }
inline void unlock() { ++record().unlocks; }

inline int32_t get_mouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  Record& r = record();
  r.locked_in_mouse = __vox_gfx && (__vox_gfx->flags & SCREEN_LOCKED);
  int32_t* out[5] = {x, y, wheel, buttons, clip};
  for (int i = 0; i < 5; ++i) {
    if (out[i]) *out[i] = r.mouse[i];
  }
  return r.mouse_result;
}

inline void set_mouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  record().locked_in_mouse = __vox_gfx && (__vox_gfx->flags & SCREEN_LOCKED);
  record().set_mouse = {x, y, cursor, clip};
}

inline void set_title(const char* title) { record().title = title; }

template <int N>
int32_t* fetch_modes(int32_t depth, int32_t* count) {
  record().modes_depth = depth;
  const std::vector<int32_t>& modes = record().modes[N];
  *count = static_cast<int32_t>(modes.size());
  if (modes.empty()) return nullptr;
  auto* out = static_cast<int32_t*>(std::malloc(modes.size() * sizeof(int32_t)));
  std::memcpy(out, modes.data(), modes.size() * sizeof(int32_t));
  return out;
}

template <int N>
constexpr VOX_GFX_DRIVER make(const char* name) {
  return {name,      init<N>,   exit<N>,   lock,    unlock,         nullptr, nullptr,
          get_mouse, set_mouse, set_title, nullptr, fetch_modes<N>, nullptr, nullptr,
          nullptr,   nullptr,   nullptr,   nullptr, nullptr,        nullptr, nullptr, nullptr};
}

inline constexpr VOX_GFX_DRIVER kAlpha = make<0>("Alpha");
inline constexpr VOX_GFX_DRIVER kBeta = make<1>("Beta");
// Every slot empty: a mode set and the mode list must step over it.
inline constexpr VOX_GFX_DRIVER kEmpty = {
    "Empty", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr};
inline const VOX_GFX_DRIVER* list[] = {&kAlpha, &kEmpty, &kBeta, nullptr};

// Makes mode sets choose among the fakes, with no driver named in the environment.
inline void install() {
  __vox_gfx_drivers = list;
  KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", nullptr);
}

}  // namespace fake_driver
