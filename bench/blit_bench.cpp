// Raster operations at 32 bits: ours through vox_GfxPut, pixman's composite and SDL2's
// SDL_BlitSurface working in place on the very same pixel memory, and memcpy of the same bytes.
// One section per loop set the processor runs (forced through the rows' test hook), each with
// its rivals measured beside it, in a process of its own where pixman is limited to the same
// instruction sets (PIXMAN_DISABLE, see main.cpp), and with its own targets. SDL2 and memcpy
// take their usual paths. ADD draws at alpha 128, against pixman's
// ADD through a solid mask of that alpha (the same operation) and SDL2's ADD with that alpha
// modulation; pixman's plain ADD is shown for scale only.

#include <SDL.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"
#include "kastrel/graphics/rows.h"

namespace bench {
namespace {

constexpr int kWidth = 640, kHeight = 480, kSprite = 64, kSmall = 16;
constexpr int kSprites = 75;         // 75 sprites: 640 x 480 pixels
constexpr int kSmallSprites = 1000;  // a busy frame of small sprites
constexpr int32_t kAddAlpha = 128;

struct Picture {
  void* image;  // our image buffer; the rivals wrap its pixels
  uint8_t* pixels;
  int width, height, pitch;
};

Picture Wrap(void* image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image, sizeof h);
  return {image, static_cast<uint8_t*>(image) + 32, int(h.width), int(h.height), int(h.pitch)};
}

uint32_t Channel(double v) { return uint32_t(std::lround(std::fmin(1, std::fmax(0, v)) * 255)); }

// A 640 x 480 source: soft colours, alpha over its whole range, and a fifth of the pixels in
// blobs of the mask colour (alpha 0).
Picture MakeBackground() {
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
Picture MakeSprite(int size) {
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
const char* const kShapeNames[] = {" 640x480", " 64x64 x75", " 16x16 x1000"};
const char* const kPathNames[] = {"plain", "SSE2", "AVX", "AVX2", "AVX-512"};

struct Setup {
  Picture background, target;
  Picture sprites[3];                          // by shape; [kWhole] is the background
  std::vector<std::pair<int, int>> places[3];  // by shape, wholly inside the target
};

Setup& Data() {
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

struct Mode {
  const char* name;
  int32_t put_mode;
  VOX_PUT_ROUTINE routine;
  int32_t alpha;
  pixman_op_t pixman_op;  // PIXMAN_OP_CLEAR: no pixman counterpart
  SDL_BlendMode sdl_mode;
  bool sdl_colour_key;
  bool small;  // also measured on 1,000 16 x 16 sprites
};

const Mode kModes[] = {
    {"ALPHA", PUT_ALPHA, vox_hPutAlpha, -1, PIXMAN_OP_OVER, SDL_BLENDMODE_BLEND, false, true},
    {"ADD", PUT_ADD, vox_hPutAdd, kAddAlpha, PIXMAN_OP_ADD, SDL_BLENDMODE_ADD, false, true},
    {"TRANS", PUT_TRANS, vox_hPutTrans, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_NONE, true, true},
    {"PSET", PUT_PSET, vox_hPutPSet, -1, PIXMAN_OP_SRC, SDL_BLENDMODE_NONE, false, true},
    {"PRESET", PUT_PRESET, vox_hPutPReset, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false,
     false},
    {"AND", PUT_AND, vox_hPutAnd, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},
    {"OR", PUT_OR, vox_hPutOr, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},
    {"XOR", PUT_XOR, vox_hPutXor, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},
};

// Runs draw(source, x, y) for every place of the shape.
template <typename Draw>
void Each(Shape shape, Draw draw) {
  Setup& d = Data();
  for (const auto& [x, y] : d.places[shape]) draw(d.sprites[shape], x, y);
}

pixman_image_t* PixmanOf(const Picture& p) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, p.width, p.height,
                                  reinterpret_cast<uint32_t*>(p.pixels), p.pitch);
}

SDL_Surface* SurfaceOf(const Picture& p) {
  return SDL_CreateRGBSurfaceWithFormatFrom(p.pixels, p.width, p.height, 32, p.pitch,
                                            SDL_PIXELFORMAT_ARGB8888);
}

// pixman composite of every place; with a mask alpha, through a solid mask of it.
void PixmanRun(benchmark::State& state, Shape shape, pixman_op_t op, int32_t mask_alpha) {
  Setup& d = Data();
  pixman_image_t* dst = PixmanOf(d.target);
  pixman_image_t* src = PixmanOf(d.sprites[shape]);
  const pixman_color_t grey{0, 0, 0, uint16_t(mask_alpha * 0x101)};
  pixman_image_t* mask = mask_alpha >= 0 ? pixman_image_create_solid_fill(&grey) : nullptr;
  for (auto _ : state) {
    Each(shape, [&](const Picture& p, int x, int y) {
      pixman_image_composite32(op, src, mask, dst, 0, 0, 0, 0, x, y, p.width, p.height);
    });
    benchmark::ClobberMemory();
  }
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(dst);
  pixman_image_unref(src);
}

void RegisterBlitsOn(int32_t path) {
  const std::string section =
      std::string("raster operations, 32 bits, ") + kPathNames[path] + " loops";
  Columns(section, {"kastrel", "pixman", "SDL2", "memcpy", "pixman plain ADD"},
          {"memcpy", "pixman plain ADD"});
  const std::string disabled = PixmanDisable(path);
  SectionNote(section, "measured in a process of its own; pixman with PIXMAN_DISABLE=\"" +
                           disabled + "\"" + (disabled.empty() ? ", its widest" : ""));
  for (const Mode& m : kModes) {
    for (Shape shape : {kWhole, kBalls, kSmallBalls}) {
      if (shape == kSmallBalls && !m.small) continue;
      const std::string row = std::string(m.name) + kShapeNames[shape];
      const double bytes = shape == kSmallBalls ? double(kSmall) * kSmall * 4 * kSmallSprites
                                                : double(kWidth) * kHeight * 4;
      const Mode* mode = &m;
      Add({section, row, "kastrel", bytes, path}, [mode, shape, path](benchmark::State& state) {
        void* target = Data().target.image;
        const int32_t before = vox_hRowPath();
        vox_hRowPathForce(path);
        vox_GfxLock();  // as the frame loop holds it, so no blit takes the lock itself
        for (auto _ : state) {
          Each(shape, [&](const Picture& src, int x, int y) {
            vox_GfxPut(target, float(x), float(y), src.image, PUT_WHOLE_SOURCE, 0, 0, 0,
                       PUT_ABSOLUTE, mode->put_mode, mode->routine, mode->alpha, nullptr, nullptr);
          });
          benchmark::ClobberMemory();
        }
        vox_GfxUnlock(0, -1);
        vox_hRowPathForce(before);
      });
      if (m.pixman_op != PIXMAN_OP_CLEAR) {
        Add({section, row, "pixman", bytes, path}, [mode, shape](benchmark::State& state) {
          PixmanRun(state, shape, mode->pixman_op, mode->put_mode == PUT_ADD ? kAddAlpha : -1);
        });
      }
      if (m.put_mode == PUT_ADD) {
        Add({section, row, "pixman plain ADD", bytes, path},
            [shape](benchmark::State& state) { PixmanRun(state, shape, PIXMAN_OP_ADD, -1); });
      }
      if (m.sdl_mode != SDL_BLENDMODE_INVALID) {
        Add({section, row, "SDL2", bytes, path}, [mode, shape](benchmark::State& state) {
          Setup& d = Data();
          SDL_Surface* dst = SurfaceOf(d.target);
          SDL_Surface* src = SurfaceOf(d.sprites[shape]);
          SDL_SetSurfaceBlendMode(src, mode->sdl_mode);
          if (mode->sdl_colour_key) SDL_SetColorKey(src, SDL_TRUE, 0xFF00FF);
          if (mode->put_mode == PUT_ADD) SDL_SetSurfaceAlphaMod(src, uint8_t(kAddAlpha));
          for (auto _ : state) {
            Each(shape, [&](const Picture& p, int x, int y) {
              SDL_Rect place{x, y, p.width, p.height};
              SDL_BlitSurface(src, nullptr, dst, &place);
            });
            benchmark::ClobberMemory();
          }
          SDL_FreeSurface(dst);
          SDL_FreeSurface(src);
        });
      }
      Add({section, row, "memcpy", bytes, path}, [shape](benchmark::State& state) {
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
      });
    }
  }
  const std::string on = std::string(" [") + kPathNames[path] + "]";
  for (const char* row : {"ALPHA 640x480", "ALPHA 64x64 x75", "ALPHA 16x16 x1000"})
    AddTarget({std::string(row) + " vs pixman OVER (>= 2.5x)" + on,
               section,
               {row},
               "kastrel",
               "pixman",
               0.4});
  AddTarget({"ALPHA 640x480 vs memcpy (>= 0.5x)" + on,
             section,
             {"ALPHA 640x480"},
             "kastrel",
             "memcpy",
             2.0});
  AddTarget({"ADD 640x480 vs pixman ADD with a solid mask (>= 3x)" + on,
             section,
             {"ADD 640x480"},
             "kastrel",
             "pixman",
             1 / 3.0});
  AddTarget(
      {"ADD 640x480 vs memcpy (>= 0.5x)" + on, section, {"ADD 640x480"}, "kastrel", "memcpy", 2.0});
  AddTarget({"PSET 640x480 vs memcpy (>= 0.9x)" + on,
             section,
             {"PSET 640x480"},
             "kastrel",
             "memcpy",
             1 / 0.9});
  for (const char* row : {"TRANS 640x480", "TRANS 64x64 x75", "TRANS 16x16 x1000"})
    AddTarget(
        {std::string(row) + " vs the best rival (>= 2x)" + on, section, {row}, "kastrel", "", 0.5});
}

}  // namespace

// The loop sets this processor runs, plain first, and their names.
std::vector<int32_t> LoopSets() {
  std::vector<int32_t> sets;
  for (int32_t p = VOX_ROWS_PLAIN; p <= vox_hRowPathBest(); ++p) sets.push_back(p);
  return sets;
}
const char* LoopSetName(int32_t set) { return kPathNames[set]; }

// pixman's sets above each of ours (a processor with AVX has SSSE3); AVX-512 has no pixman
// counterpart beyond AVX2.
const char* PixmanDisable(int32_t set) {
  static const char* const kDisable[] = {"mmx sse2 ssse3 avx2", "ssse3 avx2", "avx2", "", ""};
  return kDisable[set];
}

void RegisterBlits() {
  for (int32_t path : MeasuredLoopSets()) RegisterBlitsOn(path);
}

}  // namespace bench
