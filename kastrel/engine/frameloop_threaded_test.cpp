// Device events posted from another thread while the frame loop runs, as the presentation
// thread posts them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kastrel/graphics/rasterop.h"

#include "kastrel/engine/testing/game.h"

using namespace test_game;

TEST(FrameLoopThreads, EventsFromAnotherThreadArriveInOrderAndACloseRequestEndsTheLoop) {
  static std::thread feeder;
  static std::atomic<bool> started{false};
  on_show = [] {
    feeder = std::thread([] {
      started = true;
      for (int32_t i = 0; i < 100; ++i) post(VOX::MOUSEMOVED, i);
      post(VOX::CLOSEREQUESTED);
    });
    while (!started) std::this_thread::yield();  // a slow thread start must not outlast the loop
  };
  run();
  feeder.join();
  std::vector<int32_t> moves;
  for (const Frame& f : frames)
    if (f.input == INPUTEVENT::MOUSEMOVE) moves.push_back(f.event.X);
  ASSERT_EQ(moves.size(), 100u);  // one per pass: none skipped
  for (int32_t i = 0; i < 100; ++i) EXPECT_EQ(moves[i], i);
  EXPECT_EQ(frames.back().event.TYPE, VOX::CLOSEREQUESTED);  // its pass ran to the end
}

// A second thread draws into bitmaps of its own, and is refused the screen, while the frame loop
// locks and unlocks it every pass: neither reads the other's lock state.
TEST(FrameLoopThreads, ASecondThreadDrawsItsOwnBitmapsBesideTheFrameLoop) {
  static std::thread drawer;
  static std::atomic<int32_t> draws{0}, refused{0};
  static std::atomic<bool> stop{false};
  on_show = [] {
    drawer = std::thread([] {
      GRAPHICS::BITMAP from(8, 8, 0xFF00FF00u, 32), onto(16, 16, 0, 32);
      for (int32_t i = 0; !stop; ++i, ++draws) {
        from.DRAWTO(onto, i % 8, 3, 0, 0, 0, 0, GRAPHICS::VOXPSET);
        refused += vox_GfxPut(nullptr, 0, 0, from.HANDLE(), PUT_WHOLE_SOURCE, 0, 0, 0, 0,
                              PUT_PSET, vox_hPutPSet, -1, nullptr, nullptr);
      }
    });
    while (draws == 0) std::this_thread::yield();  // a slow thread start must not outlast the loop
  };
  on_frame = [](const Frame& f) {
    if (f.pass >= 100) SHUTDOWN(TRUE);
  };
  run();
  stop = true;
  drawer.join();
  EXPECT_EQ(refused, draws);
}
