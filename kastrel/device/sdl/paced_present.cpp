#include "kastrel/device/sdl/paced_present.h"

#include <SDL2/SDL.h>

#include "kastrel/base/detail/platform.h"
#if defined(__linux__)
#include <dirent.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/sdl/frame_rows.h"

namespace {

using Clock = std::chrono::steady_clock;

// Presents after opening, back to back, whose intervals tell whether the present waits.
constexpr int PROBE_PRESENTS = 10;
// Presents in a row that come back far sooner than a refresh: the display stopped waiting.
constexpr int FAST_RUN = 4;
// The longest a frame loop waits for a pass that does not come (a window being re-made).
constexpr auto WAIT_LIMIT = std::chrono::milliseconds(100);

enum class Pacing { PROBE, DISPLAY, TIMER };

struct Paced {
  std::atomic<bool> on{false};
  std::atomic<int32_t> presents{0};
  std::atomic<int32_t> shown_count{0};
  // Passes under the lock; the frame loop waits on them.
  std::mutex m;
  std::condition_variable cv;
  int32_t passes = 0;

  // Presentation thread only.
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int32_t width = 0, height = 0;
  std::vector<uint32_t> row;
  bool software = false;  // SDL's software renderer
  int32_t scale = 1;      // of the texture's pixels: the window's on the software renderer
  bool locked = false;    // the texture's band is open for the copy, until the show
  bool changed = false;   // a row of it changed
  SDL_Rect shown{};       // where the picture went last time
  std::atomic<bool> redraw{false};  // the window needs the picture again
  Pacing pacing = Pacing::PROBE;
  int probe_left = 0;
  std::vector<Clock::duration> intervals;
  Clock::duration period{};
  Clock::time_point last_present{}, deadline{};
  bool presented_last = false;
  int fast = 0;
};

Paced g;

int32_t wrap(int32_t n) { return n & 0x7FFFFFFF; }

// A window event after which the picture on show may be gone or misplaced.
int SDLCALL watch_window(void*, SDL_Event* event) {
  if (event->type == SDL_RENDER_TARGETS_RESET || event->type == SDL_RENDER_DEVICE_RESET ||
      (event->type == SDL_WINDOWEVENT && event->window.event != SDL_WINDOWEVENT_MOVED)) {
    g.redraw.store(true, std::memory_order_relaxed);
  }
  return 1;
}

bool on_wayland() {
  const char* video = SDL_GetCurrentVideoDriver();
  return video != nullptr && std::strcmp(video, "wayland") == 0;
}

// Whether the machine has a graphics device at all: without one, OpenGL can only be a software
// rasteriser, which costs more than SDL's own software renderer and waits for nothing either.
bool have_gpu() {
#if !defined(__linux__)
  return true;  // a desktop elsewhere draws OpenGL on its graphics card
#else
  DIR* dir = opendir("/dev/dri");
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) found = found || entry->d_name[0] != '.';
  closedir(dir);
  return found;
#endif
}

// The same found out afterwards (an X server without direct rendering, as Xvfb). Wayland has no
// other way to its compositor's frame callbacks, so it keeps OpenGL whatever draws it.
bool software_gl(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(renderer, &info) != 0 || std::strncmp(info.name, "opengl", 6) != 0)
    return false;
  if (on_wayland()) return false;
  using GetString = const unsigned char* (*)(unsigned);
  auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  const char* name = get != nullptr ? reinterpret_cast<const char*>(get(0x1F01)) : nullptr;
  return name != nullptr &&
         (std::strstr(name, "llvmpipe") != nullptr || std::strstr(name, "softpipe") != nullptr ||
          std::strstr(name, "swrast") != nullptr);
}

SDL_Renderer* make_renderer(SDL_Window* window) {
  const Uint32 vsync = SDL_RENDERER_PRESENTVSYNC;
  SDL_Renderer* r = nullptr;
  if (on_wayland() || have_gpu())
    r = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | vsync);
  if (r != nullptr && software_gl(r)) {
    SDL_DestroyRenderer(r);
    r = nullptr;
  }
  if (r == nullptr) r = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE | vsync);
  return r;
}

int refresh_rate(SDL_Window* window) {
  SDL_DisplayMode mode;
  const int index = SDL_GetWindowDisplayIndex(window);
  return SDL_GetCurrentDisplayMode(index < 0 ? 0 : index, &mode) == 0 ? mode.refresh_rate : 0;
}

void unlock_texture() {
  if (g.locked) SDL_UnlockTexture(g.texture);
  g.locked = false;
}

// The texture for pictures at `scale`, black to begin with; from then on its own rows are what
// the copy compares with. SDL's software renderer stretches slowly, so there the copy widens
// the rows itself into a texture of the window's scale; a GPU scales for nothing.
bool make_texture(int32_t scale) {
  unlock_texture();
  if (g.texture != nullptr) SDL_DestroyTexture(g.texture);
  const int32_t w = g.width * scale, h = g.height * scale;
  g.texture =
      SDL_CreateTexture(g.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
  void* pixels = nullptr;
  int pitch = 0;
  if (g.texture == nullptr || SDL_LockTexture(g.texture, nullptr, &pixels, &pitch) != 0)
    return false;
  for (int32_t y = 0; y < h; ++y)
    std::fill_n(reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) + size_t(y) * pitch), w,
                0xFF000000u);
  SDL_UnlockTexture(g.texture);
  SDL_SetTextureBlendMode(g.texture, SDL_BLENDMODE_NONE);
  g.scale = scale;
  return true;
}

// The timer's next pass: one period on, or now again after falling more than a period behind.
Clock::time_point timer_next(Clock::time_point now) {
  g.deadline += g.period;
  if (g.deadline + g.period < now) g.deadline = now;
  return g.deadline;
}

// After a present: whether it waited for the display, first from the probe's intervals, then
// by watching for a run of presents that come back far too soon.
Clock::time_point after_present(Clock::time_point now) {
  const bool have = g.presented_last;
  const Clock::duration interval = now - g.last_present;
  g.presented_last = true;
  g.last_present = now;
  switch (g.pacing) {
    case Pacing::PROBE:
      if (have) g.intervals.push_back(interval);
      if (--g.probe_left > 0) return now;
      std::sort(g.intervals.begin(), g.intervals.end());
      g.pacing = !g.intervals.empty() && g.intervals[g.intervals.size() / 2] * 4 >= g.period * 3
                     ? Pacing::DISPLAY
                     : Pacing::TIMER;
      g.deadline = now;
      return now;
    case Pacing::DISPLAY:
      g.fast = have && interval * 2 < g.period ? g.fast + 1 : 0;
      if (g.fast < FAST_RUN) return now;
      g.pacing = Pacing::TIMER;
      g.deadline = now;
      return timer_next(now);
    case Pacing::TIMER:
      break;
  }
  return timer_next(now);
}

}  // namespace

int32_t vox_present_request(const char* env, int32_t game) {
  if (env != nullptr && SDL_strcasecmp(env, "vsync") == 0) return 1;
  if (env != nullptr && SDL_strcasecmp(env, "25ms") == 0) return 0;
  return game;
}

void vox_paced_start(int32_t flags) {
  const int32_t game = __vox_gfx_present >= 0 ? __vox_gfx_present : (flags & MODE_VSYNC) ? 1 : 0;
  // A shaped window's outline follows the picture, which only the 25 ms pass keeps.
  std::string asked;
  const bool present = KASTREL::PLATFORM::GETENVIRONMENT("KASTREL_PRESENT", &asked);
  const bool paced =
      !(flags & MODE_SHAPED) && vox_present_request(present ? asked.c_str() : nullptr, game) == 1;
  g.on.store(paced);
  g.presents.store(0);
  g.shown_count.store(0);
  std::lock_guard l(g.m);
  g.passes = 0;
}

bool vox_paced_on() { return g.on.load(std::memory_order_relaxed); }

bool vox_paced_open(SDL_Window* window, int32_t width, int32_t height, int32_t* out_w,
                    int32_t* out_h) {
  vox_paced_close();
  SDL_Renderer* renderer = make_renderer(window);
  if (renderer == nullptr || !vox_paced_attach(renderer, width, height, refresh_rate(window)) ||
      SDL_GetRendererOutputSize(renderer, out_w, out_h) != 0) {
    KASTREL::SETLASTERROR("SDL driver: no renderer for the paced presentation: %s", SDL_GetError());
    if (g.renderer == nullptr && renderer != nullptr) SDL_DestroyRenderer(renderer);
    vox_paced_close();
    return false;
  }
  SDL_AddEventWatch(watch_window, nullptr);
  return true;
}

bool vox_paced_attach(SDL_Renderer* renderer, int32_t width, int32_t height, int32_t hz) {
  SDL_RendererInfo info;
  g.renderer = renderer;
  g.software = SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE);
  g.width = width;
  g.height = height;
  g.row.resize(static_cast<size_t>(width));
  if (!make_texture(1)) {
    if (g.texture != nullptr) SDL_DestroyTexture(g.texture);
    g.texture = nullptr;
    g.renderer = nullptr;
    return false;
  }
  g.changed = false;
  g.shown = SDL_Rect{};
  g.pacing = Pacing::PROBE;
  g.probe_left = PROBE_PRESENTS;
  g.intervals.clear();
  g.presented_last = false;
  g.fast = 0;
  if (hz <= 0 || hz > 1000) hz = 60;
  g.period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
  return true;
}

void vox_paced_close() {
  if (g.renderer == nullptr) return;
  SDL_DelEventWatch(watch_window, nullptr);
  unlock_texture();
  if (g.texture != nullptr) SDL_DestroyTexture(g.texture);
  SDL_DestroyRenderer(g.renderer);
  g.texture = nullptr;
  g.renderer = nullptr;
}

void vox_paced_copy(const VOX_GFX_SCREEN* s, const uint32_t* palette, int32_t scale) {
  const int32_t n = g.software ? std::clamp(scale, 1, 16) : 1;
  int32_t first = 0, last = g.height - 1;
  void* pixels = nullptr;
  int pitch = 0;
  bool open = false;
  if (g.renderer != nullptr && !g.locked && s->width == g.width && s->height >= g.height) {
    // A new texture starts black: every row goes in, named or not.
    const bool fresh = n != g.scale && make_texture(n);
    if (g.texture != nullptr && (fresh || vox_dirty_band(s->dirty, g.height, &first, &last))) {
      const SDL_Rect band{0, first * n, g.width * n, (last - first + 1) * n};
      g.locked = open = SDL_LockTexture(g.texture, &band, &pixels, &pitch) == 0;
    }
  }
  if (open) {
    // The engine names every line after every pass: only rows that differ from the texture's
    // are written (SDL keeps a streaming texture's pixels between locks; had it not, a row would
    // only be written needlessly), and a band without any is not shown again.
    const size_t bytes = static_cast<size_t>(g.width) * 4;
    for (int32_t y = first; y <= last; ++y) {
      const uint8_t* src = s->framebuffer + static_cast<size_t>(y) * s->pitch;
      auto* kept = static_cast<uint8_t*>(pixels) + static_cast<size_t>(y - first) * n * pitch;
      if (s->bytes_per_pixel != 4) {
        vox_row_to_xrgb(src, s->bytes_per_pixel, g.width, palette, g.row.data());
        src = reinterpret_cast<const uint8_t*>(g.row.data());
      }
      if (n > 1) {
        // A widened row was written whole (alpha dropped): its block's first pixels tell
        // whether it changed.
        const auto* from = reinterpret_cast<const uint32_t*>(src);
        const auto* block = reinterpret_cast<const uint32_t*>(kept);
        int32_t x = 0;
        while (x < g.width && ((block[x * n] ^ from[x]) & 0xFFFFFFu) == 0) ++x;
        if (x == g.width) continue;
        vox_scale_row_xrgb32(src, g.width, n, reinterpret_cast<uint32_t*>(kept),
                             static_cast<size_t>(pitch) / 4, n);
        g.changed = true;
        continue;
      }
      if (std::memcmp(kept, src, bytes) == 0) continue;
      std::memcpy(kept, src, bytes);
      g.changed = true;
    }
  }
  {
    std::lock_guard l(g.m);
    g.passes = wrap(g.passes + 1);
  }
  g.cv.notify_all();
}

std::chrono::steady_clock::time_point vox_paced_show(const VOX_SCALE_LAYOUT& layout) {
  Clock::time_point now = Clock::now();
  if (g.renderer == nullptr) return now + std::chrono::milliseconds(16);
  const SDL_Rect dst{layout.x, layout.y, g.width * layout.scale, g.height * layout.scale};
  const bool redraw = g.redraw.exchange(false) || g.probe_left > 0 || g.changed ||
                      dst.x != g.shown.x || dst.y != g.shown.y || dst.w != g.shown.w ||
                      dst.h != g.shown.h;
  unlock_texture();  // uploads the band where the texture lives elsewhere
  g.changed = false;
  vox_sdl_shown();  // this refresh shows the picture, new or not
  if (!redraw) {
    // Nothing new to show: the next pass comes when the next refresh would.
    g.presented_last = false;
    if (g.pacing != Pacing::DISPLAY) return timer_next(now);
    Clock::time_point next = g.last_present + g.period;
    while (next <= now) next += g.period;
    return next;
  }
  SDL_SetRenderDrawColor(g.renderer, 0, 0, 0, 255);
  SDL_RenderClear(g.renderer);
  SDL_RenderCopy(g.renderer, g.texture, nullptr, &dst);
  SDL_RenderPresent(g.renderer);
  g.shown = dst;
  g.presents.store(wrap(g.presents.load(std::memory_order_relaxed) + 1));
  return after_present(Clock::now());
}

void vox_sdl_presented() { g.presents.store(wrap(g.presents.load(std::memory_order_relaxed) + 1)); }

int32_t vox_paced_present_count() { return g.presents.load(); }

void vox_sdl_shown() { g.shown_count.store(wrap(g.shown_count.load(std::memory_order_relaxed) + 1)); }
int32_t vox_paced_shown_count() { return g.shown_count.load(); }

int32_t vox_paced_pass() {
  if (!vox_paced_on()) return -1;
  std::lock_guard l(g.m);
  return g.passes;
}

void vox_paced_wait(int32_t pass) {
  std::unique_lock l(g.m);
  g.cv.wait_for(l, WAIT_LIMIT, [&] { return g.passes != pass || !vox_paced_on(); });
}
