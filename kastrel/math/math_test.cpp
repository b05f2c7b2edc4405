#include "kastrel/math/math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

#include "kastrel/base/fatal.h"

using namespace KASTREL;
using namespace KASTREL::MATH;
using Ints = std::vector<int32_t>;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();

Ints flat(const POLY& poly) {
  Ints out;
  for (int32_t i = 0; i < poly.SIDES; ++i)
    out.insert(out.end(), {poly.POINT[i].X, poly.POINT[i].Y});
  return out;
}
Ints rect(const RECT& r) { return {r.X, r.Y, r.W, r.H}; }

}  // namespace

TEST(Math, MinMaxConstrainAndRoundingFollowTheTieAndNaNRules) {
  EXPECT_EQ(MIN(3, 3), 3);
  EXPECT_EQ(MAX(INT32_MIN, INT32_MAX), INT32_MAX);
  EXPECT_EQ(MIN(1.0f, NaN), 1.0f);
  EXPECT_TRUE(std::isnan(MIN(NaN, 1.0f)));
  EXPECT_EQ(MAX(NaN, 1.0f), 1.0f);
  EXPECT_TRUE(std::isnan(MAX(1.0f, NaN)));
  EXPECT_TRUE(std::signbit(MIN(0.0f, -0.0f)));  // ties answer B
  EXPECT_FALSE(std::signbit(MAX(-0.0f, 0.0f)));
  EXPECT_EQ(CONSTRAIN(5, 10, 0), 0);  // crossed bounds: the upper one wins
  EXPECT_EQ(CONSTRAIN(-3, 0, 10), 0);
  EXPECT_EQ(CONSTRAIN(NaN, 1.0f, 2.0f), 1.0f);
  EXPECT_EQ(CONSTRAIN(1.5f, 1.0f, NaN), 1.5f);
  const double in[] = {0.5,   1.5,          2.5,           -0.5,         -2.5, 0.49999999999999994,
                       -7.75, 2147483647.4, -2147483648.0, 2147483647.5, 1e10, NaN};
  const int32_t out[] = {0,  2,         2,         0,         -2,        0,
                         -8, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
  for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(ROUNDTOINT(in[i]), out[i]) << in[i];
}

TEST(Math, HasPointIsClosedOnBothEdgesExactAndFailsForNaN) {
  // Reference predicate over a window of integer points, through all eight overloads.
  for (const RECT& r :
       {RECT{10, 10, 0, 0}, RECT{0, 0, 5, 5}, RECT{-3, 4, 2, 7}, RECT{2, 2, -1, 3}}) {
    const RECTF rf{float(r.X), float(r.Y), float(r.W), float(r.H)};
    for (int32_t y = r.Y - 3; y <= r.Y + 10; ++y) {
      for (int32_t x = r.X - 3; x <= r.X + 10; ++x) {
        const BOOLEAN in = x >= r.X && x <= r.X + r.W && y >= r.Y && y <= r.Y + r.H ? TRUE : FALSE;
        const float fx = float(x), fy = float(y);
        const BOOLEAN all[] = {r.HASPOINT(x, y),    r.HASPOINT(POINT{x, y}),
                               r.HASPOINT(fx, fy),  r.HASPOINT(POINTF{fx, fy}),
                               rf.HASPOINT(x, y),   rf.HASPOINT(POINT{x, y}),
                               rf.HASPOINT(fx, fy), rf.HASPOINT(POINTF{fx, fy})};
        for (BOOLEAN got : all) ASSERT_EQ(got, in) << x << "," << y;
      }
    }
  }
  EXPECT_EQ((RECT{0, 0, 5, 5}.HASPOINT(5.000001f, 0.0f)), FALSE);
  EXPECT_EQ((RECTF{0, 0, 0.5f, 0.5f}.HASPOINT(0.5f, 0.5f)), TRUE);
  EXPECT_EQ((RECTF{0, 0, 0.5f, 0.5f}.HASPOINT(NaN, 0.25f)), FALSE);
  EXPECT_EQ((RECT{0, 0, 5, 5}.HASPOINT(POINTF{1.0f, NaN})), FALSE);
  // 2^24 + 1 has no float: neither side may be rounded to one.
  EXPECT_EQ((RECT{16777217, 0, 10, 10}.HASPOINT(16777216.0f, 0.0f)), FALSE);
  EXPECT_EQ((RECTF{0, 0, 16777216.0f, 1}.HASPOINT(16777217, 0)), FALSE);
  EXPECT_EQ((RECTF{16777216.0f, 0, 1, 0}.HASPOINT(POINT{16777217, 0})),
            TRUE);                                                          // far edge in double
  EXPECT_EQ((RECT{INT32_MAX - 1, 0, 5, 5}.HASPOINT(INT32_MAX, 0)), FALSE);  // far edge wraps
}

TEST(Math, PolyAddPointWidensFromTheOriginKeepsItsOwnPointsAndDropsWhatCannotGrow) {
  POLY poly;
  poly.ADDPOINT(5, 5);
  EXPECT_EQ(rect(poly.RECT), (Ints{0, 0, 5, 5}));
  poly.ADDPOINT(POINT{-3, 2});
  EXPECT_EQ(rect(poly.RECT), (Ints{-3, 0, 8, 5}));
  poly.ADDPOINT(1, -4);
  EXPECT_EQ(rect(poly.RECT), (Ints{-3, -4, 8, 9}));
  EXPECT_EQ(flat(poly), (Ints{5, 5, -3, 2, 1, -4}));
  for (int i = 0; i < 64; ++i) poly.ADDPOINT(poly.POINT[0]);  // lives in the array that grows
  ASSERT_EQ(poly.SIDES, 67);
  EXPECT_EQ(poly.POINT[66].X, 5);
  KASTREL::FAILNEXTRESIZE();
  poly.ADDPOINT(-50, 70);
  EXPECT_EQ(poly.SIDES, 67);
  EXPECT_EQ(rect(poly.RECT), (Ints{-3, -4, 8, 9}));
  poly.DESTROY();
  poly.DESTROY();
  EXPECT_EQ(poly.POINT, nullptr);
  poly.ADDPOINT(-9, 9);
  EXPECT_EQ(flat(poly), (Ints{-9, 9}));
  EXPECT_EQ(rect(poly.RECT), (Ints{-9, -4, 14, 13}));  // DESTROY kept the rectangle
}

TEST(Math, CreateFromCircleOutlines) {
  // Worked out apart from this code, from the construction rules (float
  // candidates, halves to even), as flat x, y lists.
  constexpr int32_t M = INT32_MIN;
  const Ints top = {-5, M + 5, -4, M + 2, 4,  M + 2, 5,  M + 5,
                    5,  M + 5, 4,  M + 8, -4, M + 8, -5, M + 5};
  const Ints two = {-2, 0, -2, -1, 0, -2, 0, -2, 2, -1, 2, 0, 2, 0, 2, 1, 0, 2, 0, 2, -2, 1, -2, 0};
  struct Case {
    int32_t p, q, r, loss;
    Ints points;
  } const cases[] = {
      {0, 0, 1, 1, {-1, -1, 1, -1, 1, 1, -1, 1}},
      {4, -4, 0, 1, {4, -4, 4, -4, 4, -4, 4, -4}},
      {0, 0, 2, 1, two},
      {0, 0, 2, -5, two},
      // STEP 3 does not divide 7: the top row is not reached.
      {20, -5, 7, 3, {13, -5, 14, -8, 16, -11, 24, -11, 26, -8, 27, -5,
                      27, -5, 26, -2, 24, 1,   16, 1,   14, -2, 13, -5}},
      // Far from the origin the float rounding of the candidates decides the column.
      {2097153, 7, 6, 2, {2097147, 7,  2097147, 5,  2097148, 3,  2097153, 1,
                          2097153, 1,  2097158, 3,  2097159, 5,  2097159, 7,
                          2097159, 7,  2097159, 9,  2097158, 11, 2097153, 13,
                          2097153, 13, 2097148, 11, 2097147, 9,  2097147, 7}},
      // R * R is beyond int32.
      {1000, -1000, 50000, 10000, {-49000, -1000,  -47990, -11000, -44826, -21000, -39000, -31000,
                                   -29000, -41000, 1000,   -51000, 1000,   -51000, 31000,  -41000,
                                   41000,  -31000, 46826,  -21000, 49990,  -11000, 51000,  -1000,
                                   51000,  -1000,  49990,  9000,   46826,  19000,  41000,  29000,
                                   31000,  39000,  1000,   49000,  1000,   49000,  -29000, 39000,
                                   -39000, 29000,  -44826, 19000,  -47990, 9000,   -49000, -1000}},
      // The top row is INT32_MIN: stepping past it ends the scan rather than wrapping round.
      {0, M + 5, 5, 3, top},
  };
  for (const Case& c : cases) {
    POLY poly;
    poly.CREATEFROMCIRCLE(c.p, c.q, c.r, c.loss);
    EXPECT_EQ(flat(poly), c.points) << "radius " << c.r;
    if (c.r == 2) {
      EXPECT_EQ(rect(poly.RECT), (Ints{-2, -2, 4, 4}));
    }
  }
  // It appends, and the mirror passes take in the earlier points as well.
  POLY poly;
  poly.ADDPOINT(100, 50);
  poly.CREATEFROMCIRCLE(0, 0, 2, 1);
  EXPECT_EQ(flat(poly), (Ints{100,  50,  -2, 0, -2, -1, 0, -2, 0, -2, 2,  -1, 2,  0, -100, 50,
                              -100, -50, 2,  0, 2,  1,  0, 2,  0, 2,  -2, 1,  -2, 0, 100,  -50}));
}

TEST(Math, PolyCopiesOwnTheirPointsAndMovesTakeThem) {
  POLY a;
  a.ADDPOINT(1, 2);
  POLY b(a), c;
  c = a;
  POLY& same = c;  // through a reference, which compilers do not warn about
  c = same;
  c.ADDPOINT(9, 9);
  EXPECT_TRUE(b.POINT != a.POINT && flat(b) == flat(a) && rect(b.RECT) == rect(a.RECT));
  POLY d(std::move(c));
  EXPECT_TRUE(c.POINT == nullptr && c.SIDES == 0);
  a = std::move(d);
  EXPECT_EQ(flat(a), (Ints{1, 2, 9, 9}));
  KASTREL::FAILNEXTRESIZE();
  b = a;  // no memory for the copy: no points, no dangling array
  EXPECT_TRUE(b.POINT == nullptr && b.SIDES == 0);
}

TEST(Math, CirclesCollideExactlyAtEveryRange) {
  EXPECT_EQ(CIRCLESCOLLIDE(0, 0, 2, 3, 4, 3), TRUE);  // touching at distance 5
  EXPECT_EQ(CIRCLESCOLLIDE(0, 0, 2, 3, 4, 2), FALSE);
  EXPECT_EQ(CIRCLESCOLLIDE(7, 7, 0, 7, 7, 0), TRUE);
  EXPECT_EQ(CIRCLESCOLLIDE(0, 0, -1, 0, 0, 5), FALSE);
  // Differences of 2^32 - 1 and radii summing to it: products past 64 bits.
  EXPECT_EQ(CIRCLESCOLLIDE(INT32_MIN, 0, INT32_MAX, INT32_MAX, 0, INT32_MAX), FALSE);
  EXPECT_EQ(CIRCLESCOLLIDE(INT32_MIN + 1, 0, INT32_MAX, INT32_MAX, 0, INT32_MAX), TRUE);
  EXPECT_EQ(CIRCLESCOLLIDE(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX),
            FALSE);
  EXPECT_EQ(CIRCLESCOLLIDE(1.0f, 1.0f, 0.5f, 2.0f, 1.0f, 0.5f), TRUE);
  EXPECT_EQ(CIRCLESCOLLIDE(1.0f, 1.0f, 0.5f, 2.0f, 1.0f, 0.49f), FALSE);
  EXPECT_EQ(CIRCLESCOLLIDE(NaN, 1.0f, 0.5f, 2.0f, 1.0f, 0.5f), FALSE);
  // The nearest point of the closed box: a corner at (3, 4) from the centre.
  const RECT box{10, 10, 5, 5};
  EXPECT_EQ(CIRCLERECTCOLLIDE(7, 6, 5, box), TRUE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(7, 6, 4, box), FALSE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(20, 12, 5, box), TRUE);  // the far edge 15 is inside the box
  EXPECT_EQ(CIRCLERECTCOLLIDE(12, 12, 0, box), TRUE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(12, 12, 9, RECT{10, 10, -1, 5}), FALSE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(INT32_MIN, INT32_MIN, INT32_MAX, RECT{INT32_MAX, INT32_MAX, 0, 0}),
            FALSE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(7.0f, 6.0f, 5.0f, RECTF{10, 10, 5, 5}), TRUE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(7.0f, 6.0f, 4.99f, RECTF{10, 10, 5, 5}), FALSE);
  EXPECT_EQ(CIRCLERECTCOLLIDE(7.0f, 6.0f, 5.0f, RECTF{10, 10, NaN, 5}), FALSE);
}
