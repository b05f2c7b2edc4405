#include "kastrel/device/input.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "kastrel/base/detail/platform.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/detail/relaxed_byte.h"
#include "kastrel/device/screen.h"

namespace {

// Typed keys arrive on the presentation thread and are read on the program thread.
constexpr int kTypedKeySlots = 16;
std::mutex g_typed_mutex;
int32_t g_typed_keys[kTypedKeySlots];
int g_typed_head = 0;
int g_typed_count = 0;
std::atomic<bool> g_typed_changed{false};
std::atomic<int32_t> g_text_input{0};

// A program asking for events within this time takes them: its key polls follow the events it
// took. One that stopped asking (or never did) polls the keyboard as it is.
constexpr int64_t TAKING_NS = 1'000'000'000;
std::atomic<int64_t> g_last_take{INT64_MIN / 2};

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The scancode a key event holds down or lets go (*held), or 0 for other events.
int32_t key_of(const VOX::EVENT& e, bool* held) {
  if (e.TYPE < VOX::KEYPRESSED || e.TYPE > VOX::KEYREPEATED) return 0;
  if (e.SCANCODE <= 0 || e.SCANCODE >= KEY_STATE_SIZE) return 0;
  *held = e.TYPE != VOX::KEYRELEASED;
  return e.SCANCODE;
}

// An event leaves the queue (taken, or dropped by a full queue); under event_mutex.
void dequeued(VOX_GFX_SCREEN* s, const VOX::EVENT& e) {
  bool held = false;
  if (const int32_t k = key_of(e, &held)) {
    s->key_taken[k] = held ? 1 : 0;
    if (s->key_queued[k] > 0) --s->key_queued[k];
  }
}

void sleep_ms(int32_t milliseconds) {
  // Through the platform layer: in the browser a wait must give the page its turn.
  if (milliseconds > 0) {
    KASTREL::PLATFORM::SLEEPUNTIL(std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace

void vox_hPostEvent(const VOX::EVENT* event) {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || !event) return;
  std::lock_guard<std::mutex> lock(*s->event_mutex);
  bool held = false;
  if (const int32_t k = key_of(*event, &held)) {
    // The key as it stood before its first waiting event, then as the device has it now.
    if (s->key_queued[k] == 0) s->key_taken[k] = vox_relaxed_load(&s->key_state[k]);
    ++s->key_queued[k];
    vox_relaxed_store(&s->key_state[k], held ? 1 : 0);
  }
  s->events[s->event_tail] = *event;
  s->event_tail = (s->event_tail + 1) % EVENT_QUEUE_SLOTS;
  // A full queue keeps the new event and drops the oldest.
  if (s->event_tail == s->event_head) {
    dequeued(s, s->events[s->event_head]);
    s->event_head = (s->event_head + 1) % EVENT_QUEUE_SLOTS;
  }
}

int32_t vox_GfxEvent(VOX::EVENT* event) {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s) return 0;
  if (event) g_last_take.store(now_ns(), std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(*s->event_mutex);
  if (s->event_head == s->event_tail) return 0;
  if (event) {
    *event = s->events[s->event_head];
    dequeued(s, *event);
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

namespace KASTREL {
void SETINPUTFILTER(INPUTFILTER FILTER) { g_input_filter.store(FILTER, std::memory_order_release); }
void FILTERREADING(INPUTREADING KIND, int32_t* VALUES, int32_t COUNT) {
  filtered(KIND, VALUES, COUNT);
}
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
  if (!vox_hProgramThread("vox_SetMouse")) return 1;
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
  VOX_GFX_SCREEN* s = __vox_gfx;
  int32_t v[2] = {scancode, 0};  // the key asked about, and -1 while it is held
  if (s && scancode >= 0 && scancode < KEY_STATE_SIZE) {
    // The driver stores each byte atomically: no screen lock, so any thread may ask.
    bool held = vox_relaxed_load(&s->key_state[scancode]) != 0;
    // While the program takes events, a key with events still waiting reads as the events it
    // took left it: a press it took reads held even when the key is already up again.
    if (now_ns() - g_last_take.load(std::memory_order_relaxed) < TAKING_NS) {
      std::lock_guard<std::mutex> lock(*s->event_mutex);
      if (s->key_queued[scancode] > 0) held = s->key_taken[scancode] != 0;
    }
    v[1] = held ? -1 : 0;
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

void vox_GfxTextInput(int32_t on) { g_text_input.store(on != 0 ? 1 : 0); }

int32_t vox_GfxTextInputOn() { return g_text_input.load(); }
