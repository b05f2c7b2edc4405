// What the desktop systems (Linux and Windows) share: a thread that may sleep, serving the
// driver's pass on the way when the game's thread runs it. The browser's sleep gives the page
// its turns instead (platform_web.cpp).
#include <chrono>
#include <thread>

#include "kastrel/base/detail/platform.h"

namespace KASTREL::PLATFORM {

namespace {
thread_local IDLEPASS t_idle_pass = nullptr;
}  // namespace

void SETIDLEPASS(IDLEPASS PASS) { t_idle_pass = PASS; }

void SLEEPUNTIL(std::chrono::steady_clock::time_point DEADLINE) {
  // The pass again whenever it falls due before the deadline.
  for (IDLEPASS pass = t_idle_pass; pass != nullptr;) {
    const auto next = pass();
    if (next >= DEADLINE) break;
    std::this_thread::sleep_until(next);
  }
  std::this_thread::sleep_until(DEADLINE);
}

}  // namespace KASTREL::PLATFORM
