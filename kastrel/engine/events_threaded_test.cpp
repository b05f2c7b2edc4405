#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kastrel/engine/events.h"

using namespace KASTREL;
using namespace KASTREL::ENGINE;

namespace {

std::atomic<int32_t> inside{0}, calls{0};
std::atomic<bool> overlapped{false};
void EXCLUSIVE(BOOLEAN& CANCEL) {
  if (inside.fetch_add(1) != 0) overlapped = true;
  calls.fetch_add(1);
  CANCEL = CANCEL == TRUE ? FALSE : TRUE;  // unsynchronised: raises must exclude each other
  std::this_thread::yield();
  inside.fetch_sub(1);
}

}  // namespace

TEST(HandlerListThreads, ConcurrentAttachesRaisesAndDetachesStayConsistent) {
  ONSHUTDOWNEVENT list;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) list += EXCLUSIVE;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(list.ICOUNT, 2000);
  EXPECT_EQ(list.ISIZE, 2000);

  for (int i = 0; i < 1992; ++i) list -= EXCLUSIVE;
  BOOLEAN cancel = FALSE;
  threads.clear();
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) list.RAISE(cancel);
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 1000; ++i) {
      list += EXCLUSIVE;
      list -= EXCLUSIVE;
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(list.ICOUNT, 8);
  // A raise calls 8 or 9 handlers; each flipped CANCEL once and none was lost.
  EXPECT_TRUE(calls >= 2 * 1000 * 8 && calls <= 2 * 1000 * 9) << calls;
  EXPECT_EQ(cancel, calls % 2 == 0 ? FALSE : TRUE);
}
