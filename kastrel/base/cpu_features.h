#pragma once

// What this processor runs, asked once for the whole program. The raster loops, the PNG filters,
// the scaled presentation and the screen transitions each pick their vector loops from it (test
// hooks may then force a narrower set). Every member is false off x86.
struct VOX_CPU_FEATURES {
  bool sse2, ssse3, sse41, avx, avx2, avx512f, avx512bw;
};
const VOX_CPU_FEATURES& vox_hCpuFeatures();
