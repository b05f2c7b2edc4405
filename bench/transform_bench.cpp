// Transformed drawing at 32 bits, each sprite turned by its own angle, against what a game would
// pick instead: SDL2's software renderer (SDL_RenderCopyEx onto a surface over the same pixels)
// and pixman's transformed, bilinear OVER; and, unturned, against the plain DRAWTO of the same
// sprites. One section per loop set, as the raster operations. The "bunnymark" row draws 1,000
// 32 x 32 sprites at 800 x 450 and says how many fit in a 60 Hz frame.

#include <SDL.h>
#include <pixman.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

constexpr int kWidth = 800, kHeight = 450;
constexpr int kBig = 64, kBigCount = 75, kBunny = 32, kBunnies = 1000;

struct Place {
  float x, y, angle;
};

struct Setup {
  BITMAP target, ball, bunny;
  std::vector<Place> balls, bunnies;
};

// A size x size ball: an opaque shaded disc with a soft rim, alpha 0 outside.
BITMAP MakeBall(int size) {
  BITMAP b(size, size, 0, 32);
  const double c = (size - 1) / 2.0, rim = size / 2.0 - 1;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double r = std::hypot(x - c, y - c);
      const uint32_t a = r < rim - 2 ? 255 : r < rim ? uint32_t((rim - r) * 127) : 0;
      const uint32_t shade = uint32_t(255 * std::fmax(0, 1 - r / (rim * 1.3)));
      b.PIXEL({x, y}, a ? a << 24 | shade << 16 | (shade * 3 / 5) << 8 | 0x33 : 0x00FF00FFu);
    }
  return b;
}

Setup& Data() {
  static Setup* s = [] {
    vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
    auto* d = new Setup;
    d->target.CREATE(kWidth, kHeight, 0xFF405060, 32);
    d->ball = MakeBall(kBig);
    d->bunny = MakeBall(kBunny);
    std::mt19937 rng(17);
    const auto place = [&](int count, int size, std::vector<Place>* out) {
      for (int i = 0; i < count; ++i)
        out->push_back({float(size + int(rng() % uint32_t(kWidth - 2 * size))),
                        float(size + int(rng() % uint32_t(kHeight - 2 * size))),
                        float(rng() % 3600) / 10});
    };
    place(kBigCount, kBig, &d->balls);
    place(kBunnies, kBunny, &d->bunnies);
    return d;
  }();
  return *s;
}

enum Kind { kNearest, kBilinear, kUnturned, kBunnymark };
const char* const kRows[] = {"rotated 64x64 nearest x75", "rotated 64x64 bilinear x75",
                             "angle 0 64x64 x75", "bunnymark 32x32 x1000"};

const BITMAP& SpriteOf(Kind k) { return k == kBunnymark ? Data().bunny : Data().ball; }
const std::vector<Place>& PlacesOf(Kind k) {
  return k == kBunnymark ? Data().bunnies : Data().balls;
}

void Ours(benchmark::State& state, Kind kind, int32_t path) {
  Setup& d = Data();
  const BITMAP& sprite = SpriteOf(kind);
  TRANSFORM t;
  t.PIVOTX = t.PIVOTY = float(sprite.WIDTH()) / 2;
  t.FILTER = kind == kBilinear ? BILINEAR : NEAREST;
  const int32_t before = vox_hRowPath();
  vox_hRowPathForce(path);
  vox_GfxLock();  // as the frame loop holds it
  for (auto _ : state) {
    for (const Place& p : PlacesOf(kind)) {
      t.ANGLE = kind == kUnturned ? 0 : p.angle;
      sprite.DRAWTRANSFORMED(d.target, std::floor(p.x), std::floor(p.y), t);
    }
    benchmark::ClobberMemory();
  }
  vox_GfxUnlock(0, -1);
  vox_hRowPathForce(before);
}

void Sdl(benchmark::State& state, Kind kind) {
  Setup& d = Data();
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      static_cast<uint8_t*>(d.target.HANDLE()) + 32, kWidth, kHeight, 32, int(d.target.PITCH()),
      SDL_PIXELFORMAT_ARGB8888);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(surface);
  const BITMAP& sprite = SpriteOf(kind);
  SDL_Surface* from = SDL_CreateRGBSurfaceWithFormatFrom(
      static_cast<uint8_t*>(sprite.HANDLE()) + 32, int(sprite.WIDTH()), int(sprite.HEIGHT()), 32,
      int(sprite.PITCH()), SDL_PIXELFORMAT_ARGB8888);
  SDL_Texture* texture = renderer ? SDL_CreateTextureFromSurface(renderer, from) : nullptr;
  if (!texture) {
    state.SkipWithError(SDL_GetError());
  } else {
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture,
                            kind == kBilinear ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    const int size = int(sprite.WIDTH());
    for (auto _ : state) {
      for (const Place& p : PlacesOf(kind)) {
        const SDL_Rect place{int(p.x) - size / 2, int(p.y) - size / 2, size, size};
        SDL_RenderCopyEx(renderer, texture, nullptr, &place, p.angle, nullptr, SDL_FLIP_NONE);
      }
      SDL_RenderFlush(renderer);
      benchmark::ClobberMemory();
    }
    SDL_DestroyTexture(texture);
  }
  if (renderer) SDL_DestroyRenderer(renderer);
  SDL_FreeSurface(from);
  SDL_FreeSurface(surface);
}

// pixman maps target pixels back to the source through the inverse of the same turn.
void Pixman(benchmark::State& state) {
  Setup& d = Data();
  const auto wrap = [](const BITMAP& b) {
    return pixman_image_create_bits(
        PIXMAN_a8r8g8b8, int(b.WIDTH()), int(b.HEIGHT()),
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(b.HANDLE()) + 32), int(b.PITCH()));
  };
  pixman_image_t* dst = wrap(d.target);
  pixman_image_t* src = wrap(d.ball);
  pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  const double half = kBig / 2.0, reach = kBig * 0.75;
  for (auto _ : state) {
    for (const Place& p : d.balls) {
      const double a = p.angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
      const double x = std::floor(p.x), y = std::floor(p.y);
      pixman_f_transform f{};
      f.m[0][0] = c, f.m[0][1] = s, f.m[0][2] = half - c * x - s * y;
      f.m[1][0] = -s, f.m[1][1] = c, f.m[1][2] = half + s * x - c * y;
      f.m[2][2] = 1;
      pixman_transform t;
      pixman_transform_from_pixman_f_transform(&t, &f);
      pixman_image_set_transform(src, &t);
      const int left = int(x - reach), top = int(y - reach), size = int(2 * reach);
      pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, left, top, 0, 0, left, top, size,
                               size);
    }
    benchmark::ClobberMemory();
  }
  pixman_image_unref(src);
  pixman_image_unref(dst);
}

void Blits(benchmark::State& state, int32_t path) {
  Setup& d = Data();
  const int32_t before = vox_hRowPath();
  vox_hRowPathForce(path);
  vox_GfxLock();
  for (auto _ : state) {
    for (const Place& p : d.balls)
      d.ball.DRAWTO(d.target, int32_t(p.x) - kBig / 2, int32_t(p.y) - kBig / 2, 0, 0, 0, 0,
                    VOXALPHA);
    benchmark::ClobberMemory();
  }
  vox_GfxUnlock(0, -1);
  vox_hRowPathForce(before);
}

void RegisterOn(int32_t path) {
  const std::string section =
      std::string("transformed drawing, 32 bits, ") + LoopSetName(path) + " loops";
  Columns(section, {"kastrel", "SDL2 RenderCopyEx", "pixman", "DRAWTO"}, {"DRAWTO"});
  SectionNote(section,
              "ALPHA, each sprite at its own angle; the bunnymark row counts sprites "
              "per 16.7 ms below the table");
  for (Kind kind : {kNearest, kBilinear, kUnturned, kBunnymark}) {
    const int size = kind == kBunnymark ? kBunny : kBig;
    const double bytes = double(size) * size * 4 * (kind == kBunnymark ? kBunnies : kBigCount);
    Add({section, kRows[kind], "kastrel", bytes, path},
        [kind, path](benchmark::State& state) { Ours(state, kind, path); });
    if (kind != kUnturned)
      Add({section, kRows[kind], "SDL2 RenderCopyEx", bytes, path},
          [kind](benchmark::State& state) { Sdl(state, kind); });
    if (kind == kBilinear)
      Add({section, kRows[kind], "pixman", bytes, path},
          [](benchmark::State& state) { Pixman(state); });
    if (kind == kUnturned)
      Add({section, kRows[kind], "DRAWTO", bytes, path},
          [path](benchmark::State& state) { Blits(state, path); });
  }
  PerFrame(section, kRows[kBunnymark], kBunnies, "sprites per 16.7 ms");
  const std::string on = std::string(" [") + LoopSetName(path) + "]";
  AddTarget({"rotated nearest vs SDL_RenderCopyEx (>= 2x)" + on,
             section,
             {kRows[kNearest]},
             "kastrel",
             "SDL2 RenderCopyEx",
             0.5});
  AddTarget({"rotated bilinear vs pixman OVER (>= 1.5x)" + on,
             section,
             {kRows[kBilinear]},
             "kastrel",
             "pixman",
             1 / 1.5});
  AddTarget({"angle 0 vs DRAWTO (<= 1.3x the time)" + on,
             section,
             {kRows[kUnturned]},
             "kastrel",
             "DRAWTO",
             1.3});
}

}  // namespace

void RegisterTransforms() {
  for (int32_t path : MeasuredLoopSets()) RegisterOn(path);
}

}  // namespace bench
