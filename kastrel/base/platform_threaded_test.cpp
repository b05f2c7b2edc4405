#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "kastrel/base/detail/platform.h"

using namespace KASTREL;
namespace fs = std::filesystem;

namespace {

// Threads replacing one file at once (as processes do) each answer TRUE, and a reader finds one
// of their texts whole every time. The reader lets go of the file between reads, as a game
// does: Windows refuses to replace a file while it is open, and a reader that never let go
// would hold every replacement off until its deadline.
TEST(Platform, ReplacementsAtOnceEachLandWhole) {
  const fs::path dir =
      fs::temp_directory_path() / ("kastrel-replace-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string file = (dir / "f.txt").generic_string();
  std::atomic<int> failed{0}, running{4};
  std::string reasons[4];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const std::string text(1000 + t, char('a' + t));
      for (int i = 0; i < 300; ++i)
        failed += !PLATFORM::REPLACEFILE(file, file + ".part", text.data(), text.size(), false,
                                         false, &reasons[t]);
      --running;
    });
  int reads = 0, whole = 0;
  for (std::vector<uint8_t> bytes; running > 0; ++reads) {
    std::string reason;
    bool missing = false;
    const bool read = PLATFORM::READWHOLEFILE(file, 0, &bytes, &reason, &missing);
    const size_t t = bytes.empty() ? 0 : size_t(bytes[0] - 'a');
    whole += (!read && missing) ||
             (read && t < 4 && bytes.size() == 1000 + t &&
              std::count(bytes.begin(), bytes.end(), bytes[0]) == std::ptrdiff_t(bytes.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failed, 0) << reasons[0] << reasons[1] << reasons[2] << reasons[3];
  EXPECT_EQ(whole, reads);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
      << "a temporary file was left behind";
  std::error_code error;
  fs::remove_all(dir, error);
}

}  // namespace
