#include "kastrel/base/detail/cpu_features.h"

namespace {

VOX_CPU_FEATURES ask() {
  VOX_CPU_FEATURES f{};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.sse2 = __builtin_cpu_supports("sse2");
  f.ssse3 = __builtin_cpu_supports("ssse3");
  f.sse41 = __builtin_cpu_supports("sse4.1");
  f.avx = __builtin_cpu_supports("avx");
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
#elif defined(__wasm_simd128__)
  f.simd128 = true;  // a module built with it does not load where it is missing
#endif
  return f;
}

}  // namespace

const VOX_CPU_FEATURES& vox_hCpuFeatures() {
  static const VOX_CPU_FEATURES features = ask();
  return features;
}
