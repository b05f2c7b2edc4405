#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/testing/fake_driver.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/sprites.h"
#include "kastrel/graphics/testing/pixel_model.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;
using namespace pixel_model;
__extension__ using i128 = __int128;

constexpr int32_t kPutMode[] = {PUT_PSET, PUT_PRESET, PUT_TRANS, PUT_AND,   PUT_OR,
                                PUT_XOR,  PUT_ALPHA,  PUT_ADD,   PUT_CUSTOM};

// The rule of bitmap.h, walked pixel by pixel: the map in double precision, each target pixel's
// source position computed on its own, the samples weighed in double, and the pixel rules of
// the blit's model. Returns the box of the pixels drawn ({0, 0, -1, -1} for none) and marks
// their rows.
MATH::RECT model_draw(Picture dst, const Picture& src, float X, float Y, const TRANSFORM& T,
                      uint32_t param_value, std::vector<bool>* rows) {
  MATH::RECT box{0, 0, -1, -1};
  double r = std::fmod(double(T.ANGLE), 360.0);
  if (r < 0) r += 360;
  double c = std::cos(r * std::numbers::pi / 180), s = std::sin(r * std::numbers::pi / 180);
  if (r == 0 || r == 180) c = r == 0 ? 1 : -1, s = 0;
  if (r == 90 || r == 270) c = 0, s = r == 90 ? 1 : -1;
  const double fx = T.FLIP & FLIPH ? -double(T.SCALEX) : T.SCALEX;
  const double fy = T.FLIP & FLIPV ? -double(T.SCALEY) : T.SCALEY;
  if (std::fabs(fx) < 0x1p-16 || std::fabs(fy) < 0x1p-16) return box;
  const auto fixed = [](double v) { return i128(std::nearbyint(v * 0x1p32)); };
  const i128 A = fixed(c / fx), B = fixed(s / fx), C = fixed(-s / fy), D = fixed(c / fy);
  const double ax = std::floor(double(X)), ay = std::floor(double(Y));
  const double ex = ax + 0.5 - X, ey = ay + 0.5 - Y;
  const i128 U0 = fixed(T.PIVOTX + (ex * c + ey * s) / fx);
  const i128 V0 = fixed(T.PIVOTY + (ey * c - ex * s) / fy);
  const MATH::RECT R = T.SOURCE;
  const int sx = R.W < 0 ? 0 : std::clamp(R.X, 0, src.width - 1);
  const int sy = R.H < 0 ? 0 : std::clamp(R.Y, 0, src.height - 1);
  const int w = (R.W < 0 ? src.width - 1 : std::clamp(R.X + R.W, 0, src.width - 1)) - sx + 1;
  const int h = (R.H < 0 ? src.height - 1 : std::clamp(R.Y + R.H, 0, src.height - 1)) - sy + 1;
  const bool alpha_mask = src.bpp == 1 && dst.bpp == 4 && T.METHOD == VOXALPHA;
  uint32_t param = param_value;
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
  for (int ty = 0; ty < dst.height; ++ty) {
    for (int tx = 0; tx < dst.width; ++tx) {
      const i128 u = U0 + (tx - i128(ax)) * A + (ty - i128(ay)) * B;
      const i128 v = V0 + (tx - i128(ax)) * C + (ty - i128(ay)) * D;
      if (u < 0 || v < 0 || u >= i128(w) << 32 || v >= i128(h) << 32) continue;
      uint32_t sample;
      if (T.FILTER == BILINEAR && src.bpp == 4) {
        const double p = double(u) / 0x1p32 - 0.5, q = double(v) / 0x1p32 - 0.5;
        const int col = int(std::floor(p)), row = int(std::floor(q));
        const double wx = std::floor((p - col) * 256), wy = std::floor((q - row) * 256);
        const auto at = [&](int i, int j) {
          return src.get(sx + std::clamp(col + i, 0, w - 1), sy + std::clamp(row + j, 0, h - 1));
        };
        sample = 0;
        for (int ch = 0; ch < 4; ++ch) {
          const auto k = [&](int i, int j) { return double(channel(at(i, j), ch)); };
          const double top = k(0, 0) * (256 - wx) + k(1, 0) * wx;
          const double bottom = k(0, 1) * (256 - wx) + k(1, 1) * wx;
          sample |= uint32_t(std::floor((top * (256 - wy) + bottom * wy) / 65536 + 0.5)) << 8 * ch;
        }
      } else {
        sample = src.get(sx + int(u >> 32), sy + int(v >> 32));
      }
      if (T.METHOD == VOXALPHA && src.bpp == 4) {
        uint32_t tinted = 0;
        for (int ch = 0; ch < 4; ++ch)
          tinted |= (channel(sample, ch) * (channel(T.TINT, ch) + 1) >> 8) << 8 * ch;
        sample = tinted;
      }
      (*rows)[size_t(ty)] = true;
      x0 = std::min(x0, tx), x1 = std::max(x1, tx), y0 = std::min(y0, ty), y1 = std::max(y1, ty);
      if (const auto out =
              model_pixel(dst.bpp, kPutMode[T.METHOD], alpha_mask, sample, dst.get(tx, ty),
                          T.METHOD == VOXADD ? 255 : -1, T.BLENDER, &param))
        dst.set(tx, ty, *out);
    }
  }
  if (x1 >= x0) box = {x0, y0, x1 - x0, y1 - y0};
  return box;
}

struct Random {
  std::mt19937 rng;
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  float real(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
  float place(int lo, int hi) {
    static const float kFractions[] = {0, 0.25f, 0.5f, 0.75f, 0.999f};
    return float(pick(lo, hi)) + (pick(0, 1) ? kFractions[pick(0, 4)] : real(0, 1));
  }
  void scribble(Picture p) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        uint32_t v = uint32_t(rng());
        if (pick(0, 7) == 0) v = (v & 0xFF000000u) | 0xFF00FFu;
        if (pick(0, 3) == 0) v |= 0xFF000000u;
        p.set(x, y, p.bpp == 4 ? v : p.bpp == 2 ? (pick(0, 7) ? v & 0xFFFF : 0xF81F) : v & 0xFF);
      }
  }
  TRANSFORM transform(bool bilinear) {
    TRANSFORM t;
    const int kind = pick(0, 3);
    t.ANGLE = kind == 0 ? float(90 * pick(-8, 8)) : kind == 1 ? real(-720, 720) : real(-5, 5);
    const auto scale = [&] {  // unit, sub-pixel, mirrored, enlarged
      const float kinds[] = {1, -1, real(0.05f, 1), -real(0.05f, 3), real(0.3f, 4)};
      return kinds[pick(0, 4)];
    };
    t.SCALEX = scale();
    t.SCALEY = pick(0, 2) ? scale() : t.SCALEX;
    t.PIVOTX = place(-4, 12);
    t.PIVOTY = place(-4, 12);
    t.FLIP = pick(0, 3);
    if (pick(0, 3) == 0) t.SOURCE = {pick(-2, 10), pick(-2, 10), pick(-1, 8), pick(-1, 8)};
    t.FILTER = bilinear ? BILINEAR : NEAREST;
    t.METHOD = bilinear ? VOXPSET : RASTEROP(pick(0, 8));
    t.BLENDER = pick(0, 1) ? blender_a : blender_b;
    if (pick(0, 2) == 0) t.TINT = uint32_t(rng());
    return t;
  }
};

// count random transforms onto images (and now and then the screen) against the model: nearest
// bit for bit, bilinear within 1 per channel (bit for bit on the plain loops); the bounds box
// holds every pixel drawn and is exact where it lies inside the target. With margins, nearest
// ALPHA sprites up to 70 wide whose outer rows and columns (or all) are clear.
void check_random(uint32_t seed, int count, bool plain, bool margins = false) {
  Random r{std::mt19937(seed)};
  for (int i = 0; i < count && !testing::Test::HasFailure(); ++i) {
    const bool bilinear = !margins && r.pick(0, 4) == 0;
    const int depth = bilinear || r.pick(0, 5) ? 4 : r.pick(0, 1) ? 2 : 1;
    const bool mask = depth == 4 && !bilinear && r.pick(0, 15) == 0;  // 8-bit alpha onto 32
    const bool screen = r.pick(0, 15) == 0;
    if (screen) vox_GfxScreenRes(r.pick(1, 40), r.pick(1, 40), depth * 8, 1, MODE_NULL, 0);
    BITMAP source(r.pick(1, margins ? 70 : 12), r.pick(1, 12), 0, (mask ? 1 : depth) * 8);
    r.scribble(picture_of(source.HANDLE()));
    if (margins) {
      Picture p = picture_of(source.HANDLE());
      const int left = r.pick(0, p.width), right = r.pick(0, 3), top = r.pick(0, 3);
      const int bottom = r.pick(0, 3);
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
          if (x < left || x >= p.width - right || y < top || y >= p.height - bottom)
            p.set(x, y, p.get(x, y) & 0xFFFFFF);
    }
    Image image(screen ? nullptr
                       : vox_GfxImageCreate(r.pick(1, 40), r.pick(1, 40), 0, depth * 8, 0));
    const Picture dst = screen ? Picture{static_cast<uint8_t*>(vox_GfxScreenPtr()), depth,
                                         __vox_gfx->width, __vox_gfx->height, __vox_gfx->pitch}
                               : picture_of(image.get());
    r.scribble(dst);
    TRANSFORM t = r.transform(bilinear);
    if (mask || margins) t.METHOD = VOXALPHA;
    if (margins && r.pick(0, 3)) t.TINT = 0xFFFFFFFFu;
    const float x = r.place(-16, 48), y = r.place(-16, 48);
    const uint32_t param = uint32_t(r.rng());
    std::vector<uint8_t> expected(dst.base, dst.base + dst.height * dst.pitch);
    std::vector<bool> rows(size_t(dst.height));
    const MATH::RECT drawn =
        model_draw({expected.data(), dst.bpp, dst.width, dst.height, dst.pitch},
                   picture_of(source.HANDLE()), x, y, t, param, &rows);
    if (screen) std::memset(__vox_gfx->dirty, 0, size_t(dst.height));
    uint32_t param_copy = param;
    t.PARAM = &param_copy;
    const auto what = [&] {
      return testing::Message() << "#" << i << " angle " << t.ANGLE << " scale " << t.SCALEX << ","
                                << t.SCALEY << " pivot " << t.PIVOTX << "," << t.PIVOTY << " flip "
                                << t.FLIP << " at " << x << "," << y << " method " << t.METHOD
                                << " filter " << t.FILTER << " depth " << depth;
    };
    ASSERT_EQ(source.DRAWTRANSFORMED(screen ? nullptr : image.get(), x, y, t), TRUE) << what();
    if (!bilinear || plain) {
      ASSERT_EQ(std::memcmp(expected.data(), dst.base, expected.size()), 0) << what();
    } else {
      for (size_t b = 0; b < expected.size(); ++b)
        ASSERT_LE(std::abs(int(expected[b]) - int(dst.base[b])), 1) << what() << " byte " << b;
    }
    if (screen) {  // the band from the first row drawn to the last is marked
      for (int row = drawn.Y; drawn.W >= 0 && row <= drawn.Y + drawn.H; ++row)
        rows[size_t(row)] = true;
      ASSERT_EQ(std::vector<bool>(__vox_gfx->dirty, __vox_gfx->dirty + dst.height), rows) << what();
    }
    const MATH::RECT b = TRANSFORMEDBOUNDS(source, x, y, t);
    if (drawn.W < 0) continue;
    ASSERT_TRUE(b.HASPOINT(drawn.X, drawn.Y) && b.HASPOINT(drawn.X + drawn.W, drawn.Y + drawn.H))
        << what();
    if (b.X >= 0 && b.Y >= 0 && b.X + b.W < dst.width && b.Y + b.H < dst.height) {
      ASSERT_TRUE(b.X == drawn.X && b.Y == drawn.Y && b.W == drawn.W && b.H == drawn.H) << what();
    }
  }
}

TEST(TransformModel, EveryLoopSetMatchesTheModel) {
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest() && !HasFailure(); ++set) {
    SCOPED_TRACE(testing::Message() << "loop set " << set);
    vox_hRowPathForce(set);
    vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
    check_random(100 + uint32_t(set), 20000, set == VOX_ROWS_PLAIN);
    check_random(200 + uint32_t(set), 4000, set == VOX_ROWS_PLAIN, true);
  }
}

BITMAP scribbled(int w, int h, uint32_t seed) {
  BITMAP image;
  image.HANDLE(vox_GfxImageCreate(w, h, 0, 32, 0));
  Random{std::mt19937(seed)}.scribble(picture_of(image.HANDLE()));
  return image;
}

// Quarter turns and mirrors move whole pixels: where source pixel (c, r) lands, the pivot (0, 0)
// at (10, 10), worked out apart from the model.
TEST(Transform, QuarterTurnsAndMirrorsArePermutations) {
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  BITMAP source = scribbled(7, 5, 1);
  struct Case {  // (c, r) lands on (x + xc * c + xr * r, y + yc * c + yr * r)
    float angle;
    int32_t flip;
    float scalex;
    int x, y, xc, xr, yc, yr;
  };
  const Case cases[] = {{90, 0, 1, 9, 10, 0, -1, 1, 0},     {180, 0, 1, 9, 9, -1, 0, 0, -1},
                        {-90, 0, 1, 10, 9, 0, 1, -1, 0},    {0, FLIPH, 1, 9, 10, -1, 0, 0, 1},
                        {0, 0, -1, 9, 10, -1, 0, 0, 1},     {0, FLIPV, 1, 10, 9, 1, 0, 0, -1},
                        {90, FLIPH, 1, 9, 9, 0, -1, -1, 0}, {450, FLIPV, 1, 10, 10, 0, 1, 1, 0}};
  const Picture src = picture_of(source.HANDLE());
  for (const Case& k : cases) {
    Image target(vox_GfxImageCreate(20, 20, 0x12345678, 32, 0));
    TRANSFORM t;
    t.ANGLE = k.angle, t.FLIP = k.flip, t.SCALEX = k.scalex, t.METHOD = VOXPSET;
    ASSERT_EQ(source.DRAWTRANSFORMED(target.get(), 10, 10, t), TRUE);
    std::vector<uint32_t> expected(400, 0x12345678);
    for (int r = 0; r < src.height; ++r)
      for (int c = 0; c < src.width; ++c)
        expected[size_t((k.y + k.yc * c + k.yr * r) * 20 + k.x + k.xc * c + k.xr * r)] =
            src.get(c, r);
    for (int i = 0; i < 400; ++i)
      ASSERT_EQ(picture_of(target.get()).get(i % 20, i / 20), expected[size_t(i)])
          << "angle " << k.angle << " flip " << k.flip << " pixel " << i;
  }
}

// A sprite scaled over a whole 4096 x 4096 target, checked at its far corners, where the fixed
// point positions are largest. Image targets too are drawn under the screen lock, as by DRAWTO.
TEST(Transform, FarCornersOfALargeTargetUnderTheLock) {
  fake_driver::install();
  vox_GfxScreenRes(8, 8, 32, 1, 0, 0);
  BITMAP source = scribbled(64, 64, 3), target(4096, 4096, 0, 32);
  for (const float angle : {30.0f, -137.3f}) {
    TRANSFORM t;
    t.ANGLE = angle, t.SCALEX = 100, t.SCALEY = 97.5f, t.PIVOTX = 32, t.PIVOTY = 32.25f;
    t.METHOD = VOXPSET;
    ASSERT_EQ(source.DRAWTRANSFORMED(target, 2048.5f, 2047.75f, t), TRUE);
    for (const int ox : {0, 4080})
      for (const int oy : {0, 4080}) {
        std::vector<uint32_t> window(16 * 16);
        std::vector<bool> rows(16);
        for (int i = 0; i < 256; ++i)
          window[size_t(i)] = picture_of(target.HANDLE()).get(ox + i % 16, oy + i / 16);
        std::vector<uint32_t> expected = window;
        model_draw({reinterpret_cast<uint8_t*>(expected.data()), 4, 16, 16, 64},
                   picture_of(source.HANDLE()), 2048.5f - float(ox), 2047.75f - float(oy), t, 0,
                   &rows);
        ASSERT_EQ(window, expected) << "angle " << angle << " corner " << ox << "," << oy;
        ASSERT_NE(window[0], 0u);  // the sprite covers the corner
      }
  }
  EXPECT_TRUE(fake_driver::record().locks == 2 && fake_driver::record().unlocks == 2);
}

// Inputs that cannot be drawn fail with a reason; those that cannot be seen draw nothing. No
// call writes outside the target, which sits between guard words.
TEST(Transform, BadInputsFailOrDrawNothingWithinTheTarget) {
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  BITMAP sprite = scribbled(9, 9, 4);
  std::vector<uint32_t> block(8 + 8 + 8 * 8 + 8, 0xDEADBEEFu);
  const VOX_IMAGE_HEADER header{VOX_IMAGE_TYPE, 4, 8, 8, 32, {}};
  std::memcpy(&block[8], &header, 32);
  void* target = &block[8];
  const auto fails = [&](float x, float y, const TRANSFORM& t) {
    CLEARLASTERROR();
    return sprite.DRAWTRANSFORMED(target, x, y, t) == FALSE && *LASTERROR() != 0;
  };
  TRANSFORM t;
  EXPECT_FALSE(fails(100, 0, t));
  const float nan = std::numeric_limits<float>::quiet_NaN(),
              inf = std::numeric_limits<float>::infinity();
  TRANSFORM bad = t;
  for (float TRANSFORM::*field : {&TRANSFORM::ANGLE, &TRANSFORM::SCALEY, &TRANSFORM::PIVOTX})
    for (float v : {nan, inf, -inf,
                    field == &TRANSFORM::PIVOTX   ? 2e9f
                    : field == &TRANSFORM::SCALEY ? -65537.0f
                                                  : nan}) {
      bad = t, bad.*field = v;
      EXPECT_TRUE(fails(0, 0, bad)) << v;
    }
  for (int method : {9, int(VOXCUSTOM)}) {  // out of range; no blender
    bad = t, bad.METHOD = RASTEROP(method);
    EXPECT_TRUE(fails(0, 0, bad));
    EXPECT_EQ(TRANSFORMEDBOUNDS(sprite, 0, 0, bad).W, -1);  // the box agrees with the draw
  }
  EXPECT_TRUE(fails(nan, 0, t));
  EXPECT_TRUE(BITMAP().DRAWTRANSFORMED(target, 0, 0, t) == FALSE && *LASTERROR() != 0);
  vox_GfxScreenRes(8, 8, 16, 1, MODE_NULL, 0);
  EXPECT_TRUE(sprite.DRAWTRANSFORMED(nullptr, 0, 0, t) == FALSE);  // onto 16 bits
  // Draw nothing: too small, too far, or turned about an extreme point; huge but clipped.
  for (float scale : {0.0f, -0.0f, 1e-30f, 1e-5f}) {
    bad = t, bad.SCALEX = scale;
    EXPECT_EQ(sprite.DRAWTRANSFORMED(target, 4, 4, bad), TRUE);
    EXPECT_EQ(TRANSFORMEDBOUNDS(sprite, 4, 4, bad).W, -1);
  }
  for (float far : {inf, -inf, 2147483647.0f, -2147483648.0f, 1e30f, -1e12f})
    for (float angle : {0.0f, 45.0f}) {
      bad = t, bad.ANGLE = angle;
      EXPECT_EQ(sprite.DRAWTRANSFORMED(target, far, 3, bad), TRUE);
      EXPECT_EQ(sprite.DRAWTRANSFORMED(target, 3, far, bad), TRUE);
    }
  for (int i = 0; i < 8 * 8; ++i) ASSERT_EQ(block[size_t(16 + i)], 0xDEADBEEFu);
  bad = t, bad.SCALEX = 65536, bad.SCALEY = -30000, bad.ANGLE = 33, bad.PIVOTX = 4.5f;
  bad.METHOD = VOXPSET;
  EXPECT_EQ(sprite.DRAWTRANSFORMED(target, -2147483648.0f, 2147483647.0f, bad), TRUE);
  EXPECT_EQ(sprite.DRAWTRANSFORMED(target, 3, 3, bad), TRUE);
  EXPECT_NE(block[16], 0xDEADBEEFu);  // that one covers the whole target
  for (size_t i = 0; i < 8; ++i)
    ASSERT_TRUE(block[i] == 0xDEADBEEFu && block[80 + i] == 0xDEADBEEFu);
}

// Frames are cut row by row and drawn as DRAWTO draws their region; animations step through
// them by the elapsed time.
TEST(Sprites, SheetsCutDrawAndAnimate) {
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  const BITMAP sheet = scribbled(13, 7, 6);
  EXPECT_EQ(SPRITESHEET(sheet, 4, 3).COUNT(), 6);  // the partial cells are left out
  EXPECT_TRUE(SPRITESHEET(sheet, 4, 3, 4).COUNT() == 4 && SPRITESHEET(sheet, 0, 3).COUNT() == 0);
  const SPRITESHEET grid(sheet, 4, 3);
  BITMAP ours = scribbled(12, 12, 7), theirs = scribbled(12, 12, 7);
  EXPECT_EQ(grid.DRAW(ours, 4, 5, 6), TRUE);
  sheet.DRAWTO(theirs, 5, 6, 4, 3, 3, 2, VOXALPHA);
  TRANSFORM mirror;
  mirror.FLIP = FLIPH, mirror.METHOD = VOXPSET;  // frame 4 mirrored onto (0, 0)-(3, 2)
  EXPECT_EQ(grid.DRAWTRANSFORMED(ours, 4, 4.0f, 0.0f, mirror), TRUE);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 3; ++r)
      picture_of(theirs.HANDLE()).set(3 - c, r, picture_of(sheet.HANDLE()).get(4 + c, 3 + r));
  EXPECT_EQ(std::memcmp(ours.HANDLE(), theirs.HANDLE(), 32 + 12 * 48), 0);
  CLEARLASTERROR();
  EXPECT_TRUE(grid.DRAW(ours, 6, 0, 0) == FALSE && *LASTERROR() != 0);

  ANIMATION walk(3, 3, 0.1f);
  std::vector<int32_t> seen;
  for (float step : {0.05f, 0.1f, 0.1f, 0.1f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    walk.UPDATE(step);
    seen.push_back(walk.FRAME());
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{3, 4, 5, 3, 3, 3}));  // 0.35 s is 0.05 s into a round
  ANIMATION once(0, 2, 0.5f, FALSE);
  once.ADD(9, 0);  // never shown, but the last
  once.UPDATE(0.75f);
  EXPECT_TRUE(once.FRAME() == 1 && once.FINISHED() == FALSE);
  once.UPDATE(10);
  EXPECT_TRUE(once.FRAME() == 9 && once.FINISHED() == TRUE && once.TIME == 1.0f);
  EXPECT_EQ(ANIMATION().FRAME(), -1);
  for (const auto& [first, count] : {std::pair{INT32_MAX - 3, 8}, {0, 1 << 30}}) {
    CLEARLASTERROR();  // past the last frame number, or too many: empty, with a reason
    EXPECT_TRUE(ANIMATION(first, count, 0.05f).FRAMES.empty() && *LASTERROR() != 0) << count;
  }
  EXPECT_EQ(ANIMATION(INT32_MAX - 3, 4, 0.05f).FRAME(), INT32_MAX - 3);
}

}  // namespace
