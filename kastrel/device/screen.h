#pragma once
#include <cstdint>
#include <mutex>
#include <thread>

#include "kastrel/device/driver.h"
#include "kastrel/device/event.h"

// The screen state: one record while a screen is open, shared by the display
// layer and the presentation driver. Created zero-filled by a mode set and
// released when the screen closes.
struct VOX_GFX_SCREEN {
  int32_t id;           // process-wide counter value; drawing contexts notice a new screen by it
  int32_t mode_number;  // -1 for screens opened by vox_GfxScreenRes
  uint8_t** pages;
  int32_t page_count;
  int32_t visible_page;
  uint8_t* framebuffer;  // the visible page's memory
  int32_t width;
  int32_t height;
  int32_t depth;            // bits per pixel after normalisation (24 -> 32, 15 -> 16)
  int32_t bytes_per_pixel;  // (depth + 7) / 8
  int32_t pitch;            // width * bytes_per_pixel, rows not padded
  uint8_t* palette;         // 1024 bytes
  uint8_t* device_palette;  // 1024 bytes
  uint8_t* color_association;  // 16 bytes
  uint8_t* dirty;  // height * scanline_size bytes; non-zero: line changed since last presented
  const VOX_GFX_DRIVER* driver;
  uint32_t color_mask;
  int32_t scanline_size;  // always 1 for vox_GfxScreenRes
  int32_t text_columns;
  int32_t text_rows;
  uint8_t* key_state;     // 128 bytes indexed by scancode, 1 while held
  int32_t refresh_rate;   // filled in by the driver
  VOX::EVENT* events;     // 128 slots
  int32_t event_head;     // next event to take
  int32_t event_tail;     // next free slot
  std::mutex* event_mutex;
  uint32_t flags;  // SCREEN_* bits below; the program thread's alone
  std::thread::id program_thread;  // the thread that opened the screen; key_state bytes are
                                   // atomic, read by any thread
  // Per scancode, under event_mutex: key events still queued, and whether the last one the
  // program took left the key held; polls answer from them while events wait.
  uint8_t key_queued[128];
  uint8_t key_taken[128];
};

// Bits of VOX_GFX_SCREEN::flags; SCREEN_ALPHA_PRIMITIVES comes from MODE_ALPHAPRIMITIVES.
enum : uint32_t {
  SCREEN_LOCKED = 0x1,       // the program holds the screen lock
  SCREEN_AUTO_LOCKED = 0x2,  // a display-layer call took the lock for its own duration
  SCREEN_ALPHA_PRIMITIVES = 0x8,
  SCREEN_SURFACE_FLAG = 0x20000000,  // from mode flag 2
};

// Sizes of the screen record's event queue and of its key table (scancodes 0 .. 127).
enum : int32_t {
  EVENT_QUEUE_SLOTS = 128,  // holds at most 127 events: head == tail means empty
  KEY_STATE_SIZE = 128,
};

// The open screen, or null.
extern VOX_GFX_SCREEN* __vox_gfx;

// Window side: called by a presentation driver on its own thread.
void vox_hPostEvent(const VOX::EVENT* event);  // queue an event; a full queue drops its oldest
void vox_hTypedKeyAdd(int32_t key);            // typed-key ring; a full ring drops its oldest
