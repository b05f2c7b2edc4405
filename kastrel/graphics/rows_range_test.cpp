#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kastrel/graphics/rows.h"

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

}  // namespace
