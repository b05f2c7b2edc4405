// Clip rectangles and changed rectangles:
//  - 64 x 64 sprites blitted with VOXALPHA across a clip's edge that leaves their left 32
//    columns, against the same 32 x 64 pixels blitted with no clip (the same visible pixels),
//    300 of them a pass under the screen lock as in the frame loop;
//  - MARKCHANGED of 1,000 and of 10,000 bullets (8 x 8, scattered, many overlapping) into an
//    empty list, against MARKDIRTY of the same rectangles, which only appends.

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/engine/regions.h"
#include "kastrel/engine/resolution.h"
#include "kastrel/graphics/clip.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"

namespace bench {
namespace {

using namespace KASTREL;

constexpr int kWidth = 640, kHeight = 480, kSprites = 300, kBullets = 10000;

struct Setup {
  void* target;
  void* sprite;
  std::vector<MATH::RECT> bullets;
};

Setup& Data() {
  static Setup* s = [] {
    vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
    auto* d = new Setup;
    d->target = vox_GfxImageCreate(kWidth, kHeight, 0xFF203040, 32, 0);
    d->sprite = vox_GfxImageCreate(64, 64, 0, 32, 0);
    auto* pixels = static_cast<uint8_t*>(d->sprite) + 32;
    for (int i = 0; i < 64 * 64 * 4; ++i) pixels[i] = uint8_t(i * 37 + (i >> 8));
    std::mt19937 random(5);
    for (int i = 0; i < kBullets; ++i)
      d->bullets.push_back({int32_t(random() % 600), int32_t(random() % 440), 7, 7});
    return d;
  }();
  return *s;
}

// Sprite i's place: across the clip's right edge (column 319), which leaves its left half.
constexpr int X = 288;
int Y(int i) { return i * 13 % 416; }

}  // namespace

void RegisterClip() {
  const std::string section = "clip and changed rectangles";
  Columns(section, {"clipped", "unclipped", "MARKCHANGED", "MARKDIRTY"}, {"MARKDIRTY"});
  const double bytes = double(kSprites) * 32 * 64 * 4;
  Add({section, "300 sprites, 32 of 64 columns seen", "clipped", bytes},
      [](benchmark::State& state) {
        Setup& d = Data();
        GRAPHICS::SETCLIP(d.target, {0, 0, 319, kHeight - 1});
        vox_GfxLock();
        for (auto _ : state) {
          for (int i = 0; i < kSprites; ++i) {
            vox_GfxPut(d.target, float(X), float(Y(i)), d.sprite, 0, 0, 63, 63, 0, PUT_ALPHA,
                       vox_hPutAlpha, -1, nullptr, nullptr);
          }
          benchmark::ClobberMemory();
        }
        GRAPHICS::CLEARCLIP(d.target);
        vox_GfxUnlock(-1, -1);
      });
  Add({section, "300 sprites, 32 of 64 columns seen", "unclipped", bytes},
      [](benchmark::State& state) {
        Setup& d = Data();
        vox_GfxLock();
        for (auto _ : state) {
          for (int i = 0; i < kSprites; ++i) {
            vox_GfxPut(d.target, float(X), float(Y(i)), d.sprite, 0, 0, 31, 63, 0, PUT_ALPHA,
                       vox_hPutAlpha, -1, nullptr, nullptr);
          }
          benchmark::ClobberMemory();
        }
        vox_GfxUnlock(-1, -1);
      });
  const auto marks = [](benchmark::State& state, size_t count, bool changed) {
    Setup& d = Data();
    ENGINE::SCREENRESOLUTION = ENGINE::RESOLUTION{kWidth, kHeight};
    for (auto _ : state) {
      ENGINE::DIRTYREGIONS.CLEAR();
      for (size_t i = 0; i < count; ++i) {
        MATH::RECT r = d.bullets[i];
        changed ? ENGINE::MARKCHANGED(r) : ENGINE::MARKDIRTY(r);
      }
      benchmark::DoNotOptimize(ENGINE::DIRTYREGIONS.COUNT);
    }
    ENGINE::DIRTYREGIONS.CLEAR();
  };
  for (const auto& [row, count] : {std::pair{"1,000 bullets marked", size_t{1000}},
                                   std::pair{"10,000 bullets marked", size_t{kBullets}}}) {
    Add({section, row, "MARKCHANGED", 0},
        [marks, count](benchmark::State& s) { marks(s, count, true); });
    Add({section, row, "MARKDIRTY", 0},
        [marks, count](benchmark::State& s) { marks(s, count, false); });
  }
  AddTarget({"clipped blit vs unclipped blit of the same pixels (<= 1.05x the time)",
             section,
             {"300 sprites, 32 of 64 columns seen"},
             "clipped",
             "unclipped",
             1.05});
}

}  // namespace bench
