#include "kastrel/base/fatal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace KASTREL {

namespace {

// Successful resizes left before the injected failure; -1 for none pending.
std::atomic<int32_t> resizes_before_failure{-1};

const char* error_text(int32_t errnum) {
  switch (errnum) {
    case ERRILLEGALFUNCTIONCALL:
      return "illegal function call";
    case ERROUTOFMEMORY:
      return "out of memory";
    default:
      return "unknown error";
  }
}

}  // namespace

void FATALERROR(int32_t ERRNUM, int32_t LINE, const char* MODULE) {
  // A second fatal error while exit-time cleanup of the first one runs must
  // not start the cleanup again.
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) std::_Exit(ERRNUM);
  std::fprintf(stderr, "Aborting due to runtime error %d (%s) at line %d of %s\n",
               static_cast<int>(ERRNUM), error_text(ERRNUM), static_cast<int>(LINE),
               MODULE != nullptr ? MODULE : "?");
  std::fflush(stderr);
  std::exit(ERRNUM);
}

void* RESIZEBLOCK(void* BLOCK, size_t COUNT, size_t ELEMENTSIZE) {
  int32_t left = resizes_before_failure.load(std::memory_order_relaxed);
  while (left >= 0 &&
         !resizes_before_failure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  if (left == 0) return nullptr;
  if (ELEMENTSIZE != 0 && COUNT > SIZE_MAX / ELEMENTSIZE) return nullptr;
  const size_t bytes = COUNT * ELEMENTSIZE;
  return std::realloc(BLOCK, bytes != 0 ? bytes : 1);
}

void FAILNEXTRESIZE(int32_t SKIP) {
  resizes_before_failure.store(SKIP < 0 ? -1 : SKIP, std::memory_order_relaxed);
}

}  // namespace KASTREL
