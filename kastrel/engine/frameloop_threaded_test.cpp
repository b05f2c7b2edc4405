// Device events posted from another thread while the frame loop runs, as the presentation
// thread posts them.
#include <gtest/gtest.h>

#include <thread>

#include "kastrel/engine/testing/game.h"

using namespace test_game;

TEST(FrameLoopThreads, EventsFromAnotherThreadArriveInOrderAndACloseRequestEndsTheLoop) {
  static std::thread feeder;
  on_show = [] {
    feeder = std::thread([] {
      for (int32_t i = 0; i < 100; ++i) post(VOX::MOUSEMOVED, i);
      post(VOX::CLOSEREQUESTED);
    });
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
