// The pictures and places the blit benchmarks draw: a 640 x 480 picture, and balls of 64 x 64
// and 16 x 16 pixels scattered over a 640 x 480 target; the raster operations and the two runs
// every blit table has, ours and memcpy of the same bytes.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <utility>
#include <vector>

#include "kastrel/device/display.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"

namespace bench {

constexpr int kWidth = 640, kHeight = 480, kSprite = 64, kSmall = 16;
constexpr int kSprites = 75;         // 75 sprites: 640 x 480 pixels
constexpr int kSmallSprites = 1000;  // a busy frame of small sprites
constexpr int32_t kAddAlpha = 128;

struct Picture {
  void* image;  // our image buffer; the rivals wrap its pixels
  uint8_t* pixels;
  int width, height, pitch;
};

// Our image, moved to where its pixels start a page of memory, the same in every build: each C
// library's malloc places a large block its own way (glibc's 16 bytes into a page), and rows of
// the Linux and Windows builds differed by up to 20 % either way on that alone (split vector
// stores, loads whose address matches an earlier store's in its low 12 bits). Kept for the
// program's life, as every picture here is.
inline Picture Wrap(void* image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image, sizeof h);
  const size_t bytes = 32 + size_t(h.height) * h.pitch;
  auto* moved = static_cast<uint8_t*>(::operator new(4096 + bytes, std::align_val_t{4096})) + 4064;
  std::memcpy(moved, image, bytes);
  vox_GfxImageDestroy(image);
  return {moved, moved + 32, int(h.width), int(h.height), int(h.pitch)};
}

inline uint32_t Channel(double v) {
  return uint32_t(std::lround(std::fmin(1, std::fmax(0, v)) * 255));
}

// A 640 x 480 source: soft colours, alpha over its whole range, and a fifth of the pixels in
// blobs of the mask colour (alpha 0).
inline Picture MakeBackground() {
  Picture p = Wrap(vox_GfxImageCreate(kWidth, kHeight, 0, 32, 0));
  std::mt19937 rng(99);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = x / double(kWidth), v = y / double(kHeight);
      const double blob = std::sin(x / 37.0) * std::cos(y / 29.0);
      uint32_t pixel;
      if (blob > 0.55) {
        pixel = 0x00FF00FFu;
      } else {
        const uint32_t a = Channel(0.5 + 0.5 * std::sin(x / 53.0 + y / 41.0)) ^ (rng() & 7);
        pixel = a << 24 | Channel(u) << 16 | Channel(v) << 8 | Channel(1 - u * v);
      }
      std::memcpy(p.pixels + y * p.pitch + x * 4, &pixel, 4);
    }
  }
  return p;
}

// A size x size ball: an opaque shaded disc with a soft rim on the mask colour at alpha 0.
inline Picture MakeSprite(int size) {
  Picture p = Wrap(vox_GfxImageCreate(size, size, 0, 32, 0));
  const double c = (size - 1) / 2.0, rim = size / 2.0 - 1;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double dx = x - c, dy = y - c, r = std::sqrt(dx * dx + dy * dy);
      uint32_t pixel = 0x00FF00FFu;
      if (r < rim) {
        const double shade = 1 - r / (rim * 1.3);
        const uint32_t a = r < rim - 2 ? 255 : Channel((rim - r) / 2);
        pixel = a << 24 | Channel(shade) << 16 | Channel(shade * 0.6) << 8 | Channel(0.2);
      }
      std::memcpy(p.pixels + y * p.pitch + x * 4, &pixel, 4);
    }
  }
  return p;
}

enum Shape { kWhole, kBalls, kSmallBalls };
inline const char* const kShapeNames[] = {" 640x480", " 64x64 x75", " 16x16 x1000"};
inline const char* const kPathNames[] = {"plain", "SSE2", "AVX", "AVX2", "AVX-512"};

struct Setup {
  Picture background, target;
  Picture sprites[3];                          // by shape; [kWhole] is the background
  std::vector<std::pair<int, int>> places[3];  // by shape, wholly inside the target
};

inline Setup& Data() {
  static Setup s = [] {
    vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
    Setup d{};
    d.background = MakeBackground();
    d.target = Wrap(vox_GfxImageCreate(kWidth, kHeight, 0xFF405060, 32, 0));
    d.sprites[kWhole] = d.background;
    d.sprites[kBalls] = MakeSprite(kSprite);
    d.sprites[kSmallBalls] = MakeSprite(kSmall);
    d.places[kWhole].emplace_back(0, 0);
    std::mt19937 rng(7);
    for (int i = 0; i < kSprites; ++i)
      d.places[kBalls].emplace_back(int(rng() % (kWidth - kSprite)),
                                    int(rng() % (kHeight - kSprite)));
    for (int i = 0; i < kSmallSprites; ++i)
      d.places[kSmallBalls].emplace_back(int(rng() % (kWidth - kSmall)),
                                         int(rng() % (kHeight - kSmall)));
    return d;
  }();
  return s;
}

// Runs draw(source, x, y) for every place of the shape.
template <typename Draw>
inline void Each(Shape shape, Draw draw) {
  Setup& d = Data();
  for (const auto& [x, y] : d.places[shape]) draw(d.sprites[shape], x, y);
}

// A raster operation as vox_GfxPut takes it.
struct PutMode {
  const char* name;
  int32_t put_mode;
  VOX_PUT_ROUTINE routine;
  int32_t alpha;
};
inline const PutMode kPutModes[] = {{"ALPHA", PUT_ALPHA, vox_hPutAlpha, -1},
                                    {"ADD", PUT_ADD, vox_hPutAdd, kAddAlpha},
                                    {"TRANS", PUT_TRANS, vox_hPutTrans, -1},
                                    {"PSET", PUT_PSET, vox_hPutPSet, -1},
                                    {"PRESET", PUT_PRESET, vox_hPutPReset, -1},
                                    {"AND", PUT_AND, vox_hPutAnd, -1},
                                    {"OR", PUT_OR, vox_hPutOr, -1},
                                    {"XOR", PUT_XOR, vox_hPutXor, -1}};

// Ours: every place of the shape drawn with the mode through one loop set.
inline void RunOurs(benchmark::State& state, const PutMode& mode, Shape shape, int32_t set) {
  void* target = Data().target.image;
  const int32_t before = vox_hRowPath();
  vox_hRowPathForce(set);
  vox_GfxLock();  // as the frame loop holds it, so no blit takes the lock itself
  for (auto _ : state) {
    Each(shape, [&](const Picture& src, int x, int y) {
      vox_GfxPut(target, float(x), float(y), src.image, PUT_WHOLE_SOURCE, 0, 0, 0, PUT_ABSOLUTE,
                 mode.put_mode, mode.routine, mode.alpha, nullptr, nullptr);
    });
    benchmark::ClobberMemory();
  }
  vox_GfxUnlock(0, -1);
  vox_hRowPathForce(before);
}

// memcpy of the same rows to the same places.
inline void RunMemcpy(benchmark::State& state, Shape shape) {
  uint8_t* target = Data().target.pixels;
  const int pitch = Data().target.pitch;
  for (auto _ : state) {
    Each(shape, [&](const Picture& src, int x, int y) {
      for (int r = 0; r < src.height; ++r)
        std::memcpy(target + (y + r) * pitch + x * 4, src.pixels + r * src.pitch,
                    size_t(src.width) * 4);
    });
    benchmark::ClobberMemory();
  }
}

}  // namespace bench
