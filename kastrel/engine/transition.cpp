#include "kastrel/engine/transition.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kastrel/base/detail/copy.h"
#include "kastrel/base/detail/cpu_features.h"
#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/timer.h"
#include "kastrel/engine/engine.h"
#include "kastrel/engine/regions.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)  // WebAssembly built with -msse2
#include <emmintrin.h>
#endif

namespace KASTREL::ENGINE {

constinit double TRANSITIONDURATION = 0.5;

namespace {

// One frame's geometry and pictures while composing.
struct Frame {
  uint8_t* dest;
  const uint8_t* out;
  const uint8_t* in;
  int32_t w, h;
  size_t pitch;
  uint32_t* drow(int32_t y) const { return reinterpret_cast<uint32_t*>(dest + y * pitch); }
  const uint32_t* orow(int32_t y) const {
    return reinterpret_cast<const uint32_t*>(out + y * pitch);
  }
  const uint32_t* irow(int32_t y) const {
    return reinterpret_cast<const uint32_t*>(in + y * pitch);
  }
};

int32_t moved(double p, int32_t length) {
  return static_cast<int32_t>(std::floor(p * static_cast<double>(length)));
}

// Pixels [x0, x1) of a row.
void span(uint32_t* d, const uint32_t* s, int64_t x0, int64_t x1) {
  if (x1 > x0) vox_hCopyBytes(d + x0, s + x0, static_cast<size_t>(x1 - x0) * 4);
}

// One row of FADE over n bytes: (o * (256 - a) + i * a) >> 8, which equals
// ((o << 8) + (i - o) * a) >> 8 and never leaves 0..65280, so 16-bit lanes hold it exactly
// (the product wraps, the sum does not).
void fade_tail(const uint8_t* o, const uint8_t* i, uint8_t* d, size_t j, size_t n, int32_t a) {
  for (; j < n; ++j) d[j] = static_cast<uint8_t>((o[j] * (256 - a) + i[j] * a) >> 8);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void fade_row_avx2(const uint8_t* o, const uint8_t* i, uint8_t* d,
                                                   size_t n, int32_t a) {
  const __m256i ka = _mm256_set1_epi16(static_cast<int16_t>(a));
  const __m256i zero = _mm256_setzero_si256();
  size_t j = 0;
  for (; j + 32 <= n; j += 32) {
    const __m256i vo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o + j));
    const __m256i vi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(i + j));
    const __m256i olo = _mm256_unpacklo_epi8(vo, zero), ohi = _mm256_unpackhi_epi8(vo, zero);
    const __m256i ilo = _mm256_unpacklo_epi8(vi, zero), ihi = _mm256_unpackhi_epi8(vi, zero);
    const __m256i lo =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_slli_epi16(olo, 8),
                                           _mm256_mullo_epi16(_mm256_sub_epi16(ilo, olo), ka)),
                          8);
    const __m256i hi =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_slli_epi16(ohi, 8),
                                           _mm256_mullo_epi16(_mm256_sub_epi16(ihi, ohi), ka)),
                          8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j), _mm256_packus_epi16(lo, hi));
  }
  fade_tail(o, i, d, j, n, a);
}
#endif

void fade_row(const uint8_t* o, const uint8_t* i, uint8_t* d, size_t n, int32_t a) {
  size_t j = 0;
#if defined(__SSE2__)
  const __m128i ka = _mm_set1_epi16(static_cast<int16_t>(a));
  const __m128i zero = _mm_setzero_si128();
  for (; j + 16 <= n; j += 16) {
    const __m128i vo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + j));
    const __m128i vi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(i + j));
    const __m128i olo = _mm_unpacklo_epi8(vo, zero), ohi = _mm_unpackhi_epi8(vo, zero);
    const __m128i ilo = _mm_unpacklo_epi8(vi, zero), ihi = _mm_unpackhi_epi8(vi, zero);
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_slli_epi16(olo, 8), _mm_mullo_epi16(_mm_sub_epi16(ilo, olo), ka)), 8);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_slli_epi16(ohi, 8), _mm_mullo_epi16(_mm_sub_epi16(ihi, ohi), ka)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + j), _mm_packus_epi16(lo, hi));
  }
#endif
  fade_tail(o, i, d, j, n, a);
}

void fade(const Frame& f, double p) {
  const int32_t a = moved(p, 256);
  const size_t bytes = static_cast<size_t>(f.w) * 4;
  auto row = fade_row;
#if defined(__x86_64__)
  if (vox_hCpuFeatures().avx2) row = fade_row_avx2;
#endif
  for (int32_t y = 0; y < f.h; ++y)
    row(f.out + y * f.pitch, f.in + y * f.pitch, f.dest + y * f.pitch, bytes, a);
}

// The top picture at offset (dx, dy) over the bottom one, which stays.
void slide(const Frame& f, bool incoming_on_top, int64_t dx, int64_t dy) {
  const int64_t x0 = std::max<int64_t>(0, dx), x1 = std::min<int64_t>(f.w, f.w + dx);
  for (int32_t y = 0; y < f.h; ++y) {
    uint32_t* d = f.drow(y);
    const uint32_t* bottom = incoming_on_top ? f.orow(y) : f.irow(y);
    const int64_t ty = y - dy;
    if (ty < 0 || ty >= f.h || x1 <= x0) {
      span(d, bottom, 0, f.w);
      continue;
    }
    const uint32_t* top = incoming_on_top ? f.irow(int32_t(ty)) : f.orow(int32_t(ty));
    span(d, bottom, 0, x0);
    vox_hCopyBytes(d + x0, top + (x0 - dx), static_cast<size_t>(x1 - x0) * 4);
    span(d, bottom, x1, f.w);
  }
}

// floor(u * length / n) for u = 0, 1, 2, ... in turn, without a division per step.
struct Scale {
  int64_t value = 0, rest = 0, whole, part, n;
  Scale(int64_t length, int64_t count) : whole(length / count), part(length % count), n(count) {}
  void next() {
    value += whole;
    rest += part;
    if (rest >= n) rest -= n, ++value;
  }
};

// The scaled picture in the rectangle (x0, y0, w, h) over the other one, which stays. The
// rectangle is never larger than the frame, so the picture only ever shrinks.
void zoom(const Frame& f, bool incoming_scaled, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  thread_local std::vector<int32_t> columns;
  if (w > 0 && w != f.w) {
    columns.resize(static_cast<size_t>(w));
    Scale c(f.w, w);
    for (int32_t u = 0; u < w; ++u, c.next()) columns[u] = static_cast<int32_t>(c.value);
  }
  Scale sy(f.h, h > 0 ? h : 1);
  for (int32_t y = 0; y < f.h; ++y) {
    uint32_t* d = f.drow(y);
    const uint32_t* back = incoming_scaled ? f.orow(y) : f.irow(y);
    if (y < y0 || y >= y0 + h || w <= 0) {
      span(d, back, 0, f.w);
      continue;
    }
    span(d, back, 0, x0);
    span(d, back, int64_t{x0} + w, f.w);
    const int32_t row = static_cast<int32_t>(sy.value);
    sy.next();
    const uint32_t* s = incoming_scaled ? f.irow(row) : f.orow(row);
    if (w == f.w) {
      vox_hCopyBytes(d, s, static_cast<size_t>(w) * 4);
      continue;
    }
    uint32_t* __restrict dd = d + x0;
    const int32_t* __restrict c = columns.data();
    int32_t u = 0;
    for (; u + 4 <= w; u += 4) {
      const uint32_t p0 = s[c[u]], p1 = s[c[u + 1]], p2 = s[c[u + 2]], p3 = s[c[u + 3]];
      dd[u] = p0, dd[u + 1] = p1, dd[u + 2] = p2, dd[u + 3] = p3;
    }
    for (; u < w; ++u) dd[u] = s[c[u]];
  }
}

// Band b of count over length: [lo, hi).
int32_t band_edge(int32_t b, int32_t length) {
  return static_cast<int32_t>(int64_t{b} * length / TRANSITIONSTRIPES);
}

void horizontal_stripes(const Frame& f, double p, int32_t sx, int32_t sy) {
  for (int32_t b = 0; b < TRANSITIONSTRIPES; ++b) {
    const int32_t top = band_edge(b, f.h), bottom = band_edge(b + 1, f.h);
    // The band's revealed columns [c0, c1) and rows [r0, r1).
    int32_t c0 = 0, c1 = f.w, r0 = top, r1 = bottom;
    if (sx != 0) {
      const int32_t counted = sy > 0 ? TRANSITIONSTRIPES - 1 - b : b;
      const bool left = (sx < 0) == (counted % 2 == 0);
      const int32_t n = moved(p, f.w);
      c0 = left ? 0 : f.w - n;
      c1 = left ? n : f.w;
    } else {
      const bool at_top = (sy < 0) == (b % 2 == 0);
      const int32_t n = moved(p, bottom - top);
      r0 = at_top ? top : bottom - n;
      r1 = at_top ? top + n : bottom;
    }
    for (int32_t y = top; y < bottom; ++y) {
      uint32_t* d = f.drow(y);
      if (y < r0 || y >= r1) {
        span(d, f.orow(y), 0, f.w);
        continue;
      }
      span(d, f.orow(y), 0, c0);
      span(d, f.irow(y), c0, c1);
      span(d, f.orow(y), c1, f.w);
    }
  }
}

void vertical_stripes(const Frame& f, double p, int32_t sx, int32_t sy) {
  const int32_t m = moved(p, f.h);
  for (int32_t y = 0; y < f.h; ++y) {
    uint32_t* d = f.drow(y);
    const uint32_t* o = f.orow(y);
    const uint32_t* in = f.irow(y);
    for (int32_t b = 0; b < TRANSITIONSTRIPES; ++b) {
      const int32_t left = band_edge(b, f.w), right = band_edge(b + 1, f.w);
      int32_t c0 = left, c1 = right;  // revealed columns of the band in this row
      if (sy != 0) {
        const int32_t counted = sx > 0 ? TRANSITIONSTRIPES - 1 - b : b;
        const bool from_top = (sy < 0) == (counted % 2 == 0);
        if (from_top ? y >= m : y < f.h - m) c1 = c0;
      } else {
        const bool at_left = (sx < 0) == (b % 2 == 0);
        const int32_t n = moved(p, right - left);
        c0 = at_left ? left : right - n;
        c1 = at_left ? left + n : right;
      }
      span(d, o, left, c0);
      span(d, in, c0, c1);
      span(d, o, c1, right);
    }
  }
}

int32_t side_x(TRANSITIONDIRECTION dir) {
  switch (dir) {
    case TRANSITIONDIRECTION::FROMLEFT:
    case TRANSITIONDIRECTION::FROMTOPLEFT:
    case TRANSITIONDIRECTION::FROMBOTTOMLEFT:
      return -1;
    case TRANSITIONDIRECTION::FROMRIGHT:
    case TRANSITIONDIRECTION::FROMTOPRIGHT:
    case TRANSITIONDIRECTION::FROMBOTTOMRIGHT:
      return 1;
    default:
      return 0;
  }
}

int32_t side_y(TRANSITIONDIRECTION dir) {
  switch (dir) {
    case TRANSITIONDIRECTION::FROMTOP:
    case TRANSITIONDIRECTION::FROMTOPLEFT:
    case TRANSITIONDIRECTION::FROMTOPRIGHT:
      return -1;
    case TRANSITIONDIRECTION::FROMBOTTOM:
    case TRANSITIONDIRECTION::FROMBOTTOMLEFT:
    case TRANSITIONDIRECTION::FROMBOTTOMRIGHT:
      return 1;
    default:
      return 0;
  }
}

void compose(const Frame& f, TRANSITIONEFFECT effect, TRANSITIONDIRECTION dir, double p) {
  const int32_t sx = side_x(dir), sy = side_y(dir);
  const int32_t kw = moved(p, f.w), kh = moved(p, f.h);
  switch (effect) {
    case TRANSITIONEFFECT::FADE:
      return fade(f, p);
    case TRANSITIONEFFECT::SLIDEIN:
      return slide(f, true, int64_t{sx} * (f.w - kw), int64_t{sy} * (f.h - kh));
    case TRANSITIONEFFECT::SLIDEOUT:
      return slide(f, false, -int64_t{sx} * kw, -int64_t{sy} * kh);
    case TRANSITIONEFFECT::ZOOMIN:
    case TRANSITIONEFFECT::ZOOMOUT: {
      const bool in = effect == TRANSITIONEFFECT::ZOOMIN;
      const int32_t w = sx == 0 ? f.w : in ? kw : f.w - kw;
      const int32_t h = sy == 0 ? f.h : in ? kh : f.h - kh;
      return zoom(f, in, sx > 0 ? f.w - w : 0, sy > 0 ? f.h - h : 0, w, h);
    }
    case TRANSITIONEFFECT::HORISONTALSTRIPES:
      return horizontal_stripes(f, p, sx, sy);
    case TRANSITIONEFFECT::VERTICALSTRIPES:
      return vertical_stripes(f, p, sx, sy);
    default:
      for (int32_t y = 0; y < f.h; ++y) span(f.drow(y), f.irow(y), 0, f.w);
  }
}

bool known(TRANSITIONEFFECT effect) {
  return static_cast<int32_t>(effect) >= 0 &&
         static_cast<int32_t>(effect) <= static_cast<int32_t>(TRANSITIONEFFECT::VERTICALSTRIPES);
}

// The running transition.
struct Running {
  bool on = false;
  TRANSITIONEFFECT effect = TRANSITIONEFFECT::NONE;
  TRANSITIONDIRECTION dir = TRANSITIONDIRECTION::FROMLEFT;
  double start = 0, duration = 0;
  int32_t screen_id = 0, width = 0, height = 0, pitch = 0;
  size_t bytes = 0;
  uint8_t* outgoing = nullptr;  // both pictures in one block
  uint8_t* incoming = nullptr;
};
constinit Running run;

// The cursor as last drawn: its clipped rectangle, what lay beneath it and what it left.
struct CursorMark {
  int32_t screen_id = 0, x = 0, y = 0, w = 0, h = 0;
  bool drawn = false;
  std::vector<uint32_t> under, over;
};
CursorMark cursor_mark;

void end_transition() {
  std::free(run.outgoing);
  run = Running{};
}

// The open screen is still the one the transition began on.
bool same_screen() {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  return s != nullptr && s->id == run.screen_id && s->width == run.width &&
         s->height == run.height && s->pitch == run.pitch && s->bytes_per_pixel == 4;
}

uint8_t* frame_buffer() { return static_cast<uint8_t*>(vox_GfxScreenPtr()); }

void copy_rect(uint8_t* base, int32_t pitch, const CursorMark& m, std::vector<uint32_t>* to) {
  to->resize(static_cast<size_t>(m.w) * m.h);
  for (int32_t y = 0; y < m.h; ++y)
    std::memcpy(to->data() + static_cast<size_t>(y) * m.w,
                base + static_cast<size_t>(m.y + y) * pitch + static_cast<size_t>(m.x) * 4,
                static_cast<size_t>(m.w) * 4);
}

// Puts back what lay beneath the cursor where the picture still shows the cursor's pixels.
void take_out_cursor(uint8_t* picture) {
  if (!cursor_mark.drawn || cursor_mark.screen_id != run.screen_id) return;
  for (int32_t y = 0; y < cursor_mark.h; ++y) {
    auto* row =
        reinterpret_cast<uint32_t*>(picture + static_cast<size_t>(cursor_mark.y + y) * run.pitch) +
        cursor_mark.x;
    for (int32_t x = 0; x < cursor_mark.w; ++x) {
      const size_t i = static_cast<size_t>(y) * cursor_mark.w + x;
      if (row[x] == cursor_mark.over[i]) row[x] = cursor_mark.under[i];
    }
  }
}

}  // namespace

BOOLEAN TRANSITIONRUNNING() { return run.on ? TRUE : FALSE; }

BOOLEAN DRAWTRANSITION(void* DEST, const void* OUTGOING, const void* INCOMING, int32_t WIDTH,
                       int32_t HEIGHT, int32_t PITCH, TRANSITIONEFFECT EFFECT,
                       TRANSITIONDIRECTION DIR, double PROGRESS) {
  if (DEST == nullptr || OUTGOING == nullptr || INCOMING == nullptr) {
    SETLASTERROR("DRAWTRANSITION: a picture is null");
    return FALSE;
  }
  if (WIDTH < 1 || HEIGHT < 1 || PITCH < 1 || PITCH / 4 < WIDTH) {
    SETLASTERROR("DRAWTRANSITION: size %d x %d with pitch %d is not a picture", WIDTH, HEIGHT,
                 PITCH);
    return FALSE;
  }
  const int32_t dir = static_cast<int32_t>(DIR);
  if (!known(EFFECT) || dir < 0 ||
      dir > static_cast<int32_t>(TRANSITIONDIRECTION::FROMBOTTOMRIGHT)) {
    SETLASTERROR("DRAWTRANSITION: unknown effect %d or direction %d", static_cast<int>(EFFECT),
                 static_cast<int>(dir));
    return FALSE;
  }
  if (std::isnan(PROGRESS)) {
    SETLASTERROR("DRAWTRANSITION: the progress is not a number");
    return FALSE;
  }
  const Frame f{static_cast<uint8_t*>(DEST),
                static_cast<const uint8_t*>(OUTGOING),
                static_cast<const uint8_t*>(INCOMING),
                WIDTH,
                HEIGHT,
                static_cast<size_t>(PITCH)};
  compose(f, EFFECT, DIR, std::clamp(PROGRESS, 0.0, 1.0));
  return TRUE;
}

namespace TRANSITIONSTEP {

void SHOWN(TRANSITIONEFFECT EFFECT, TRANSITIONDIRECTION DIR) {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  const double duration = TRANSITIONDURATION;
  const int32_t dir = static_cast<int32_t>(DIR);
  if (EFFECT == TRANSITIONEFFECT::NONE || !known(EFFECT) || dir < 0 || dir > 7 || !(duration > 0) ||
      STARTED == FALSE || GAMELOOPRUNNING == FALSE || s == nullptr || s->bytes_per_pixel != 4 ||
      frame_buffer() == nullptr) {
    end_transition();
    return;
  }
  const size_t bytes = static_cast<size_t>(s->pitch) * static_cast<size_t>(s->height);
  if (run.outgoing == nullptr || run.bytes != bytes) {
    std::free(run.outgoing);
    run.outgoing = bytes <= SIZE_MAX / 2 ? static_cast<uint8_t*>(std::malloc(bytes * 2)) : nullptr;
    if (run.outgoing == nullptr) {
      run = Running{};
      SETLASTERROR("SHOW: no memory for the pictures of a transition (%llu bytes); switched at once",
                   static_cast<unsigned long long>(bytes) * 2);
      return;
    }
  }
  run.on = true;
  run.effect = EFFECT;
  run.dir = DIR;
  run.duration = duration;
  run.screen_id = s->id;
  run.width = s->width;
  run.height = s->height;
  run.pitch = s->pitch;
  run.bytes = bytes;
  run.incoming = run.outgoing + bytes;
  std::memcpy(run.outgoing, frame_buffer(), bytes);
  take_out_cursor(run.outgoing);
  std::memcpy(run.incoming, run.outgoing, bytes);
  run.start = vox_Timer();
}

void BEFOREPAINT() {
  if (!run.on) return;
  if (!same_screen()) {
    end_transition();
    return;
  }
  if (DIRTYREGIONS.COUNT > 0) vox_hCopyBytes(frame_buffer(), run.incoming, run.bytes);
}

void AFTERPAINT(bool REPAINTED) {
  if (!run.on) return;
  if (!same_screen()) {
    end_transition();
    return;
  }
  uint8_t* fb = frame_buffer();
  if (REPAINTED) vox_hCopyBytes(run.incoming, fb, run.bytes);
  const double p = (vox_Timer() - run.start) / run.duration;
  if (!(p < 1)) {
    if (!REPAINTED) vox_hCopyBytes(fb, run.incoming, run.bytes);
    end_transition();
    return;
  }
  const Frame f{fb,        run.outgoing, run.incoming,
                run.width, run.height,   static_cast<size_t>(run.pitch)};
  compose(f, run.effect, run.dir, std::max(p, 0.0));
}

bool FINISH() {
  if (!run.on) return false;
  if (same_screen()) vox_hCopyBytes(frame_buffer(), run.incoming, run.bytes);
  end_transition();
  return true;
}

void CURSORDRAWING(int32_t X, int32_t Y, int32_t W, int32_t H) {
  cursor_mark.drawn = false;
  cursor_mark.w = 0;
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (s == nullptr || s->bytes_per_pixel != 4 || frame_buffer() == nullptr) return;
  const int64_t x0 = std::max<int64_t>(X, 0), y0 = std::max<int64_t>(Y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{X} + W, s->width);
  const int64_t y1 = std::min<int64_t>(int64_t{Y} + H, s->height);
  if (x1 <= x0 || y1 <= y0) return;
  cursor_mark.screen_id = s->id;
  cursor_mark.x = static_cast<int32_t>(x0);
  cursor_mark.y = static_cast<int32_t>(y0);
  cursor_mark.w = static_cast<int32_t>(x1 - x0);
  cursor_mark.h = static_cast<int32_t>(y1 - y0);
  copy_rect(frame_buffer(), s->pitch, cursor_mark, &cursor_mark.under);
}

void CURSORDRAWN() {
  const VOX_GFX_SCREEN* s = __vox_gfx;
  if (cursor_mark.w <= 0 || s == nullptr || s->id != cursor_mark.screen_id ||
      cursor_mark.under.empty())
    return;
  copy_rect(frame_buffer(), s->pitch, cursor_mark, &cursor_mark.over);
  cursor_mark.drawn = true;
}

}  // namespace TRANSITIONSTEP

}  // namespace KASTREL::ENGINE
