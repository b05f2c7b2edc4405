// The window driver's presentation work for one whole 640 x 480 32-bit frame: each row turned
// into desktop pixels and written to a window-sized surface. "scale 1" is the unscaled copy;
// "scale 2" converts and widens each row into its first row of a 1280 x 960 surface and copies
// that to the second, as the driver does. The rival is what a game would write itself: the
// converted frame blitted to the window surface with SDL_BlitScaled (nearest neighbour).
// Both surfaces outgrow the second-level cache, so each written line is read for ownership
// and written back: per source line scale 1 moves 3 lines and scale 2 moves 9 (1 + 2 x 4),
// which puts the floor of the ratio near 3 on any machine whose caches behave that way.

#include <SDL2/SDL.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/sdl/frame_rows.h"
#include "kastrel/device/sdl/scaling.h"

namespace bench {
namespace {

constexpr int32_t kW = 640, kH = 480;

std::vector<uint8_t> Frame() {
  std::vector<uint8_t> frame(size_t{kW} * kH * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 2654435761u >> 24);
  return frame;
}

void Present(benchmark::State& state, int32_t n) {
  const std::vector<uint8_t> frame = Frame();
  const uint32_t palette[256] = {};
  std::vector<uint32_t> surface(size_t{kW} * n * kH * n);
  const size_t pitch = size_t{kW} * n;
  for (auto _ : state) {
    for (int32_t y = 0; y < kH; ++y) {
      const uint8_t* src = frame.data() + size_t(y) * kW * 4;
      if (n == 1) {
        vox_row_to_xrgb(src, 4, kW, palette, surface.data() + size_t(y) * pitch);
        continue;
      }
      vox_scale_row_xrgb32(src, kW, n, surface.data() + size_t(y) * n * pitch, pitch, n);
    }
    benchmark::DoNotOptimize(surface.data());
    benchmark::ClobberMemory();
  }
}

void SdlScaled(benchmark::State& state) {
  std::vector<uint8_t> frame = Frame();
  const uint32_t palette[256] = {};
  std::vector<uint32_t> converted(size_t{kW} * kH);
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(converted.data(), kW, kH, 32, kW * 4,
                                                        SDL_PIXELFORMAT_RGB888);
  SDL_Surface* dst = SDL_CreateRGBSurfaceWithFormat(0, kW * 2, kH * 2, 32, SDL_PIXELFORMAT_RGB888);
  SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
  for (auto _ : state) {
    for (int32_t y = 0; y < kH; ++y) {
      vox_row_to_xrgb(frame.data() + size_t(y) * kW * 4, 4, kW, palette,
                      converted.data() + size_t(y) * kW);
    }
    SDL_BlitScaled(src, nullptr, dst, nullptr);
    benchmark::DoNotOptimize(dst->pixels);
    benchmark::ClobberMemory();
  }
  SDL_FreeSurface(src);
  SDL_FreeSurface(dst);
}

}  // namespace

void RegisterPresent() {
  const std::string section = "present 640x480 frame";
  const std::string row = "whole frame";
  Columns(section, {"scale 2", "scale 1", "SDL_BlitScaled x2"});
  Add({section, row, "scale 2", double(kW) * kH * 16}, [](benchmark::State& s) { Present(s, 2); });
  Add({section, row, "scale 1", double(kW) * kH * 4}, [](benchmark::State& s) { Present(s, 1); });
  Add({section, row, "SDL_BlitScaled x2", double(kW) * kH * 16}, SdlScaled);
  AddTarget({"present at scale 2 vs scale 1 (<= 3x)", section, {row}, "scale 2", "scale 1", 3.0});
}

}  // namespace bench
