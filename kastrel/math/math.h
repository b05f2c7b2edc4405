#pragma once
#include <cstdint>

#include "kastrel/boolean.h"

// <sys/param.h> and glib define MIN and MAX as macros: set aside here and restored at the end.
// Where such a macro is in force, call the engine's as (MATH::MIN)(A, B).
#pragma push_macro("MIN")
#pragma push_macro("MAX")
#undef MIN
#undef MAX

// Small numeric helpers and the geometry records.
namespace KASTREL::MATH {

// On a tie both answer B (so MIN(0.0f, -0.0f) is -0.0f); a NaN on either side
// makes the float MIN answer A and the float MAX answer B.
int32_t MIN(int32_t A, int32_t B);
float MIN(float A, float B);
int32_t MAX(int32_t A, int32_t B);
float MAX(float A, float B);
// MIN(MAX(VALUE, A), B): the upper bound B wins when the bounds are crossed.
int32_t CONSTRAIN(int32_t VALUE, int32_t A, int32_t B);
float CONSTRAIN(float VALUE, float A, float B);

// A whole random number from IMIN to IMAX inclusive. With IMAX = IMIN - 1 the
// result is always IMIN; with IMAX below that it lies from IMAX + 1 to IMIN.
int32_t RANDOM(int32_t IMIN, int32_t IMAX);
// The raw value of the last draw (in [0, 1)) rounded to the nearest integer,
// so 0 or 1; not the last result of RANDOM.
int32_t LASTRANDOM();

// Floating value to int32 the way every engine conversion rounds: to nearest
// with halves to even. NaN and values outside the int32 range give INT32_MIN.
int32_t ROUNDTOINT(double VALUE);

// A point in whole pixels: column X, row Y (rows count downwards).
struct POINT {
  int32_t X = 0;
  int32_t Y = 0;
};

// A point with fractions of a pixel, as POINT.
struct POINTF {
  float X = 0;
  float Y = 0;
};

// Rectangles are closed on both edges: a RECT covers X..X+W and Y..Y+H.
// Points are compared as exact values; a NaN coordinate is never inside.
struct RECT {
  int32_t X = 0;
  int32_t Y = 0;
  int32_t W = 0;
  int32_t H = 0;

  // The far edges X + W and Y + H wrap in 32 bits.
  BOOLEAN HASPOINT(int32_t PX, int32_t PY) const;
  BOOLEAN HASPOINT(float PX, float PY) const;
  BOOLEAN HASPOINT(const POINT& PT) const;
  BOOLEAN HASPOINT(const POINTF& PT) const;
};

// A rectangle with fractions of a pixel, closed on both edges as RECT.
struct RECTF {
  float X = 0;
  float Y = 0;
  float W = 0;
  float H = 0;

  // The far edges are summed in double precision, not rounded back to float.
  BOOLEAN HASPOINT(int32_t PX, int32_t PY) const;
  BOOLEAN HASPOINT(float PX, float PY) const;
  BOOLEAN HASPOINT(const POINT& PT) const;
  BOOLEAN HASPOINT(const POINTF& PT) const;
};

// A list of points with the rectangle that bounds them. The rectangle starts
// as {0, 0, 0, 0}, so it always covers the origin too. The array holds exactly
// SIDES points and grows by one per point.
struct POLY {
  MATH::POINT* POINT = nullptr;
  int32_t SIDES = 0;
  MATH::RECT RECT;

  POLY() = default;
  // A copy owns a copy of the points (when memory runs out: none, SIDES 0, RECT kept); a move
  // takes them and leaves the source empty.
  POLY(const POLY& OTHER);
  POLY(POLY&& OTHER) noexcept;
  POLY& operator=(const POLY& OTHER);
  POLY& operator=(POLY&& OTHER) noexcept;
  ~POLY();

  // Appends a copy of PT and widens RECT. When the array cannot grow the
  // point is dropped and the POLY stays as it was.
  void ADDPOINT(const MATH::POINT& PT);
  void ADDPOINT(int32_t X, int32_t Y);
  // Releases the points; RECT stays as it is.
  void DESTROY();
  // Appends the outline of the circle of radius R around (P, Q), scanning
  // every LOSS-th row of the upper left quarter and mirroring it.
  void CREATEFROMCIRCLE(int32_t P, int32_t Q, int32_t R, int32_t LOSS);
};

// Whether two circles, or a circle and a rectangle, share a point: closed shapes, so touching
// counts, and a radius of 0 is the centre alone; a negative radius, or a rectangle with a
// negative W or H (far edges wrapping in 32 bits, as HASPOINT), covers nothing. The integer
// forms are exact for every int32 value; the float forms work in double precision and answer
// FALSE for any NaN.
BOOLEAN CIRCLESCOLLIDE(int32_t P1, int32_t Q1, int32_t R1, int32_t P2, int32_t Q2, int32_t R2);
BOOLEAN CIRCLESCOLLIDE(float P1, float Q1, float R1, float P2, float Q2, float R2);
BOOLEAN CIRCLERECTCOLLIDE(int32_t P, int32_t Q, int32_t R, const RECT& BOX);
BOOLEAN CIRCLERECTCOLLIDE(float P, float Q, float R, const RECTF& BOX);

}  // namespace KASTREL::MATH

#pragma pop_macro("MAX")
#pragma pop_macro("MIN")
