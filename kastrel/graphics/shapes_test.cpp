#include "kastrel/graphics/shapes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;
using Inside = std::function<bool(int64_t, int64_t)>;

// Reference model, pixel by pixel from each shape's definition.
bool OnLine(int64_t x, int64_t y, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  __extension__ using I = __int128;
  if (std::llabs(x1 - x0) < std::llabs(y1 - y0))
    std::swap(x, y), std::swap(x0, y0), std::swap(x1, y1);
  if (x < std::min(x0, x1) || x > std::max(x0, x1)) return false;
  if (x0 == x1) return y == y0;
  if (x1 < x0) std::swap(x0, x1), std::swap(y0, y1);
  // y - y0 is (x - x0) dy / dx rounded half up.
  const I dx = x1 - x0, lhs = I{2} * (x - x0) * (y1 - y0), k = I{2} * (y - y0) * dx;
  return k - dx <= lhs && lhs < k + dx;
}
bool InDisc(int64_t x, int64_t y, int64_t p, int64_t q, int64_t r) {
  return r >= 0 && (x - p) * (x - p) + (y - q) * (y - q) <= r * r + r;
}
bool InPoly(int64_t x, int64_t y, const MATH::POLY& poly) {
  if (poly.SIDES < 3) return false;
  bool in = false;
  for (int i = 0; i < poly.SIDES; ++i) {
    const MATH::POINT a = poly.POINT[i], b = poly.POINT[(i + 1) % poly.SIDES];
    if ((a.Y <= y) == (b.Y <= y)) continue;
    // Crossing strictly right of the centre: (x + 1/2 - ax)(by - ay) < (y + 1/2 - ay)(bx - ax),
    // the inequality turning over with by < ay.
    __extension__ using I = __int128;
    const I dy = I{b.Y} - a.Y, l = (I{2} * x + 1 - I{2} * a.X) * dy,
            r = (I{2} * y + 1 - I{2} * a.Y) * (I{b.X} - a.X);
    if (dy > 0 ? l < r : l > r) in = !in;
  }
  return in;
}

TEST(Shapes, EveryPixelMatchesTheReferenceModel) {
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  std::mt19937 rng(11);
  auto coord = [&](int range) {
    const int pick = int(rng() % 16);
    if (pick == 0) return INT32_MIN;
    if (pick == 1) return INT32_MAX;
    return int32_t(rng() % (2 * range + 1)) - range / 2;
  };
  for (int round = 0; round < 2100; ++round) {
    const int32_t w = 1 + int32_t(rng() % 40), h = 1 + int32_t(rng() % 30);
    BITMAP target(w, h, 0, 32);
    const int kind = round % 9;
    const int32_t a = coord(w), b = coord(h), c = coord(w), d = coord(h), e = coord(w),
                  f = coord(h);
    int32_t r = round % 5 == 0 ? int32_t(rng() % 3) - 1 : int32_t(rng() % 30);
    int32_t p = a % 50, q = b % 50;
    if (round % 11 == 4) r = INT32_MAX, p = INT32_MIN + int32_t(rng() % 40), q = coord(h) % 50;
    MATH::RECT rect{a, b, round % 3 == 0 ? int32_t(rng() % 5) - 2 : c, round % 4 == 0 ? 0 : d};
    MATH::POLY poly;
    for (int i = 0, n = int(rng() % 7); i < n; ++i) poly.ADDPOINT(coord(w), coord(h));
    Inside inside;
    const int64_t x2 = int64_t(int32_t(uint32_t(rect.X) + uint32_t(rect.W)));
    const int64_t y2 = int64_t(int32_t(uint32_t(rect.Y) + uint32_t(rect.H)));
    auto in_rect = [&](int64_t x, int64_t y) {
      return x >= rect.X && x <= x2 && y >= rect.Y && y <= y2;
    };
    switch (kind) {
      case 0:
        ASSERT_TRUE(DRAWPOINT(target, a, b, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) { return x == a && y == b; };
        break;
      case 1:
        ASSERT_TRUE(DRAWLINE(target, a, b, c, d, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) { return OnLine(x, y, a, b, c, d); };
        break;
      case 2:
        ASSERT_TRUE(FILLRECT(target, rect, 0xFFFFFFFF));
        inside = in_rect;
        break;
      case 3:
        ASSERT_TRUE(DRAWRECT(target, rect, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) {
          return in_rect(x, y) && (x == rect.X || x == x2 || y == rect.Y || y == y2);
        };
        break;
      case 4:
        ASSERT_TRUE(FILLCIRCLE(target, p, q, r, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) { return InDisc(x, y, p, q, r); };
        break;
      case 5:
        ASSERT_TRUE(DRAWCIRCLE(target, p, q, r, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) {
          return InDisc(x, y, p, q, r) &&
                 !(InDisc(x - 1, y, p, q, r) && InDisc(x + 1, y, p, q, r) &&
                   InDisc(x, y - 1, p, q, r) && InDisc(x, y + 1, p, q, r));
        };
        break;
      case 7:  // XOR: a pixel drawn twice would come back to 0
        ASSERT_TRUE(DRAWTRIANGLE(target, {a, b}, {c, d}, {e, f}, 0xFFFFFFFF, VOXXOR));
        inside = [&](int64_t x, int64_t y) {
          return OnLine(x, y, a, b, c, d) || OnLine(x, y, c, d, e, f) || OnLine(x, y, e, f, a, b);
        };
        break;
      case 8:
        ASSERT_TRUE(FILLTRIANGLE(target, {a, b}, {c, d}, {e, f}, 0xFFFFFFFF));
        poly.DESTROY();
        for (const MATH::POINT& corner : {MATH::POINT{a, b}, MATH::POINT{c, d}, MATH::POINT{e, f}})
          poly.ADDPOINT(corner);
        inside = [&](int64_t x, int64_t y) { return InPoly(x, y, poly); };
        break;
      default:
        ASSERT_TRUE(FILLPOLY(target, poly, 0xFFFFFFFF));
        inside = [&](int64_t x, int64_t y) { return InPoly(x, y, poly); };
        break;
    }
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        ASSERT_EQ(target.PIXEL({x, y}), inside(x, y) ? 0xFFFFFFFFu : 0u)
            << "round " << round << " kind " << kind << " at " << x << "," << y << " args " << a
            << " " << b << " " << c << " " << d << " r " << r << " rect " << rect.W << "x"
            << rect.H;
      }
    }
  }
}

TEST(Shapes, RasterOperationsAndTheScreen) {
  // No screen yet to draw on, unless an earlier test in this process opened one (screens close
  // only at exit; CTest runs each test in a process of its own).
  if (__vox_gfx == nullptr) {
    CLEARLASTERROR();
    EXPECT_FALSE(DRAWLINE(nullptr, 0, 0, 5, 5, 0));
    EXPECT_GT(std::strlen(LASTERROR()), 10u);
  }
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  // VOXALPHA blends as a blit of a bitmap in the colour does; every pixel once, even at corners.
  BITMAP mine(20, 10, 0xFF204080, 32), blit(20, 10, 0xFF204080, 32), ink(20, 10, 0x80F0E0D0, 32);
  ASSERT_TRUE(FILLRECT(mine, {2, 3, 9, 4}, 0x80F0E0D0, VOXALPHA));
  ink.DRAWTO(blit, 2, 3, 0, 0, 9, 4, VOXALPHA);
  ASSERT_TRUE(DRAWRECT(mine, {1, 1, 5, 5}, 0xFFFFFFFF, VOXXOR));
  ASSERT_TRUE(DRAWRECT(mine, {1, 1, 5, 5}, 0xFFFFFFFF, VOXXOR));
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 20; ++x)
      ASSERT_EQ(mine.PIXEL({x, y}), blit.PIXEL({x, y})) << x << "," << y;

  // On the screen: the rows drawn are marked changed, and only those.
  std::memset(__vox_gfx->dirty, 0, 48);
  ASSERT_TRUE(FILLCIRCLE(nullptr, 30, 20, 3, 0xFF00FF00));
  BITMAP screen;
  ASSERT_TRUE(DRAWLINE(screen, 0, 40, 63, 41, 0xFF00FF00));
  for (int32_t y = 0; y < 48; ++y)
    EXPECT_EQ(__vox_gfx->dirty[y] != 0, (y >= 17 && y <= 23) || y == 40 || y == 41) << y;
  EXPECT_EQ(reinterpret_cast<uint32_t*>(vox_GfxScreenPtr())[20 * 64 + 33], 0xFF00FF00u);

  // Refusals leave a reason.
  MATH::POLY broken;
  broken.SIDES = 3;
  const std::function<BOOLEAN()> refused[] = {
      [&] { return FILLRECT(mine, {0, 0, 1, 1}, 0, VOXCUSTOM); },
      [&] { return DRAWPOINT(mine, 0, 0, 0, RASTEROP(-1)); },
      [&] { return FILLPOLY(mine, broken, 0); }};
  for (const auto& call : refused) {
    CLEARLASTERROR();
    EXPECT_FALSE(call());
    EXPECT_GT(std::strlen(LASTERROR()), 10u);
  }
  broken.SIDES = 0;
}

}  // namespace
