#include "kastrel/base/detail/copy.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

namespace {

inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// 64 bytes at a time; each block's stores come after the next block's loads.
void copy_staggered(uint8_t* to, const uint8_t* from, size_t bytes) {
  __m128i a = load(from), b = load(from + 16), c = load(from + 32), d = load(from + 48);
  size_t i = 64;
  for (; i + 64 <= bytes; i += 64) {
    const __m128i e = load(from + i), f = load(from + i + 16);
    const __m128i g = load(from + i + 32), h = load(from + i + 48);
    store(to + i - 64, a), store(to + i - 48, b), store(to + i - 32, c), store(to + i - 16, d);
    a = e, b = f, c = g, d = h;
  }
  // The last 64 bytes, overlapping what is already copied where bytes is no multiple of 64.
  const __m128i e = load(from + bytes - 64), f = load(from + bytes - 48);
  const __m128i g = load(from + bytes - 32), h = load(from + bytes - 16);
  store(to + i - 64, a), store(to + i - 48, b), store(to + i - 32, c), store(to + i - 16, d);
  store(to + bytes - 64, e), store(to + bytes - 48, f), store(to + bytes - 32, g);
  store(to + bytes - 16, h);
}

}  // namespace

void vox_hCopyBytes(void* target, const void* source, size_t bytes) {
  auto* to = static_cast<uint8_t*>(target);
  const auto* from = static_cast<const uint8_t*>(source);
  const uintptr_t ahead =
      (reinterpret_cast<uintptr_t>(to) - reinterpret_cast<uintptr_t>(from)) & 4095;
  if (ahead == 0 || ahead >= 64 || bytes < 128) {
    std::memcpy(to, from, bytes);
    return;
  }
  copy_staggered(to, from, bytes);
}

#else

void vox_hCopyBytes(void* target, const void* source, size_t bytes) {
  std::memcpy(target, source, bytes);
}

#endif
