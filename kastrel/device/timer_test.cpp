#include "kastrel/device/timer.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Timer, IsMonotonicAndInSeconds) {
  const double start = vox_Timer();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double elapsed = vox_Timer() - start;
  EXPECT_TRUE(elapsed >= 0.019 && elapsed < 5.0) << elapsed;  // seconds, not milliseconds
  double previous = vox_Timer();
  for (int i = 0; i < 1000; ++i) {
    const double now = vox_Timer();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(Timer, ASourceReplacesTheClockUntilCleared) {
  KASTREL::SETTIMERSOURCE([] { return 42.5; });
  EXPECT_EQ(vox_Timer(), 42.5);
  KASTREL::SETTIMERSOURCE(nullptr);
  EXPECT_GT(vox_Timer(), 0.0);
  EXPECT_NE(vox_Timer(), 42.5);
}
