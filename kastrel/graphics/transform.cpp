// Transformed drawing: BITMAP::DRAWTRANSFORMED and TRANSFORMEDBOUNDS. The pixel rule is in
// bitmap.h. Each target row's run of pixels that map into the source is found exactly from the
// fixed-point map, its samples gathered into a row (rows_sample.cpp), and the blit's row loop of
// the raster operation run over that row, so every operation keeps its per-pixel rule. Nearest
// ALPHA on the vector loop sets blends each sample as it is gathered, by the same blend.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/draw_target.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

namespace KASTREL::GRAPHICS {
namespace {

__extension__ using i128 = __int128;

constexpr double kOne = 0x1p32;       // 1.0 in 32.32 fixed point
constexpr double kMaxScale = 0x1p16;  // beyond either way the call fails or draws nothing
constexpr double kFarAway = 0x1p40;   // positions beyond cannot reach any view
constexpr double kMaxPivot = 0x1p30;
constexpr int32_t kMaxRegion = 1 << 28;  // region sides, so 32.32 positions stay in 64 bits

// The fixed-point inverse map of one call.
struct MAP {
  int64_t A, B, C, D;  // u and v steps per target column (A, C) and per row (B, D)
  int64_t U0, V0;      // u and v at target pixel (ax, ay)
  int64_t ax, ay;
  int32_t sx, sy, w, h;  // the region within the image
  bool visible;          // false: the call draws nothing at all
};

// std::nearbyint in the default rounding mode, without the call: below 2^52, adding 2^52 and
// taking it away again rounds to a whole number, ties to even; beyond, every double is whole.
inline double round_even(double x) {
  const double a = std::fabs(x);
  if (!(a < 0x1p52)) return x;
  return std::copysign((a + 0x1p52) - 0x1p52, x);
}

// std::floor and std::ceil inline, where the baseline instruction set would call them.
inline double whole_below(double x) {
  if (!(std::fabs(x) < 0x1p52)) return x;  // whole already, or not a number
  const double t = double(int64_t(x));     // toward zero
  return t > x ? t - 1 : t;
}
inline double whole_above(double x) { return -whole_below(-x); }

enum PLAN { PLAN_FAIL, PLAN_OK };

// The region, the map, or the reason the call fails (naming CALL; none when CALL is null).
#define REASON(...)                      \
  do {                                   \
    if (CALL) SETLASTERROR(__VA_ARGS__); \
  } while (0)
PLAN plan(const VOX_IMAGE_INFO& src, float X, float Y, const TRANSFORM& T, const char* CALL,
          MAP* m) {
  m->visible = false;
  if (std::isnan(X) || std::isnan(Y)) {
    REASON("%s: the position is not a number", CALL);
    return PLAN_FAIL;
  }
  if (!std::isfinite(T.ANGLE) || !std::isfinite(T.SCALEX) || !std::isfinite(T.SCALEY)) {
    REASON("%s: the angle or a scale is not a finite number", CALL);
    return PLAN_FAIL;
  }
  if (!(std::fabs(T.PIVOTX) <= kMaxPivot && std::fabs(T.PIVOTY) <= kMaxPivot)) {
    REASON("%s: the pivot (%g, %g) lies beyond 2^30", CALL, double(T.PIVOTX), double(T.PIVOTY));
    return PLAN_FAIL;
  }
  if (std::fabs(T.SCALEX) > kMaxScale || std::fabs(T.SCALEY) > kMaxScale) {
    REASON("%s: the scale (%g, %g) lies beyond 65536", CALL, double(T.SCALEX), double(T.SCALEY));
    return PLAN_FAIL;
  }
  // The region, as the blit clamps DRAWTO's.
  int64_t x1 = T.SOURCE.W < 0 ? 0 : T.SOURCE.X, y1 = T.SOURCE.H < 0 ? 0 : T.SOURCE.Y;
  int64_t x2 = T.SOURCE.W < 0 ? int64_t{src.width} : x1 + T.SOURCE.W;
  int64_t y2 = T.SOURCE.H < 0 ? int64_t{src.height} : y1 + T.SOURCE.H;
  x1 = std::clamp<int64_t>(x1, 0, src.width - 1);
  x2 = std::clamp<int64_t>(x2, 0, src.width - 1);
  y1 = std::clamp<int64_t>(y1, 0, src.height - 1);
  y2 = std::clamp<int64_t>(y2, 0, src.height - 1);
  m->sx = int32_t(x1);
  m->sy = int32_t(y1);
  m->w = int32_t(x2 - x1 + 1);
  m->h = int32_t(y2 - y1 + 1);
  if (m->w > kMaxRegion || m->h > kMaxRegion) {
    REASON("%s: a source region of %d x %d pixels is too large to transform", CALL, m->w, m->h);
    return PLAN_FAIL;
  }
  if (std::fabs(T.SCALEX) < 1 / kMaxScale || std::fabs(T.SCALEY) < 1 / kMaxScale ||
      !(std::fabs(X) <= kFarAway && std::fabs(Y) <= kFarAway)) {
    return PLAN_OK;  // too small to see, or too far away
  }

  double r = double(T.ANGLE);
  if (!(r >= 0 && r < 360)) {  // fmod costs more than the rest of the set-up
    r = std::fmod(r, 360.0);
    if (r < 0) r += 360;
  }
  double c, s;
  if (r == 0) {
    c = 1, s = 0;
  } else if (r == 90) {
    c = 0, s = 1;
  } else if (r == 180) {
    c = -1, s = 0;
  } else if (r == 270) {
    c = 0, s = -1;
  } else {
    c = std::cos(r * (std::numbers::pi / 180));
    s = std::sin(r * (std::numbers::pi / 180));
  }
  const double fx = (T.FLIP & FLIPH) ? -double(T.SCALEX) : double(T.SCALEX);
  const double fy = (T.FLIP & FLIPV) ? -double(T.SCALEY) : double(T.SCALEY);
  // Unscaled, dividing is multiplying, and the division's wait is spared.
  const auto over = [](double x, double f) { return f == 1 || f == -1 ? x * f : x / f; };
  m->A = int64_t(round_even(over(c, fx) * kOne));
  m->B = int64_t(round_even(over(s, fx) * kOne));
  m->C = int64_t(round_even(over(-s, fy) * kOne));
  m->D = int64_t(round_even(over(c, fy) * kOne));
  const double ax = whole_below(double(X)), ay = whole_below(double(Y));
  const double ex = ax + 0.5 - double(X), ey = ay + 0.5 - double(Y);
  m->U0 = int64_t(round_even(kOne * (double(T.PIVOTX) + over(ex * c + ey * s, fx))));
  m->V0 = int64_t(round_even(kOne * (double(T.PIVOTY) + over(ey * c - ex * s, fy))));
  m->ax = int64_t(ax);
  m->ay = int64_t(ay);
  m->visible = (double(m->A) * double(m->D) - double(m->B) * double(m->C)) != 0;
  return PLAN_OK;
}
#undef REASON

// Narrows [*lo, *hi] (columns counted from ax) to the k with 0 <= base + k * step < limit.
// Each end is estimated in double precision and then settled exactly, a step or two away:
// dividing in 128 bits on every row would cost more than a small sprite's pixels.
void keep_inside(i128 base, int64_t step, int64_t limit, double per_step, int64_t* lo,
                 int64_t* hi) {
  if (*lo > *hi) return;
  const auto above = [&](int64_t k) { return base + i128{k} * step >= 0; };
  const auto below = [&](int64_t k) { return base + i128{k} * step < limit; };
  if (step == 0) {
    if (!above(0) || !below(0)) *lo = 1, *hi = 0;
    return;
  }
  const auto near = [&](double estimate, int64_t from, int64_t to) {
    return int64_t(std::clamp(estimate, double(from), double(to)));
  };
  // The first k in [*lo, *hi + 1] from which HOLDS stays true, and the last in [*lo - 1, *hi]
  // up to which it holds.
  const auto first = [&](auto holds, double estimate) {
    int64_t k = near(estimate, *lo, *hi + 1);
    while (k > *lo && holds(k - 1)) --k;
    while (k <= *hi && !holds(k)) ++k;
    return k;
  };
  const auto last = [&](auto holds, double estimate) {
    int64_t k = near(estimate, *lo - 1, *hi);
    while (k < *hi && holds(k + 1)) ++k;
    while (k >= *lo && !holds(k)) --k;
    return k;
  };
  const double b = double(base);
  const double zero = -b * per_step, end = (double(limit) - b) * per_step;
  const int64_t from = step > 0 ? first(above, zero) : first(below, end);
  const int64_t to = step > 0 ? last(below, end) : last(above, zero);
  *lo = from;
  *hi = to;
}

// ceil(N / a) for a numerator N that moves by the same amount every row, kept as N = q * a - r
// with 0 <= r < a, so that each row costs an add and a compare instead of a division.
struct CEILING {
  int64_t q = 0, r = 0;
  void start(int64_t N, int64_t a) {
    q = N / a;
    r = q * a - N;  // in (-a, a)
    if (r < 0) ++q, r += a;
  }
  // N grew by qd * a + rd (0 <= rd < a). Without a branch: whether r wraps changes from row
  // to row as the run's end crosses pixel columns, which a predictor cannot follow.
  void next(int64_t a, int64_t qd, int64_t rd) {
    r -= rd;
    const int64_t wrapped = r >> 63;  // 0 or -1
    q += qd - wrapped;
    r += a & wrapped;
  }
};

// One row after another, the columns k with 0 <= base + k * step < limit, exactly, with base
// growing by per_row each row. With a = |step| they are, for a step above zero,
// ceil(-base / a) <= k <= ceil((limit - base) / a) - 1, and below zero
// 1 - ceil((limit - base) / a) <= k <= -ceil(-base / a). Every value must fit 64 bits.
struct COLUMNS {
  int64_t base, step, per_row, limit;
  int64_t a = 0, qd = 0, rd = 0;    // a = |step|; -per_row = qd * a + rd
  CEILING below_zero, below_limit;  // ceil(-base / a), ceil((limit - base) / a)
  COLUMNS(int64_t base_, int64_t step_, int64_t per_row_, int64_t limit_)
      : base(base_), step(step_), per_row(per_row_), limit(limit_) {
    if (step == 0) return;
    a = step < 0 ? -step : step;
    qd = -per_row / a, rd = -per_row - qd * a;
    if (rd < 0) --qd, rd += a;
    below_zero.start(-base, a);
    below_limit.start(limit - base, a);
  }
  void narrow(int64_t* lo, int64_t* hi) const {
    if (step == 0) {
      if (base < 0 || base >= limit) *lo = 1, *hi = 0;
    } else if (step > 0) {
      *lo = std::max(*lo, below_zero.q), *hi = std::min(*hi, below_limit.q - 1);
    } else {
      *lo = std::max(*lo, 1 - below_limit.q), *hi = std::min(*hi, -below_zero.q);
    }
  }
  void next() {
    base += per_row;
    if (step == 0) return;
    below_zero.next(a, qd, rd);
    below_limit.next(a, qd, rd);
  }
};

// COLUMNS for a step that is not zero and whose sign is known, with one ceiling instead of two:
// with -base = q * a - r and limit = qL * a + rL (0 <= r, rL < a), ceil((limit - base) / a) is
// q + qL + (rL > r). A turned sprite's rows cost a few adds and compares each.
struct EDGE {
  int64_t a, qd, rd, qL, rL;
  CEILING zero;  // ceil(-base / a)
  EDGE(int64_t base, int64_t step, int64_t per_row, int64_t limit) {
    a = step < 0 ? -step : step;
    qd = -per_row / a, rd = -per_row - qd * a;
    if (rd < 0) --qd, rd += a;
    qL = limit / a, rL = limit - qL * a;
    zero.start(-base, a);
  }
  template <bool UP>
  void narrow(int64_t* lo, int64_t* hi) const {
    const int64_t beyond = zero.q + qL + (rL > zero.r);  // ceil((limit - base) / a)
    if constexpr (UP) {
      *lo = std::max(*lo, zero.q), *hi = std::min(*hi, beyond - 1);
    } else {
      *lo = std::max(*lo, 1 - beyond), *hi = std::min(*hi, -zero.q);
    }
  }
  void next() { zero.next(a, qd, rd); }
  VOX_EDGE lanes(bool up) const { return {a, qd, rd, qL, rL, zero.q, zero.r, up}; }
};

// The rows of each_run below for steps A and C of known signs, neither zero.
template <bool U_UP, bool V_UP, typename RUN>
void turned_runs(const MAP& m, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t u0,
                 int64_t v0, RUN& run) {
  EDGE eu(u0, m.A, m.B, int64_t{m.w} << 32), ev(v0, m.C, m.D, int64_t{m.h} << 32);
  const int64_t first = x0 - m.ax, last = x1 - m.ax;
  for (int64_t ty = y0; ty <= y1; ++ty) {
    int64_t lo = first, hi = last;
    eu.narrow<U_UP>(&lo, &hi);
    ev.narrow<V_UP>(&lo, &hi);
    if (lo <= hi) run(ty, lo + m.ax, hi - lo + 1, u0 + lo * m.A, v0 + lo * m.C);
    eu.next(), ev.next();
    u0 += m.B, v0 += m.D;
  }
}

// The fused loop's routines and what they draw from and onto.
struct FUSED {
  VOX_FUSED_ROUTINE blend;
  VOX_TURNED_ROUTINE turned;  // or null
  const uint8_t* region;
  int32_t pitch;
  uint8_t* pixels;  // the target's
  int64_t target_pitch;
};

// Nearest samples blended by ALPHA on a turned map: the rows of turned_runs found and blended by
// the loop set's own routine where it has one; otherwise each run is stored straight into the
// fused loop's batch and the batch drawn 64 runs at a time, with everything the rows change in
// locals, which the loop keeps in registers. The rows of the first and last runs go to *top and
// *bottom (unchanged when there is none).
template <bool U_UP, bool V_UP>
void fused_turned_runs(const MAP& m, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t u0,
                       int64_t v0, const FUSED& f, int64_t* top, int64_t* bottom) {
  EDGE eu(u0, m.A, m.B, int64_t{m.w} << 32), ev(v0, m.C, m.D, int64_t{m.h} << 32);
  const int64_t first = x0 - m.ax, last = x1 - m.ax;
  uint8_t* row = f.pixels + y0 * f.target_pitch + m.ax * 4;
  if (f.turned) {
    VOX_TURNED_ROWS rows{eu.lanes(U_UP),
                         ev.lanes(V_UP),
                         first,
                         last,
                         y1 - y0 + 1,
                         row,
                         f.target_pitch,
                         u0,
                         v0,
                         m.A,
                         m.B,
                         m.C,
                         m.D,
                         -1,
                         -1};
    if (f.turned(&rows, f.region, f.pitch, m.h)) {
      if (rows.top >= 0) *top = y0 + rows.top, *bottom = y0 + rows.bottom;
      return;
    }
  }
  VOX_SAMPLE_RUN runs[64];
  int32_t count = 0;
  int64_t first_row = -1, last_row = -1;
  for (int64_t ty = y0; ty <= y1; ++ty, row += f.target_pitch) {
    int64_t lo = first, hi = last;
    eu.narrow<U_UP>(&lo, &hi);
    ev.narrow<V_UP>(&lo, &hi);
    if (lo <= hi) {
      runs[count++] = {row + lo * 4, u0 + lo * m.A, v0 + lo * m.C, int32_t(hi - lo + 1)};
      if (first_row < 0) first_row = ty;
      last_row = ty;
      if (count == 64) f.blend(runs, count, f.region, f.pitch, m.A, m.C, m.h), count = 0;
    }
    eu.next(), ev.next();
    u0 += m.B, v0 += m.D;
  }
  if (count > 0) f.blend(runs, count, f.region, f.pitch, m.A, m.C, m.h);
  if (first_row >= 0) *top = first_row, *bottom = last_row;
}

// Whether each_run's rows go through COLUMNS in 64 bits: every value it computes fits when
// |U0| + |j| * |B| + |k| * |A| is below 2^62 (and the same for v) for every row j and column k
// of the box, counted from (ax, ay), and one row past it, as COLUMNS steps on. The sums are
// bounded in double, whose rounding here is far below the margin from 2^62 to 2^63; limit - base
// and the ceilings then stay within 2^62 + 2^60, and the steps' remainders below 2^49.
bool fits_64_bits(const MAP& m, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  const double j = std::max(std::fabs(double(y0 - m.ay)), std::fabs(double(y1 - m.ay))) + 1;
  const double k = std::max(std::fabs(double(x0 - m.ax)), std::fabs(double(x1 - m.ax)));
  const auto fits = [&](int64_t base, int64_t per_row, int64_t per_column) {
    return std::fabs(double(base)) + j * std::fabs(double(per_row)) +
               k * std::fabs(double(per_column)) <
           0x1p62;
  };
  return fits(m.U0, m.B, m.A) && fits(m.V0, m.D, m.C);
}

// The target pixels (tx, ty) whose samples lie in the region, within the box [x0, x1] x
// [y0, y1]: one run per row, handed to run(ty, first tx, count, u, v). Sprites on any screen
// take the 64-bit rows; far-flung maps search each row in 128 bits.
template <typename RUN>
void each_run(const MAP& m, int64_t x0, int64_t y0, int64_t x1, int64_t y1, RUN&& run) {
  const int64_t L = int64_t{m.w} << 32, M = int64_t{m.h} << 32;
  if (fits_64_bits(m, x0, y0, x1, y1)) {
    const int64_t u0 = m.U0 + (y0 - m.ay) * m.B, v0 = m.V0 + (y0 - m.ay) * m.D;
    if (m.A != 0 && m.C != 0) {
      if (m.A > 0 && m.C > 0) return turned_runs<true, true>(m, x0, y0, x1, y1, u0, v0, run);
      if (m.A > 0) return turned_runs<true, false>(m, x0, y0, x1, y1, u0, v0, run);
      if (m.C > 0) return turned_runs<false, true>(m, x0, y0, x1, y1, u0, v0, run);
      return turned_runs<false, false>(m, x0, y0, x1, y1, u0, v0, run);
    }
    COLUMNS u(m.U0 + (y0 - m.ay) * m.B, m.A, m.B, L), v(m.V0 + (y0 - m.ay) * m.D, m.C, m.D, M);
    for (int64_t ty = y0; ty <= y1; ++ty, u.next(), v.next()) {
      int64_t lo = x0 - m.ax, hi = x1 - m.ax;
      u.narrow(&lo, &hi);
      v.narrow(&lo, &hi);
      if (lo <= hi) run(ty, lo + m.ax, hi - lo + 1, u.base + lo * m.A, v.base + lo * m.C);
    }
    return;
  }
  const double per_u = m.A ? 1 / double(m.A) : 0, per_v = m.C ? 1 / double(m.C) : 0;
  for (int64_t ty = y0; ty <= y1; ++ty) {
    const i128 ubase = m.U0 + i128{ty - m.ay} * m.B, vbase = m.V0 + i128{ty - m.ay} * m.D;
    int64_t lo = x0 - m.ax, hi = x1 - m.ax;
    keep_inside(ubase, m.A, L, per_u, &lo, &hi);
    keep_inside(vbase, m.C, M, per_v, &lo, &hi);
    if (lo > hi) continue;
    run(ty, lo + m.ax, hi - lo + 1, int64_t(ubase + i128{lo} * m.A),
        int64_t(vbase + i128{lo} * m.C));
  }
}

// The fused loop over each_run's rows, when they take the turned path; false when they do not.
// Out of line, so that DRAWTRANSFORMED's many locals leave its loops their registers.
__attribute__((noinline)) bool fused_runs(const MAP& m, int64_t x0, int64_t y0, int64_t x1,
                                          int64_t y1, const FUSED& f, int64_t* top,
                                          int64_t* bottom) {
  if (m.A == 0 || m.C == 0) return false;
  // The rows routine steps its lanes up to eight rows past the box.
  FUSED fused = f;
  if (!fused.turned || !fits_64_bits(m, x0, y0, x1, y1 + 8)) {
    if (!fits_64_bits(m, x0, y0, x1, y1)) return false;
    fused.turned = nullptr;
  }
  if (x1 < x0 || y1 < y0) return true;  // nothing within the clip
  const int64_t u0 = m.U0 + (y0 - m.ay) * m.B, v0 = m.V0 + (y0 - m.ay) * m.D;
  if (m.A > 0 && m.C > 0)
    fused_turned_runs<true, true>(m, x0, y0, x1, y1, u0, v0, fused, top, bottom);
  else if (m.A > 0)
    fused_turned_runs<true, false>(m, x0, y0, x1, y1, u0, v0, fused, top, bottom);
  else if (m.C > 0)
    fused_turned_runs<false, true>(m, x0, y0, x1, y1, u0, v0, fused, top, bottom);
  else
    fused_turned_runs<false, false>(m, x0, y0, x1, y1, u0, v0, fused, top, bottom);
  return true;
}

// The box of target pixels the map can reach: the corners of the region's parallelogram solved
// from the fixed-point map, widened a pixel for the rounding of that solution. Clamped to +-2^40.
void reach(const MAP& m, double* left, double* top, double* right, double* bottom) {
  const double A = double(m.A), B = double(m.B), C = double(m.C), D = double(m.D);
  const double per_det = 1 / (A * D - B * C);  // a product is within the pixel's widening
  double k0 = INFINITY, k1 = -INFINITY, j0 = INFINITY, j1 = -INFINITY;
  for (const double uu : {0.0, double(int64_t{m.w} << 32)}) {
    for (const double vv : {0.0, double(int64_t{m.h} << 32)}) {
      const double du = uu - double(m.U0), dv = vv - double(m.V0);
      const double k = (D * du - B * dv) * per_det, j = (A * dv - C * du) * per_det;
      k0 = std::min(k0, k), k1 = std::max(k1, k);
      j0 = std::min(j0, j), j1 = std::max(j1, j);
    }
  }
  const auto clamp = [](double v) { return std::clamp(v, -kFarAway, kFarAway); };
  *left = clamp(whole_below(k0) - 1 + double(m.ax));
  *right = clamp(whole_above(k1) + 1 + double(m.ax));
  *top = clamp(whole_below(j0) - 1 + double(m.ay));
  *bottom = clamp(whole_above(j1) + 1 + double(m.ay));
}

// ALPHA leaves the target as it is under a clear pixel (alpha byte 0), so only the smallest box
// of the region holding every other pixel need be sampled: *m and *region narrowed to it. False
// when every pixel is clear. A sprite's margins are often a third of it, and a pass over a
// narrow region costs far less than sampling it, unless the map shrinks it much.
bool trim_clear(MAP* m, const uint8_t** region, int32_t pitch) {
  const double per_pixel = std::fabs(double(m->A) * double(m->D) - double(m->B) * double(m->C));
  if (per_pixel > 4 * 0x1p64) return true;  // source pixels per target pixel, in 32.32 squared
  // Four corners that are not clear bound the box already: tiles and most opaque images.
  const auto seen = [&](int32_t x, int32_t y) {
    uint32_t p;
    std::memcpy(&p, *region + int64_t{y} * pitch + int64_t{x} * 4, 4);
    return (p >> 24) != 0;
  };
  if (seen(0, 0) && seen(m->w - 1, 0) && seen(0, m->h - 1) && seen(m->w - 1, m->h - 1)) return true;
  int32_t box[4];
  if (!vox_gfxSeenBox(*region, pitch, m->w, m->h, box)) return false;
  const int32_t left = box[0], top = box[1];
  m->U0 -= int64_t{left} << 32;
  m->V0 -= int64_t{top} << 32;
  m->sx += left, m->sy += top;
  m->w = box[2] - left + 1, m->h = box[3] - top + 1;
  *region += int64_t{top} * pitch + int64_t{left} * 4;
  return true;
}

// The blit's row routine for each raster operation, as DRAWTO passes them.
constexpr VOX_PUT_ROUTINE kRoutines[] = {vox_hPutPSet,  vox_hPutPReset, vox_hPutTrans,
                                         vox_hPutAnd,   vox_hPutOr,     vox_hPutXor,
                                         vox_hPutAlpha, vox_hPutAdd,    vox_hPutCustom};

// Unturned, unscaled and unmirrored with samples on pixel centres (or any samples, for
// NEAREST), untinted and near enough for a float position: the map is a plain blit of the
// region, as DRAWTO draws it. *x, *y: where its top-left pixel lands.
bool plain_blit(const MAP& m, const TRANSFORM& T, bool tint, int64_t* x, int64_t* y) {
  constexpr int64_t one = int64_t{1} << 32, half = int64_t{1} << 31;
  if (m.A != one || m.D != one || m.B != 0 || m.C != 0 || tint) return false;
  if (T.FILTER == BILINEAR && ((m.U0 & (one - 1)) != half || (m.V0 & (one - 1)) != half))
    return false;
  *x = m.ax - (m.U0 >> 32);
  *y = m.ay - (m.V0 >> 32);
  return std::abs(*x) < (1 << 24) && std::abs(*y) < (1 << 24);
}

// The samples of a batch of runs, and where each run goes, grown as needed and kept for the
// thread's next calls. Runs are sampled a batch at a time before any is drawn: the row loops
// then read samples stored long before, not ones still on their way to the cache, which a
// load straight after a store of another width has to wait for.
struct BATCH {
  struct RUN {
    int64_t ty, tx;
    int32_t n, at;  // pixels, and the first one's index in the samples
  };
  static constexpr int32_t kRuns = 512;
  std::vector<uint8_t> samples;
  RUN runs[kRuns];
  int32_t count = 0;  // runs sampled
  int32_t used = 0;   // pixels sampled
  bool busy = false;  // a blender drawing from inside the row loop gets a batch of its own
};
constexpr int32_t kBatchPixels = 4096;  // 16 KiB of 32-bit samples, well inside the L1 cache

BATCH& batch() {
  thread_local BATCH b;
  return b;
}

}  // namespace

BOOLEAN BITMAP::DRAWTRANSFORMED(void* DEST, float X, float Y, const TRANSFORM& T) const {
  static constexpr const char* kCall = "DRAWTRANSFORMED";
  VOX_GFX_SCREEN* screen = __vox_gfx;
  VOX_IMAGE_INFO src;
  if (!IMGHANDLE || !vox_hImageInfo(IMGHANDLE, screen ? screen->bytes_per_pixel : 4, &src) ||
      src.width < 1 || src.height < 1) {
    SETLASTERROR("%s: the bitmap holds no image", kCall);
    return FALSE;
  }
  if (T.METHOD == VOXCUSTOM && !T.BLENDER) {
    SETLASTERROR("%s: VOXCUSTOM needs a blender", kCall);
    return FALSE;
  }
  MAP m;
  if (plan(src, X, Y, T, kCall, &m) == PLAN_FAIL) return FALSE;
  DETAIL::DRAWTARGET t;
  if (!DETAIL::begin(t, DEST, T.METHOD, 0, kCall, true)) return FALSE;
  const bool alpha_mask = src.bpp == 1 && t.bpp == 4 && T.METHOD == VOXALPHA;
  if (src.bpp != t.bpp && !alpha_mask) {
    DETAIL::finish(t);
    SETLASTERROR("%s: a %d-bit bitmap cannot be drawn on a %d-bit target", kCall, src.bpp * 8,
                 t.bpp * 8);
    return FALSE;
  }
  // Faded below 4 without saved bytes to come back from: invisible, as for DRAWTO.
  if (IBPP == 4 && !IALPHACHANNEL && IALPHA < 4) m.visible = false;
  vox_hAutoLock();  // image targets too, as the blit locks for any target
  const bool tint = T.METHOD == VOXALPHA && src.bpp == 4 && T.TINT != 0xFFFFFFFFu;
  int64_t blit_x, blit_y;
  if (m.visible && plain_blit(m, T, tint, &blit_x, &blit_y)) {
    static constexpr int32_t kModes[] = {PUT_PSET, PUT_PRESET, PUT_TRANS, PUT_AND,   PUT_OR,
                                         PUT_XOR,  PUT_ALPHA,  PUT_ADD,   PUT_CUSTOM};
    vox_GfxPut(DEST, float(blit_x), float(blit_y), IMGHANDLE, m.sx, m.sy, m.sx + m.w - 1,
               m.sy + m.h - 1, PUT_ABSOLUTE, kModes[T.METHOD], kRoutines[T.METHOD],
               T.METHOD == VOXADD ? 255 : -1, T.BLENDER, T.PARAM);
  } else if (m.visible) {
    // The target pixels a map can reach, within the clip.
    const auto box = [&t](const MAP& map, int64_t* bx0, int64_t* by0, int64_t* bx1, int64_t* by1) {
      double left, top, right, bottom;
      reach(map, &left, &top, &right, &bottom);
      *bx0 = std::max<int64_t>(int64_t(left), t.clip_x0);
      *by0 = std::max<int64_t>(int64_t(top), t.clip_y0);
      *bx1 = std::min<int64_t>(int64_t(right), t.clip_x1 - 1);
      *by1 = std::min<int64_t>(int64_t(bottom), t.clip_y1 - 1);
    };
    int64_t x0, y0, x1, y1;
    const VOX_SAMPLE_LOOPS& loops = vox_hSampleLoops();
    const bool bilinear = T.FILTER == BILINEAR && src.bpp == 4;
    const VOX_SAMPLE_ROUTINE sample = bilinear ? loops.bilinear
                                               : loops.nearest[src.bpp == 1   ? 0
                                                               : src.bpp == 2 ? 1
                                                                              : 2];
    const VOX_PUT_ROUTINE rows = alpha_mask ? vox_gfxRowAlphaMask : t.rows;
    const int32_t alpha = T.METHOD == VOXADD ? 255 : -1;
    const uint8_t* region = src.pixels + int64_t{m.sy} * src.pitch + int64_t{m.sx} * src.bpp;
    // A bitmap drawn onto itself samples each row after the rows before it are drawn, as always.
    const auto end = [](const uint8_t* p, int64_t pitch, int64_t h) { return p + pitch * h; };
    const bool itself = src.pixels < end(t.pixels, t.pitch, t.height) &&
                        t.pixels < end(src.pixels, src.pitch, src.height);
    const auto mark = [&t](int64_t ty) {
      if (t.screen) {
        t.top = std::min(t.top, ty);
        t.bottom = std::max(t.bottom, ty);
      }
    };
    // Nearest samples blended by ALPHA, the commonest turning sprite: each run sampled and
    // blended in one pass, with no batch of samples; only the runs are gathered.
    if (loops.nearest_alpha && !bilinear && !tint && !itself && src.bpp == 4 && t.bpp == 4 &&
        t.mode == PUT_ALPHA) {
      // Only the box of pixels that are not clear is sampled; a screen still marks every row
      // the whole region reaches, as the other paths do. The map is trimmed in place (a copy
      // of it costs more than a small sprite's rows), what trimming changes kept to undo it.
      const int64_t U0 = m.U0, V0 = m.V0;
      const int32_t sx = m.sx, sy = m.sy, w = m.w, h = m.h;
      const uint8_t* from = region;
      const bool any = trim_clear(&m, &from, src.pitch);
      const bool trimmed = !any || m.w != w || m.h != h;
      int64_t top = -1, bottom = -1;
      if (any) {
        box(m, &x0, &y0, &x1, &y1);
        FUSED f{loops.nearest_alpha, loops.turned_alpha, from, src.pitch, t.pixels, t.pitch};
        if (!fused_runs(m, x0, y0, x1, y1, f, &top, &bottom)) {
          VOX_SAMPLE_RUN runs[64];
          int32_t count = 0;
          each_run(m, x0, y0, x1, y1, [&](int64_t ty, int64_t tx, int64_t n, int64_t u, int64_t v) {
            if (count == 64)
              loops.nearest_alpha(runs, count, from, src.pitch, m.A, m.C, m.h), count = 0;
            runs[count++] = {t.pixels + ty * t.pitch + tx * 4, u, v, int32_t(n)};
            if (top < 0) top = ty;
            bottom = ty;
          });
          loops.nearest_alpha(runs, count, from, src.pitch, m.A, m.C, m.h);
        }
      }
      if (trimmed && t.screen) {
        m.U0 = U0, m.V0 = V0, m.sx = sx, m.sy = sy, m.w = w, m.h = h;
        box(m, &x0, &y0, &x1, &y1);
        each_run(m, x0, y0, x1, y1,
                 [&](int64_t ty, int64_t, int64_t, int64_t, int64_t) { mark(ty); });
      } else if (top >= 0) {
        mark(top), mark(bottom);
      }
      DETAIL::finish(t);
      vox_hAutoUnlock();
      return TRUE;
    }
    box(m, &x0, &y0, &x1, &y1);
    const std::unique_ptr<BATCH> own(batch().busy ? new BATCH : nullptr);  // rare, and large
    BATCH& b = own ? *own : batch();
    // Empty and free again however the call ends, a blender that throws included.
    const struct HOLD {
      BATCH& b;
      ~HOLD() { b.count = b.used = 0, b.busy = false; }
    } hold{b};
    b.busy = true;
    const size_t room = size_t(std::max<int64_t>(x1 - x0 + 1, kBatchPixels)) * 4;
    if (x1 >= x0 && b.samples.size() < room) b.samples.resize(room);
    const auto draw = [&] {
      if (tint) loops.tint(b.samples.data(), b.used, T.TINT);
      for (const BATCH::RUN& r : std::span(b.runs, size_t(b.count)))
        rows(b.samples.data() + int64_t{r.at} * 4, t.pixels + r.ty * t.pitch + r.tx * t.bpp, r.n, 1,
             0, t.pitch, alpha, T.BLENDER, T.PARAM);
      b.count = b.used = 0;
    };
    each_run(m, x0, y0, x1, y1, [&](int64_t ty, int64_t tx, int64_t n, int64_t u, int64_t v) {
      if (b.used + n > int64_t(b.samples.size() / 4) || b.count == BATCH::kRuns) draw();
      sample(b.samples.data() + int64_t{b.used} * 4, region, src.pitch, u, v, m.A, m.C, int32_t(n),
             m.w, m.h);
      b.runs[b.count++] = {ty, tx, int32_t(n), b.used};
      b.used += int32_t(n);
      if (itself) draw();
      mark(ty);
    });
    draw();
  }
  DETAIL::finish(t);
  vox_hAutoUnlock();
  return TRUE;
}

BOOLEAN BITMAP::DRAWTRANSFORMED(BITMAP& DEST, float X, float Y, const TRANSFORM& T) const {
  return DRAWTRANSFORMED(DEST.HANDLE(), X, Y, T);
}

MATH::RECT TRANSFORMEDBOUNDS(const BITMAP& SOURCE, float X, float Y, const TRANSFORM& T) {
  const MATH::RECT none{0, 0, -1, -1};
  VOX_IMAGE_INFO src;
  const VOX_GFX_SCREEN* screen = __vox_gfx;
  if (!SOURCE.HANDLE() ||
      !vox_hImageInfo(SOURCE.HANDLE(), screen ? screen->bytes_per_pixel : 4, &src) ||
      src.width < 1 || src.height < 1 || T.METHOD < VOXPSET || T.METHOD > VOXCUSTOM ||
      (T.METHOD == VOXCUSTOM && !T.BLENDER) || (SOURCE.IBPP == 4 && !SOURCE.IALPHACHANNEL && SOURCE.IALPHA < 4)) {
    return none;
  }
  MAP m;
  if (plan(src, X, Y, T, nullptr, &m) == PLAN_FAIL || !m.visible) return none;
  double left, top, right, bottom;
  reach(m, &left, &top, &right, &bottom);
  // The exact first and last rows and columns with samples, found run by run when the box is
  // small enough to walk; otherwise the box itself.
  int64_t x0 = INT64_MAX, x1 = INT64_MIN, y0 = INT64_MAX, y1 = INT64_MIN;
  if (bottom - top <= 1 << 16) {
    each_run(m, int64_t(left), int64_t(top), int64_t(right), int64_t(bottom),
             [&](int64_t ty, int64_t tx, int64_t n, int64_t, int64_t) {
               x0 = std::min(x0, tx), x1 = std::max(x1, tx + n - 1);
               y0 = std::min(y0, ty), y1 = std::max(y1, ty);
             });
    if (y1 < y0) return none;
  } else {
    x0 = int64_t(left), x1 = int64_t(right), y0 = int64_t(top), y1 = int64_t(bottom);
  }
  x0 = std::clamp<int64_t>(x0, INT32_MIN, INT32_MAX);
  y0 = std::clamp<int64_t>(y0, INT32_MIN, INT32_MAX);
  x1 = std::clamp<int64_t>(x1, x0, int64_t{x0} + INT32_MAX);
  y1 = std::clamp<int64_t>(y1, y0, int64_t{y0} + INT32_MAX);
  x1 = std::min<int64_t>(x1, INT32_MAX);
  y1 = std::min<int64_t>(y1, INT32_MAX);
  return MATH::RECT{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

}  // namespace KASTREL::GRAPHICS
