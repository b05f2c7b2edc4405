#include "kastrel/base/detail/copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Every length up to a few blocks and a long row, at every placement of the target a little
// ahead of, level with, or behind its source modulo 4 KiB: the bytes copied and nothing else.
TEST(CopyBytes, CopiesExactlyTheBytesAtEveryPlacement) {
  std::vector<uint8_t> source(4096 + 3000), target(3 * 4096 + 3000);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 131 + 7);
  const auto base = reinterpret_cast<uintptr_t>(source.data());
  for (int ahead : {0, 1, 8, 16, 31, 48, 63, 64, 200, 4080}) {
    for (size_t length : {size_t(0), size_t(1), size_t(63), size_t(127), size_t(128), size_t(129),
                          size_t(191), size_t(256), size_t(300), size_t(2560)}) {
      SCOPED_TRACE(testing::Message() << "ahead " << ahead << ", " << length << " bytes");
      std::fill(target.begin(), target.end(), uint8_t(0xEE));
      // The target's place: `ahead` bytes past the source modulo 4 KiB, past a guard byte.
      const uintptr_t first = reinterpret_cast<uintptr_t>(target.data()) + 1;
      const size_t at = size_t((base + uintptr_t(ahead) - first) & 4095) + 1;
      const uint8_t* from = source.data() + 5;
      vox_hCopyBytes(target.data() + at + 5, from, length);
      for (size_t i = 0; i < target.size(); ++i) {
        const bool inside = i >= at + 5 && i < at + 5 + length;
        ASSERT_EQ(target[i], inside ? from[i - at - 5] : uint8_t(0xEE)) << "at byte " << i;
      }
    }
  }
}

}  // namespace
