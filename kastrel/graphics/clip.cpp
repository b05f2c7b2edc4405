#include "kastrel/graphics/clip.h"

#include <algorithm>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/image.h"

namespace KASTREL::GRAPHICS {

namespace DETAIL {

SCREENCLIP screen_clip;

CLIPBOX clip_of(const void* target, int64_t w, int64_t h) {
  CLIPBOX box{0, 0, w, h};
  if (!target) {
    const SCREENCLIP& c = screen_clip;
    if (!c.set || !__vox_gfx || c.screen_id != __vox_gfx->id) return box;
    box = {std::max<int64_t>(c.x0, 0), std::max<int64_t>(c.y0, 0), std::min(c.x1, w),
           std::min(c.y1, h)};
  } else {
    VOX_IMAGE_CLIP c;
    if (!vox_hImageClip(target, &c)) return box;
    box = {std::max<int64_t>(c.x0, 0), std::max<int64_t>(c.y0, 0), std::min<int64_t>(c.x1, w),
           std::min<int64_t>(c.y1, h)};
  }
  if (box.x1 <= box.x0 || box.y1 <= box.y0) box = {0, 0, 0, 0};
  return box;
}

}  // namespace DETAIL

namespace {

// The target's size and whether its clip may be changed here; false with a reason otherwise.
bool target_of(void* DEST, const char* call, int64_t* w, int64_t* h) {
  if (!DEST) {
    if (!__vox_gfx) {
      SETLASTERROR("%s: no screen is open", call);
      return false;
    }
    if (!vox_hProgramThread(call)) return false;
    const VOX_GFX_CONTEXT* context = vox_hContext();
    *w = context->view_w;
    *h = context->view_h;
    return true;
  }
  VOX_IMAGE_INFO info;
  uint32_t type;
  std::memcpy(&type, DEST, 4);
  if (type != VOX_IMAGE_TYPE || !vox_hImageInfo(DEST, 4, &info)) {
    SETLASTERROR("%s: the target is not an image buffer with the 32-byte header", call);
    return false;
  }
  if (info.width > VOX_IMAGE_CLIP_LIMIT || info.height > VOX_IMAGE_CLIP_LIMIT) {
    SETLASTERROR("%s: a %d x %d image is too large to clip", call, info.width, info.height);
    return false;
  }
  *w = info.width;
  *h = info.height;
  return true;
}

}  // namespace

BOOLEAN SETCLIP(void* DEST, const MATH::RECT& R) {
  int64_t w, h;
  if (!target_of(DEST, "SETCLIP", &w, &h)) return FALSE;
  int64_t x0 = R.X, y0 = R.Y, x1 = int64_t{R.X} + R.W + 1, y1 = int64_t{R.Y} + R.H + 1;
  if (R.W < 0 || R.H < 0) x0 = y0 = x1 = y1 = 0;
  if (!DEST) {
    DETAIL::screen_clip = {true, __vox_gfx->id, x0, y0, x1, y1};
    return TRUE;
  }
  x0 = std::clamp<int64_t>(x0, 0, w), x1 = std::clamp<int64_t>(x1, 0, w);
  y0 = std::clamp<int64_t>(y0, 0, h), y1 = std::clamp<int64_t>(y1, 0, h);
  if (x1 <= x0 || y1 <= y0) x0 = y0 = x1 = y1 = 0;
  const VOX_IMAGE_CLIP clip{int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
  vox_hSetImageClip(DEST, &clip);
  return TRUE;
}

BOOLEAN CLEARCLIP(void* DEST) {
  int64_t w, h;
  if (!target_of(DEST, "CLEARCLIP", &w, &h)) return FALSE;
  if (DEST) {
    vox_hSetImageClip(DEST, nullptr);
  } else {
    DETAIL::screen_clip.set = false;
  }
  return TRUE;
}

MATH::RECT CLIP(void* DEST) {
  int64_t w, h;
  if (!target_of(DEST, "CLIP", &w, &h)) return {0, 0, -1, -1};
  const DETAIL::CLIPBOX box = DETAIL::clip_of(DEST, w, h);
  if (box.x1 <= box.x0) return {0, 0, -1, -1};
  return {int32_t(box.x0), int32_t(box.y0), int32_t(box.x1 - box.x0 - 1),
          int32_t(box.y1 - box.y0 - 1)};
}

BOOLEAN SETCLIP(BITMAP& DEST, const MATH::RECT& R) { return SETCLIP(DEST.HANDLE(), R); }
BOOLEAN CLEARCLIP(BITMAP& DEST) { return CLEARCLIP(DEST.HANDLE()); }
MATH::RECT CLIP(BITMAP& DEST) { return CLIP(DEST.HANDLE()); }

CLIPSCOPE::CLIPSCOPE(void* TARGET, const MATH::RECT& R) : DEST(TARGET) {
  if (DEST) {
    int64_t w, h;
    if (!target_of(DEST, "CLIPSCOPE", &w, &h)) return;
    std::memcpy(SAVED, static_cast<uint8_t*>(DEST) + 20, 12);
  } else {
    PREVIOUS = DETAIL::screen_clip;
  }
  SET = SETCLIP(DEST, R) != 0;
}

CLIPSCOPE::~CLIPSCOPE() {
  if (!SET) return;
  if (DEST) {
    std::memcpy(static_cast<uint8_t*>(DEST) + 20, SAVED, 12);
  } else {
    DETAIL::screen_clip = PREVIOUS;
  }
}

}  // namespace KASTREL::GRAPHICS
