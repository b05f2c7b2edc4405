#include "kastrel/device/input.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "kastrel/base/error.h"
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

namespace {
std::atomic<KASTREL::INPUTFILTER> g_input_filter{nullptr};

void filtered(KASTREL::INPUTREADING kind, int32_t* values, int32_t count) {
  if (const KASTREL::INPUTFILTER filter = g_input_filter.load(std::memory_order_acquire))
    filter(kind, values, count);
}

// A pad poll: the live answer, passed through the filter like every input-state reading.
int32_t pad_poll(int32_t query, int32_t pad, int32_t control, int32_t live) {
  int32_t v[4] = {query, pad, control, live};
  filtered(KASTREL::READPAD, v, 4);
  return v[3];
}

// The open screen's driver, whose pads these are; null without a screen.
const VOX_GFX_DRIVER* pad_driver() {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  return s ? s->driver : nullptr;
}

std::atomic<int32_t> g_dead_zone{8000};
}  // namespace

int32_t vox_GfxPadCount() {
  const VOX_GFX_DRIVER* d = pad_driver();
  return pad_poll(0, 0, 0, d && d->pad_count ? d->pad_count() : 0);
}
int32_t vox_GfxPadConnected(int32_t pad) {
  const VOX_GFX_DRIVER* d = pad_driver();
  return pad_poll(1, pad, 0, d && d->pad_connected ? d->pad_connected(pad) : 0);
}
int32_t vox_GfxPadButton(int32_t pad, int32_t button) {
  const VOX_GFX_DRIVER* d = pad_driver();
  return pad_poll(2, pad, button, d && d->pad_button ? d->pad_button(pad, button) : 0);
}
int32_t vox_GfxPadAxis(int32_t pad, int32_t axis) {
  const VOX_GFX_DRIVER* d = pad_driver();
  return pad_poll(3, pad, axis, d && d->pad_axis ? d->pad_axis(pad, axis) : 0);
}

int32_t vox_hPadDeadZone() { return g_dead_zone.load(std::memory_order_relaxed); }

int32_t vox_GfxPadDeadZone(int32_t dead_zone) {
  if (dead_zone < -1 || dead_zone > 32767) {
    KASTREL::SETLASTERROR("vox_GfxPadDeadZone: %d is not a dead zone (0 to 32767, or -1)",
                          dead_zone);
    vox_hSetError(1);
    return -1;
  }
  vox_hSetError(0);
  if (dead_zone == -1) return g_dead_zone.load();
  return g_dead_zone.exchange(dead_zone);
}

namespace KASTREL {
void SETINPUTFILTER(INPUTFILTER FILTER) { g_input_filter.store(FILTER, std::memory_order_release); }
}  // namespace KASTREL

static int32_t typed_key() {
  std::lock_guard<std::mutex> lock(g_typed_mutex);
  if (g_typed_count == 0) return 0;
  const int32_t key = g_typed_keys[g_typed_head];
  g_typed_head = (g_typed_head + 1) % kTypedKeySlots;
  --g_typed_count;
  return key;
}

int32_t vox_GetKey() {
  int32_t key = typed_key();
  filtered(KASTREL::READKEY, &key, 1);
  return key;
}

int32_t vox_GfxGetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  // X, Y, wheel, buttons, clip, then 0 for a reading or 1 for none.
  int32_t v[6] = {-1, -1, -1, -1, -1, 1};
  if (s && s->driver && s->driver->get_mouse) {
    // The screen lock's flags are the program thread's; drivers guard their own state.
    const bool program = std::this_thread::get_id() == s->program_thread;
    if (program) vox_hAutoLock();
    v[5] = s->driver->get_mouse(&v[0], &v[1], &v[2], &v[3], &v[4]) == 0 ? 0 : 1;
    if (program) vox_hAutoUnlock();
  }
  if (v[5] != 0) std::fill(v, v + 5, -1);
  filtered(KASTREL::READMOUSE, v, 6);
  int32_t* out[5] = {x, y, wheel, buttons, clip};
  for (int i = 0; i < 5; ++i) {
    if (out[i]) *out[i] = v[5] == 0 ? v[i] : -1;
  }
  vox_hSetError(v[5] == 0 ? 0 : 1);
  return v[5] == 0 ? 0 : 1;
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
  int32_t v[2] = {scancode, 0};  // the key asked about, and -1 while it is held
  if (s && scancode >= 0 && scancode < KEY_STATE_SIZE) {
    // The driver stores each byte atomically: no lock, so any thread may ask.
    v[1] = std::atomic_ref<uint8_t>(s->key_state[scancode]).load(std::memory_order_relaxed) ? -1 : 0;
  }
  filtered(KASTREL::READMULTIKEY, v, 2);
  return v[1];
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
