#pragma once
#include <atomic>
#include <cstdint>

namespace KASTREL::ENGINE {

// A semaphore with count 0 or 1, starting at 1. Taking it waits without time
// limit; it is not re-entrant, so a thread that holds it and takes it again
// blocks. Built on an atomic word so that it needs no dynamic construction
// and globals holding one are constant-initialised.
class BINARYSEMAPHORE {
 public:
  constexpr BINARYSEMAPHORE() noexcept = default;
  BINARYSEMAPHORE(const BINARYSEMAPHORE&) = delete;
  BINARYSEMAPHORE& operator=(const BINARYSEMAPHORE&) = delete;

  // Takes it, waiting as long as another thread holds it; RELEASE gives it back.
  void ACQUIRE() noexcept;
  // Takes it only when that needs no wait.
  bool TRYACQUIRE() noexcept;
  // Gives it back, waking one thread that waits for it.
  void RELEASE() noexcept;
  // The calling thread took it and has not released it yet.
  bool HELDBYCALLER() const noexcept;

 private:
  std::atomic<int32_t> ICOUNT{1};
  std::atomic<const void*> IOWNER{nullptr};  // identifies the taking thread
};

}  // namespace KASTREL::ENGINE
