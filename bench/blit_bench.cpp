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

#include "bench/blit_data.h"
#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"

namespace bench {
namespace {

// Each raster operation with its rivals' counterparts.
struct Mode {
  const PutMode& put;
  pixman_op_t pixman_op;  // PIXMAN_OP_CLEAR: no pixman counterpart
  SDL_BlendMode sdl_mode;
  bool sdl_colour_key;
  bool small;  // also measured on 1,000 16 x 16 sprites
};

const Mode kModes[] = {
    {kPutModes[0], PIXMAN_OP_OVER, SDL_BLENDMODE_BLEND, false, true},      // ALPHA
    {kPutModes[1], PIXMAN_OP_ADD, SDL_BLENDMODE_ADD, false, true},         // ADD
    {kPutModes[2], PIXMAN_OP_CLEAR, SDL_BLENDMODE_NONE, true, true},       // TRANS
    {kPutModes[3], PIXMAN_OP_SRC, SDL_BLENDMODE_NONE, false, true},        // PSET
    {kPutModes[4], PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},  // PRESET
    {kPutModes[5], PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},  // AND
    {kPutModes[6], PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},  // OR
    {kPutModes[7], PIXMAN_OP_CLEAR, SDL_BLENDMODE_INVALID, false, false},  // XOR
};

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
      const std::string row = std::string(m.put.name) + kShapeNames[shape];
      const double bytes = shape == kSmallBalls ? double(kSmall) * kSmall * 4 * kSmallSprites
                                                : double(kWidth) * kHeight * 4;
      const Mode* mode = &m;
      Add({section, row, "kastrel", bytes, path},
          [mode, shape, path](benchmark::State& state) { RunOurs(state, mode->put, shape, path); });
      if (m.pixman_op != PIXMAN_OP_CLEAR) {
        Add({section, row, "pixman", bytes, path}, [mode, shape](benchmark::State& state) {
          PixmanRun(state, shape, mode->pixman_op, mode->put.put_mode == PUT_ADD ? kAddAlpha : -1);
        });
      }
      if (m.put.put_mode == PUT_ADD) {
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
          if (mode->put.put_mode == PUT_ADD) SDL_SetSurfaceAlphaMod(src, uint8_t(kAddAlpha));
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
      Add({section, row, "memcpy", bytes, path},
          [shape](benchmark::State& state) { RunMemcpy(state, shape); });
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
