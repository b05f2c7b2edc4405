// Raster operations at 32 bits: ours through vox_GfxPut, pixman's composite and SDL2's
// SDL_BlitSurface working in place on the very same pixel memory, and memcpy of the same bytes.

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

namespace bench {
namespace {

constexpr int kWidth = 640, kHeight = 480, kSprite = 64,
              kSprites = 75;  // 75 sprites: 640 x 480 pixels

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

// A 64 x 64 ball: an opaque shaded disc with a soft rim on the mask colour at alpha 0.
Picture MakeSprite() {
  Picture p = Wrap(vox_GfxImageCreate(kSprite, kSprite, 0, 32, 0));
  for (int y = 0; y < kSprite; ++y) {
    for (int x = 0; x < kSprite; ++x) {
      const double dx = x - 31.5, dy = y - 31.5, r = std::sqrt(dx * dx + dy * dy);
      uint32_t pixel = 0x00FF00FFu;
      if (r < 31) {
        const double shade = 1 - r / 40;
        const uint32_t a = r < 29 ? 255 : Channel((31 - r) / 2);
        pixel = a << 24 | Channel(shade) << 16 | Channel(shade * 0.6) << 8 | Channel(0.2);
      }
      std::memcpy(p.pixels + y * p.pitch + x * 4, &pixel, 4);
    }
  }
  return p;
}

struct Setup {
  Picture background, sprite, target;
  std::vector<std::pair<int, int>> places;  // sprite positions, wholly inside the target
};

Setup& Data() {
  static Setup s = [] {
    vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
    Setup d{MakeBackground(),
            MakeSprite(),
            Wrap(vox_GfxImageCreate(kWidth, kHeight, 0xFF405060, 32, 0)),
            {}};
    std::mt19937 rng(7);
    for (int i = 0; i < kSprites; ++i)
      d.places.emplace_back(int(rng() % (kWidth - kSprite)), int(rng() % (kHeight - kSprite)));
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
};

const Mode kModes[] = {
    {"ALPHA", PUT_ALPHA, vox_hPutAlpha, -1, PIXMAN_OP_OVER, SDL_BLENDMODE_BLEND, false},
    {"ADD", PUT_ADD, vox_hPutAdd, 255, PIXMAN_OP_ADD, SDL_BLENDMODE_ADD, false},
    {"TRANS", PUT_TRANS, vox_hPutTrans, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_NONE, true},
    {"PSET", PUT_PSET, vox_hPutPSet, -1, PIXMAN_OP_SRC, SDL_BLENDMODE_NONE, false},
    {"PRESET", PUT_PRESET, vox_hPutPReset, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false},
    {"AND", PUT_AND, vox_hPutAnd, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false},
    {"OR", PUT_OR, vox_hPutOr, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false},
    {"XOR", PUT_XOR, vox_hPutXor, -1, PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false},
};

// Runs draw(source, x, y) for the whole background once, or for every sprite place.
template <typename Draw>
void Each(bool sprites, Draw draw) {
  Setup& d = Data();
  if (!sprites) {
    draw(d.background, 0, 0);
  } else {
    for (const auto& [x, y] : d.places) draw(d.sprite, x, y);
  }
}

pixman_image_t* PixmanOf(const Picture& p) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, p.width, p.height,
                                  reinterpret_cast<uint32_t*>(p.pixels), p.pitch);
}

SDL_Surface* SurfaceOf(const Picture& p) {
  return SDL_CreateRGBSurfaceWithFormatFrom(p.pixels, p.width, p.height, 32, p.pitch,
                                            SDL_PIXELFORMAT_ARGB8888);
}

}  // namespace

void RegisterBlits() {
  const std::string section = "raster operations, 32 bits";
  Columns(section, {"kastrel", "pixman", "SDL2", "memcpy"}, {"memcpy"});
  const double bytes = double(kWidth) * kHeight * 4;
  std::vector<std::string> pset_rows;
  for (const Mode& m : kModes) {
    for (bool sprites : {false, true}) {
      const std::string row = std::string(m.name) + (sprites ? " 64x64 x75" : " 640x480");
      const Mode* mode = &m;
      Add({section, row, "kastrel", bytes}, [mode, sprites](benchmark::State& state) {
        void* target = Data().target.image;
        vox_GfxLock();  // as the frame loop holds it, so no blit takes the lock itself
        for (auto _ : state) {
          Each(sprites, [&](const Picture& src, int x, int y) {
            vox_GfxPut(target, float(x), float(y), src.image, PUT_WHOLE_SOURCE, 0, 0, 0,
                       PUT_ABSOLUTE, mode->put_mode, mode->routine, mode->alpha, nullptr, nullptr);
          });
          benchmark::ClobberMemory();
        }
        vox_GfxUnlock(0, -1);
      });
      if (m.pixman_op != PIXMAN_OP_CLEAR) {
        Add({section, row, "pixman", bytes}, [mode, sprites](benchmark::State& state) {
          Setup& d = Data();
          pixman_image_t* dst = PixmanOf(d.target);
          pixman_image_t* bg = PixmanOf(d.background);
          pixman_image_t* ball = PixmanOf(d.sprite);
          for (auto _ : state) {
            Each(sprites, [&](const Picture& src, int x, int y) {
              pixman_image_composite32(mode->pixman_op, sprites ? ball : bg, nullptr, dst, 0, 0, 0,
                                       0, x, y, src.width, src.height);
            });
            benchmark::ClobberMemory();
          }
          pixman_image_unref(dst);
          pixman_image_unref(bg);
          pixman_image_unref(ball);
        });
      }
      if (m.sdl_mode != SDL_BLENDMODE_INVALID) {
        Add({section, row, "SDL2", bytes}, [mode, sprites](benchmark::State& state) {
          Setup& d = Data();
          SDL_Surface* dst = SurfaceOf(d.target);
          SDL_Surface* bg = SurfaceOf(d.background);
          SDL_Surface* ball = SurfaceOf(d.sprite);
          for (SDL_Surface* s : {bg, ball}) {
            SDL_SetSurfaceBlendMode(s, mode->sdl_mode);
            if (mode->sdl_colour_key) SDL_SetColorKey(s, SDL_TRUE, 0xFF00FF);
          }
          for (auto _ : state) {
            Each(sprites, [&](const Picture& src, int x, int y) {
              SDL_Rect place{x, y, src.width, src.height};
              SDL_BlitSurface(sprites ? ball : bg, nullptr, dst, &place);
            });
            benchmark::ClobberMemory();
          }
          SDL_FreeSurface(dst);
          SDL_FreeSurface(bg);
          SDL_FreeSurface(ball);
        });
      }
      Add({section, row, "memcpy", bytes}, [sprites](benchmark::State& state) {
        uint8_t* target = Data().target.pixels;
        const int pitch = Data().target.pitch;
        for (auto _ : state) {
          Each(sprites, [&](const Picture& src, int x, int y) {
            for (int r = 0; r < src.height; ++r)
              std::memcpy(target + (y + r) * pitch + x * 4, src.pixels + r * src.pitch,
                          size_t(src.width) * 4);
          });
          benchmark::ClobberMemory();
        }
      });
      if (m.put_mode == PUT_PSET) pset_rows.push_back(row);
    }
  }
  AddTarget({"ALPHA 640x480 vs pixman OVER (>= 2.5x)",
             section,
             {"ALPHA 640x480"},
             "kastrel",
             "pixman",
             0.4});
  AddTarget(
      {"ALPHA 640x480 vs memcpy (>= 0.5x)", section, {"ALPHA 640x480"}, "kastrel", "memcpy", 2.0});
  AddTarget({"ALPHA 64x64 sprites vs pixman OVER (>= 2.5x)",
             section,
             {"ALPHA 64x64 x75"},
             "kastrel",
             "pixman",
             0.4});
  for (const auto& row : pset_rows)
    AddTarget({"PSET vs memcpy (>= 0.9x)", section, {row}, "kastrel", "memcpy", 1 / 0.9});
  AddTarget({"ADD vs the best rival (>= 2x)",
             section,
             {"ADD 640x480", "ADD 64x64 x75"},
             "kastrel",
             "",
             0.5});
  AddTarget({"TRANS vs the best rival (>= 2x)",
             section,
             {"TRANS 640x480", "TRANS 64x64 x75"},
             "kastrel",
             "",
             0.5});
}

}  // namespace bench
