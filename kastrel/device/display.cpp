#include "kastrel/device/display.h"
#include "kastrel/device/input.h"


#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"

VOX_GFX_SCREEN* __vox_gfx = nullptr;
int32_t __vox_gfx_scale = -1;
int32_t __vox_gfx_present = -1;
int32_t __vox_gfx_pass_thread = -1;
const VOX_GFX_DRIVER* const* __vox_gfx_drivers = __vox_gfx_drivers_list;

namespace {

void null_lock() {}
void null_unlock() {}

}  // namespace

const VOX_GFX_DRIVER __vox_gfxDriverNull = {
    "Null",  nullptr, nullptr, null_lock, null_unlock, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr,   nullptr,     nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr,   nullptr,     nullptr, nullptr, nullptr,
};

namespace {

// Closing request used at process exit.
constexpr int32_t kCloseFlags = static_cast<int32_t>(0x80000000u);
constexpr int32_t kSurfaceFlag = 2;  // no driver here provides that kind of surface
constexpr int64_t kMaxScreenBytes = INT32_MAX;

// Bytes a screen of that many pages really takes: each page's pixels in a heap block (8 bytes
// of allocator bookkeeping, 16-byte granules, at least 32 bytes) plus its entry in the page
// list. -1 when that passes kMaxScreenBytes; every product is checked, so no size can wrap.
int64_t screen_bytes(int64_t width, int64_t bytes_per_pixel, int64_t height, int64_t pages) {
  int64_t pixels = 0, total = 0;
  if (__builtin_mul_overflow(width, bytes_per_pixel, &pixels) ||
      __builtin_mul_overflow(pixels, height, &pixels) || pixels > kMaxScreenBytes) {
    return -1;
  }
  const int64_t page =
      std::max<int64_t>(32, (pixels + 8 + 15) / 16 * 16) + static_cast<int64_t>(sizeof(uint8_t*));
  if (__builtin_mul_overflow(page, pages, &total) || total > kMaxScreenBytes) return -1;
  return total;
}

uint32_t g_next_id = 1;
bool g_exit_registered = false;
char g_title[128];
const char* g_title_ptr = nullptr;  // null until the first mode set or title change
std::vector<int32_t> g_modes;
bool g_modes_built = false;
size_t g_mode_position = 0;

struct ModeDescription {
  int32_t width, height, depth, scanline_size, text_columns, text_rows;
};

bool same_name(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    const int la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
    const int lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
    if (la != lb) return false;
    if (la == 0) return true;
  }
}

bool valid_depth(int32_t depth) {
  switch (depth) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 15:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// The depth a screen really gets: the surface flag asks for at least 16 bits, 24 is kept as
// 32 and 15 as 16.
int32_t screen_depth(int32_t depth, int32_t flags) {
  if (flags >= 0 && (flags & kSurfaceFlag) && depth < 16) depth = 16;
  if (depth == 24) return 32;
  if (depth == 15) return 16;
  return depth;
}

uint32_t color_mask(int32_t depth) {
  if (depth == 32) return 0xFFFFFFFFu;
  if (depth == 16) return 0xFFFFu;
  return (1u << depth) - 1u;
}

void close_screen() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s) return;
  // The driver stops its presentation thread before any buffer goes away.
  if (s->driver && s->driver->exit) s->driver->exit();
  __vox_gfx = nullptr;
  if (s->pages) {
    for (int32_t i = 0; i < s->page_count; ++i) std::free(s->pages[i]);
    std::free(s->pages);
  }
  std::free(s->device_palette);
  std::free(s->palette);
  std::free(s->color_association);
  std::free(s->dirty);
  std::free(s->key_state);
  std::free(s->events);
  delete s->event_mutex;
  delete s;
}

// Every buffer of a new screen; false when memory ran out.
bool allocate_buffers(VOX_GFX_SCREEN* s, int32_t pages) {
  const size_t page_bytes = static_cast<size_t>(s->height) * static_cast<size_t>(s->pitch);
  s->pages = static_cast<uint8_t**>(std::calloc(static_cast<size_t>(pages), sizeof(uint8_t*)));
  if (!s->pages) return false;
  for (; s->page_count < pages; ++s->page_count) {
    s->pages[s->page_count] = static_cast<uint8_t*>(std::malloc(page_bytes));
    if (!s->pages[s->page_count]) return false;
  }
  s->framebuffer = s->pages[0];
  s->dirty = static_cast<uint8_t*>(
      std::calloc(static_cast<size_t>(s->height) * static_cast<size_t>(s->scanline_size), 1));
  s->device_palette = static_cast<uint8_t*>(std::calloc(1024, 1));
  s->palette = static_cast<uint8_t*>(std::calloc(1024, 1));
  s->color_association = static_cast<uint8_t*>(std::calloc(16, 1));
  s->key_state = static_cast<uint8_t*>(std::calloc(KEY_STATE_SIZE, 1));
  s->events = static_cast<VOX::EVENT*>(std::calloc(EVENT_QUEUE_SLOTS, sizeof(VOX::EVENT)));
  s->event_mutex = new (std::nothrow) std::mutex;
  return s->dirty && s->device_palette && s->palette && s->color_association && s->key_state &&
         s->events && s->event_mutex;
}

void ensure_title() {
  if (g_title_ptr) return;
  vox_hTitleFromPath(KASTREL::PLATFORM::PROGRAMPATH().c_str(), g_title);
  g_title_ptr = g_title;
}

// Sweeps over the driver list; see vox_GfxScreenRes. Null when no driver comes up.
const VOX_GFX_DRIVER* choose_driver(const VOX_GFX_SCREEN* s, int32_t refresh_rate, int32_t flags) {
  std::string asked;
  const char* name = KASTREL::PLATFORM::GETENVIRONMENT("VOXGFX", &asked) && !asked.empty()
                         ? asked.c_str()
                         : nullptr;
  if (flags == MODE_NULL || (name && same_name(name, "null"))) return &__vox_gfxDriverNull;
  // The template driver is in no list, so that no game comes up on it by chance; its name alone
  // chooses it (a port's first runs, a game's tests with no window system), and only it.
  static const VOX_GFX_DRIVER* const template_only[] = {&vox_gfxDriverTemplate, nullptr};
  const VOX_GFX_DRIVER* const* list = __vox_gfx_drivers;
  if (name && same_name(name, vox_gfxDriverTemplate.name)) list = template_only;
  // Drivers that fail leave their reasons; a later success must not leave one behind.
  const std::string before = KASTREL::LASTERROR();
  // With a name, sweeps 4 and 2 try only the named driver, 3 and 1 every driver; full screen
  // flips once, before the last sweep. Without one, full screen flips after every sweep, so a
  // refused full-screen request is retried as a window.
  for (int sweep = name ? 4 : 2; sweep >= 1; --sweep) {
    const bool named_only = name && (sweep == 4 || sweep == 2);
    for (const VOX_GFX_DRIVER* const* d = list; *d; ++d) {
      const VOX_GFX_DRIVER* driver = *d;
      if (named_only && !(driver->name && same_name(driver->name, name))) continue;
      for (const int32_t rate : {refresh_rate, 0}) {
        // A reason for drivers that give none of their own.
        KASTREL::SETLASTERROR("the %s driver refused the mode",
                              driver->name ? driver->name : "unnamed");
        if (driver->init && driver->init(g_title_ptr, s->width, s->height * s->scanline_size,
                                         s->depth, rate, flags) == 0) {
          KASTREL::SETLASTERROR("%s", before.c_str());
          return driver;
        }
        if (driver->exit) driver->exit();
      }
    }
    if (!name || sweep == 2) flags ^= MODE_FULLSCREEN;
  }
  return nullptr;
}

void exit_proc();

// Closes the current screen and, given a description, opens a new one. False when the new
// screen could not be made (no screen is open then).
bool set_mode(const ModeDescription* mode, int32_t mode_number, int32_t depth, int32_t pages,
              int32_t refresh_rate, int32_t flags) {
  if (pages < 1) pages = 1;
  if (flags >= 0 && (flags & MODE_SHAPED)) flags |= MODE_SHAPED | MODE_NOSWITCH | MODE_NOFRAME;
  close_screen();
  if (mode_number == 0 || !mode || mode->width == 0) return true;

  auto* s = new (std::nothrow) VOX_GFX_SCREEN{};
  if (!s) {
    KASTREL::SETLASTERROR("out of memory for a screen");
    return false;
  }
  s->program_thread = std::this_thread::get_id();
  s->id = static_cast<int32_t>(g_next_id);
  g_next_id = g_next_id == INT32_MAX ? 1 : g_next_id + 1;
  s->mode_number = mode_number;
  s->width = mode->width;
  s->height = mode->height;
  s->depth = screen_depth(depth, flags);
  s->scanline_size = mode->scanline_size;
  s->color_mask = color_mask(s->depth);
  s->bytes_per_pixel = (s->depth + 7) / 8;
  s->pitch = s->width * s->bytes_per_pixel;
  s->text_columns = mode->text_columns;
  s->text_rows = mode->text_rows;
  // Published before the driver starts: its thread reads the frame buffer and posts events.
  __vox_gfx = s;
  if (!allocate_buffers(s, pages)) {
    KASTREL::SETLASTERROR("out of memory for the buffers of a %d x %d screen", s->width, s->height);
    close_screen();
    return false;
  }
  if (flags != MODE_NULL) {
    if (flags & MODE_ALPHAPRIMITIVES) s->flags |= SCREEN_ALPHA_PRIMITIVES;
    if (flags & kSurfaceFlag) s->flags |= SCREEN_SURFACE_FLAG;
  }
  ensure_title();
  // Filled before the driver's thread can present anything.
  const size_t page_bytes = static_cast<size_t>(s->height) * static_cast<size_t>(s->pitch);
  for (int32_t p = 0; p < s->page_count; ++p) {
    vox_hFillPixels(s->pages[p], page_bytes, s->bytes_per_pixel, vox_hContext()->background);
  }

  const VOX_GFX_DRIVER* driver = choose_driver(s, refresh_rate, flags);
  if (!driver) {
    // The last driver tried said why it failed.
    KASTREL::SETLASTERROR("no presentation driver could show a %d x %d screen: %s", s->width,
                          s->height, std::string(KASTREL::LASTERROR()).c_str());
    close_screen();
    return false;
  }
  s->driver = driver;
  if (!g_exit_registered) {
    g_exit_registered = true;
    std::atexit(exit_proc);
  }
  return true;
}

void exit_proc() { set_mode(nullptr, 0, 0, 0, 0, kCloseFlags); }

void release_lock(VOX_GFX_SCREEN* s) {
  if (s->driver && s->driver->unlock) s->driver->unlock();
  s->flags &= ~(SCREEN_LOCKED | SCREEN_AUTO_LOCKED);
}

}  // namespace

thread_local constinit VOX_GFX_THREAD vox_gfxThread{};
std::atomic<uint32_t> vox_gfxThreadSlot{KASTREL::PLATFORM::THREADSLOTCOUNT};

VOX_GFX_THREAD* vox_hThreadBlockFirst() {
  if constexpr (KASTREL::PLATFORM::THREADSLOTS) {
    // Each thread's block is its own allocation, freed as the thread ends: emulated thread-local
    // storage may be freed before other code that runs at a thread's end is done with it.
    static const uint32_t slot = [] {
      const uint32_t taken = KASTREL::PLATFORM::THREADSLOTNEW(
          [](void* block) { delete static_cast<VOX_GFX_THREAD*>(block); });
      vox_gfxThreadSlot.store(taken, std::memory_order_relaxed);
      return taken;
    }();
    if (slot < KASTREL::PLATFORM::THREADSLOTCOUNT) {
      auto* mine = new (std::nothrow) VOX_GFX_THREAD{};
      if (mine != nullptr) {
        if (KASTREL::PLATFORM::THREADSLOTSET(slot, mine)) return mine;
        delete mine;
      }
    }
  }
  return &vox_gfxThread;
}

void vox_hContextReset(VOX_GFX_CONTEXT* c, const VOX_GFX_SCREEN* s) {
  c->screen_id = s->id;
  c->program_thread = s->program_thread == std::this_thread::get_id();
  c->work_page = 0;
  c->view_x = 0;
  c->view_y = 0;
  c->view_w = s->width;
  c->view_h = s->height;
  c->foreground = (s->depth >= 5 && s->depth <= 8) ? 15u : s->color_mask;
  c->background = s->color_mask & 0xFF000000u;
}

bool vox_hProgramThread(const char* call) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (s == nullptr || s->program_thread == std::this_thread::get_id()) return true;
  KASTREL::SETLASTERROR("%s: only the thread that opened the screen may call this", call);
  vox_hSetError(1);
  return false;
}
int32_t vox_GetError() { return vox_hThreadBlock()->error; }

void vox_hAutoLockTake(VOX_GFX_SCREEN* s) {
  if (s->driver && s->driver->lock) s->driver->lock();
  s->flags |= SCREEN_LOCKED | SCREEN_AUTO_LOCKED;
}

void vox_hAutoLockRelease(VOX_GFX_SCREEN* s) { release_lock(s); }

void vox_hFillPixels(uint8_t* pixels, size_t bytes, int32_t bpp, uint32_t value) {
  if (bpp == 1) {
    std::memset(pixels, static_cast<int>(value & 0xFF), bytes);
    return;
  }
  uint8_t run[16];
  for (size_t i = 0; i < sizeof run; i += static_cast<size_t>(bpp)) {
    std::memcpy(run + i, &value, static_cast<size_t>(bpp));
  }
  size_t i = 0;
  for (; i + sizeof run <= bytes; i += sizeof run) std::memcpy(pixels + i, run, sizeof run);
  std::memcpy(pixels + i, run, bytes - i);
}

void vox_hTitleFromPath(const char* path, char* out) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  size_t length = std::strlen(name);
  if (const char* dot = std::strrchr(name, '.')) length = static_cast<size_t>(dot - name);
  length = std::min<size_t>(length, 127);
  std::memcpy(out, name, length);
  std::memset(out + length, 0, 128 - length);
}

void vox_GfxScreenRes(int32_t width, int32_t height, int32_t depth, int32_t pages, int32_t flags,
                      int32_t refresh_rate) {
  if (!vox_hProgramThread("vox_GfxScreenRes")) return;
  if (width <= 0 || height <= 0 || !valid_depth(depth)) {
    KASTREL::SETLASTERROR("vox_GfxScreenRes: no screen of %d x %d pixels at %d bits", width, height,
                          depth);
    vox_hSetError(1);
    return;
  }
  const int64_t bytes_per_pixel = (screen_depth(depth, flags) + 7) / 8;
  if (screen_bytes(width, bytes_per_pixel, height, std::max(pages, 1)) < 0) {
    KASTREL::SETLASTERROR("vox_GfxScreenRes: %d x %d pixels in %d pages exceed 2 GiB", width,
                          height, std::max(pages, 1));
    vox_hSetError(1);
    return;
  }
  const ModeDescription mode{width, height, depth, 1, width / 8, height / 8};
  vox_hSetError(set_mode(&mode, -1, depth, pages, refresh_rate, flags) ? 0 : 1);
}

void* vox_GfxScreenPtr() {
  if (!__vox_gfx) return nullptr;
  return __vox_gfx->pages[vox_hContext()->work_page];
}

void vox_GfxLock() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || !vox_hProgramThread("vox_GfxLock") || (s->flags & SCREEN_LOCKED)) return;
  if (s->driver && s->driver->lock) s->driver->lock();
  s->flags |= SCREEN_LOCKED;
}

void vox_GfxUnlock(int32_t first, int32_t last) {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (!s || !vox_hProgramThread("vox_GfxUnlock")) return;
  if (first < 0) first = 0;
  if (last < 0) last = s->height - 1;
  if (vox_hContext()->work_page == s->visible_page && first <= last && last < s->height) {
    // The presentation thread clears these bytes under the lock, so mark them under it too.
    vox_hAutoLock();
    std::memset(s->dirty + first, 1, static_cast<size_t>(last - first + 1));
    vox_hAutoUnlock();
  }
  if (s->flags & SCREEN_LOCKED) release_lock(s);
}

namespace {
int32_t screen_list(int32_t depth) {
  if (depth > 0) {
    g_modes.clear();
    for (const VOX_GFX_DRIVER* const* d = __vox_gfx_drivers; *d; ++d) {
      if (!(*d)->fetch_modes) continue;
      int32_t count = 0;
      int32_t* modes = (*d)->fetch_modes(depth, &count);
      for (int32_t i = 0; modes && i < count; ++i) {
        if (std::find(g_modes.begin(), g_modes.end(), modes[i]) == g_modes.end()) {
          g_modes.push_back(modes[i]);
        }
      }
      std::free(modes);
    }
    // Widths compare as signed, heights as unsigned 16-bit values.
    std::sort(g_modes.begin(), g_modes.end(), [](int32_t a, int32_t b) {
      if ((a >> 16) != (b >> 16)) return (a >> 16) < (b >> 16);
      return static_cast<uint16_t>(a) < static_cast<uint16_t>(b);
    });
    g_modes_built = true;
    g_mode_position = 0;
  }
  if (!g_modes_built || g_mode_position >= g_modes.size()) {
    g_mode_position = g_modes.size() + 1;  // stays exhausted until the next rebuild
    return 0;
  }
  return g_modes[g_mode_position++];
}
}  // namespace

// The display's modes are the world's: a session keeps each answer.
int32_t vox_GfxScreenList(int32_t depth) {
  if (!vox_hProgramThread("vox_GfxScreenList")) return 0;
  int32_t v[2] = {3, screen_list(depth)};
  KASTREL::FILTERREADING(KASTREL::READDISPLAY, v, 2);
  return v[1];
}

void vox_GfxSetScale(int32_t scale) {
  if (!vox_hProgramThread("vox_GfxSetScale")) return;
  if (scale < 0 || scale > 16) {
    KASTREL::SETLASTERROR("picture scale %d is out of range (0 for auto, or 1 to 16)", scale);
    vox_hSetError(1);
    return;
  }
  __vox_gfx_scale = scale;
  if (__vox_gfx != nullptr && __vox_gfx->driver != nullptr && __vox_gfx->driver->set_display)
    __vox_gfx->driver->set_display(-2, scale);
  vox_hSetError(0);
}

void vox_GfxSetPresentation(int32_t presentation) {
  if (!vox_hProgramThread("vox_GfxSetPresentation")) return;
  if (presentation != PRESENT_PASS && presentation != PRESENT_VSYNC) {
    KASTREL::SETLASTERROR("presentation %d is not one of PRESENT_PASS (0) and PRESENT_VSYNC (1)",
                          presentation);
    vox_hSetError(1);
    return;
  }
  __vox_gfx_present = presentation;
  vox_hSetError(0);
}

void vox_GfxSetPassThread(int32_t thread) {
  if (!vox_hProgramThread("vox_GfxSetPassThread")) return;
  if (thread != PASS_OWN_THREAD && thread != PASS_GAME_THREAD) {
    KASTREL::SETLASTERROR(
        "pass thread %d is not one of PASS_OWN_THREAD (0) and PASS_GAME_THREAD (1)", thread);
    vox_hSetError(1);
    return;
  }
  __vox_gfx_pass_thread = thread;
  vox_hSetError(0);
}

namespace {
const VOX_GFX_DRIVER* open_driver() { return __vox_gfx ? __vox_gfx->driver : nullptr; }
}  // namespace

// Readings of the world outside the program, recorded and replayed as input readings are.
int32_t vox_GfxPresentCount() {
  const VOX_GFX_DRIVER* d = open_driver();
  int32_t v[2] = {0, d && d->present_count ? d->present_count() : 0};
  KASTREL::FILTERREADING(KASTREL::READDISPLAY, v, 2);
  return v[1];
}

int32_t vox_GfxShownCount() {
  const VOX_GFX_DRIVER* d = open_driver();
  int32_t v[2] = {2, d && d->shown_count ? d->shown_count() : 0};
  KASTREL::FILTERREADING(KASTREL::READDISPLAY, v, 2);
  return v[1];
}

int32_t vox_GfxPresentPass() {
  const VOX_GFX_DRIVER* d = open_driver();
  return d && d->present_pass && d->wait_present ? d->present_pass() : -1;
}

void vox_GfxWaitPresent(int32_t pass) {
  const VOX_GFX_DRIVER* d = open_driver();
  if (pass >= 0 && d && d->present_pass && d->wait_present) d->wait_present(pass);
}

void vox_GfxSetFullscreen(int32_t mode) {
  if (!vox_hProgramThread("vox_GfxSetFullscreen")) return;
  const VOX_GFX_DRIVER* driver = __vox_gfx != nullptr ? __vox_gfx->driver : nullptr;
  const int32_t state = mode < -1 || mode > 1 || driver == nullptr || driver->set_display == nullptr
                            ? -1
                            : driver->set_display(mode, -1);
  if (state == -2) {  // refused by the display; the driver said why
    KASTREL::SETLASTERROR("vox_GfxSetFullscreen(%d): %s", mode,
                          std::string(KASTREL::LASTERROR()).c_str());
    vox_hSetError(1);
    return;
  }
  if (state < 0) {
    KASTREL::SETLASTERROR("vox_GfxSetFullscreen(%d): %s", mode,
                          mode < -1 || mode > 1 ? "the mode is 1, 0 or -1" : "no window is open");
    vox_hSetError(1);
    return;
  }
  vox_hSetError(0);
}

int32_t vox_GfxFullscreen() {
  const VOX_GFX_DRIVER* driver = __vox_gfx != nullptr ? __vox_gfx->driver : nullptr;
  int32_t v[2] = {1, driver != nullptr && driver->set_display != nullptr &&
                         driver->set_display(-2, -1) == 1};
  KASTREL::FILTERREADING(KASTREL::READDISPLAY, v, 2);
  return v[1];
}

void vox_GfxSetWindowTitle(const char* title) {
  if (!vox_hProgramThread("vox_GfxSetWindowTitle")) return;
  const size_t length = title ? strnlen(title, 127) : 0;
  std::memset(g_title, 0, sizeof(g_title));
  if (length) std::memcpy(g_title, title, length);
  g_title_ptr = g_title;
  if (__vox_gfx && __vox_gfx->driver && __vox_gfx->driver->set_window_title) {
    __vox_gfx->driver->set_window_title(g_title);
  }
}
