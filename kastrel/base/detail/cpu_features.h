#pragma once

// What this processor runs, asked once for the whole program. The raster loops, the PNG filters,
// the scaled presentation and the screen transitions each pick their vector loops from it (test
// hooks may then force a narrower set). The x86 members are false elsewhere; simd128 is
// WebAssembly's 128-bit SIMD, on which the SSE2 loops are built for the browser.
struct VOX_CPU_FEATURES {
  bool sse2, ssse3, sse41, avx, avx2, avx512f, avx512bw;
  bool simd128;
};
const VOX_CPU_FEATURES& vox_hCpuFeatures();
