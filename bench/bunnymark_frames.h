#pragma once
// The timing both bunnymark pages share, in the browser and natively: a frame is timed in
// rounds of a few, whose mean is kept (the browser's clock ticks in tenths of a millisecond, too
// coarse for one short frame), and the fastest round counts. A result is one line of JSON.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "bench/bunnymark_flock.h"

namespace bench::bunny {

inline double FastestFrame(const std::function<void(int n)>& frame, int n) {
  using Clock = std::chrono::steady_clock;
  constexpr int kRound = 4;
  frame(n);
  double best = 1e30;
  const auto start = Clock::now();
  for (int rounds = 1;; ++rounds) {
    const auto before = Clock::now();
    for (int i = 0; i < kRound; ++i) frame(n);
    const auto after = Clock::now();
    best = std::min(best, std::chrono::duration<double>(after - before).count() / kRound);
    const double spent = std::chrono::duration<double>(after - start).count();
    if ((rounds >= 10 && spent > 0.3) || rounds >= 100 || (rounds >= 3 && spent > 2)) break;
  }
  return best;
}

// Frames of a thousand sprites for a second before measuring: the browser starts a module on
// quickly compiled code and swaps in optimised code as it runs.
inline void WarmUp(const std::function<void(int n)>& frame) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::seconds(1)) frame(1000);
}

// {"contender": ..., "sprites": ..., ...} on standard output, which the page prints to its
// console.
inline void PrintFit(const char* contender, const char* detail, const FrameFit& fit) {
  std::printf(
      "{\"contender\": \"%s\", \"sprites\": %.0f, \"ns_a_sprite\": %.1f, \"fixed_ms\": %.3f, "
      "\"check_ms\": %.2f, \"detail\": \"%s\"}\n",
      contender, fit.sprites, fit.slope * 1e9, fit.fixed * 1e3, fit.check * 1e3, detail);
  std::fflush(stdout);
}

}  // namespace bench::bunny
