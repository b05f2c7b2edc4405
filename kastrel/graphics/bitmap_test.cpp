#include "kastrel/graphics/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/image.h"
#include "kastrel/png/png_image.h"
#include "kastrel/png/testing/png_writer.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define KASTREL_LEAK_CHECK 1
#endif

namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

void OpenScreen() { vox_GfxScreenRes(32, 32, 32, 1, MODE_NULL, 0); }

// Unreachable blocks (saved alpha copies, decoded pictures) count as leaks.
void ExpectNoLeaks() {
#ifdef KASTREL_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

std::array<int64_t, 4> Dims(const BITMAP& b) { return {b.WIDTH(), b.HEIGHT(), b.BPP(), b.PITCH()}; }
constexpr std::array<int64_t, 4> kEmpty = {0, 0, 0, 0};

// Reference for the fade rules: x is exact (a byte times a float32), rounded halves to even.
int64_t RoundEven(double x) {
  const double lower = std::floor(x), rest = x - lower;
  const auto n = static_cast<int64_t>(lower);
  return rest > 0.5 || (rest == 0.5 && n % 2 != 0) ? n + 1 : n;
}
uint8_t FadeFromSaved(uint8_t saved, uint8_t a) {
  return uint8_t(RoundEven(double(saved) * double(float(a) / 255.0f)));
}
uint8_t FadeRelative(uint8_t alpha, uint8_t from, uint8_t to) {
  if (alpha <= 5) return alpha;
  const double t = to < 25 ? 25 : to, f = from < 25 ? 25 : from;
  return uint8_t(std::min<int64_t>(255, RoundEven(double(alpha) * double(float((t / 255.0) / (f / 255.0))))));
}

// 256 x 2 pixels whose alpha bytes run through every value; the colour bytes must never move.
uint32_t Ramp(int32_t x) { return uint32_t(x) << 24 | (0x00123456u ^ uint32_t(x)); }
void FillRamp(BITMAP& bmp) {
  for (int32_t x = 0; x < 512; ++x) bmp.PIXEL({x % 256, x / 256}, Ramp(x % 256));
}

TEST(BitmapAlpha, FadeRulesWithAndWithoutSavedCopy) {
  OpenScreen();
  // Without a saved copy: relative to the previous uniform alpha, for pairs around the edges.
  const uint8_t alphas[] = {0, 1, 3, 4, 5, 6, 24, 25, 26, 50, 127, 128, 129, 200, 205, 254, 255};
  BITMAP ramp(256, 2, 0, 32);
  for (uint8_t from : alphas) {
    for (uint8_t to : alphas) {
      ramp.ALPHA(from);
      FillRamp(ramp);
      ramp.ALPHA(to);
      for (int32_t x = 0; x < 256; ++x)
        ASSERT_EQ(ramp.PIXEL({x, 1}), (Ramp(x) & 0xFFFFFF) | uint32_t(FadeRelative(x, from, to))
                                                                 << 24)
            << int(from) << " -> " << int(to) << " at " << x;
    }
  }

  // Raising the fade saturates: an image replaced after a fade to 100, and a pixel drawn at 200
  // into a bitmap faded to 128.
  BITMAP replaced(1, 1, 0x00FFFFFFu, 32);
  replaced.ALPHA(100);
  replaced.PIXEL({0, 0}, 0xFF123456u);
  replaced.ALPHA(255);
  EXPECT_EQ(replaced.PIXELALPHA({0, 0}), 255);
  replaced.ALPHA(128);
  replaced.PIXEL({0, 0}, 0xC8123456u);
  replaced.ALPHA(255);
  EXPECT_EQ(replaced.PIXELALPHA({0, 0}), 255);

  // With one: absolute, from the bytes saved column by column (index X * IH + Y).
  FillRamp(ramp);
  ramp.PRESERVEALPHACHANNEL();
  EXPECT_EQ(ramp.ALPHA(), 255);
  for (int32_t x = 0; x < 512; ++x) ASSERT_EQ(ramp.IALPHACHANNEL[x], x / 2);
  for (int a = 0; a <= 255; a += 3) {  // from 0, and back up to 255
    ramp.ALPHA(uint8_t(a));
    for (int32_t x = 0; x < 256; ++x)
      ASSERT_EQ(ramp.PIXEL({x, 1}), (Ramp(x) & 0xFFFFFF) | uint32_t(FadeFromSaved(x, a)) << 24)
          << a << " at " << x;
  }
}

uint32_t Blend(uint32_t s, uint32_t d, void* param) {
  return s ^ d ^ *static_cast<uint32_t*>(param);
}

TEST(BitmapDraw, RasterOpsRectanglesAndSkips) {
  OpenScreen();
  // 0xC0C01040 onto 0x40A0F020, worked out by hand from the pixel rules, in RASTEROP order.
  const uint32_t want[] = {0xC0C01040, 0x3F3FEFBF, 0x00C01040, 0x40801000, 0xC0E0F060,
                           0x8060E060, 0xA0B84838, 0xFFFFFF5F, 0x8162E364};
  uint32_t param = 0x01020304u;
  const BITMAP src(2, 2, 0xC0C01040u, 32);
  for (int op = VOXPSET; op <= VOXCUSTOM; ++op) {
    BITMAP dst(3, 3, 0x40A0F020u, 32);
    src.DRAWTO(dst, 1, 1, 0, 0, 0, 0, RASTEROP(op), Blend, &param);
    EXPECT_EQ(dst.PIXEL({2, 2}), want[op]) << op;
    EXPECT_EQ(dst.PIXEL({0, 0}), 0x40A0F020u);
  }
  // Unknown operations, CUSTOM without a blender and empty bitmaps draw nothing.
  BITMAP dst(3, 3, 0x40A0F020u, 32);
  for (int op : {-1, 9, 1000}) src.DRAWTO(dst, 0, 0, 0, 0, 0, 0, RASTEROP(op), Blend, &param);
  src.DRAWTO(dst, 0, 0, 0, 0, 0, 0, VOXCUSTOM, nullptr, nullptr);
  BITMAP().DRAWTO(dst, 0, 0, 0, 0, 0, 0, VOXPSET);
  for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(dst.PIXEL({i % 3, i / 3}), 0x40A0F020u);

  // Closed source rectangle: W = H = 10 covers 11 columns and rows; 0 is the whole image.
  const BITMAP big(20, 20, 0xFF0000FFu, 32);
  BITMAP canvas(30, 30, 0, 32);
  big.DRAWTO(canvas, 0, 0, 0, 0, 10, 10, VOXPSET);
  int drawn = 0;
  for (int32_t i = 0; i < 900; ++i) drawn += canvas.PIXEL({i % 30, i / 30}) != 0;
  EXPECT_EQ(drawn, 121);
  EXPECT_EQ(canvas.PIXEL({10, 10}), 0xFF0000FFu);
  big.DRAWTO(canvas, 5, 5, 0, 0, 0, 0, VOXPSET);
  EXPECT_EQ(canvas.PIXEL({24, 24}), 0xFF0000FFu);
  EXPECT_EQ(canvas.PIXEL({25, 25}), 0u);

  // Faded below 4 with no saved copy: nothing in any mode; 4 draws; a saved copy always draws.
  BITMAP faded(1, 1, 0xFF00FF00u, 32), target(1, 1, 0x11111111u, 32);
  faded.ALPHA(3);
  for (int op = VOXPSET; op <= VOXCUSTOM; ++op)
    faded.DRAWTO(target, 0, 0, 0, 0, 0, 0, RASTEROP(op), Blend, &param);
  EXPECT_EQ(target.PIXEL({0, 0}), 0x11111111u);
  faded.ALPHA(4);
  faded.DRAWTO(target, 0, 0, 0, 0, 0, 0, VOXPSET);
  EXPECT_EQ(target.PIXEL({0, 0}), 0x1900FF00u);
  faded.PRESERVEALPHACHANNEL();
  faded.ALPHA(0);
  faded.DRAWTO(target, 0, 0, 0, 0, 0, 0, VOXPSET);
  EXPECT_EQ(target.PIXEL({0, 0}), 0x0000FF00u);
  BITMAP shallow(1, 1, 0xFF0000, 16), shallow_target(1, 1, 0, 16);  // no alpha bytes to skip by
  shallow.ALPHA(0);
  shallow.DRAWTO(shallow_target, 0, 0, 0, 0, 0, 0, VOXPSET);
  EXPECT_EQ(static_cast<const uint8_t*>(shallow_target.HANDLE())[33], 0xF8);
}

// A w x h RGBA picture whose pixels say where they are, written by the test's own encoder.
uint32_t Picture(int32_t x, int32_t y) {
  return uint32_t(100 + x) << 24 | x << 16 | y << 8 | (x ^ y);
}
pngtest::Bytes EncodePicture(uint32_t w, uint32_t h) {
  pngtest::Picture pic{w, h, 8, 6, {}, {}, {}};
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint32_t v = Picture(int32_t(i % w), int32_t(i / w));
    pic.samples.insert(pic.samples.end(), {uint16_t(v >> 16 & 0xFF), uint16_t(v >> 8 & 0xFF),
                                           uint16_t(v & 0xFF), uint16_t(v >> 24)});
  }
  return pngtest::Encode(pic, false, -1);
}

TEST(BitmapLoad, WholePicturesAndRegions) {
  OpenScreen();
  const pngtest::Bytes square = EncodePicture(64, 64);
  BITMAP shifted;
  shifted.LOADFROMMEMORY(square.data(), int32_t(square.size()), 10, 10, 0, 0);
  ASSERT_EQ(Dims(shifted), (std::array<int64_t, 4>{64, 64, 4, 256}));
  for (int32_t i = 0; i < 64 * 64; ++i) {
    const int32_t x = i % 64, y = i / 64;
    ASSERT_EQ(shifted.PIXEL({x, y}), x < 54 && y < 54 ? Picture(x + 10, y + 10) : 0xFFFF00FFu);
  }
  const std::string path = testing::TempDir() + "bitmap_test_square.png";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(square.data()), std::streamsize(square.size()));
  const BITMAP corner(path, 0, 0, 15, 15), strip(path, 3, 2, 15, 0);  // H 0: the file's height
  ASSERT_EQ(Dims(corner), (std::array<int64_t, 4>{15, 15, 4, 64}));
  ASSERT_EQ(Dims(strip), (std::array<int64_t, 4>{15, 64, 4, 64}));
  for (int32_t i = 0; i < 15 * 64; ++i) {
    const int32_t x = i % 15, y = i / 15;
    ASSERT_EQ(strip.PIXEL({x, y}), y < 62 ? Picture(x + 3, y + 2) : 0xFFFF00FFu);
    ASSERT_TRUE(y >= 15 || corner.PIXEL({x, y}) == Picture(x, y));
  }
  std::remove(path.c_str());
}

// A game's unit tests make, copy, load and read images without opening a screen.
TEST(BitmapNoScreen, ImagesOfAGivenDepthNeedNoScreen) {
  if (__vox_gfx) GTEST_SKIP() << "a screen is already open in this process";
  BITMAP empty;
  empty.PIXEL({3, 4}, 0x12345678u);
  EXPECT_EQ(empty.PIXEL({3, 4}), 0u);
  EXPECT_EQ(empty.PIXELALPHA({0, 0}), 0);
  for (int32_t depth : {32, 16, 8}) {
    BITMAP made(7, 5, 0x80402010u, depth);
    EXPECT_EQ(Dims(made)[2], depth / 8) << LASTERROR();
  }
  BITMAP made(7, 5, 0x80402010u, 32), copy;
  made.PIXEL({6, 4}, 0xFF00FF00u);
  ASSERT_TRUE(copy.COPYFROMHANDLE(made.HANDLE(), 5, 3, 3, 0));
  const std::array<uint32_t, 3> copied{copy.PIXEL({1, 1}), copy.PIXEL({0, 0}), copy.PIXEL({2, 2})};
  EXPECT_EQ(copied, (std::array<uint32_t, 3>{0xFF00FF00u, 0x80402010u, 0xFFFF00FFu}));
  const pngtest::Bytes square = EncodePicture(16, 16);
  BITMAP loaded;
  ASSERT_TRUE(loaded.LOADFROMMEMORY(square.data(), int32_t(square.size()), 2, 2, 4, 4));
  EXPECT_EQ(loaded.PIXEL({0, 0}), Picture(2, 2));
  made.DRAWTO(loaded, 0, 0, 0, 0, 0, 0, VOXPSET);
  EXPECT_EQ(loaded.PIXEL({0, 0}), 0x80402010u);
  // Only the screen's own depth needs the screen.
  BITMAP screens(4, 4, 0, 0);
  EXPECT_EQ(screens.HANDLE(), nullptr);
  EXPECT_NE(std::string(LASTERROR()).find("no screen"), std::string::npos);
}

TEST(BitmapLoad, PixelCapRefusesFromTheHeader) {
  OpenScreen();
  // 16384 x 16384 at 1 bit: a few kilobytes that would inflate to 32 MiB and fill 1 GiB.
  const pngtest::Bytes bomb = pngtest::File(
      {pngtest::Chunk("IHDR", pngtest::IhdrData(16384, 16384, 1, 0)),
       pngtest::Chunk("IDAT", pngtest::Deflate(pngtest::Bytes(size_t(16384) * 2049, 0))),
       pngtest::Chunk("IEND")});
  const pngtest::Bytes square = EncodePicture(64, 64);
  EXPECT_EQ(MAXIMAGEPIXELS(), DEFAULTMAXIMAGEPIXELS);
  BITMAP bmp;
  CLEARLASTERROR();
  bmp.LOADFROMMEMORY(bomb.data(), int32_t(bomb.size()));
  EXPECT_TRUE(bmp == nullptr);
  EXPECT_STRNE(LASTERROR(), "");
  // The cap counts pixels, inclusive; the decoder's own entry point has none.
  SETMAXIMAGEPIXELS(64 * 64 - 1);
  CLEARLASTERROR();
  bmp.LOADFROMMEMORY(square.data(), int32_t(square.size()));
  EXPECT_TRUE(bmp == nullptr);
  EXPECT_STRNE(LASTERROR(), "");
  void* decoded = png_load_mem(square.data(), int32_t(square.size()), PNG_TARGET_NEW);
  EXPECT_NE(decoded, nullptr);
  vox_GfxImageDestroy(decoded);
  SETMAXIMAGEPIXELS(64 * 64);
  bmp.LOADFROMMEMORY(square.data(), int32_t(square.size()));
  EXPECT_EQ(bmp.WIDTH(), 64u);
}

TEST(BitmapOwnership, CopiesShareAndReleaseOnce) {
  OpenScreen();
  void* shared = nullptr;
  {
    BITMAP a(4, 3, 0xFF102030u, 32);
    shared = a.HANDLE();
    a.PRESERVEALPHACHANNEL();
    {
      BITMAP b(1, 1, 0, 32);
      void* const own = b.HANDLE();
      b = a;
      EXPECT_EQ(IMAGEHOLDERS(own), 0);
      const BITMAP c(b);
      EXPECT_TRUE(b == a && c == a && !(c != a) && c.IALPHACHANNEL == a.IALPHACHANNEL);
      BITMAP& alias = b;
      b = alias;
      b = BITMAP(b);
      EXPECT_EQ(IMAGEHOLDERS(shared), 3);
    }
    EXPECT_EQ(IMAGEHOLDERS(shared), 1);
    a.ALPHA(100);  // reads the saved copy the others shared
    EXPECT_EQ(a.PIXEL({3, 2}), 0x64102030u);

    BITMAP survivor;
    {
      BITMAP first(2, 2, 0xFF00FF00u, 32);
      first.PRESERVEALPHACHANNEL();
      survivor = first;
      first.PRESERVEALPHACHANNEL();  // a fresh copy for first; survivor keeps the old one
      first.CREATE(5, 5, 0, 32);     // and first lets go of the shared image
      EXPECT_EQ(IMAGEHOLDERS(survivor.HANDLE()), 1);
    }
    survivor.ALPHA(0);
    EXPECT_EQ(survivor.PIXEL({1, 1}), 0x0000FF00u);
    survivor.ALPHA(255);
    EXPECT_EQ(survivor.PIXEL({1, 1}), 0xFF00FF00u);
    const BITMAP moved(static_cast<BITMAP&&>(survivor));
    EXPECT_TRUE(survivor == nullptr);
    EXPECT_EQ(IMAGEHOLDERS(moved.HANDLE()), 1);
  }
  EXPECT_EQ(IMAGEHOLDERS(shared), 0);
  ExpectNoLeaks();
}

TEST(BitmapOwnership, NewImagesReleaseTheOldOnce) {
  OpenScreen();
  const pngtest::Bytes png = EncodePicture(8, 8);
  {
    BITMAP a(8, 8, 0xFF0000FFu, 32);
    void* const first = a.HANDLE();
    EXPECT_TRUE(a.CREATE(4, 4, 0xFF00FF00u, 32));
    EXPECT_EQ(IMAGEHOLDERS(first), 0);
    a.LOADFROMMEMORY(png.data(), int32_t(png.size()), 0, 0, 0, 0);
    EXPECT_TRUE(a.LOADFROMMEMORY(png.data(), int32_t(png.size()), 2, 2, 3, 3));
    EXPECT_TRUE(a.COPYFROMHANDLE(a.HANDLE(), 1, 0, 0, 0));  // from its own image
    EXPECT_FALSE(a.COPYFROMHANDLE(nullptr, 0, 0, 0, 0));
    EXPECT_EQ(a.WIDTH(), 3u);
    EXPECT_EQ(a.PIXEL({0, 0}), Picture(3, 2));
    EXPECT_EQ(a.PIXEL({2, 0}), 0xFFFF00FFu);

    void* const image = a.HANDLE();
    a.HANDLE(image);  // no change of ownership
    EXPECT_EQ(IMAGEHOLDERS(image), 1);
    {
      BITMAP b;
      b.HANDLE(a.HANDLE());  // shared, not owned twice
      EXPECT_EQ(IMAGEHOLDERS(image), 2);
    }
    EXPECT_EQ(IMAGEHOLDERS(image), 1);
    EXPECT_EQ(a.PIXEL({1, 1}), Picture(4, 3));

    BITMAP c;
    void* const adopted = vox_GfxImageCreate(6, 5, 0x12345678u, 16, 0);
    c.HANDLE(adopted);
    EXPECT_EQ(Dims(c), (std::array<int64_t, 4>{6, 5, 2, 16}));
    c.HANDLE(a.HANDLE());
    EXPECT_EQ(IMAGEHOLDERS(adopted), 0);
    EXPECT_EQ(IMAGEHOLDERS(image), 2);
    EXPECT_FALSE(c.CREATE(0, 5, 0, 32));  // c holds nothing, a keeps its image
    EXPECT_STRNE(LASTERROR(), "");
    EXPECT_TRUE(c == nullptr);
    EXPECT_EQ(Dims(c), kEmpty);
    EXPECT_EQ(IMAGEHOLDERS(image), 1);
    a.HANDLE(nullptr);
    EXPECT_EQ(IMAGEHOLDERS(image), 0);

    // A compact-header block is held and released, but its pixels are never addressed.
    a.HANDLE(png_load_mem(png.data(), int32_t(png.size()), PNG_TARGET_OLD));
    ASSERT_NE(a.HANDLE(), nullptr);
    EXPECT_EQ(Dims(a), kEmpty);
    a.PRESERVEALPHACHANNEL();
    a.ALPHA(10);
  }
  ExpectNoLeaks();
}

TEST(BitmapOwnership, SavedCopyOnlyFitsItsSize) {
  OpenScreen();
  BITMAP a(4, 4, 0x80FFFFFFu, 32);
  a.PRESERVEALPHACHANNEL();
  a.CREATE(4, 4, 0xFF000000u, 32);  // same size: the copy stays and drives the fade
  ASSERT_NE(a.IALPHACHANNEL, nullptr);
  a.ALPHA(255);
  EXPECT_EQ(a.PIXEL({3, 3}), 0x80000000u);
  for (const auto& size : {std::pair{8, 8}, std::pair{2, 2}, std::pair{4, 5}, std::pair{16, 1}}) {
    a.CREATE(4, 4, 0xFF000000u, 32);
    a.PRESERVEALPHACHANNEL();
    a.CREATE(size.first, size.second, 0xFF000000u, 32);
    EXPECT_EQ(a.IALPHACHANNEL, nullptr);
    a.ALPHA(128);  // relative again
    EXPECT_EQ(a.PIXELALPHA({size.first - 1, size.second - 1}), 128);
    a.ALPHA(255);
  }
  a.PRESERVEALPHACHANNEL();
  a.HANDLE(vox_GfxImageCreate(16, 1, 0, 16, 0));  // same size, but no alpha bytes
  EXPECT_EQ(a.IALPHACHANNEL, nullptr);
  a.PRESERVEALPHACHANNEL();
  BITMAP empty;
  empty.PRESERVEALPHACHANNEL();
  EXPECT_TRUE(a.IALPHACHANNEL == nullptr && empty.IALPHACHANNEL == nullptr);
}

}  // namespace
