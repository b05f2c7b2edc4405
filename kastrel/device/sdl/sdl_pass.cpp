#include <SDL2/SDL.h>
#include <SDL2/SDL_shape.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "kastrel/device/detail/relaxed_byte.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/sdl/frame_rows.h"
#include "kastrel/device/sdl/paced_present.h"
#include "kastrel/device/sdl/scaling.h"
#include "kastrel/device/sdl/sdl_driver_state.h"
#include "kastrel/device/sdl/sdl_gamepad.h"
#include "kastrel/device/sdl/sdl_input.h"
#include "kastrel/device/sdl/sdl_keys.h"
#include "kastrel/device/sdl/x11_guard.h"

namespace KASTREL::SDL_DETAIL {

// ---- the pass ----------------------------------------------------------------

namespace {

constexpr int MAX_EVENTS_PER_PASS = 4096;

void present(VOX_GFX_SCREEN* s) {
  Driver& d = g_driver;
  if (vox_paced_on()) return vox_paced_copy(s, d.palette, d.layout.scale);  // shown unlocked
  int32_t lines = std::min(d.height, s->height);
  SDL_Surface* surface = SDL_GetWindowSurface(d.window);
  if (surface == nullptr) return;
  vox_sdl_shown();  // the picture is on show this pass, new or not
  if (surface != d.shown_surface || surface->w != d.shown_w || surface->h != d.shown_h) {
    // A new or resized surface: black beyond the frame, the whole frame again.
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(d.window);
    d.shown_surface = surface;
    d.shown_w = surface->w;
    d.shown_h = surface->h;
    place_picture(surface->w, surface->h);
    std::memset(s->dirty, 1, lines);
  }
  int32_t first, last;
  if (!vox_dirty_band(s->dirty, lines, &first, &last)) return;

  // The band from the first to the last changed line goes out whole, clean lines included.
  const int32_t n = d.layout.scale;
  const int32_t left = std::max(d.layout.x, 0);
  const int32_t right = std::min<int64_t>(surface->w, d.layout.x + int64_t{s->width} * n);
  const int32_t top = std::max<int64_t>(0, d.layout.y + int64_t{first} * n);
  const int32_t bottom = std::min<int64_t>(surface->h, d.layout.y + (int64_t{last} + 1) * n);
  if (left >= right || top >= bottom) return;
  const int32_t width = right - left;
  const bool direct = surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                      surface->format->format == SDL_PIXELFORMAT_ARGB8888;
  const bool plain = n == 1 && d.layout.x == 0;
  d.row.resize(static_cast<size_t>(std::max(s->width, 1)));
  if (!plain) d.wide.resize(static_cast<size_t>(s->width) * n);
  if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
  for (int32_t wy = top; wy < bottom; ++wy) {
    const int32_t y = (wy - d.layout.y) / n;
    const bool first_copy = wy == top || (wy - d.layout.y) % n == 0;
    const uint8_t* src = s->framebuffer + static_cast<size_t>(y) * s->pitch;
    auto* dst = static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(wy) * surface->pitch +
                static_cast<size_t>(left) * surface->format->BytesPerPixel;
    const uint32_t* shown;
    if (plain && direct) {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, reinterpret_cast<uint32_t*>(dst));
      shown = nullptr;
    } else if (plain) {
      vox_row_to_xrgb(src, s->bytes_per_pixel, width, d.palette, d.row.data());
      shown = d.row.data();
    } else if (direct && s->bytes_per_pixel == 4 && left == d.layout.x && width == s->width * n) {
      // A whole 32-bit row goes straight to all its window rows at once.
      if (first_copy) {
        const int32_t rows = std::min(n - (wy - d.layout.y) % n, bottom - wy);
        vox_scale_row_xrgb32(src, s->width, n, reinterpret_cast<uint32_t*>(dst),
                             static_cast<size_t>(surface->pitch) / 4, rows);
      }
      shown = nullptr;
    } else {
      // One conversion per frame row; its copies below reuse the widened row.
      if (first_copy) {
        vox_row_to_xrgb(src, s->bytes_per_pixel, s->width, d.palette, d.row.data());
        vox_scale_row(d.row.data(), s->width, n, d.wide.data());
      }
      shown = d.wide.data() + (left - d.layout.x);
    }
    if (shown != nullptr && direct) {
      std::memcpy(dst, shown, static_cast<size_t>(width) * 4);
    } else if (shown != nullptr) {
      SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB888, shown, width * 4, surface->format->format,
                        dst, surface->pitch);
    }
    if (d.shape != nullptr && wy < d.shape->h) {
      auto* mask =
          static_cast<uint8_t*>(d.shape->pixels) + static_cast<size_t>(wy) * d.shape->pitch;
      const int32_t cut = std::min(s->width, d.shape->w / n);
      if (n == 1) {
        vox_row_to_shape(src, s->bytes_per_pixel, cut, reinterpret_cast<uint32_t*>(mask));
      } else {
        vox_row_to_shape(src, s->bytes_per_pixel, cut, d.row.data());
        // d.row is free again: the copies of this row come from d.wide.
        vox_scale_row(d.row.data(), cut, n, reinterpret_cast<uint32_t*>(mask));
      }
    }
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_Rect band{left, top, width, bottom - top};
  SDL_UpdateWindowSurfaceRects(d.window, &band, 1);
  vox_sdl_presented();
  if (d.shape != nullptr) {
    SDL_WindowShapeMode mode;
    mode.mode = ShapeModeColorKey;
    mode.parameters.colorKey = SDL_Color{255, 0, 255, 255};
    SDL_SetWindowShape(d.window, d.shape, &mode);
  }
}

// Scaled pictures: pointer positions become frame-buffer pixels before translation, so
// events, vox_GetMouse and hit tests never see window pixels.
void pointer_to_frame(SDL_Event& event) {
  Driver& d = g_driver;
  if (!scaled()) return;
  int32_t* x = nullptr;
  int32_t* y = nullptr;
  if (event.type == SDL_MOUSEMOTION) {
    x = &event.motion.x;
    y = &event.motion.y;
  } else if (event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) {
    x = &event.button.x;
    y = &event.button.y;
  }
  if (x != nullptr) vox_scale_to_frame(d.layout, d.width, d.height, *x, *y, x, y);
  // The client area, as the translation sees it, is the frame.
  d.input.window_w = d.width;
  d.input.window_h = d.height;
}

}  // namespace

// Confinement keeps the pointer on the picture, not on the black border around it.
void set_grab(bool on) {
  Driver& d = g_driver;
  if (on && scaled()) {
    const VOX_SCALE_LAYOUT& l = d.layout;
    SDL_Rect picture{std::max(l.x, 0), std::max(l.y, 0), std::min(d.width * l.scale, l.win_w),
                     std::min(d.height * l.scale, l.win_h)};
    SDL_SetWindowMouseRect(d.window, &picture);
  } else {
    SDL_SetWindowMouseRect(d.window, nullptr);
  }
  SDL_SetWindowMouseGrab(d.window, on ? SDL_TRUE : SDL_FALSE);
}

namespace {

// Nothing stays held once the window loses the focus (SDL resets its own keyboard too).
void release_on_blur() {
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (s != nullptr && s->key_state != nullptr) {
    for (int i = 0; i < KEY_STATE_SIZE; ++i)
      vox_relaxed_store(&s->key_state[i], 0);
  }
  vox_sdl_pads_release();
}

void drain_events() {
  Driver& d = g_driver;
  SDL_Event event;
  SDL_Event next;
  for (int n = 0; n < MAX_EVENTS_PER_PASS && SDL_PollEvent(&event); ++n) {
    const SDL_Event* follower = nullptr;
    if (vox_sdl_pad_event(event, d.input.focused)) continue;
    if ((event.type == SDL_KEYDOWN || event.type == SDL_MOUSEMOTION) &&
        SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
      follower = &next;
    }
    VOX_SDL_OUTPUT out;
    pointer_to_frame(event);
    if (vox_sdl_translate(event, follower, d.input, out)) {
      SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
    }
    if (out.resized && (d.scale_request != 1 || d.desktop_full)) {
      place_picture(d.input.window_w, d.input.window_h);
      d.input.window_w = d.width;
      d.input.window_h = d.height;
    }
    if (out.blurred) release_on_blur();  // the releases come before the focus loss
    if (__vox_gfx != nullptr) {
      for (int i = 0; i < out.event_count; ++i) vox_hPostEvent(&out.events[i]);
      for (int i = 0; i < out.typed_count; ++i) vox_hTypedKeyAdd(out.typed[i]);
      for (int i = 0; i < out.text_count; ++i) vox_hPostEvent(&out.text[i]);
    }
    if (d.window == nullptr) continue;
    if (out.confine && d.input.clip) set_grab(true);
    if (out.repaint && d.shown_surface != nullptr) SDL_UpdateWindowSurface(d.window);
    if (out.switch_mode) driver_set_display(-1, -1), apply_display_requests();
  }
  if (d.window != nullptr) apply_display_requests();
  vox_sdl_pads_pass(d.input.focused);
}

}  // namespace

// The X server went away or refused our window: one line, then the close box's events,
// so the game ends through its normal shut-down.
bool desktop_lost() {
  Driver& d = g_driver;
  if (d.lost) return true;
  if (!vox_x11_lost()) return false;
  d.lost = true;
  std::fprintf(stderr, "kastrel: the connection to the desktop was lost; closing the game\n");
  if (__vox_gfx != nullptr) {
    VOX::EVENT close{};
    close.TYPE = VOX::CLOSEREQUESTED;
    vox_hTypedKeyAdd(VOX_CLOSE_KEY);
    vox_hPostEvent(&close);
  }
  return true;
}

void run_pass() {
  Driver& d = g_driver;
  VOX_GFX_SCREEN* s = __vox_gfx;
  if (desktop_lost()) {
    if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 0, d.height);
    return;
  }
  if (d.palette_changed) {
    d.palette_changed = false;
    // Palette pixels already on show change colour with the palette.
    if (s != nullptr && s->bytes_per_pixel == 1) mark_all_dirty();
  }
  if (s != nullptr && d.window != nullptr && s->framebuffer != nullptr && s->dirty != nullptr) {
    present(s);
  }
  if (s != nullptr && s->dirty != nullptr) std::memset(s->dirty, 0, d.height);
  drain_events();
  // After the input: the keys read as the events just posted left them.
  if (s != nullptr && s->key_state != nullptr && d.input.active) {
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    vox_sdl_refresh_key_state(state, count, s->key_state);
  }
}

}  // namespace KASTREL::SDL_DETAIL
