#pragma once
#include <cstdint>

// A byte in plain memory that one thread writes and others read without a lock (the key state):
// relaxed atomic loads and stores through the compiler's builtins, which every compiler the engine
// builds with has, where std::atomic_ref is not in every standard library.
inline uint8_t vox_relaxed_load(const uint8_t* byte) { return __atomic_load_n(byte, __ATOMIC_RELAXED); }
inline void vox_relaxed_store(uint8_t* byte, uint8_t value) {
  __atomic_store_n(byte, value, __ATOMIC_RELAXED);
}
