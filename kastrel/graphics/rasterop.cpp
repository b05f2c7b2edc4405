#include "kastrel/graphics/rasterop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/clip.h"
#include "kastrel/graphics/detail/put_inside.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

namespace {

int depth_index(int32_t bpp) { return bpp == 1 ? 0 : bpp == 2 ? 1 : bpp == 4 ? 2 : -1; }

// Every public row routine runs its mode's loop for the depth of the target being drawn on.
void run_rows(int32_t mode, const uint8_t* s, uint8_t* t, int32_t w, int32_t h, int32_t sp,
              int32_t tp, int32_t alpha, VOX_BLENDER blender, void* param) {
  const int index = depth_index(vox_hContext()->target_bpp);
  if (index >= 0) vox_hRowTable()[mode][index](s, t, w, h, sp, tp, alpha, blender, param);
}

// Half away from zero; far-off positions only need to stay far off. Clamping before the
// conversion (which truncates) gives what truncating first would, without a call to trunc.
int64_t round_position(float v) {
  const double d = v;
  return static_cast<int64_t>(std::clamp(d >= 0 ? d + 0.5 : d - 0.5, -4.0e12, 4.0e12));
}

int32_t fail() {
  vox_hSetError(1);
  return 1;
}

int32_t succeed() {
  vox_hSetError(0);
  return 0;
}

}  // namespace

#define ROW_ROUTINE(NAME, MODE)                                                         \
  void NAME(const uint8_t* s, uint8_t* t, int32_t w, int32_t h, int32_t sp, int32_t tp, \
            int32_t alpha, VOX_BLENDER blender, void* param) {                          \
    run_rows(MODE, s, t, w, h, sp, tp, alpha, blender, param);                          \
  }
ROW_ROUTINE(vox_hPutTrans, PUT_TRANS)
ROW_ROUTINE(vox_hPutPSet, PUT_PSET)
ROW_ROUTINE(vox_hPutPReset, PUT_PRESET)
ROW_ROUTINE(vox_hPutAnd, PUT_AND)
ROW_ROUTINE(vox_hPutOr, PUT_OR)
ROW_ROUTINE(vox_hPutXor, PUT_XOR)
ROW_ROUTINE(vox_hPutAlpha, PUT_ALPHA)
ROW_ROUTINE(vox_hPutAdd, PUT_ADD)
ROW_ROUTINE(vox_hPutCustom, PUT_CUSTOM)
#undef ROW_ROUTINE

namespace {

// The mode whose loops a built-in row routine runs, or -1 for any other routine. vox_GfxPut
// calls the loop itself, sparing the routine's own look-ups on every small blit. The routine of
// the blit's own mode is by far the usual one and is checked first.
int builtin_mode(VOX_PUT_ROUTINE routine, int32_t mode) {
  if (vox_gfxRoutineOfMode[mode] == routine) return mode;
  for (int builtin = 0; builtin < PUT_MODES; ++builtin)
    if (vox_gfxRoutineOfMode[builtin] == routine) return builtin;
  return -1;
}

// vox_GfxPut's arguments in one record: the general way reads them from memory, so that the
// short way keeps its registers.
struct PUT_CALL {
  void* target;
  const void* source;
  float x, y;
  int32_t x1, y1, x2, y2, coordinate_type, mode;
  VOX_PUT_ROUTINE routine;
  int32_t alpha;
  VOX_BLENDER blender;
  void* param;
};
[[gnu::noinline]] int32_t put_general(const PUT_CALL& c);

}  // namespace

void vox_hPutAlphaMask(const uint8_t* s, uint8_t* t, int32_t w, int32_t h, int32_t sp, int32_t tp,
                       int32_t alpha, VOX_BLENDER blender, void* param) {
  if (vox_hContext()->target_bpp == 4)
    vox_gfxRowAlphaMask(s, t, w, h, sp, tp, alpha, blender, param);
}

int32_t vox_GfxPut(void* target, float x, float y, const void* source, int32_t x1, int32_t y1,
                   int32_t x2, int32_t y2, int32_t coordinate_type, int32_t mode,
                   VOX_PUT_ROUTINE routine, int32_t alpha, VOX_BLENDER blender, void* param) {
  int32_t dx, dy;
  const auto m = static_cast<uint32_t>(mode);
  if (static_cast<uint32_t>(coordinate_type) <= PUT_RELATIVE_CORNER && m < PUT_CUSTOM &&
      vox_gfxRoutineOfMode[m] == routine && vox_hWholePixels(x, &dx) && vox_hWholePixels(y, &dy) &&
      vox_hPutInside(target, dx, dy, x, y, source, x1, y1, x2, y2,
                     coordinate_type == PUT_RELATIVE_CORNER, m, alpha, blender, param)) {
    return 0;
  }
  return put_general({target, source, x, y, x1, y1, x2, y2, coordinate_type, mode, routine, alpha,
                      blender, param});
}

namespace {

int32_t put_general(const PUT_CALL& c) {
  void* const target = c.target;
  const void* const source = c.source;
  float x = c.x, y = c.y;
  int32_t x1 = c.x1, y1 = c.y1, x2 = c.x2, y2 = c.y2;
  const int32_t coordinate_type = c.coordinate_type, mode = c.mode;
  VOX_PUT_ROUTINE routine = c.routine;
  VOX_GFX_CONTEXT* context = vox_hContext();
  VOX_GFX_SCREEN* screen = __vox_gfx;
  // Images need no screen; the screen as target and compact headers of its depth do.
  if ((!screen && !target) || !source || !routine || mode < 0 || mode >= PUT_MODES || coordinate_type < 0 ||
      coordinate_type > PUT_RELATIVE || (routine == vox_hPutCustom && !c.blender)) {
    return fail();
  }
  if (!target && !vox_hProgramThread("vox_GfxPut")) return 1;

  // The target and its view: the screen keeps its own, an image is its own view.
  VOX_IMAGE_INFO dst;
  int64_t view_x = 0, view_y = 0, view_w, view_h;
  if (!target) {
    dst = {screen->bytes_per_pixel, screen->width, screen->height, screen->pitch,
           screen->pages[context->work_page]};
    view_x = context->view_x;
    view_y = context->view_y;
    view_w = context->view_w;
    view_h = context->view_h;
  } else {
    if (!vox_hImageInfo(target, screen ? screen->bytes_per_pixel : 0, &dst)) return fail();
    view_w = dst.width;
    view_h = dst.height;
  }
  context->target_bpp = dst.bpp;
  context->target_pitch = dst.pitch;

  if (coordinate_type & PUT_RELATIVE_POSITION) {
    x += context->last_x;
    y += context->last_y;
  }
  context->last_x = x;
  context->last_y = y;
  if (coordinate_type & PUT_RELATIVE_CORNER) {
    x2 = static_cast<int32_t>(static_cast<uint32_t>(x2) + static_cast<uint32_t>(x1));
    y2 = static_cast<int32_t>(static_cast<uint32_t>(y2) + static_cast<uint32_t>(y1));
  }
  if (std::isnan(x) || std::isnan(y)) return fail();
  int64_t dx = round_position(x) + view_x;
  int64_t dy = round_position(y) + view_y;

  VOX_IMAGE_INFO src;
  if (!vox_hImageInfo(source, dst.bpp, &src)) return fail();
  if (src.bpp != dst.bpp) {
    if (mode != PUT_ALPHA || src.bpp != 1 || dst.bpp != 4) return fail();
    routine = vox_hPutAlphaMask;
  }

  // The source rectangle, corners in any order, clamped to the source.
  int64_t sx = 0, sy = 0, w = src.width, h = src.height;
  if (x1 != PUT_WHOLE_SOURCE) {
    if (src.width == 0 || src.height == 0) return succeed();
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    x1 = std::clamp(x1, 0, src.width - 1);
    x2 = std::clamp(x2, 0, src.width - 1);
    y1 = std::clamp(y1, 0, src.height - 1);
    y2 = std::clamp(y2, 0, src.height - 1);
    sx = x1;
    sy = y1;
    w = int64_t{x2} - x1 + 1;
    h = int64_t{y2} - y1 + 1;
  }

  // Clip to the target's clip within the view, [left, right) x [top, bottom).
  const KASTREL::GRAPHICS::DETAIL::CLIPBOX clip = KASTREL::GRAPHICS::DETAIL::clip_of(target, view_w, view_h);
  const int64_t left = view_x + clip.x0, top = view_y + clip.y0;
  const int64_t right = view_x + clip.x1, bottom = view_y + clip.y1;
  if (w <= 0 || h <= 0 || dx >= right || dy >= bottom || dx + w <= left || dy + h <= top) {
    return succeed();
  }
  if (dx < left) {
    sx += left - dx;
    w -= left - dx;
    dx = left;
  }
  if (dy < top) {
    sy += top - dy;
    h -= top - dy;
    dy = top;
  }
  w = std::min(w, right - dx);
  h = std::min(h, bottom - dy);

  const int builtin = builtin_mode(routine, mode);
  if (builtin >= 0) routine = vox_hRowTable()[builtin][depth_index(dst.bpp)];
  vox_hAutoLock();
  routine(src.pixels + sy * src.pitch + sx * src.bpp, dst.pixels + dy * dst.pitch + dx * dst.bpp,
          static_cast<int32_t>(w), static_cast<int32_t>(h), src.pitch, dst.pitch, c.alpha,
          c.blender, c.param);
  if (!target && context->work_page == screen->visible_page) {
    std::memset(screen->dirty + dy, 1, static_cast<size_t>(h));
  }
  vox_hAutoUnlock();
  return succeed();
}

}  // namespace
