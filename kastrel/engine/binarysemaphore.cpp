#include "kastrel/engine/binarysemaphore.h"

#include "kastrel/base/detail/platform.h"

namespace KASTREL::ENGINE {

namespace {

// Its address tells the threads apart.
thread_local const char thread_token = 0;

}  // namespace

void BINARYSEMAPHORE::ACQUIRE() noexcept {
  for (;;) {
    int32_t expected = 1;
    if (ICOUNT.compare_exchange_weak(expected, 0, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      break;
    }
    if (expected == 0) PLATFORM::WAITWHILE(ICOUNT, 0);
  }
  IOWNER.store(&thread_token, std::memory_order_relaxed);
}

bool BINARYSEMAPHORE::TRYACQUIRE() noexcept {
  int32_t expected = 1;
  if (!ICOUNT.compare_exchange_strong(expected, 0, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return false;
  }
  IOWNER.store(&thread_token, std::memory_order_relaxed);
  return true;
}

void BINARYSEMAPHORE::RELEASE() noexcept {
  IOWNER.store(nullptr, std::memory_order_relaxed);
  ICOUNT.store(1, std::memory_order_release);
  PLATFORM::WAKEONE(ICOUNT);
}

bool BINARYSEMAPHORE::HELDBYCALLER() const noexcept {
  return IOWNER.load(std::memory_order_relaxed) == &thread_token;
}

}  // namespace KASTREL::ENGINE
