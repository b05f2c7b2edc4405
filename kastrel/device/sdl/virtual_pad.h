#pragma once
// A gamepad for a game's own tests: plugged in while the object lives, in the standard layout,
// and driven through SDL's joystick layer, so the engine reads it exactly as a real pad (pad
// events, vox_GfxPadButton, vox_GfxPadAxis). Three lines:
//
//   KASTREL::TESTING::VIRTUALPAD PAD;     // plugged in: pad 0 when it is the only one
//   PAD.PRESS(KASTREL::PAD::START);       // and PAD.RELEASE(KASTREL::PAD::START)
//   PAD.MOVE(KASTREL::PAD::LEFTX, 32767); // the left stick fully right
//
// SDL passes pad input to a focused window only; on the null driver pads are not read.
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/device/keys.h"

namespace KASTREL::TESTING {

// One virtual pad, plugged in from construction to destruction.
class VIRTUALPAD {
 public:
  // Plugs the pad in; PLUGGED() says whether SDL gave it.
  VIRTUALPAD();
  // Unplugs the pad.
  ~VIRTUALPAD();
  VIRTUALPAD(const VIRTUALPAD&) = delete;
  VIRTUALPAD& operator=(const VIRTUALPAD&) = delete;

  // Whether SDL gave the pad (LASTERROR() says why not).
  BOOLEAN PLUGGED() const { return TOBOOLEAN(STICK != nullptr); }
  // A PAD:: button held down or let go.
  void PRESS(int32_t B) { HOLD(B, true); }
  void RELEASE(int32_t B) { HOLD(B, false); }
  void HOLD(int32_t B, bool DOWN);
  // A PAD:: axis: sticks -32768 (left, up) to 32767, triggers 0 (rest) to 32767.
  void MOVE(int32_t AXIS, int32_t VALUE);
  // SDL's instance number of the pad.
  int32_t ID() const;

 private:
  void* STICK = nullptr;  // SDL's joystick: games include no SDL header for it
  bool STARTED = false;
};

}  // namespace KASTREL::TESTING
