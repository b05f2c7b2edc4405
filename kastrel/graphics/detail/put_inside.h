#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
// x86 only: WebAssembly builds this conversion slowly, and traps where it is out of range.
#if defined(__SSE__) && (defined(__x86_64__) || defined(__i386__))
#define KASTREL_CVTT_SS 1
#include <xmmintrin.h>
#endif

#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"

// Inside the graphics layer: the blit's short way, inline in vox_GfxPut and in DRAWTO. On a
// small sprite the work around the row loop costs about what its pixels do.

inline constexpr VOX_PUT_ROUTINE vox_gfxRoutineOfMode[PUT_MODES] = {
    vox_hPutTrans, vox_hPutPSet,  vox_hPutPReset, vox_hPutAnd,   vox_hPutOr,
    vox_hPutXor,   vox_hPutAlpha, vox_hPutAdd,    vox_hPutCustom};

// x as a whole number of pixels, when it is one (NaN and far-off positions are not).
inline bool vox_hWholePixels(float x, int32_t* out) {
#if KASTREL_CVTT_SS
  const int32_t i = _mm_cvtt_ss2si(_mm_set_ss(x));  // out of range: INT32_MIN, never equal
#else
  if (!(x > -2147483648.0f && x < 2147483648.0f)) return false;
  const int32_t i = static_cast<int32_t>(x);
#endif
  *out = i;
  return static_cast<float>(i) == x;
}

inline uint32_t vox_hHeaderField(const uint8_t* header, int offset) {
  uint32_t v;
  std::memcpy(&v, header + offset, 4);
  return v;
}

// The short way: a 32-bit image onto a 32-bit image (both with the 32-byte header, sides below
// 2^24 pixels), wholly inside the target, by a built-in routine other than CUSTOM's, while the
// screen lock is held (the frame loop holds it). Nothing then needs clipping, locking or
// marking, and every check here is one the general way makes too.
//
// Does what vox_GfxPut(target, x, y, source, x1, y1, x2, y2, coordinate type 0, or 1 when
// relative_corner, mode, mode's own routine, alpha, blender, param) does and returns true, given
// a mode below PUT_CUSTOM and (dx, dy), the position (x, y) in whole pixels, which the caller
// has found whole. Returns false, having done nothing, for any other blit.
[[gnu::always_inline]] inline bool vox_hPutInside(void* target, int32_t dx, int32_t dy, float x,
                                                  float y, const void* source, int32_t x1,
                                                  int32_t y1, int32_t x2, int32_t y2,
                                                  bool relative_corner, uint32_t mode,
                                                  int32_t alpha, VOX_BLENDER blender, void* param) {
  // The lock flags are the program thread's: another thread takes the general way, which
  // refuses it the screen.
  const VOX_GFX_SCREEN* screen = __vox_gfx;
  if (!screen || !target || !source) return false;
  VOX_GFX_THREAD* self = vox_hThread();
  if (!self->context.program_thread || (screen->flags & (SCREEN_LOCKED | SCREEN_AUTO_LOCKED)) == 0)
    return false;
  auto* t = static_cast<uint8_t*>(target);
  const auto* s = static_cast<const uint8_t*>(source);
  // A compact header may be all the block has: its first word decides.
  if (vox_hHeaderField(t, 0) != VOX_IMAGE_TYPE || vox_hHeaderField(s, 0) != VOX_IMAGE_TYPE ||
      vox_hHeaderField(t, 4) != 4 || vox_hHeaderField(s, 4) != 4) {
    return false;
  }
  // The source: sides from 1 to 2^24 (an empty source draws nothing, the general way's
  // business), a pitch that holds a row and fits int32.
  uint32_t w = vox_hHeaderField(s, 8), h = vox_hHeaderField(s, 12);
  const uint32_t sp = vox_hHeaderField(s, 16);
  if (((w - 1) | (h - 1)) >> 24 || sp < w * 4 || static_cast<int32_t>(sp) < 0) return false;
  // The rectangle: corners in order, from 0 to 2^30 so that the relative corner cannot wrap,
  // clamped to the source.
  const uint8_t* from = s + 32;
  // From (0, 0) to at least the last pixel, as DRAWTO of a whole bitmap asks, is the whole.
  const bool whole =
      x1 == PUT_WHOLE_SOURCE ||
      ((x1 | y1) == 0 && x2 >= static_cast<int32_t>(w) - 1 && y2 >= static_cast<int32_t>(h) - 1);
  if (!whole) {
    uint32_t sx = static_cast<uint32_t>(x1), sy = static_cast<uint32_t>(y1);
    uint32_t ex = static_cast<uint32_t>(x2), ey = static_cast<uint32_t>(y2);
    if ((sx | sy | ex | ey) >> 30) return false;
    if (relative_corner) {
      ex += sx;
      ey += sy;
    } else if (ex < sx || ey < sy) {
      return false;
    }
    sx = std::min(sx, w - 1);
    sy = std::min(sy, h - 1);
    w = std::min(ex, w - 1) - sx + 1;
    h = std::min(ey, h - 1) - sy + 1;
    from += size_t{sy} * sp + sx * 4;
  }
  // A target below 2^24 pixels a side, whose pitch holds a row and fits int32.
  const uint32_t tw = vox_hHeaderField(t, 8), th = vox_hHeaderField(t, 12);
  const uint32_t tp = vox_hHeaderField(t, 16);
  if (((tw | th) >> 24) || tp < tw * 4 || static_cast<int32_t>(tp) < 0) return false;
  // Cut to the target's clip, which lies inside it; without one, wholly inside the target.
  VOX_IMAGE_CLIP clip;
  const bool clipped = vox_hImageClip(t, &clip);
  if (clipped) {
    const int64_t left = std::max<int64_t>(dx, clip.x0), top = std::max<int64_t>(dy, clip.y0);
    const int64_t right = std::min<int64_t>(int64_t{dx} + w, clip.x1);
    const int64_t bottom = std::min<int64_t>(int64_t{dy} + h, clip.y1);
    if (left >= right || top >= bottom) {
      w = 0;
    } else {
      from += size_t(top - dy) * sp + size_t(left - dx) * 4;
      dx = int32_t(left), dy = int32_t(top), w = uint32_t(right - left), h = uint32_t(bottom - top);
    }
  } else if ((dx | dy) < 0 || uint32_t(dx) + w > tw || uint32_t(dy) + h > th) {
    return false;
  }
  VOX_GFX_CONTEXT* context = &self->context;
  context->last_x = x;
  context->last_y = y;
  context->target_bpp = 4;
  context->target_pitch = static_cast<int32_t>(tp);
  if (w == 0) {
    self->error = 0;
    return true;
  }
  vox_hRowTable()[mode][2](from, t + 32 + size_t(dy) * tp + dx * 4, static_cast<int32_t>(w),
                           static_cast<int32_t>(h), static_cast<int32_t>(sp),
                           static_cast<int32_t>(tp), alpha, blender, param);
  self->error = 0;
  return true;
}
