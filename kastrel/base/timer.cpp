#include "kastrel/base/timer.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<KASTREL::TIMERSOURCE> timer_source{nullptr};
}  // namespace

double vox_Timer() {
  if (const KASTREL::TIMERSOURCE source = timer_source.load(std::memory_order_acquire)) {
    return source();
  }
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

namespace KASTREL {
void SETTIMERSOURCE(TIMERSOURCE SOURCE) { timer_source.store(SOURCE, std::memory_order_release); }
}  // namespace KASTREL
