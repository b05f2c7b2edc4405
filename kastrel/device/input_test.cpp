#include "kastrel/device/input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/testing/fake_driver.h"

namespace {

using fake_driver::record;

VOX::EVENT make_event(int32_t type, int32_t a, int32_t b = 0) {
  return {type, {a}, {b}, a + 1, b - 1};
}

TEST(EventQueue, KeepsTheNewest127AndPeeks) {
  VOX::EVENT e = make_event(VOX::KEYPRESSED, 1);
  vox_hPostEvent(&e);  // no screen: dropped
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
  // An empty queue leaves the record alone; a null record only peeks.
  const VOX::EVENT kept = e, one = make_event(VOX::WHEELMOVED, 3);
  EXPECT_EQ(vox_GfxEvent(&e), 0);
  EXPECT_EQ(std::memcmp(&e, &kept, sizeof e), 0);
  vox_hPostEvent(&one);
  EXPECT_EQ(vox_GfxEvent(nullptr), -1);
  EXPECT_EQ(vox_GfxEvent(nullptr), -1);
  EXPECT_EQ(vox_GfxEvent(&e), -1);
  EXPECT_EQ(e.Z, 3);
  EXPECT_EQ(vox_GfxEvent(nullptr), 0);

  // Key polls follow the key events taken: a tap reads held while its press is the last one
  // taken; a press a full queue drops counts as taken.
  const VOX::EVENT press = make_event(VOX::KEYPRESSED, 57), release = make_event(VOX::KEYRELEASED, 57);
  std::vector<int32_t> polls;
  const VOX::EVENT* posts[] = {&press, &release, nullptr, nullptr, &press, &one, &release, nullptr};
  for (const VOX::EVENT* post : posts) {
    for (int i = 0; i < (post == &one ? 127 : 1); ++i) post ? vox_hPostEvent(post) : void(vox_GfxEvent(&e));
    polls.push_back(vox_GfxMultikey(57));
  }
  while (vox_GfxEvent(&e)) polls.back() = vox_GfxMultikey(57);
  EXPECT_EQ(polls, (std::vector<int32_t>{0, 0, -1, 0, 0, -1, -1, 0}));

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
  vox_SleepEx(3600 * 1000, 0);
  EXPECT_EQ(vox_GetError(), 0);
  done.store(true);
  typist.join();
  EXPECT_EQ(vox_GetKey(), 'a');
}

TEST(Mouse, RoutedToTheDriverUnderTheLockRule) {
  using Outs = std::vector<int32_t>;
  auto get_mouse = [] {
    Outs out(5, 7);
    vox_GetMouse(&out[0], &out[1], &out[2], &out[3], &out[4]);
    return out;
  };
  // No screen, the null driver that reads no mouse, or a driver without a
  // position: every output -1, error 1.
  EXPECT_EQ(get_mouse(), Outs(5, -1));
  EXPECT_EQ(vox_GetError(), 1);
  vox_SetMouse(1, 1, 1, 1);
  EXPECT_EQ(vox_GetError(), 1);
  EXPECT_EQ(vox_GfxMultikey(1), 0);
  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(get_mouse(), Outs(5, -1));
  EXPECT_EQ(vox_GfxSetMouse(0, 0, 1, -1), 1);
  fake_driver::install();
  vox_GfxScreenRes(16, 16, 32, 1, 0, 0);
  const int32_t mouse[5] = {10, 11, 3, 5, 1};
  std::memcpy(record().mouse, mouse, sizeof mouse);
  record().mouse_result = -1;
  EXPECT_EQ(get_mouse(), Outs(5, -1));
  EXPECT_EQ(vox_GetError(), 1);

  // A driver call takes the lock for itself and gives it back.
  record().mouse_result = 0;
  EXPECT_EQ(get_mouse(), (Outs{10, 11, 3, 5, 1}));
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_TRUE(record().locked_in_mouse);
  EXPECT_EQ(std::make_pair(record().locks, record().unlocks), std::make_pair(2, 2));
  EXPECT_EQ(__vox_gfx->flags, 0u);

  // Inside the program's lock nothing is taken or released.
  vox_GfxLock();
  vox_SetMouse(5000, -3, 1, -1);
  EXPECT_EQ(vox_GetError(), 0);
  EXPECT_EQ(record().set_mouse, (Outs{5000, -3, 1, -1}));
  __vox_gfx->key_state[1] = 1;
  EXPECT_EQ(
      (Outs{vox_GfxMultikey(1), vox_GfxMultikey(2), vox_GfxMultikey(128), vox_GfxMultikey(-1)}),
      (Outs{-1, 0, 0, 0}));
  EXPECT_EQ(record().locks, 3);  // vox_GfxLock's only
  EXPECT_EQ(__vox_gfx->flags, SCREEN_LOCKED);
  vox_GfxUnlock(-1, -1);
  EXPECT_EQ(record().locks, record().unlocks);
}

TEST(Pads, NoneWithoutTheWindowDriverAndACheckedDeadZone) {
  vox_GfxScreenRes(16, 16, 32, 1, MODE_NULL, 0);
  EXPECT_EQ(vox_GfxPadCount() | vox_GfxPadConnected(0) | vox_GfxPadButton(0, 0), 0);
  KASTREL::CLEARLASTERROR();
  EXPECT_EQ(vox_GfxPadDeadZone(32768) + vox_GetError(), -1 + 1);
  EXPECT_STRNE(KASTREL::LASTERROR(), "");
  EXPECT_EQ(vox_GfxPadDeadZone(100) + vox_GfxPadDeadZone(-1) + vox_GetError(), 8000 + 100);
  EXPECT_EQ(vox_GfxPadAxisStep(-2) + vox_GfxPadAxisStep(7) + vox_GfxPadAxisStep(-1), -1 + 1024 + 7);
}

}  // namespace
