#pragma once
#include <atomic>
#include <cstdint>

// The pointer as the presentation thread last left it, for readers on any thread. The frame
// loop holds the screen lock for a whole pass, so a reader that waited for that lock (a thread
// the frame handler joins) could wait for ever; this copy takes no lock. One writer, the
// presentation thread, publishes it at the end of every pass and of every request it carries
// out, which is when the program thread could read the pointer before.
struct VOX_MOUSE_SNAPSHOT {
  enum { OK, X, Y, WHEEL, BUTTONS, CLIP, COUNT };

  // A reader that sees any value of a publish sees its odd count too (the values are stored
  // with release, after it, and loaded with acquire, before the count is read again).
  void publish(const int32_t (&values)[COUNT]) {
    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);  // odd: being written
    for (int i = 0; i < COUNT; ++i) values_[i].store(values[i], std::memory_order_release);
    seq_.store(s + 2, std::memory_order_release);
  }

  void read(int32_t (&out)[COUNT]) const {
    for (;;) {
      const uint32_t before = seq_.load(std::memory_order_acquire);
      for (int i = 0; i < COUNT; ++i) out[i] = values_[i].load(std::memory_order_acquire);
      if ((before & 1) == 0 && seq_.load(std::memory_order_relaxed) == before) return;
    }
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<int32_t> values_[COUNT]{};
};
