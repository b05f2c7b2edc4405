#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kastrel/graphics/detail/rows.h"

namespace {

// Every loop set against the least and greatest worked out here, over lengths that leave every
// tail, with the extremes anywhere (the last lane of a register included).
TEST(IdRange, EveryLoopSetMatchesAPlainScan) {
  const int32_t before = vox_hRowPath();
  std::mt19937 rng(5);
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest() && !HasFailure(); ++set) {
    vox_hRowPathForce(set);
    for (int round = 0; round < 2000 && !HasFailure(); ++round) {
      std::vector<uint32_t> values(rng() % 70);
      const uint32_t mask = round % 2 ? 0x0FFFFFFFu : 0xFFFFFFFFu;
      for (uint32_t& v : values) v = rng() % 4 == 0 ? 0 : rng() >> (rng() % 32);
      if (!values.empty() && round % 3 == 0) values[rng() % values.size()] = 0xFFFFFFFFu;
      uint32_t below = UINT32_MAX, most = 0;
      for (const uint32_t v : values) {
        if ((v & mask) != 0) below = std::min(below, (v & mask) - 1);
        most = std::max(most, v & mask);
      }
      uint32_t got_below = 1, got_most = 1;
      vox_gfxIdRange(values.data(), values.size(), mask, &got_below, &got_most);
      ASSERT_EQ(got_below, below) << "set " << set << " round " << round;
      ASSERT_EQ(got_most, most) << "set " << set << " round " << round;
    }
  }
  vox_hRowPathForce(before);
}

// The fused loops keep samples' positions as whole parts and 32-bit low words, carrying where a
// low word passes 2^32: every set against sampling by whole positions and the plain ALPHA loop,
// with some lane's low word landing on 2^32 - 1 (no carry) or on 2^32 exactly (a carry).
TEST(NearestAlpha, CarriesWhereTheLowWordsWrap) {
  const int32_t before = vox_hRowPath();
  constexpr int32_t kSide = 64, kPitch = kSide * 4;
  std::mt19937 rng(7);
  std::vector<uint32_t> region(kSide * kSide);
  for (uint32_t& p : region) p = rng();
  const auto* pixels = reinterpret_cast<const uint8_t*>(region.data());
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest() && !HasFailure(); ++set) {
    vox_hRowPathForce(set);
    const VOX_FUSED_ROUTINE fused = vox_hSampleLoops().nearest_alpha;
    if (!fused) continue;
    for (int round = 0; round < 4000 && !HasFailure(); ++round) {
      const int32_t n = 1 + int32_t(rng() % 40), lane = int32_t(rng() % uint32_t(n));
      // Steps below half a pixel either way keep n samples around the middle inside.
      const auto step = [&] { return int64_t(rng() % (1u << 31)) - (int64_t{1} << 30); };
      const int64_t du = step(), dv = step();
      const auto start = [&](int64_t d, bool wrap_here) {
        const int64_t whole = int64_t{kSide / 2} << 32;
        const int64_t at = wrap_here ? whole - (round % 2 ? 1 : 0) : whole + int64_t(rng());
        return at - lane * d;
      };
      const int64_t u = start(du, round % 4 < 2), v = start(dv, round % 4 >= 1);
      std::vector<uint32_t> got(static_cast<size_t>(n)), samples(static_cast<size_t>(n)), want;
      for (uint32_t& p : got) p = rng();
      want = got;
      for (int32_t k = 0; k < n; ++k)
        samples[size_t(k)] = region[size_t(((v + k * dv) >> 32) * kSide + ((u + k * du) >> 32))];
      vox_gfxRowsScalar[PUT_ALPHA][2](reinterpret_cast<const uint8_t*>(samples.data()),
                                      reinterpret_cast<uint8_t*>(want.data()), n, 1, 0, 0, -1,
                                      nullptr, nullptr);
      const VOX_SAMPLE_RUN run{reinterpret_cast<uint8_t*>(got.data()), u, v, n};
      fused(&run, 1, pixels, kPitch, du, dv, kSide);
      ASSERT_EQ(got, want) << "set " << set << " round " << round << " n " << n;
    }
  }
  vox_hRowPathForce(before);
}

// The box of pixels that are not clear, on every loop set, against a plain scan: a few
// scattered pixels that are not clear, so that each edge of the box rests on one pixel of one
// row (an odd row or the last included), in regions of every width the sets look through.
TEST(SeenBox, EveryLoopSetMatchesAPlainScan) {
  const int32_t before = vox_hRowPath();
  std::mt19937 rng(9);
  for (int32_t set = VOX_ROWS_PLAIN; set <= vox_hRowPathBest() && !HasFailure(); ++set) {
    vox_hRowPathForce(set);
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
      const int32_t w = 1 + int32_t(rng() % 70), h = 1 + int32_t(rng() % 40), pitch = w + 3;
      std::vector<uint32_t> pixels(size_t(pitch) * size_t(h), 0x00FFFFFFu);  // clear, coloured
      for (int k = int(rng() % 4); k > 0; --k)
        pixels[size_t(rng() % uint32_t(h)) * pitch + rng() % uint32_t(w)] |= (rng() % 255 + 1)
                                                                             << 24;
      int32_t want[4] = {w, h, -1, -1};
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          if (pixels[size_t(y) * pitch + x] >> 24)
            want[0] = std::min(want[0], x), want[1] = std::min(want[1], y),
            want[2] = std::max(want[2], x), want[3] = std::max(want[3], y);
      int32_t got[4];
      const bool any =
          vox_gfxSeenBox(reinterpret_cast<const uint8_t*>(pixels.data()), pitch * 4, w, h, got);
      if (!any) {
        ASSERT_EQ(want[2], -1) << "set " << set << " round " << round;
        continue;
      }
      // A set may keep the whole region (too narrow or too wide to look through), never less.
      ASSERT_TRUE(got[0] <= want[0] && got[1] <= want[1] && got[2] >= want[2] && got[3] >= want[3])
          << "set " << set << " round " << round;
      if (got[0] != 0 || got[1] != 0 || got[2] != w - 1 || got[3] != h - 1) {
        ASSERT_EQ(std::vector<int32_t>(got, got + 4), std::vector<int32_t>(want, want + 4))
            << "set " << set << " round " << round << " w " << w << " h " << h;
      }
    }
  }
  vox_hRowPathForce(before);
}

}  // namespace
