#pragma once
#include <cstdint>

// A presentation driver: a name and a table of operations. Any slot may be
// empty (null); callers test a slot before calling it.
struct VOX_GFX_DRIVER {
  const char* name;  // compared without regard to case
  // 0 on success, anything else on failure (the mode set then tries the next possibility).
  int32_t (*init)(const char* title, int32_t width, int32_t height, int32_t depth,
                  int32_t refresh_rate, int32_t flags);
  void (*exit)();
  void (*lock)();
  void (*unlock)();
  void (*set_palette)(int32_t index, int32_t red, int32_t green, int32_t blue);
  void (*wait_vsync)();
  // 0 on success, -1 when no position is available. Outputs after y may be null.
  int32_t (*get_mouse)(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
  void (*set_mouse)(int32_t x, int32_t y, int32_t cursor, int32_t clip);
  void (*set_window_title)(const char* title);
  int32_t (*set_window_pos)(int32_t x, int32_t y);
  // A new array of packed modes ((width << 16) | height) released with std::free, or null.
  int32_t* (*fetch_modes)(int32_t depth, int32_t* count);
  // Changes the open screen's display: FULLSCREEN 1 full screen, 0 a window, -1 the other of the
  // two, -2 as it is; SCALE as vox_GfxSetScale takes it, -1 as it is. The change is made on the
  // driver's next pass. The full-screen state asked for (1 or 0), -1 when it has no window, or
  // -2 when the display refuses the change now (the reason in LASTERROR(); nothing changes).
  int32_t (*set_display)(int32_t fullscreen, int32_t scale);
  void (*reserved_2)();
  // Added slots; a driver without them leaves them empty.
  // Pictures shown in the window since the screen opened.
  int32_t (*present_count)();
  // The paced presentation (MODE_VSYNC): the number of the last presentation pass, which
  // copies the frame under the lock; -1 when this screen is not paced.
  int32_t (*present_pass)();
  // Waits until a presentation pass after `pass` has copied the frame (bounded: a pass that
  // never comes returns after a few display intervals).
  void (*wait_present)(int32_t pass);
  // The pad state as it is now, from any thread: the meaning and arguments of vox_GfxPadCount,
  // vox_GfxPadConnected, vox_GfxPadButton and vox_GfxPadAxis (before the input filter).
  int32_t (*pad_count)();
  int32_t (*pad_connected)(int32_t pad);
  int32_t (*pad_button)(int32_t pad, int32_t button);
  int32_t (*pad_axis)(int32_t pad, int32_t axis);
  // Presentation passes at which the window showed the game's picture, an unchanged one
  // included, since the screen opened.
  int32_t (*shown_count)();
};

// Mode flag word bits.
enum : int32_t {
  MODE_FULLSCREEN = 1,
  MODE_NOSWITCH = 4,
  MODE_NOFRAME = 8,
  MODE_SHAPED = 16,
  MODE_ONTOP = 32,
  MODE_ALPHAPRIMITIVES = 64,
  MODE_SCALED = 128,  // scale the picture by the largest whole number that fits the desktop
  MODE_VSYNC = 256,   // present once per display refresh (vox_GfxSetPresentation)
  MODE_NULL = -1,
};

// Drivers a mode set may choose from: a null-terminated list, defined in driver_list.cpp.
extern const VOX_GFX_DRIVER* __vox_gfx_drivers_list[];
// The list that mode sets and the mode list actually walk; it points at __vox_gfx_drivers_list.
// Tests point it at a list of their own (program thread only, with no screen open).
extern const VOX_GFX_DRIVER* const* __vox_gfx_drivers;
// "Null": no window, no presentation, no input. Chosen by the flag word MODE_NULL or by
// VOXGFX=null; never in the list. Its lock and unlock do nothing, every other slot is empty.
extern const VOX_GFX_DRIVER __vox_gfxDriverNull;
// "TEMPLATE" (device/template/): a port's starting point, whose window is a picture in memory.
// Built everywhere and never in the list: VOXGFX=template alone chooses it.
extern const VOX_GFX_DRIVER vox_gfxDriverTemplate;

// The picture scale set by vox_GfxSetScale: -1 not set, 0 auto, else the scale.
extern int32_t __vox_gfx_scale;
// The presentation set by vox_GfxSetPresentation: -1 not set, else a PRESENT_* value.
extern int32_t __vox_gfx_present;
// The thread that runs the window's pass, set by vox_GfxSetPassThread: -1 not set, else a
// PASS_*_THREAD value.
extern int32_t __vox_gfx_pass_thread;
