#include "kastrel/graphics/rasterop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kastrel/device/detail/context.h"
#include "kastrel/device/display.h"
#include "kastrel/device/testing/fake_driver.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/testing/pixel_model.h"

namespace {

using namespace pixel_model;

// Reference model of the blit, written from the pixel rules: it walks every target pixel,
// finds the source pixel that lands there, and combines the two channel by channel.

struct Call {
  float x, y;
  int x1, y1, x2, y2, coordinate_type, mode, alpha;
};

// Returns the error number; draws into dst and records the rows written.
int model_put(Picture dst, const Picture& src, const Call& call, float* last_x, float* last_y,
              VOX_BLENDER blender, void* param, std::vector<bool>* rows) {
  float x = call.x, y = call.y;
  if (call.coordinate_type >= 2) {
    x += *last_x;
    y += *last_y;
  }
  *last_x = x;
  *last_y = y;
  int x1 = call.x1, y1 = call.y1, x2 = call.x2, y2 = call.y2;
  if (call.coordinate_type == 1 || call.coordinate_type == 3) {
    x2 += x1;
    y2 += y1;
  }
  const long px = std::lround(x), py = std::lround(y);
  const bool alpha_mask = src.bpp == 1 && dst.bpp == 4 && call.mode == PUT_ALPHA;
  if (src.bpp != dst.bpp && !alpha_mask) return 1;
  int left = 0, top = 0, right = src.width - 1, bottom = src.height - 1;
  if (x1 != PUT_WHOLE_SOURCE) {
    left = std::clamp(std::min(x1, x2), 0, src.width - 1);
    right = std::clamp(std::max(x1, x2), 0, src.width - 1);
    top = std::clamp(std::min(y1, y2), 0, src.height - 1);
    bottom = std::clamp(std::max(y1, y2), 0, src.height - 1);
  }
  for (int ty = 0; ty < dst.height; ++ty) {
    for (int tx = 0; tx < dst.width; ++tx) {
      const long sx = tx - px + left, sy = ty - py + top;
      if (sx < left || sx > right || sy < top || sy > bottom) continue;
      (*rows)[size_t(ty)] = true;
      if (const auto v = model_pixel(dst.bpp, call.mode, alpha_mask, src.get(int(sx), int(sy)),
                                     dst.get(tx, ty), call.alpha, blender, param))
        dst.set(tx, ty, *v);
    }
  }
  return 0;
}

const VOX_PUT_ROUTINE kRoutines[PUT_MODES] = {vox_hPutTrans, vox_hPutPSet, vox_hPutPReset,
                                              vox_hPutAnd,   vox_hPutOr,   vox_hPutXor,
                                              vox_hPutAlpha, vox_hPutAdd,  vox_hPutCustom};

class RandomBlits {
 public:
  explicit RandomBlits(uint32_t seed, int longest = 20) : rng_(seed), longest_(longest) {}

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  uint32_t word() { return uint32_t(rng_()); }

  // Random pixels, with mask colours and equal alphas often enough to matter.
  uint32_t pixel(int bpp) {
    switch (pick(0, 7)) {
      case 0:
        return bpp == 4 ? (word() & 0xFF000000u) | 0xFF00FFu : bpp == 2 ? 0xF81Fu : 0u;
      case 1:
        return bpp == 4 ? 0xFF000000u | (word() & 0xFFFFFF) : word() & (bpp == 2 ? 0xFFFF : 0xFF);
      default:
        return word() & (bpp == 4 ? 0xFFFFFFFFu : bpp == 2 ? 0xFFFFu : 0xFFu);
    }
  }

  void scribble(Picture p) {
    for (int y = 0; y < p.height; ++y) {
      // Now and then an opaque row, and opaque runs within rows: the vector blends take a
      // shorter way where a whole vector, or several, are opaque.
      const bool opaque_row = p.bpp == 4 && pick(0, 3) == 0;
      bool opaque_run = false;
      for (int x = 0; x < p.width; ++x) {
        if (p.bpp == 4 && pick(0, 9) == 0) opaque_run = !opaque_run;
        p.set(x, y, pixel(p.bpp) | (opaque_row || opaque_run ? 0xFF000000u : 0));
      }
    }
  }

  // One blit onto target (an image, or the screen when null) checked against the model.
  void check(void* target, Picture dst, int source_bpp, bool usual = false) {
    const int sw = pick(1, longest_), sh = pick(1, 20);
    // The source: a 32-byte header image, or a compact header at an odd address.
    Image source_image;
    std::vector<uint8_t> compact;
    Picture src;
    if (pick(0, 3) == 0) {
      compact.assign(size_t(1 + 4 + sw * sh * source_bpp), 0);
      uint8_t* block = compact.data() + 1;
      const int bpp_field = source_bpp == dst.bpp && pick(0, 1) ? 0 : source_bpp;
      block[0] = uint8_t(bpp_field | (sw & 31) << 3);
      block[1] = uint8_t(sw >> 5);
      block[2] = uint8_t(sh);
      src = {block + 4, source_bpp, sw, sh, sw * source_bpp};
    } else {
      source_image = make_image(sw, sh, source_bpp, 0);
      src = picture_of(source_image.get());
    }
    const void* source = source_image ? source_image.get() : compact.data() + 1;
    scribble(src);
    scribble(dst);

    static const float fractions[] = {0.0f, 0.25f, 0.5f, 0.75f, -0.5f, 0.4999f};
    Call c{};
    c.x = float(pick(-30, 30)) + fractions[pick(0, 5)];
    c.y = float(pick(-30, 30)) + fractions[pick(0, 5)];
    c.x1 = pick(0, 9) == 0 ? PUT_WHOLE_SOURCE : pick(-5, sw + 5);
    c.y1 = pick(-5, sh + 5);
    c.coordinate_type = pick(0, 3);
    c.x2 = pick(-5, sw + 5);
    c.y2 = pick(-5, sh + 5);
    if (usual) {  // a frame loop's sprite: whole pixels, corners in order, mostly inside
      c.x = float(pick(0, 3));
      c.y = float(pick(0, 3));
      c.x1 = c.x1 == PUT_WHOLE_SOURCE ? c.x1 : std::abs(c.x1);
      c.y1 = std::abs(c.y1);
      c.coordinate_type &= 1;
      c.x2 = std::max(c.x2, c.x1);
      c.y2 = std::max(c.y2, c.y1);
    }
    if (c.coordinate_type & 1) {
      c.x2 -= c.x1 == PUT_WHOLE_SOURCE ? 0 : c.x1;
      c.y2 -= c.y1;
    }
    c.mode = pick(0, PUT_MODES - 1);
    c.alpha = pick(0, 3) == 0 ? int(word()) : pick(0, 255);
    // Some such blits go through DRAWTO, which has a way in of its own: whole pixels, ADD at 255.
    const bool drawto = target && source_image && c.coordinate_type == PUT_RELATIVE_CORNER &&
                        c.mode != PUT_CUSTOM && c.x == std::floor(c.x) && c.y == std::floor(c.y) &&
                        c.x2 >= 1 && c.y2 >= 1 && pick(0, 1);
    if (drawto && c.mode == PUT_ADD) c.alpha = 255;
    uint32_t param = word();
    const VOX_BLENDER blender = pick(0, 1) ? blender_a : blender_b;
    const auto what = [&] {
      return testing::Message() << "mode " << c.mode << " type " << c.coordinate_type << " at "
                                << c.x << "," << c.y << " rect " << c.x1 << "," << c.y1 << ","
                                << c.x2 << "," << c.y2 << " alpha " << c.alpha << " source " << sw
                                << "x" << sh << "@" << source_bpp << " target " << dst.width << "x"
                                << dst.height << "@" << dst.bpp;
    };

    // The model draws on a copy of the target's bytes.
    std::vector<uint8_t> expected(dst.base, dst.base + dst.height * dst.pitch);
    std::vector<bool> rows(size_t(dst.height), false);
    float last_x = vox_hContext()->last_x, last_y = vox_hContext()->last_y;
    const int error = model_put({expected.data(), dst.bpp, dst.width, dst.height, dst.pitch}, src,
                                c, &last_x, &last_y, blender, &param, &rows);
    if (!target) std::memset(__vox_gfx->dirty, 0, size_t(__vox_gfx->height));

    if (drawto) {
      using namespace KASTREL::GRAPHICS;
      static const RASTEROP kMethods[] = {VOXTRANS, VOXPSET, VOXPRESET, VOXAND,
                                          VOXOR,    VOXXOR,  VOXALPHA,  VOXADD};
      BITMAP bitmap;  // lent the image, which it never held, so never releases
      bitmap.IMGHANDLE = source_image.get();
      bitmap.IW = uint32_t(sw);
      bitmap.IH = uint32_t(sh);
      bitmap.DRAWTO(target, int(c.x), int(c.y), c.x1, c.y1, c.x2, c.y2, kMethods[c.mode]);
    } else {
      ASSERT_EQ(vox_GfxPut(target, c.x, c.y, source, c.x1, c.y1, c.x2, c.y2, c.coordinate_type,
                           c.mode, kRoutines[c.mode], c.alpha, blender, &param),
                error)
          << what();
    }
    ASSERT_EQ(vox_GetError(), error);
    ASSERT_TRUE(vox_hContext()->last_x == last_x && vox_hContext()->last_y == last_y) << what();
    ASSERT_EQ(std::memcmp(expected.data(), dst.base, expected.size()), 0) << what();
    if (target) return;
    ASSERT_EQ(std::vector<bool>(__vox_gfx->dirty, __vox_gfx->dirty + dst.height), rows) << what();
  }

  // Blits onto image targets of the given depths.
  void images(int count, std::initializer_list<int> depths) {
    for (int i = 0; i < count && !testing::Test::HasFatalFailure(); ++i) {
      const int bpp = *(depths.begin() + pick(0, int(depths.size()) - 1));
      Image target = make_image(pick(1, longest_ + 4), pick(1, 24), bpp, 0);
      // Half of them under the lock, as in the frame loop, where usual blits take a short way.
      const bool locked = pick(0, 1);
      if (locked) vox_GfxLock();
      check(target.get(), picture_of(target.get()), source_depth(bpp), locked && pick(0, 1));
      if (locked) vox_GfxUnlock(0, -1);
    }
  }

  // Blits onto the screen's frame buffer, reopening it at a random size and depth now and then.
  void screens(int count) {
    for (int i = 0; i < count && !testing::Test::HasFatalFailure(); ++i) {
      if (i % 50 == 0) {
        static const int depths[] = {8, 16, 32};
        vox_GfxScreenRes(pick(1, 40), pick(1, 40), depths[pick(0, 2)], 1, MODE_NULL, 0);
        ASSERT_EQ(vox_GetError(), 0);
      }
      const VOX_GFX_SCREEN* s = __vox_gfx;
      const Picture dst{static_cast<uint8_t*>(vox_GfxScreenPtr()), s->bytes_per_pixel, s->width,
                        s->height, s->pitch};
      check(nullptr, dst, source_depth(s->bytes_per_pixel));
    }
  }

 private:
  // Mostly the target's depth; sometimes another, including 8-bit alpha masks onto 32 bits.
  int source_depth(int target_bpp) {
    static const int depths[] = {1, 2, 4};
    return pick(0, 7) == 0 ? depths[pick(0, 2)] : target_bpp;
  }

  std::mt19937 rng_;
  int longest_;  // widest source; targets are up to 4 pixels wider
};

TEST(RasterOpModel, ScreenTargetsAndDirtyLines) { RandomBlits(3).screens(30000); }

// Every loop set this processor runs against the model, on images of every depth (8-bit
// alpha masks onto 32 bits included), with rows long enough for several vectors and every tail.
TEST(RasterOpModel, EveryProcessorPath) {
  const int32_t best = vox_hRowPathBest();
#if defined(__wasm__)
  EXPECT_EQ(best, VOX_ROWS_SSE2);  // the browser's build has them, on WebAssembly's SIMD
#endif
  for (int32_t path = VOX_ROWS_PLAIN; path <= best && !HasFatalFailure(); ++path) {
    SCOPED_TRACE(testing::Message() << "loop set " << path);
    ASSERT_EQ(vox_hRowPathForce(path), path);
    ASSERT_EQ(vox_hRowPath(), path);
    vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
    RandomBlits(1 + uint32_t(path)).images(12000, {4});
    RandomBlits wide(10 + uint32_t(path), 80);
    wide.images(6000, {4});
    vox_GfxScreenRes(8, 8, 16, 1, MODE_NULL, 0);
    RandomBlits(20 + uint32_t(path)).images(10000, {1, 2});
    wide.images(6000, {1, 2});
  }
  // Beyond what the processor runs: the best it has.
  EXPECT_EQ(vox_hRowPathForce(99), best);
}

// Runs blit on every loop set from the same start: each must leave what the plain loops leave.
template <typename Blit>
void expect_same_on_every_path(void* image, Blit blit) {
  const Picture p = picture_of(image);
  const std::vector<uint8_t> start(p.base, p.base + p.pitch * p.height);
  std::vector<uint8_t> plain;
  for (int32_t path = VOX_ROWS_PLAIN; path <= vox_hRowPathBest(); ++path) {
    vox_hRowPathForce(path);
    std::memcpy(p.base, start.data(), start.size());
    ASSERT_EQ(blit(), 0);
    const std::vector<uint8_t> got(p.base, p.base + start.size());
    if (path == VOX_ROWS_PLAIN) plain = got;
    ASSERT_EQ(got, plain) << "loop set " << path;
  }
}

TEST(RasterOpModel, LongAndOverlappingRowsAgreeOnEveryPath) {
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  RandomBlits pixels(14);
  uint32_t param = 77;
  for (int depth : {1, 2, 4}) {
    // Whole rows around and past 1 KiB, which the copying loops hand to memcpy.
    for (int width : {255, 256, 257, 511, 513, 1030}) {
      Image source = make_image(width, 3, depth, 0), target = make_image(width + 3, 3, depth, 0);
      pixels.scribble(picture_of(source.get()));
      pixels.scribble(picture_of(target.get()));
      for (int mode = 0; mode < PUT_MODES; ++mode) {
        SCOPED_TRACE(testing::Message()
                     << "depth " << depth << " width " << width << " mode " << mode);
        const int alpha = pixels.pick(0, 255);
        expect_same_on_every_path(target.get(), [&] {
          return vox_GfxPut(target.get(), 1, 0, source.get(), PUT_WHOLE_SOURCE, 0, 0, 0,
                            PUT_ABSOLUTE, mode, kRoutines[mode], alpha, blender_a, &param);
        });
      }
    }
    // An image blitted onto itself, overlapping either way.
    Image image = make_image(70, 9, depth, 0);
    pixels.scribble(picture_of(image.get()));
    for (int mode = 0; mode < PUT_CUSTOM; ++mode) {
      for (float dx : {-3.0f, 1.0f, 5.0f}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth << " mode " << mode << " dx " << dx);
        expect_same_on_every_path(image.get(), [&] {
          return vox_GfxPut(image.get(), dx, 1, image.get(), 2, 0, 60, 7, PUT_ABSOLUTE, mode,
                            kRoutines[mode], 200, nullptr, nullptr);
        });
      }
    }
  }
}

TEST(RasterOp, FailuresLeaveTheTargetAlone) {
  uint8_t compact[4 + 16] = {4 | 2 << 3, 0, 2, 0};  // 2 x 2 at 32 bits
  // No screen to draw on, unless an earlier test in this process opened one (screens close only
  // at exit; CTest runs each test in a process of its own).
  if (__vox_gfx == nullptr) {
    EXPECT_EQ(vox_GfxPut(nullptr, 0, 0, compact, 0, 0, 1, 1, 0, PUT_PSET, vox_hPutPSet, -1, nullptr,
                         nullptr),
              1);
    EXPECT_EQ(vox_GetError(), 1);
  }

  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);
  Image dst = make_image(4, 4, 4, 0x11111111), s16 = make_image(2, 2, 2, 0x123456);
  auto put = [&](const void* source, int32_t mode, VOX_PUT_ROUTINE routine, int32_t type = 0,
                 float x = 0) {
    return vox_GfxPut(dst.get(), x, 0, source, 0, 0, 1, 1, type, mode, routine, -1, nullptr,
                      nullptr);
  };
  const auto untouched = [&] {
    for (int i = 0; i < 16; ++i) ASSERT_EQ(picture_of(dst.get()).get(i % 4, i / 4), 0x11111111u);
  };
  EXPECT_EQ(put(s16.get(), PUT_PSET, vox_hPutPSet), 1);  // depth mismatch
  EXPECT_EQ(put(nullptr, PUT_PSET, vox_hPutPSet), 1);
  EXPECT_EQ(put(compact, PUT_PSET, nullptr), 1);
  EXPECT_EQ(put(compact, PUT_CUSTOM, vox_hPutCustom), 1);  // no blender
  EXPECT_EQ(put(compact, 9, vox_hPutPSet), 1);
  EXPECT_EQ(put(compact, PUT_PSET, vox_hPutPSet, 4), 1);
  EXPECT_EQ(put(compact, PUT_PSET, vox_hPutPSet, 0, std::numeric_limits<float>::quiet_NaN()), 1);
  EXPECT_EQ(vox_GetError(), 1);
  untouched();

  // Wholly outside, or far away: success, nothing drawn.
  for (float x : {4.0f, -2.0f, 3e30f, -std::numeric_limits<float>::infinity()})
    EXPECT_EQ(put(compact, PUT_PSET, vox_hPutPSet, 0, x), 0) << x;
  untouched();
}

TEST(RasterOp, LockRuleAndDirtyLines) {
  fake_driver::install();
  vox_GfxScreenRes(16, 12, 32, 1, 0, 0);
  VOX_GFX_SCREEN* s = __vox_gfx;
  Image src = make_image(4, 3, 4, 0xFF123456), img = make_image(8, 8, 4, 0);
  // The blender runs under the lock.
  auto locked = [](uint32_t, uint32_t, void* p) {
    *static_cast<bool*>(p) &= (__vox_gfx->flags & SCREEN_LOCKED) != 0;
    return 0u;
  };
  bool was_locked = true;
  ASSERT_EQ(vox_GfxPut(img.get(), 0, 0, src.get(), PUT_WHOLE_SOURCE, 0, 0, 0, 0, PUT_CUSTOM,
                       vox_hPutCustom, 0, locked, &was_locked),
            0);
  EXPECT_TRUE(was_locked);
  EXPECT_TRUE(fake_driver::record().locks == 1 && fake_driver::record().unlocks == 1);
  EXPECT_EQ(s->flags, 0u);
  for (int y = 0; y < 12; ++y) EXPECT_EQ(s->dirty[y], 0);  // an image target marks nothing

  // Under the program's own lock: no lock of its own, and the lock stays.
  vox_GfxLock();
  ASSERT_EQ(vox_GfxPut(nullptr, 3, 10, src.get(), PUT_WHOLE_SOURCE, 0, 0, 0, 0, PUT_PSET,
                       vox_hPutPSet, -1, nullptr, nullptr),
            0);
  EXPECT_EQ(fake_driver::record().locks, 2);
  EXPECT_EQ(s->flags, SCREEN_LOCKED);
  for (int y = 0; y < 12; ++y) EXPECT_EQ(s->dirty[y], y >= 10) << y;  // clipped at the bottom
  vox_GfxUnlock(0, 0);
  EXPECT_EQ(fake_driver::record().unlocks, 2);
}

}  // namespace
