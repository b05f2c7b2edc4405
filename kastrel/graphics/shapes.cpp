#include "kastrel/graphics/shapes.h"

#include <algorithm>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/clip.h"
#include "kastrel/graphics/detail/draw_target.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

namespace KASTREL::GRAPHICS {
namespace DETAIL {
namespace {

// Indexed by RASTEROP, as DRAWTO maps it.
constexpr int32_t kModes[] = {PUT_PSET, PUT_PRESET, PUT_TRANS, PUT_AND,   PUT_OR,
                              PUT_XOR,  PUT_ALPHA,  PUT_ADD,   PUT_CUSTOM};

int depth_index(int32_t bpp) { return bpp == 1 ? 0 : bpp == 2 ? 1 : 2; }

}  // namespace

uint32_t narrow(uint32_t COLOR, int32_t bpp) {
  if (bpp == 2)
    return ((COLOR & 0xF80000u) >> 8) | ((COLOR & 0xFC00u) >> 5) | ((COLOR & 0xF8u) >> 3);
  if (bpp == 1) return COLOR & 0xFFu;
  return COLOR;
}

bool begin(DRAWTARGET& t, void* DEST, RASTEROP METHOD, uint32_t COLOR, const char* CALL,
           bool CUSTOM) {
  if (METHOD < VOXPSET || METHOD > (CUSTOM ? VOXCUSTOM : VOXADD)) {
    SETLASTERROR("%s: raster operation %d is not one this call draws with", CALL,
                 static_cast<int>(METHOD));
    return false;
  }
  VOX_GFX_SCREEN* screen = __vox_gfx;
  VOX_GFX_CONTEXT* context = nullptr;
  if (!DEST) {
    if (!screen) {
      SETLASTERROR("%s: no screen is open to draw on", CALL);
      return false;
    }
    if (!vox_hProgramThread(CALL)) return false;
    context = vox_hContext();
    t.bpp = screen->bytes_per_pixel;
    t.pitch = screen->pitch;
    t.pixels = screen->pages[context->work_page] + int64_t{context->view_y} * t.pitch +
               int64_t{context->view_x} * t.bpp;
    t.width = context->view_w;
    t.height = context->view_h;
    t.screen = context->work_page == screen->visible_page;  // only that page has marks
  } else {
    VOX_IMAGE_INFO info;
    if (!vox_hImageInfo(DEST, screen ? screen->bytes_per_pixel : 4, &info)) {
      SETLASTERROR("%s: the target is not a readable image buffer", CALL);
      return false;
    }
    t.bpp = info.bpp;
    t.pitch = info.pitch;
    t.pixels = info.pixels;
    t.width = info.width;
    t.height = info.height;
    context = screen ? vox_hContext() : nullptr;
  }
  const CLIPBOX clip = clip_of(DEST, t.width, t.height);
  t.clip_x0 = clip.x0, t.clip_y0 = clip.y0, t.clip_x1 = clip.x1, t.clip_y1 = clip.y1;
  if (context) {
    context->target_bpp = t.bpp;
    context->target_pitch = t.pitch;
  }
  t.mode = kModes[METHOD];
  t.rows = vox_hRowTable()[t.mode][depth_index(t.bpp)];
  t.color = narrow(COLOR, t.bpp);
  if (!DEST) {
    vox_hAutoLock();
    t.locked = true;
  }
  return true;
}

void finish(DRAWTARGET& t) {
  if (!t.locked) return;
  if (t.screen && t.bottom >= t.top) {
    const int64_t view_y = vox_hContext()->view_y;
    std::memset(__vox_gfx->dirty + view_y + t.top, 1, static_cast<size_t>(t.bottom - t.top + 1));
  }
  vox_hAutoUnlock();
}

void block(DRAWTARGET& t, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  x0 = std::max(x0, t.clip_x0);
  y0 = std::max(y0, t.clip_y0);
  x1 = std::min(x1, t.clip_x1 - 1);
  y1 = std::min(y1, t.clip_y1 - 1);
  if (x0 > x1 || y0 > y1) return;
  const int64_t w = x1 - x0 + 1;
  if (w > t.fill_pixels) {
    t.fill.resize(static_cast<size_t>(w * t.bpp));
    vox_hFillPixels(t.fill.data(), t.fill.size(), t.bpp, t.color);
    t.fill_pixels = w;
  }
  // A source pitch of 0 repeats the one colour row down the block.
  t.rows(t.fill.data(), t.pixels + y0 * t.pitch + x0 * t.bpp, static_cast<int32_t>(w),
         static_cast<int32_t>(y1 - y0 + 1), 0, t.pitch, t.mode == PUT_ADD ? 255 : -1, nullptr,
         nullptr);
  if (t.screen) {
    t.top = std::min(t.top, y0);
    t.bottom = std::max(t.bottom, y1);
  }
}

void span(DRAWTARGET& t, int64_t y, int64_t x0, int64_t x1) { block(t, x0, y, x1, y); }

}  // namespace DETAIL

namespace {

using DETAIL::DRAWTARGET;
__extension__ using i128 = __int128;  // products of two 33-bit differences

int64_t floor_div(i128 n, i128 d) {  // d > 0
  i128 q = n / d;
  if (n % d != 0 && n < 0) --q;
  return static_cast<int64_t>(std::clamp<i128>(q, INT64_MIN / 2, INT64_MAX / 2));
}

// The rectangle's far edge as HASPOINT computes it.
int64_t far_edge(int32_t from, int32_t size) {
  return static_cast<int32_t>(static_cast<uint32_t>(from) + static_cast<uint32_t>(size));
}

// The largest h with h * h <= v (v >= 0).
int64_t isqrt(int64_t v) {
  if (v < 0) return -1;
  int64_t r = static_cast<int64_t>(__builtin_sqrtl(static_cast<long double>(v)));
  while (r > 0 && static_cast<i128>(r) * r > v) --r;
  while (static_cast<i128>(r + 1) * (r + 1) <= v) ++r;
  return r;
}

// The line's pixels clipped to the target's rows or columns, as runs emit(y, first x, last x).
template <typename EMIT>
void line(const DRAWTARGET& t, int64_t x0, int64_t y0, int64_t x1, int64_t y1, EMIT&& emit) {
  const int64_t dx = x1 - x0, dy = y1 - y0;
  const bool wide = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  if (wide) {
    if (x1 < x0) std::swap(x0, x1), std::swap(y0, y1);
    const int64_t ddx = x1 - x0, ddy = y1 - y0;
    const int64_t from = std::max<int64_t>(x0, 0), to = std::min(x1, t.width - 1);
    if (ddx == 0) {
      if (from <= to) emit(y0, x0, x0);
      return;
    }
    // Runs of pixels on one row become one span.
    int64_t run_start = 0, run_y = 0;
    bool open = false;
    for (int64_t x = from; x <= to; ++x) {
      const int64_t y = y0 + floor_div(i128{2} * (x - x0) * ddy + ddx, i128{2} * ddx);
      if (open && y == run_y) continue;
      if (open) emit(run_y, run_start, x - 1);
      run_start = x;
      run_y = y;
      open = true;
    }
    if (open) emit(run_y, run_start, to);
  } else {
    if (y1 < y0) std::swap(x0, x1), std::swap(y0, y1);
    const int64_t ddx = x1 - x0, ddy = y1 - y0;
    const int64_t from = std::max<int64_t>(y0, 0), to = std::min(y1, t.height - 1);
    for (int64_t y = from; y <= to; ++y) {
      const int64_t x = x0 + floor_div(i128{2} * (y - y0) * ddx + ddy, i128{2} * ddy);
      emit(y, x, x);
    }
  }
}

// The three sides' pixels, each drawn once where sides meet or overlap.
void triangle(DRAWTARGET& t, const MATH::POINT (&p)[3]) {
  struct RUN {
    int64_t y, x0, x1;
  };
  std::vector<RUN> runs;
  for (int i = 0; i < 3; ++i) {
    const MATH::POINT &a = p[i], &b = p[(i + 1) % 3];
    line(t, a.X, a.Y, b.X, b.Y, [&](int64_t y, int64_t x0, int64_t x1) {
      runs.push_back({y, x0, x1});
    });
  }
  std::sort(runs.begin(), runs.end(),
            [](const RUN& a, const RUN& b) { return a.y != b.y ? a.y < b.y : a.x0 < b.x0; });
  for (size_t i = 0; i < runs.size();) {
    RUN merged = runs[i++];
    while (i < runs.size() && runs[i].y == merged.y && runs[i].x0 <= merged.x1 + 1)
      merged.x1 = std::max(merged.x1, runs[i++].x1);
    DETAIL::span(t, merged.y, merged.x0, merged.x1);
  }
}

// Half-width of the disc's row at offset dy from its centre, -1 outside.
int64_t disc_half(int64_t r, int64_t dy) {
  if (dy < -r || dy > r) return -1;
  return isqrt(r * r + r - dy * dy);
}

void circle(DRAWTARGET& t, int64_t p, int64_t q, int64_t r, bool filled) {
  if (r < 0) return;
  const int64_t from = std::max<int64_t>(q - r, 0), to = std::min(q + r, t.height - 1);
  for (int64_t y = from; y <= to; ++y) {
    const int64_t h = disc_half(r, y - q);
    if (filled) {
      DETAIL::span(t, y, p - h, p + h);
      continue;
    }
    // Pixels at distance k from the centre column with a neighbour outside: k == h, or beyond
    // the shorter of the rows above and below.
    const int64_t inner = std::min(disc_half(r, y - q - 1), disc_half(r, y - q + 1));
    const int64_t k0 = std::min(inner + 1, h);
    if (k0 <= 0) {
      DETAIL::span(t, y, p - h, p + h);
    } else {
      DETAIL::span(t, y, p - h, p - k0);
      DETAIL::span(t, y, p + k0, p + h);
    }
  }
}

void polygon(DRAWTARGET& t, const MATH::POINT* pts, int32_t n) {
  int64_t top = INT64_MAX, bottom = INT64_MIN;
  for (int32_t i = 0; i < n; ++i) {
    top = std::min<int64_t>(top, pts[i].Y);
    bottom = std::max<int64_t>(bottom, pts[i].Y);
  }
  top = std::max<int64_t>(top, 0);
  bottom = std::min(bottom - 1, t.height - 1);  // centres below the last vertex row are out
  std::vector<int64_t> xs;
  for (int64_t y = top; y <= bottom; ++y) {
    xs.clear();
    for (int32_t i = 0; i < n; ++i) {
      const MATH::POINT& a = pts[i];
      const MATH::POINT& b = pts[(i + 1) % n];
      if ((a.Y <= y) == (b.Y <= y)) continue;  // does not cross the row's centre line
      // The first pixel whose centre lies at or right of the crossing:
      // ceil(ax + (2y + 1 - 2ay)(bx - ax) / (2(by - ay)) - 1/2).
      i128 d = i128{2} * (int64_t{b.Y} - a.Y);
      i128 num = i128{2} * a.X * (int64_t{b.Y} - a.Y) +
                 (i128{2} * y + 1 - i128{2} * a.Y) * (int64_t{b.X} - a.X) - (int64_t{b.Y} - a.Y);
      if (d < 0) d = -d, num = -num;
      xs.push_back(-floor_div(-num, d));
    }
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2) {
      if (xs[i + 1] > xs[i]) DETAIL::span(t, y, xs[i], xs[i + 1] - 1);
    }
  }
}

template <typename DRAW>
BOOLEAN draw(void* DEST, RASTEROP METHOD, uint32_t COLOR, const char* CALL, DRAW&& body) {
  DRAWTARGET t;
  if (!DETAIL::begin(t, DEST, METHOD, COLOR, CALL)) return FALSE;
  body(t);
  DETAIL::finish(t);
  return TRUE;
}

}  // namespace

BOOLEAN DRAWPOINT(void* DEST, int32_t X, int32_t Y, uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "DRAWPOINT", [&](DRAWTARGET& t) { DETAIL::span(t, Y, X, X); });
}

BOOLEAN DRAWLINE(void* DEST, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, uint32_t COLOR,
                 RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "DRAWLINE", [&](DRAWTARGET& t) {
    line(t, X1, Y1, X2, Y2,
         [&t](int64_t y, int64_t x0, int64_t x1) { DETAIL::span(t, y, x0, x1); });
  });
}

BOOLEAN DRAWRECT(void* DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "DRAWRECT", [&](DRAWTARGET& t) {
    const int64_t x0 = R.X, y0 = R.Y, x1 = far_edge(R.X, R.W), y1 = far_edge(R.Y, R.H);
    if (x1 < x0 || y1 < y0) return;
    DETAIL::span(t, y0, x0, x1);
    if (y1 > y0) DETAIL::span(t, y1, x0, x1);
    if (y1 - y0 < 2) return;
    DETAIL::block(t, x0, y0 + 1, x0, y1 - 1);
    if (x1 > x0) DETAIL::block(t, x1, y0 + 1, x1, y1 - 1);
  });
}

BOOLEAN FILLRECT(void* DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "FILLRECT", [&](DRAWTARGET& t) {
    const int64_t x0 = R.X, y0 = R.Y, x1 = far_edge(R.X, R.W), y1 = far_edge(R.Y, R.H);
    if (x1 >= x0 && y1 >= y0) DETAIL::block(t, x0, y0, x1, y1);
  });
}

BOOLEAN DRAWCIRCLE(void* DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "DRAWCIRCLE", [&](DRAWTARGET& t) { circle(t, P, Q, R, false); });
}

BOOLEAN FILLCIRCLE(void* DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "FILLCIRCLE", [&](DRAWTARGET& t) { circle(t, P, Q, R, true); });
}

BOOLEAN FILLPOLY(void* DEST, const MATH::POLY& POLY, uint32_t COLOR, RASTEROP METHOD) {
  if (POLY.SIDES > 0 && !POLY.POINT) {
    SETLASTERROR("FILLPOLY: the POLY counts %d points but holds none",
                 static_cast<int>(POLY.SIDES));
    return FALSE;
  }
  return draw(DEST, METHOD, COLOR, "FILLPOLY", [&](DRAWTARGET& t) {
    if (POLY.SIDES >= 3) polygon(t, POLY.POINT, POLY.SIDES);
  });
}

BOOLEAN DRAWTRIANGLE(void* DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD) {
  return draw(DEST, METHOD, COLOR, "DRAWTRIANGLE", [&](DRAWTARGET& t) { triangle(t, {A, B, C}); });
}

BOOLEAN FILLTRIANGLE(void* DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD) {
  const MATH::POINT corners[3] = {A, B, C};
  return draw(DEST, METHOD, COLOR, "FILLTRIANGLE", [&](DRAWTARGET& t) { polygon(t, corners, 3); });
}

BOOLEAN DRAWPOINT(BITMAP& DEST, int32_t X, int32_t Y, uint32_t COLOR, RASTEROP METHOD) {
  return DRAWPOINT(DEST.HANDLE(), X, Y, COLOR, METHOD);
}
BOOLEAN DRAWLINE(BITMAP& DEST, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, uint32_t COLOR,
                 RASTEROP METHOD) {
  return DRAWLINE(DEST.HANDLE(), X1, Y1, X2, Y2, COLOR, METHOD);
}
BOOLEAN DRAWRECT(BITMAP& DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD) {
  return DRAWRECT(DEST.HANDLE(), R, COLOR, METHOD);
}
BOOLEAN FILLRECT(BITMAP& DEST, const MATH::RECT& R, uint32_t COLOR, RASTEROP METHOD) {
  return FILLRECT(DEST.HANDLE(), R, COLOR, METHOD);
}
BOOLEAN DRAWCIRCLE(BITMAP& DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR, RASTEROP METHOD) {
  return DRAWCIRCLE(DEST.HANDLE(), P, Q, R, COLOR, METHOD);
}
BOOLEAN FILLCIRCLE(BITMAP& DEST, int32_t P, int32_t Q, int32_t R, uint32_t COLOR, RASTEROP METHOD) {
  return FILLCIRCLE(DEST.HANDLE(), P, Q, R, COLOR, METHOD);
}
BOOLEAN FILLPOLY(BITMAP& DEST, const MATH::POLY& POLY, uint32_t COLOR, RASTEROP METHOD) {
  return FILLPOLY(DEST.HANDLE(), POLY, COLOR, METHOD);
}
BOOLEAN DRAWTRIANGLE(BITMAP& DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD) {
  return DRAWTRIANGLE(DEST.HANDLE(), A, B, C, COLOR, METHOD);
}
BOOLEAN FILLTRIANGLE(BITMAP& DEST, const MATH::POINT& A, const MATH::POINT& B, const MATH::POINT& C,
                     uint32_t COLOR, RASTEROP METHOD) {
  return FILLTRIANGLE(DEST.HANDLE(), A, B, C, COLOR, METHOD);
}

}  // namespace KASTREL::GRAPHICS
