#pragma once
#include <cstdint>
#include <string>

namespace KASTREL::ENGINE {

// A display size in pixels; also the argument of INITIALIZE's second form.
struct RESOLUTION {
  int32_t WIDTH = 0;
  int32_t HEIGHT = 0;

  // The text form for menus: std::string(RES) gives "640x480" (decimal width, "x", decimal
  // height, no spaces; negative values carry an ASCII '-': "-1x5").
  explicit operator std::string() const;
};

// The window size: (0, 0) until a successful INITIALIZE sets it to that call's width and
// height. MARKDIRTY and the frame loop's paint step read it.
extern constinit RESOLUTION SCREENRESOLUTION;

// A list of resolutions whose array holds exactly COUNT entries, in the order added.
// Passed and returned by value, a copy sharing the array, so the list has no destructor: the
// code that receives a list owns its array and gives it back with RELEASE (or std::free(LIST))
// once, from one of the copies:
//   RESOLUTIONLIST MODES = SUPPORTEDRESOLUTIONS();
//   for (int32_t I = 0; I < MODES.COUNT; ++I) MENU_ADD(std::string(MODES.LIST[I]));
//   MODES.RELEASE();
struct RESOLUTIONLIST {
  int32_t COUNT = 0;
  RESOLUTION* LIST = nullptr;  // null while COUNT is 0

  // Appends (W, H), growing the array by one entry. When it cannot grow, the program ends
  // with runtime error 4, "out of memory".
  void ADD(int32_t W, int32_t H);
  // Frees the array; the list is empty afterwards (other copies are then stale).
  void RELEASE();
};

// A new list of the full-screen modes the display offers at 32 bits per pixel, in the display
// layer's order (ascending width, then height); empty when there are none. Every call starts
// a fresh enumeration and returns an independent list for the caller to RELEASE.
RESOLUTIONLIST SUPPORTEDRESOLUTIONS();

}  // namespace KASTREL::ENGINE
