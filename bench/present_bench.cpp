// The window driver's presentation work for one whole 640 x 480 32-bit frame: each row turned
// into desktop pixels and written to a window-sized surface. "scale 1" is the unscaled copy;
// "scale 2" converts and widens each row into its first row of a 1280 x 960 surface and copies
// that to the second, as the driver does. The rival is what a game would write itself: the
// converted frame blitted to the window surface with SDL_BlitScaled (nearest neighbour).
// Both surfaces outgrow the second-level cache, so each written line is read for ownership
// and written back: per source line scale 1 moves 3 lines and scale 2 moves 9 (1 + 2 x 4),
// which puts the floor of the ratio near 3 on any machine whose caches behave that way.

#include <SDL2/SDL.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/table.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/sdl/frame_rows.h"
#include "kastrel/device/sdl/paced_present.h"
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

// The paced presentation's work for a new frame each pass, its every row changed in its last
// pixel (the copy compares whole rows before writing them): "copy" is the driver's own part
// under the lock, into the streaming texture; "present" adds the upload and the rendering
// through SDL's software renderer into a window-sized surface, as on a desktop without a GPU
// (with one, the scaling is the GPU's). Two frames take turns, so every pass has new rows.
void Paced(benchmark::State& state, int32_t n, bool whole) {
  std::vector<uint8_t> a = Frame(), b = a;
  for (int32_t y = 0; y < kH; ++y) b[(size_t(y) * kW + kW - 1) * 4] ^= 0xFF;
  std::vector<uint8_t> dirty(kH, 1);
  VOX_GFX_SCREEN s{};
  s.width = kW;
  s.height = kH;
  s.bytes_per_pixel = 4;
  s.pitch = kW * 4;
  s.dirty = dirty.data();
  const uint32_t palette[256] = {};
  SDL_Surface* window =
      SDL_CreateRGBSurfaceWithFormat(0, kW * n, kH * n, 32, SDL_PIXELFORMAT_RGB888);
  vox_paced_start(MODE_VSYNC);
  if (!vox_paced_attach(SDL_CreateSoftwareRenderer(window), kW, kH, 60)) {
    state.SkipWithError("no software renderer");
    return;
  }
  const VOX_SCALE_LAYOUT layout{n, 0, 0, kW * n, kH * n};
  bool flip = false;
  for (auto _ : state) {
    s.framebuffer = (flip = !flip) ? a.data() : b.data();
    const auto start = std::chrono::steady_clock::now();
    vox_paced_copy(&s, palette, n);
    if (whole) vox_paced_show(layout);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!whole) vox_paced_show(layout);
  }
  vox_paced_close();
  SDL_FreeSurface(window);
}

void Memcpy(benchmark::State& state) {
  const std::vector<uint8_t> frame = Frame();
  std::vector<uint8_t> copy(frame.size());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::ClobberMemory();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
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

  const std::string paced = "paced present 640x480 frame";
  Columns(paced, {"scale 1", "scale 2"}, {"memcpy"});
  SectionNote(paced,
              "a new frame every pass, each row changed at its end; copy: the driver's "
              "part under the lock; present: with SDL's software renderer");
  const double bytes = double(kW) * kH * 4;
  Add(
      {paced, "copy", "scale 1", bytes}, [](benchmark::State& s) { Paced(s, 1, false); }, true);
  Add(
      {paced, "copy", "scale 2", bytes}, [](benchmark::State& s) { Paced(s, 2, false); }, true);
  Add({paced, "copy", "memcpy", bytes}, Memcpy, true);
  Add(
      {paced, "present", "scale 1", bytes}, [](benchmark::State& s) { Paced(s, 1, true); }, true);
  Add(
      {paced, "present", "scale 2", bytes}, [](benchmark::State& s) { Paced(s, 2, true); }, true);
  Add({paced, "present", "memcpy", bytes}, Memcpy, true);
  AddTarget(
      {"paced copy vs memcpy of the frame (<= 1.5x)", paced, {"copy"}, "scale 1", "memcpy", 1.5});
  AddTarget(
      {"paced copy at scale 2 vs scale 1 (<= 1.2x)", paced, {"copy"}, "scale 2", "scale 1", 1.2});
}

}  // namespace bench
