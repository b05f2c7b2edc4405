#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/screen.h"

// Inside the display layer: the per-thread drawing context, the error number and the lock
// rule shared by every call that may touch the screen. Not for games.

struct VOX_GFX_CONTEXT {
  int32_t screen_id;  // the screen this context was last reset for (0: none yet)
  int32_t work_page;  // the page drawing calls and vox_GfxScreenPtr address
  int32_t view_x, view_y, view_w, view_h;  // the screen's view; image targets use their own size
  uint32_t foreground;
  uint32_t background;
  float last_x, last_y;  // the last point a blit was placed at
  int32_t target_bpp;    // of the current target: row routines pick their variant by it
  int32_t target_pitch;
  bool program_thread;   // whether this thread opened screen_id's screen
};

// The calling thread's context, reset (work page 0, whole-screen view, default colours)
// whenever the open screen is not the one it last saw, and its error number, in one
// thread-local block: a small blit reads the one and sets the other, and where thread-local
// storage is emulated (MinGW) each separate variable costs a call.
struct VOX_GFX_THREAD {
  VOX_GFX_CONTEXT context;
  int32_t error;
};
extern thread_local constinit VOX_GFX_THREAD vox_gfxThread;
// Where thread_local is a call, each thread's block is its own allocation found through a thread
// slot, whose number this holds once taken (THREADSLOTCOUNT before); vox_gfxThread is then the
// fallback where no slot or memory is to be had.
extern std::atomic<uint32_t> vox_gfxThreadSlot;
VOX_GFX_THREAD* vox_hThreadBlockFirst();  // the calling thread's block, on its first call
[[gnu::always_inline]] inline VOX_GFX_THREAD* vox_hThreadBlock() {
  if constexpr (!KASTREL::PLATFORM::THREADSLOTS) {
    return &vox_gfxThread;
  } else {
    const uint32_t slot = vox_gfxThreadSlot.load(std::memory_order_relaxed);
    if (slot < KASTREL::PLATFORM::THREADSLOTCOUNT)
      if (void* mine = KASTREL::PLATFORM::THREADSLOTGET(slot)) [[likely]]
        return static_cast<VOX_GFX_THREAD*>(mine);
    return vox_hThreadBlockFirst();
  }
}
void vox_hContextReset(VOX_GFX_CONTEXT* c, const VOX_GFX_SCREEN* s);
[[gnu::always_inline]] inline VOX_GFX_THREAD* vox_hThread() {
  VOX_GFX_THREAD* t = vox_hThreadBlock();
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (s && t->context.screen_id != s->id) [[unlikely]] vox_hContextReset(&t->context, s);
  return t;
}
[[gnu::always_inline]] inline VOX_GFX_CONTEXT* vox_hContext() { return &vox_hThread()->context; }

[[gnu::always_inline]] inline void vox_hSetError(int32_t error) {
  vox_hThreadBlock()->error = error;
}

// Calls that belong to the program thread (the one that opened the screen) check their caller
// with this: true on that thread or without a screen. From any other thread it sets error 1 and
// a reason naming the call, and the call does nothing: the frame loop holds the screen for the
// program thread, so a second thread's lock, draw or request would wait on it, or corrupt it.
bool vox_hProgramThread(const char* call);

// Around any work on the screen's state or pixels: unless the program (or an enclosing call)
// holds the screen lock, take it and set SCREEN_LOCKED | SCREEN_AUTO_LOCKED; afterwards
// release it only if this rule took it. The flags are checked inline: inside the frame loop,
// which holds the lock for the whole pass, every blit and shape would otherwise make two calls
// that do nothing. Only the program thread touches them; another thread draws only into its
// own images, which need no lock.
void vox_hAutoLockTake(VOX_GFX_SCREEN* s);
void vox_hAutoLockRelease(VOX_GFX_SCREEN* s);
inline void vox_hAutoLock() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (s && s->program_thread == std::this_thread::get_id() &&
      (s->flags & (SCREEN_LOCKED | SCREEN_AUTO_LOCKED)) == 0)
    vox_hAutoLockTake(s);
}
inline void vox_hAutoUnlock() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (s && s->program_thread == std::this_thread::get_id() && (s->flags & SCREEN_AUTO_LOCKED))
    vox_hAutoLockRelease(s);
}

// Stores value (its low bpp bytes) into every bpp-byte slot of bytes bytes.
void vox_hFillPixels(uint8_t* pixels, size_t bytes, int32_t bpp, uint32_t value);

// The default window title for an executable path: the part after the last '/' or '\',
// cut at its last '.', at most 127 bytes. out holds 128 bytes.
void vox_hTitleFromPath(const char* path, char* out);
