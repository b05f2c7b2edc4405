#include "kastrel/device/input.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "kastrel/device/context.h"
#include "kastrel/device/screen.h"

namespace {

// Typed keys arrive on the presentation thread and are read on the program thread.
constexpr int kTypedKeySlots = 16;
std::mutex g_typed_mutex;
int32_t g_typed_keys[kTypedKeySlots];
int g_typed_head = 0;
int g_typed_count = 0;
std::atomic<bool> g_typed_changed{false};

void sleep_ms(int32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

void vox_hPostEvent(const VOX::EVENT* event) {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || !event) return;
  std::lock_guard<std::mutex> lock(*s->event_mutex);
  s->events[s->event_tail] = *event;
  s->event_tail = (s->event_tail + 1) % EVENT_QUEUE_SLOTS;
  // A full queue keeps the new event and drops the oldest.
  if (s->event_tail == s->event_head) s->event_head = (s->event_head + 1) % EVENT_QUEUE_SLOTS;
}

int32_t vox_GfxEvent(VOX::EVENT* event) {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s) return 0;
  std::lock_guard<std::mutex> lock(*s->event_mutex);
  if (s->event_head == s->event_tail) return 0;
  if (event) {
    *event = s->events[s->event_head];
    s->event_head = (s->event_head + 1) % EVENT_QUEUE_SLOTS;
  }
  return -1;
}

void vox_hTypedKeyAdd(int32_t key) {
  {
    std::lock_guard<std::mutex> lock(g_typed_mutex);
    if (g_typed_count == kTypedKeySlots) {
      g_typed_head = (g_typed_head + 1) % kTypedKeySlots;
      --g_typed_count;
    }
    g_typed_keys[(g_typed_head + g_typed_count) % kTypedKeySlots] = key;
    ++g_typed_count;
  }
  g_typed_changed.store(true);
}

int32_t vox_GetKey() {
  std::lock_guard<std::mutex> lock(g_typed_mutex);
  if (g_typed_count == 0) return 0;
  const int32_t key = g_typed_keys[g_typed_head];
  g_typed_head = (g_typed_head + 1) % kTypedKeySlots;
  --g_typed_count;
  return key;
}

int32_t vox_GfxGetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  int32_t result = -1;
  if (s && s->driver && s->driver->get_mouse) {
    int32_t px = 0, py = 0;
    // The screen lock's flags are the program thread's; drivers guard their own state.
    const bool program = std::this_thread::get_id() == s->program_thread;
    if (program) vox_hAutoLock();
    result = s->driver->get_mouse(x ? x : &px, y ? y : &py, wheel, buttons, clip);
    if (program) vox_hAutoUnlock();
  }
  if (result == 0) {
    vox_hSetError(0);
    return 0;
  }
  for (int32_t* out : {x, y, wheel, buttons, clip}) {
    if (out) *out = -1;
  }
  vox_hSetError(1);
  return 1;
}

int32_t vox_GfxSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || !s->driver || !s->driver->set_mouse) {
    vox_hSetError(1);
    return 1;
  }
  vox_hAutoLock();
  s->driver->set_mouse(x, y, cursor, clip);
  vox_hAutoUnlock();
  vox_hSetError(0);
  return 0;
}

// There is no text-console mouse: without a screen the screen versions' answer (every output
// -1, error 1) is the whole answer.
void vox_GetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  vox_GfxGetMouse(x, y, wheel, buttons, clip);
}

void vox_SetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  vox_GfxSetMouse(x, y, cursor, clip);
}

int32_t vox_GfxMultikey(int32_t scancode) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || scancode < 0 || scancode >= KEY_STATE_SIZE) return 0;
  // The driver stores each byte atomically: no lock, so any thread may ask.
  return std::atomic_ref<uint8_t>(s->key_state[scancode]).load(std::memory_order_relaxed) ? -1 : 0;
}

void vox_SleepEx(int32_t milliseconds, int32_t kind) {
  if (kind != 0 && kind != 1) {
    vox_hSetError(1);
    return;
  }
  vox_hSetError(0);
  if (kind == 1 || !__vox_gfx) {
    // Without a screen no key can arrive: a pause is a plain wait.
    sleep_ms(milliseconds);
    return;
  }
  g_typed_changed.store(false);
  if (milliseconds == -1) {
    while (!g_typed_changed.load()) sleep_ms(50);
  } else if (milliseconds > 99) {
    for (; milliseconds > 50; milliseconds -= 50) {
      sleep_ms(50);
      if (g_typed_changed.load()) return;
    }
    sleep_ms(milliseconds);
  } else {
    sleep_ms(milliseconds);
  }
}
