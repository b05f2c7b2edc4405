#include "kastrel/world/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "kastrel/base/error.h"
#include "kastrel/world/detail/tilemap_load.h"

namespace KASTREL::WORLD {

namespace {

// Cosine and sine of the screen turn (the world turns against the camera), exact at quarter turns.
void turn(float angle, double& c, double& s) {
  double r = std::isfinite(angle) ? std::fmod(double(angle), 360.0) : 0.0;
  if (r < 0) r += 360;
  if (r == 0)
    c = 1, s = 0;
  else if (r == 90)
    c = 0, s = 1;
  else if (r == 180)
    c = -1, s = 0;
  else if (r == 270)
    c = 0, s = -1;
  else
    c = std::cos(r * std::numbers::pi / 180), s = std::sin(r * std::numbers::pi / 180);
}

double finite(float v) { return std::isfinite(v) ? double(v) : 0.0; }

}  // namespace

float CAMERA::ZOOMUSED() const {
  return std::isfinite(ZOOM) && ZOOM >= 1.0f / 64 && ZOOM <= 64 ? ZOOM : 1.0f;
}

int64_t CAMERA::SCROLLX() const {
  const double v = std::floor(finite(X) * ZOOMUSED());
  return int64_t(std::clamp(v, -4e15, 4e15)) - (int64_t(VIEW.W) + 1) / 2;
}

int64_t CAMERA::SCROLLY() const {
  const double v = std::floor(finite(Y) * ZOOMUSED());
  return int64_t(std::clamp(v, -4e15, 4e15)) - (int64_t(VIEW.H) + 1) / 2;
}

MATH::POINTF CAMERA::TOVIEW(float WX, float WY) const {
  const double z = ZOOMUSED();
  const int64_t hw = (int64_t(VIEW.W) + 1) / 2, hh = (int64_t(VIEW.H) + 1) / 2;
  // Offset from the view's centre, unturned.
  const double dx = double(WX) * z - double(SCROLLX() + hw),
               dy = double(WY) * z - double(SCROLLY() + hh);
  double c, s;
  turn(ANGLE, c, s);
  return {float(double(VIEW.X) + double(hw) + dx * c + dy * s),
          float(double(VIEW.Y) + double(hh) - dx * s + dy * c)};
}

MATH::POINTF CAMERA::TOWORLD(float VX, float VY) const {
  const double z = ZOOMUSED();
  const int64_t hw = (int64_t(VIEW.W) + 1) / 2, hh = (int64_t(VIEW.H) + 1) / 2;
  const double ex = double(VX) - double(VIEW.X) - double(hw),
               ey = double(VY) - double(VIEW.Y) - double(hh);
  double c, s;
  turn(ANGLE, c, s);
  const double dx = ex * c - ey * s, dy = ex * s + ey * c;
  return {float((dx + double(SCROLLX() + hw)) / z), float((dy + double(SCROLLY() + hh)) / z)};
}

namespace {

template <typename MAP>
MATH::RECTF box_of(const MATH::RECTF& R, MAP map) {
  const MATH::POINTF p[4] = {map(R.X, R.Y), map(R.X + R.W, R.Y), map(R.X, R.Y + R.H),
                             map(R.X + R.W, R.Y + R.H)};
  float x0 = p[0].X, x1 = p[0].X, y0 = p[0].Y, y1 = p[0].Y;
  for (const MATH::POINTF& q : p) {
    x0 = std::min(x0, q.X), x1 = std::max(x1, q.X);
    y0 = std::min(y0, q.Y), y1 = std::max(y1, q.Y);
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

MATH::RECTF CAMERA::TOVIEW(const MATH::RECTF& WORLD) const {
  return box_of(WORLD, [this](float x, float y) { return TOVIEW(x, y); });
}

MATH::RECTF CAMERA::TOWORLD(const MATH::RECTF& VIEWRECT) const {
  return box_of(VIEWRECT, [this](float x, float y) { return TOWORLD(x, y); });
}

MATH::RECTF CAMERA::VISIBLE() const {
  return TOWORLD(MATH::RECTF{float(VIEW.X), float(VIEW.Y), float(int64_t(VIEW.W) + 1),
                             float(int64_t(VIEW.H) + 1)});
}

BOOLEAN CAMERA::INVIEW(const MATH::RECTF& WORLD) const {
  if (VIEW.W < 0 || VIEW.H < 0 || !(WORLD.W >= 0) || !(WORLD.H >= 0)) return FALSE;
  const MATH::RECTF v = TOVIEW(WORLD);
  return TOBOOLEAN(v.X < double(VIEW.X) + double(VIEW.W) + 1 && v.X + v.W > double(VIEW.X) &&
                   v.Y < double(VIEW.Y) + double(VIEW.H) + 1 && v.Y + v.H > double(VIEW.Y));
}

void CAMERA::FOLLOW(float TX, float TY, float ELAPSED) {
  if (!std::isfinite(TX) || !std::isfinite(TY)) return;
  const double z = ZOOMUSED();
  const double hw = std::max(0.0, finite(DEADZONEW)) / 2 / z,
               hh = std::max(0.0, finite(DEADZONEH)) / 2 / z;
  double gx = finite(X), gy = finite(Y);
  if (TX > gx + hw) gx = TX - hw;
  if (TX < gx - hw) gx = TX + hw;
  if (TY > gy + hh) gy = TY - hh;
  if (TY < gy - hh) gy = TY + hh;
  double f = 1;
  if (std::isfinite(LAG) && LAG > 0)
    f = std::isfinite(ELAPSED) && ELAPSED > 0 ? 1 - std::exp(-double(ELAPSED) / LAG) : 0;
  X = float(finite(X) + (gx - finite(X)) * f);
  Y = float(finite(Y) + (gy - finite(Y)) * f);
  CLAMP();
}

void CAMERA::CLAMP() {
  if (!(BOUNDS.W >= 0) || !(BOUNDS.H >= 0)) return;
  const double z = ZOOMUSED();
  const auto keep = [](float& v, double lo, double size, double half) {
    if (size <= 2 * half)
      v = float(lo + size / 2);
    else
      v = float(std::clamp(finite(v), lo + half, lo + size - half));
  };
  keep(X, BOUNDS.X, BOUNDS.W, (double(VIEW.W) + 1) / 2 / z);
  keep(Y, BOUNDS.Y, BOUNDS.H, (double(VIEW.H) + 1) / 2 / z);
}

BOOLEAN CAMERA::DRAWTRANSFORMED(void* DEST, const GRAPHICS::BITMAP& B, float WX, float WY,
                                GRAPHICS::TRANSFORM T) const {
  // Cull by the bitmap's box (its region, placed by T), grown by its pivot and scale.
  const double w = T.SOURCE.W < 0 ? B.WIDTH() : std::min<double>(B.WIDTH(), T.SOURCE.W + 1.0);
  const double h = T.SOURCE.H < 0 ? B.HEIGHT() : std::min<double>(B.HEIGHT(), T.SOURCE.H + 1.0);
  const double sx = std::fabs(finite(T.SCALEX)), sy = std::fabs(finite(T.SCALEY));
  const double reach =
      (std::fabs(finite(T.PIVOTX)) + w) * sx + (std::fabs(finite(T.PIVOTY)) + h) * sy;
  if (B.HANDLE() != nullptr && std::isfinite(WX) && std::isfinite(WY) &&
      !INVIEW({float(WX - reach), float(WY - reach), float(2 * reach), float(2 * reach)}))
    return TRUE;
  // Unturned and unscaled, a bitmap keeps to the tiles' pixel rule exactly.
  const double turned = std::fmod(finite(ANGLE), 360.0), own = std::fmod(finite(T.ANGLE), 360.0);
  if (turned == 0 && own == 0 && std::fabs(T.SCALEX) == 1 && std::fabs(T.SCALEY) == 1 &&
      T.FILTER == GRAPHICS::NEAREST && T.METHOD >= GRAPHICS::VOXPSET &&
      T.METHOD <= GRAPHICS::VOXADD && B.HANDLE() != nullptr && B.BPP() == 4 && std::isfinite(WX) &&
      std::isfinite(WY) && std::isfinite(T.PIVOTX) && std::isfinite(T.PIVOTY)) {
    if (B.IALPHACHANNEL == nullptr && B.ALPHA() < 4) return TRUE;  // faded away, as DRAWTO
    MATH::RECT src{0, 0, int32_t(B.WIDTH()) - 1, int32_t(B.HEIGHT()) - 1};
    if (T.SOURCE.W >= 0) src.X = T.SOURCE.X, src.W = T.SOURCE.W;
    if (T.SOURCE.H >= 0) src.Y = T.SOURCE.Y, src.H = T.SOURCE.H;
    // The region cut to the picture.
    const int64_t x0 = std::max<int64_t>(src.X, 0), y0 = std::max<int64_t>(src.Y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(src.X) + src.W, int64_t(B.WIDTH()) - 1);
    const int64_t y1 = std::min<int64_t>(int64_t(src.Y) + src.H, int64_t(B.HEIGHT()) - 1);
    if (x1 < x0 || y1 < y0) return TRUE;
    const bool mirrorx = ((T.FLIP & GRAPHICS::FLIPH) != 0) != (T.SCALEX < 0);
    const bool mirrory = ((T.FLIP & GRAPHICS::FLIPV) != 0) != (T.SCALEY < 0);
    // The pivot lands on the point; a mirror turns the region over around it.
    const double width = double(x1 - x0 + 1), height = double(y1 - y0 + 1);
    const double left = mirrorx ? double(WX) + T.PIVOTX - width : double(WX) - T.PIVOTX;
    const double top = mirrory ? double(WY) + T.PIVOTY - height : double(WY) - T.PIVOTY;
    return DETAIL::draw_sprite(DEST, *this, B,
                               {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)}, left,
                               top, mirrorx, mirrory, T.TINT, T.METHOD);
  }
  const MATH::POINTF v = TOVIEW(WX, WY);
  const float z = ZOOMUSED();
  T.SCALEX *= z;
  T.SCALEY *= z;
  T.ANGLE = float(std::fmod(finite(T.ANGLE) - finite(ANGLE), 360.0));
  return B.DRAWTRANSFORMED(DEST, v.X, v.Y, T);
}

BOOLEAN CAMERA::DRAW(void* DEST, const GRAPHICS::BITMAP& B, float WX, float WY,
                     GRAPHICS::RASTEROP METHOD) const {
  GRAPHICS::TRANSFORM T;
  T.METHOD = METHOD;
  return DRAWTRANSFORMED(DEST, B, WX, WY, T);
}

BOOLEAN CAMERA::DRAW(void* DEST, const GRAPHICS::SPRITESHEET& S, int32_t N, float WX, float WY,
                     GRAPHICS::RASTEROP METHOD) const {
  if (N < 0 || N >= S.COUNT()) {
    SETLASTERROR("CAMERA: frame %d is not one of its %d", N, S.COUNT());
    return FALSE;
  }
  GRAPHICS::TRANSFORM T;
  T.METHOD = METHOD;
  T.SOURCE = S.FRAMES[size_t(N)];
  return DRAWTRANSFORMED(DEST, S.IMAGE, WX, WY, T);
}

}  // namespace KASTREL::WORLD
