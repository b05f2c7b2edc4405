#pragma once
// A test game: screen 0 with handlers that record what they get and call what the test sets,
// run through a real INITIALIZE and frame loop on the null driver. Each test runs in its own
// process, so this state starts fresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/display.h"
#include "kastrel/engine/engine.h"
#include "kastrel/graphics/bitmap.h"

namespace KASTREL::MATH {
inline bool operator==(const RECT& a, const RECT& b) {
  return a.X == b.X && a.Y == b.Y && a.W == b.W && a.H == b.H;
}
inline void PrintTo(const RECT& r, std::ostream* os) {
  *os << "(" << r.X << ", " << r.Y << ", " << r.W << ", " << r.H << ")";
}
}  // namespace KASTREL::MATH

namespace test_game {

using namespace KASTREL;
using namespace KASTREL::ENGINE;
using Rects = std::vector<MATH::RECT>;

inline constexpr uint32_t kBackground = 0xFF0000FFu;  // what painting fills with

struct Frame {
  int32_t pass;
  float elapsed;
  INPUTEVENT input;
  VOX::EVENT event;
};

inline std::string trace;                                    // a letter per raise
inline std::vector<Frame> frames;                            // screen 0's ONFRAME raises
inline std::vector<std::pair<int32_t, MATH::RECT>> painted;  // (pass, rectangle)
inline std::function<void()> on_show;
inline std::function<void(const Frame&)> on_frame;

inline uint32_t& pixel(int32_t x, int32_t y) {
  return static_cast<uint32_t*>(vox_GfxScreenPtr())[y * __vox_gfx->width + x];
}
inline void fill(const MATH::RECT& r, uint32_t color) {  // closed, clipped to the screen
  for (int64_t y = std::max(r.Y, 0);
       y <= std::min<int64_t>(int64_t{r.Y} + r.H, __vox_gfx->height - 1); ++y)
    for (int64_t x = std::max(r.X, 0);
         x <= std::min<int64_t>(int64_t{r.X} + r.W, __vox_gfx->width - 1); ++x)
      pixel(int32_t(x), int32_t(y)) = color;
}
inline bool locked() { return __vox_gfx && (__vox_gfx->flags & SCREEN_LOCKED); }
inline void post(int32_t type, int32_t x = 0, int32_t y = 0) {
  VOX::EVENT e{};
  e.TYPE = type, e.X = x, e.Y = y;
  vox_hPostEvent(&e);
}
inline Rects painted_at(int32_t pass) {
  Rects out;
  for (const auto& [p, r] : painted)
    if (p == pass) out.push_back(r);
  return out;
}

inline void SHOWN() {
  trace += 'S';
  if (on_show) on_show();
}
inline void PAINTED(GRAPHICS::BITMAP& DEST, MATH::RECT& RGN) {
  trace += 'P';
  EXPECT_TRUE(locked() && DEST.HANDLE() == nullptr);  // the frame buffer itself
  painted.emplace_back(FRAMECOUNT + 1, RGN);
  fill(RGN, kBackground);
}
inline void FRAMED(float FELAPSED, INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA) {
  trace += 'F';
  EXPECT_TRUE(locked());
  frames.push_back(Frame{FRAMECOUNT, FELAPSED, EINPUTEVENT, EVENTDATA});
  if (on_frame) on_frame(frames.back());
  if (FRAMECOUNT >= 400 && GAMELOOPRUNNING) {
    ADD_FAILURE() << "the loop ran away";
    SHUTDOWN(TRUE);
  }
}
inline void INITIALIZED_GAME() {
  trace += 'I';
  const int32_t screen = NEWGAMESCREEN();
  GAMESCREENS[screen].ONSHOW += SHOWN;
  GAMESCREENS[screen].ONPAINT += PAINTED;
  GAMESCREENS[screen].ONFRAME += FRAMED;
  SHOW(screen, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
}

// Opens a 64 x 48 screen (on the null driver unless told otherwise) whose ONINITIALIZE shows
// screen 0; returns when the frame loop has ended.
inline BOOLEAN run(bool null_driver = true) {
  if (null_driver) PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  ONINITIALIZE += INITIALIZED_GAME;
  return INITIALIZE(64, 48, FALSE, MODE_NOSWITCH);
}

}  // namespace test_game
