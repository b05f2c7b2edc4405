// The bunnymark of bunnymark.cpp (DRAWTO with VOXALPHA onto an offscreen 800 x 450 bitmap, one
// thread) as a program of its own, built for the browser as a page and for Linux: the page
// measures the loop sets its build runs (the SSE2 loops on WebAssembly's SIMD, and the plain
// ones), the Linux program the set named by its argument ("SSE2" unless told). tools/bench-web.py
// runs both and compares them.

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/bunnymark_flock.h"
#include "bench/bunnymark_frames.h"
#include "kastrel/base/cpu_features.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/graphics/rows.h"
#include "kastrel/graphics/shapes.h"

namespace {

using namespace bench::bunny;
using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

void Run(int32_t set, const char* name) {
  BITMAP sprite(kSize, kSize, 0, 32);
  const std::vector<uint32_t> argb = BunnyPixels();
  for (int i = 0; i < kSize * kSize; ++i) sprite.PIXEL({i % kSize, i / kSize}, argb[size_t(i)]);
  BITMAP target(kWidth, kHeight, kBackground, 32);
  if (vox_hRowPathForce(set) != set) {
    std::printf("{\"contender\": \"kastrel %s\", \"sprites\": 0, \"detail\": \"not run here\"}\n",
                name);
    return;
  }
  Flock flock;
  vox_GfxLock();  // as the frame loop holds it
  const auto frame = [&](int count) {
    FILLRECT(target, {0, 0, kWidth - 1, kHeight - 1}, kBackground, VOXPSET);
    flock.Step(count);
    for (int i = 0; i < count; ++i)
      sprite.DRAWTO(target, int(flock[i].x), int(flock[i].y), 0, 0, 0, 0, VOXALPHA);
  };
  WarmUp(frame);
  const FrameFit fit = FitFrame([&](int n) { return FastestFrame(frame, n); });
  vox_GfxUnlock(0, -1);
  const std::string contender = std::string("kastrel ") + name;
  PrintFit(contender.c_str(), "DRAWTO with VOXALPHA onto an offscreen bitmap", fit);
}

}  // namespace

int main(int argc, char** argv) {
  vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);  // images need a screen
  if (vox_hCpuFeatures().simd128) {
    Run(VOX_ROWS_SSE2, "wasm-simd128");
    Run(VOX_ROWS_PLAIN, "plain");
  } else {
    const char* set = argc > 1 ? argv[1] : "SSE2";
    const char* const names[] = {"plain", "SSE2", "AVX", "AVX2", "AVX-512"};
    for (int32_t i = 0; i < 5; ++i)
      if (std::strcmp(set, names[i]) == 0) Run(i, names[i]);
  }
  std::printf("end\n");
  std::fflush(stdout);
  return 0;
}
