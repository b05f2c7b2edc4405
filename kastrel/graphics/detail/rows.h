#pragma once
#include <atomic>
#include <cstddef>

#include "kastrel/graphics/rasterop.h"

// The inner loops of the blit, one per mode and target depth: table[mode][i] for 1, 2 and 4
// bytes per pixel (i = 0, 1, 2). The clipping and locking stay in vox_GfxPut.
//
// vox_gfxRowsScalar holds the plain loops, the rules as written; vector loops (rows_simd.cpp)
// replace entries of it on processors that have the instructions, giving the same bits.
extern const VOX_PUT_ROUTINE vox_gfxRowsScalar[PUT_MODES][3];
extern const VOX_PUT_ROUTINE vox_gfxRowAlphaMask;

// The loop sets, from plain to widest.
enum : int32_t {
  VOX_ROWS_PLAIN = 0,
  VOX_ROWS_SSE2 = 1,
  VOX_ROWS_AVX = 2,  // SSE2 loops, with the 32-bit ALPHA (and SSE4.1), ADD and TRANS in AVX
  VOX_ROWS_AVX2 = 3,
  VOX_ROWS_AVX512 = 4,  // AVX2 loops, with the 32-bit ALPHA, ADD and TRANS on AVX-512
};

using VOX_ROW_TABLE = const VOX_PUT_ROUTINE (*)[3];

// The table of the loop set in use: the widest this processor runs, unless a test forced one.
// Read inline: every blit looks it up, and a small one is over in a few hundred instructions.
extern std::atomic<VOX_ROW_TABLE> vox_gfxRowTableInUse;  // null until the first choice
VOX_ROW_TABLE vox_hRowTableChoose();
[[gnu::always_inline]] inline VOX_ROW_TABLE vox_hRowTable() {
  const VOX_ROW_TABLE table = vox_gfxRowTableInUse.load(std::memory_order_relaxed);
  return table ? table : vox_hRowTableChoose();
}
// The widest set this processor runs.
int32_t vox_hRowPathBest();
// The set in use.
int32_t vox_hRowPath();
// Test hook: use the given set from now on (beyond the best: the best). Returns the set in use.
int32_t vox_hRowPathForce(int32_t path);

// Transformed drawing gathers the samples of each run of target pixels into a row, then runs the
// blit's row loop over it. A sample routine writes n pixels: sample i is region pixel
// ((u + i * du) >> 32, (v + i * dv) >> 32), every one inside the w x h region (32.32 fixed
// point). Bilinear samples 32-bit pixels by the rule in bitmap.h. tint multiplies each byte of n
// 32-bit pixels by its tint byte t as c * (t + 1) >> 8.
using VOX_SAMPLE_ROUTINE = void (*)(uint8_t* out, const uint8_t* region, int32_t pitch, int64_t u,
                                    int64_t v, int64_t du, int64_t dv, int32_t n, int32_t w,
                                    int32_t h);
//
// nearest_alpha samples nearest 32-bit pixels as nearest[2] does and blends them by ALPHA
// straight onto the target, in one pass, with the bits of sampling into a row and running the
// ALPHA row loop over it (null on the plain set, which does just that). It takes a sprite's runs
// at once, all with the same steps, so that what a run needs to start is worked out once. No
// target run may share memory with the region.
struct VOX_SAMPLE_RUN {
  uint8_t* target;  // the run's first pixel
  int64_t u, v;     // its sample's position
  int32_t n;
};
using VOX_FUSED_ROUTINE = void (*)(const VOX_SAMPLE_RUN* runs, int32_t count, const uint8_t* region,
                                   int32_t pitch, int64_t du, int64_t dv, int32_t h);
//
// pick serves tile layers, a view row's tiles at once: for each run, out[i] = 32-bit pixel
// index[i] of its row of w pixels, for i < n (every index below w). Rows at most 16 wide are
// picked by permutes on the wider sets.
struct VOX_PICK_RUN {
  uint8_t* out;
  const uint8_t* row;
  const uint8_t* index;
  int32_t n;
};
using VOX_PICK_ROUTINE = void (*)(const VOX_PICK_RUN* runs, int32_t count, int32_t w);
//
// turned_alpha does nearest_alpha's work for a turned map's rows, finding each row's run itself:
// the columns k (counted from the map's anchor) within first..last where both coordinates fall
// inside the region. An edge is one coordinate as the transform keeps it: with
// q * a - r = ceil(-base / a) (0 <= r < a) the columns where 0 <= base + k * step < limit run
// from q to ceil((limit - base) / a) - 1 for a step above zero (up), and from
// 1 - ceil((limit - base) / a) to -q below, with limit = qL * a + rL and each row moving -base
// by qd * a + rd (0 <= rL, rd < a). Every value the rows reach, and eight rows past them, fits
// 62 bits, and last - first is below 2^31 (the box lies within the target). It sets top and bottom
// to the first and last rows with a run (counted from the first row), or -1; false when it cannot
// take the region, having drawn nothing. Null where nearest_alpha over runs found row by row is as
// fast.
struct VOX_EDGE {
  int64_t a, qd, rd, qL, rL;
  int64_t q, r;
  bool up;
};
struct VOX_TURNED_ROWS {
  VOX_EDGE u, v;        // at the first row
  int64_t first, last;  // the columns looked at
  int64_t rows;
  uint8_t* row;         // the first row's target pixel at column 0
  int64_t pitch;        // the target's
  int64_t u0, v0;       // the first row's sample position at column 0
  int64_t A, B, C, D;   // u and v steps per column (A, C) and per row (B, D)
  int64_t top, bottom;  // set by the call
};
using VOX_TURNED_ROUTINE = bool (*)(VOX_TURNED_ROWS* rows, const uint8_t* region, int32_t pitch,
                                    int32_t h);
struct VOX_SAMPLE_LOOPS {
  VOX_SAMPLE_ROUTINE nearest[3];  // by bytes per pixel, as the row tables
  VOX_SAMPLE_ROUTINE bilinear;
  void (*tint)(uint8_t* row, int32_t n, uint32_t tint);
  VOX_FUSED_ROUTINE nearest_alpha;
  VOX_PICK_ROUTINE pick;
  VOX_TURNED_ROUTINE turned_alpha;
};
// The smallest box {left, top, right, bottom} of a w x h region of 32-bit pixels holding every
// pixel whose alpha byte is not 0, looked for on the vector loop sets where the rows are a few
// vectors wide; otherwise the whole region. False when every pixel looked at is clear.
bool vox_gfxSeenBox(const uint8_t* region, int32_t pitch, int32_t w, int32_t h, int32_t* box);
// Over n values each ANDed with mask: *below, the least less one (a value of 0 wrapping to
// UINT32_MAX, so that it counts as none), and *most, the greatest.
void vox_gfxIdRange(const uint32_t* values, size_t n, uint32_t mask, uint32_t* below,
                    uint32_t* most);
// The plain loops, and those of the loop set in use.
extern const VOX_SAMPLE_LOOPS vox_gfxSamplesPlain;
const VOX_SAMPLE_LOOPS& vox_hSampleLoops();
