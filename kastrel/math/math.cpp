#include "kastrel/math/math.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "kastrel/base/fatal.h"
#include "kastrel/math/random.h"

namespace KASTREL::MATH {

namespace {

// 32-bit two's-complement arithmetic that wraps instead of overflowing.
int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

BOOLEAN truth(bool value) { return value ? TRUE : FALSE; }

// Closed range test on exact values; false for NaN.
bool within(double value, double low, double high) { return value >= low && value <= high; }

}  // namespace

int32_t MIN(int32_t A, int32_t B) { return A < B ? A : B; }
float MIN(float A, float B) { return A >= B ? B : A; }
int32_t MAX(int32_t A, int32_t B) { return A > B ? A : B; }
float MAX(float A, float B) { return A > B ? A : B; }
int32_t CONSTRAIN(int32_t VALUE, int32_t A, int32_t B) { return MIN(MAX(VALUE, A), B); }
float CONSTRAIN(float VALUE, float A, float B) { return MIN(MAX(VALUE, A), B); }

int32_t RANDOM(int32_t IMIN, int32_t IMAX) {
  // r is y / 2^32 for the drawn word y, so floor(r * span) is floor(y * span / 2^32).
  // The span is taken in 64 bits: in 32 bits, ranges of 2^31 numbers or more
  // would wrap and answer values outside the range asked for.
  const uint64_t y = static_cast<uint64_t>(vox_Rnd(1.0f) * 0x1p32);
  const int64_t span = static_cast<int64_t>(IMAX) - static_cast<int64_t>(IMIN) + 1;
  int64_t offset;
  if (span >= 0) {
    offset = static_cast<int64_t>((y * static_cast<uint64_t>(span)) >> 32);
  } else {
    // Crossed bounds: floor of a negative product is minus the ceiling of its magnitude.
    const uint64_t product = y * static_cast<uint64_t>(-span);
    offset = -static_cast<int64_t>((product + 0xFFFFFFFFu) >> 32);
  }
  return static_cast<int32_t>(IMIN + offset);
}

int32_t LASTRANDOM() { return ROUNDTOINT(vox_Rnd(0.0f)); }

int32_t ROUNDTOINT(double VALUE) {
  if (!(VALUE >= -0x1p31 && VALUE < 0x1p31)) return INT32_MIN;
  double whole = std::floor(VALUE);
  const double fraction = VALUE - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  if (whole >= 0x1p31) return INT32_MIN;  // 2^31 - 0.5 rounds up out of range
  return static_cast<int32_t>(whole);
}

BOOLEAN RECT::HASPOINT(int32_t PX, int32_t PY) const {
  return truth(PX >= X && PX <= wrap_add(X, W) && PY >= Y && PY <= wrap_add(Y, H));
}

BOOLEAN RECT::HASPOINT(float PX, float PY) const {
  return truth(within(PX, X, wrap_add(X, W)) && within(PY, Y, wrap_add(Y, H)));
}

BOOLEAN RECT::HASPOINT(const POINT& PT) const { return HASPOINT(PT.X, PT.Y); }
BOOLEAN RECT::HASPOINT(const POINTF& PT) const { return HASPOINT(PT.X, PT.Y); }

BOOLEAN RECTF::HASPOINT(int32_t PX, int32_t PY) const {
  return truth(within(PX, X, double{X} + double{W}) && within(PY, Y, double{Y} + double{H}));
}

BOOLEAN RECTF::HASPOINT(float PX, float PY) const {
  return truth(within(PX, X, double{X} + double{W}) && within(PY, Y, double{Y} + double{H}));
}

BOOLEAN RECTF::HASPOINT(const POINT& PT) const { return HASPOINT(PT.X, PT.Y); }
BOOLEAN RECTF::HASPOINT(const POINTF& PT) const { return HASPOINT(PT.X, PT.Y); }

POLY::POLY(const POLY& OTHER) { *this = OTHER; }

POLY::POLY(POLY&& OTHER) noexcept { *this = std::move(OTHER); }

POLY& POLY::operator=(const POLY& OTHER) {
  if (this == &OTHER) return *this;
  DESTROY();
  RECT = OTHER.RECT;
  if (OTHER.SIDES <= 0 || !OTHER.POINT) return *this;
  void* copy = RESIZEBLOCK(nullptr, static_cast<size_t>(OTHER.SIDES), sizeof(MATH::POINT));
  if (copy == nullptr) return *this;
  std::memcpy(copy, OTHER.POINT, static_cast<size_t>(OTHER.SIDES) * sizeof(MATH::POINT));
  POINT = static_cast<MATH::POINT*>(copy);
  SIDES = OTHER.SIDES;
  return *this;
}

POLY& POLY::operator=(POLY&& OTHER) noexcept {
  if (this == &OTHER) return *this;
  DESTROY();
  POINT = std::exchange(OTHER.POINT, nullptr);
  SIDES = std::exchange(OTHER.SIDES, 0);
  RECT = OTHER.RECT;
  return *this;
}

POLY::~POLY() { DESTROY(); }

void POLY::DESTROY() {
  std::free(POINT);
  POINT = nullptr;
  SIDES = 0;
}

void POLY::ADDPOINT(const MATH::POINT& PT) {
  // PT may be one of our own points, which the resize can move: copy it first.
  const MATH::POINT added = PT;
  if (SIDES == INT32_MAX) return;
  void* grown = RESIZEBLOCK(POINT, static_cast<size_t>(SIDES) + 1, sizeof(MATH::POINT));
  if (grown == nullptr) return;
  POINT = static_cast<MATH::POINT*>(grown);
  POINT[SIDES++] = added;

  if (added.X < RECT.X) {
    RECT.W = wrap_add(RECT.W, wrap_sub(RECT.X, added.X));  // keeps the right edge in place
    RECT.X = added.X;
  } else if (wrap_add(RECT.X, RECT.W) < added.X) {
    RECT.W = wrap_sub(added.X, RECT.X);
  }
  if (added.Y < RECT.Y) {
    RECT.H = wrap_add(RECT.H, wrap_sub(RECT.Y, added.Y));
    RECT.Y = added.Y;
  } else if (wrap_add(RECT.Y, RECT.H) < added.Y) {
    RECT.H = wrap_sub(added.Y, RECT.Y);
  }
}

void POLY::ADDPOINT(int32_t X, int32_t Y) { ADDPOINT(MATH::POINT{X, Y}); }

void POLY::CREATEFROMCIRCLE(int32_t P, int32_t Q, int32_t R, int32_t LOSS) {
  const int32_t CX = wrap_sub(P, R);
  const int32_t CY = wrap_sub(Q, R);
  const int32_t CR = wrap_add(R, R);
  if (R <= 1) {
    ADDPOINT(CX, CY);
    ADDPOINT(wrap_add(CX, CR), CY);
    ADDPOINT(wrap_add(CX, CR), wrap_add(CY, CR));
    ADDPOINT(CX, wrap_add(CY, CR));
    return;
  }

  // R * R and the row arithmetic are exact in 64 bits: in 32 bits a radius
  // above 46340 would square to a negative number, and rows near the bottom of
  // the int32 range would wrap round and never end the scan.
  const int64_t R2 = static_cast<int64_t>(R) * R;
  const int64_t STEP = MAX(LOSS, 1);
  for (int64_t Y = Q; Y >= CY; Y -= STEP) {
    const int64_t DY = Y - Q;
    const double D = std::sqrt(static_cast<double>(R2 - DY * DY));
    const float right = static_cast<float>(P + D);
    const float left = static_cast<float>(P - D);
    ADDPOINT(ROUNDTOINT(MIN(right, left)), static_cast<int32_t>(Y));
  }

  const int32_t mirror_x = wrap_add(wrap_add(CX, CX), CR);
  for (int32_t I = SIDES - 1; I >= 0; --I) {
    ADDPOINT(wrap_sub(mirror_x, POINT[I].X), POINT[I].Y);
  }
  const int32_t mirror_y = wrap_add(wrap_add(CY, CY), CR);
  for (int32_t I = SIDES - 1; I >= 0; --I) {
    ADDPOINT(POINT[I].X, wrap_sub(mirror_y, POINT[I].Y));
  }
}

namespace {

__extension__ using u128 = unsigned __int128;

// Squared distances in 128 bits: differences of int32 values reach 2^32, their squares 2^64.
u128 square(int64_t v) { return u128(v < 0 ? -v : v) * u128(v < 0 ? -v : v); }

// The nearest value to V in the closed range [LO, HI].
template <typename T>
T nearest(T V, T LO, T HI) {
  return V < LO ? LO : V > HI ? HI : V;
}

}  // namespace

BOOLEAN CIRCLESCOLLIDE(int32_t P1, int32_t Q1, int32_t R1, int32_t P2, int32_t Q2, int32_t R2) {
  if (R1 < 0 || R2 < 0) return FALSE;
  return truth(square(int64_t{P1} - P2) + square(int64_t{Q1} - Q2) <= square(int64_t{R1} + R2));
}

BOOLEAN CIRCLESCOLLIDE(float P1, float Q1, float R1, float P2, float Q2, float R2) {
  if (!(R1 >= 0 && R2 >= 0)) return FALSE;
  const double dx = double(P1) - P2, dy = double(Q1) - Q2, r = double(R1) + R2;
  return truth(dx * dx + dy * dy <= r * r);
}

BOOLEAN CIRCLERECTCOLLIDE(int32_t P, int32_t Q, int32_t R, const RECT& BOX) {
  const int32_t right = wrap_add(BOX.X, BOX.W), bottom = wrap_add(BOX.Y, BOX.H);
  if (R < 0 || right < BOX.X || bottom < BOX.Y) return FALSE;
  return truth(square(P - nearest<int64_t>(P, BOX.X, right)) +
                   square(Q - nearest<int64_t>(Q, BOX.Y, bottom)) <=
               square(R));
}

BOOLEAN CIRCLERECTCOLLIDE(float P, float Q, float R, const RECTF& BOX) {
  const double right = double(BOX.X) + BOX.W, bottom = double(BOX.Y) + BOX.H;
  if (!(R >= 0 && right >= BOX.X && bottom >= BOX.Y)) return FALSE;
  const double dx = P - nearest<double>(P, BOX.X, right);
  const double dy = Q - nearest<double>(Q, BOX.Y, bottom);
  return truth(dx * dx + dy * dy <= double(R) * R);
}

}  // namespace KASTREL::MATH
