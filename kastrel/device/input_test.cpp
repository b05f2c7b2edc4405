#include "kastrel/device/input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kastrel/device/display.h"
#include "kastrel/device/testing/fake_driver.h"

namespace {

using fake_driver::record;

VOX::EVENT make_event(int32_t type, int32_t a, int32_t b = 0) {
  VOX::EVENT e{};
  e.TYPE = type;
  e.X = a;
  e.Y = b;
  e.DX = a + 1;
  e.DY = b - 1;
  return e;
}

TEST(EventQueue, KeepsTheNewest127AndPeeks) {
  VOX::EVENT e = make_event(0, 0);
  const VOX::EVENT posted = make_event(VOX::KEYPRESSED, 1);
  vox_hPostEvent(&posted);  // no screen: dropped
  EXPECT_EQ(vox_GfxEvent(&e), 0);
  EXPECT_EQ(vox_GfxEvent(nullptr), 0);

  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  for (int32_t i = 1; i <= 200; ++i) {
    const VOX::EVENT event = make_event(VOX::MOUSEMOVED, i, -i);
    vox_hPostEvent(&event);
  }
  for (int32_t i = 74; i <= 200; ++i) {
    ASSERT_EQ(vox_GfxEvent(&e), -1) << i;
    const VOX::EVENT expected = make_event(VOX::MOUSEMOVED, i, -i);
    ASSERT_EQ(std::memcmp(&e, &expected, sizeof e), 0) << i;
  }
  EXPECT_EQ(vox_GfxEvent(&e), 0);

  // A null record only peeks; an empty queue leaves the record alone.
  const VOX::EVENT one = make_event(VOX::WHEELMOVED, 3);
  vox_hPostEvent(&one);
  EXPECT_EQ(vox_GfxEvent(nullptr), -1);
  EXPECT_EQ(vox_GfxEvent(nullptr), -1);
  e = make_event(0, 0);
  EXPECT_EQ(vox_GfxEvent(&e), -1);
  EXPECT_EQ(e.TYPE, VOX::WHEELMOVED);
  EXPECT_EQ(e.Z, 3);
  const VOX::EVENT kept = e;
  EXPECT_EQ(vox_GfxEvent(&e), 0);
  EXPECT_EQ(std::memcmp(&e, &kept, sizeof e), 0);

  // Every mode set starts with an empty queue.
  vox_hPostEvent(&one);
  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GfxEvent(nullptr), 0);
}

TEST(EventQueue, PostingThreadAndPollingThread) {
  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  constexpr int32_t kCount = 20000;
  std::thread poster([] {
    for (int32_t i = 1; i <= kCount; ++i) {
      const VOX::EVENT e = make_event(VOX::KEYPRESSED, i);
      vox_hPostEvent(&e);
    }
  });
  // Events may be dropped when the queue overflows, but never reordered or torn.
  int32_t last = 0;
  VOX::EVENT e{};
  while (last != kCount) {
    if (vox_GfxEvent(&e)) {
      ASSERT_GT(e.SCANCODE, last);
      ASSERT_EQ(e.DX, e.SCANCODE + 1);
      last = e.SCANCODE;
    } else {
      std::this_thread::yield();
    }
  }
  poster.join();
  EXPECT_EQ(vox_GfxEvent(&e), 0);
}

TEST(TypedKeys, FullBufferDropsTheOldest) {
  EXPECT_EQ(vox_GetKey(), 0);
  for (int32_t k = 1; k <= 20; ++k) vox_hTypedKeyAdd(k == 20 ? 0x6BFF : k);
  for (int32_t k = 5; k <= 19; ++k) EXPECT_EQ(vox_GetKey(), k);
  EXPECT_EQ(vox_GetKey(), 0x6BFF);
  EXPECT_EQ(vox_GetKey(), 0);
  vox_hTypedKeyAdd(27);
  EXPECT_EQ(vox_GetKey(), 27);
}

TEST(SleepEx, KindsAndKeyInterruptedPauses) {
  vox_SleepEx(1, 2);
  EXPECT_EQ(vox_GetError(), 1);
  vox_SleepEx(1, 1);
  EXPECT_EQ(vox_GetError(), 0);
  vox_SleepEx(-1, 0);  // without a screen no key can come: no wait
  EXPECT_EQ(vox_GetError(), 0);

  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  // A typist keeps typing until the pauses are over; each pause must end because of a key
  // (an hour-long pause returning proves it was cut short).
  std::atomic<bool> done{false};
  std::thread typist([&done] {
    while (!done.load()) {
      vox_hTypedKeyAdd('a');
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  vox_SleepEx(-1, 0);
  EXPECT_EQ(vox_GetError(), 0);
  vox_SleepEx(3600 * 1000, 0);
  EXPECT_EQ(vox_GetError(), 0);
  done.store(true);
  typist.join();
  EXPECT_EQ(vox_GetKey(), 'a');
}

TEST(Mouse, RoutedToTheDriverUnderTheLockRule) {
  int32_t out[5] = {1, 2, 3, 4, 5};
  auto expect_all = [&out](int32_t v) {
    for (int32_t o : out) EXPECT_EQ(o, v);
  };
  vox_GetMouse(&out[0], &out[1], &out[2], &out[3], &out[4]);  // no screen
  expect_all(-1);
  EXPECT_EQ(vox_GetError(), 1);
  vox_SetMouse(1, 1, 1, 1);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxMultikey(1), 0);

  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);  // the null driver reads no mouse
  vox_GetMouse(&out[0], &out[1], nullptr, nullptr, nullptr);
  EXPECT_EQ(out[0], -1);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxSetMouse(0, 0, 1, -1), 1);

  fake_driver::install();
  vox_GfxScreenRes(16, 16, 32, 1, 0, 0);
  const int32_t mouse[5] = {10, 11, 3, 5, 1};
  std::memcpy(record().mouse, mouse, sizeof mouse);
  vox_GetMouse(&out[0], &out[1], &out[2], &out[3], &out[4]);
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_EQ(std::vector<int32_t>(out, out + 5), (std::vector<int32_t>{10, 11, 3, 5, 1}));
  // The call took the lock for itself and gave it back.
  EXPECT_TRUE(record().locked_in_mouse);
  EXPECT_EQ(record().locks, 1);
  EXPECT_EQ(record().unlocks, 1);
  EXPECT_EQ(__vox_gfx->flags, 0u);
  vox_GetMouse(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(vox_GetError(), 0);

  // Inside the program's lock nothing is taken or released.
  vox_GfxLock();
  vox_SetMouse(5000, -3, 1, -1);
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_EQ(record().set_mouse, (std::vector<int32_t>{5000, -3, 1, -1}));
  __vox_gfx->key_state[1] = 1;
  EXPECT_EQ(vox_GfxMultikey(1), -1);
  EXPECT_EQ(vox_GfxMultikey(2), 0);
  EXPECT_EQ(vox_GfxMultikey(128), 0);
  EXPECT_EQ(vox_GfxMultikey(-1), 0);
  EXPECT_EQ(record().locks, 3);  // two by the calls above and one by vox_GfxLock
  EXPECT_EQ(__vox_gfx->flags, SCREEN_LOCKED);
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ(record().locks, record().unlocks);

  // No position available: every output -1.
  record().mouse_result = -1;
  out[2] = 9;
  vox_GetMouse(&out[0], &out[1], &out[2], &out[3], &out[4]);
  expect_all(-1);
  EXPECT_EQ(vox_GetError(), 1);
}

}  // namespace
