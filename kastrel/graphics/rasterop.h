#pragma once
#include <cstdint>

// The blit: all or part of a source image buffer onto an image buffer or the screen,
// combining each source pixel with the target pixel by one of nine raster operations.

// Blit mode numbers (the engine's RASTEROP values are numbered differently).
enum : int32_t {
  PUT_TRANS = 0,   // vox_hPutTrans: copy, skipping mask-colour pixels; 32-bit writes alpha 0
  PUT_PSET = 1,    // vox_hPutPSet: copy
  PUT_PRESET = 2,  // vox_hPutPReset: copy the complement
  PUT_AND = 3,     // vox_hPutAnd
  PUT_OR = 4,      // vox_hPutOr
  PUT_XOR = 5,     // vox_hPutXor
  PUT_ALPHA = 6,   // vox_hPutAlpha: blend by the source alpha (a copy below 32 bits)
  PUT_ADD = 7,     // vox_hPutAdd: saturating add of source * alpha / 256, mask colour skipped
  PUT_CUSTOM = 8,  // vox_hPutCustom: blender(source, target, param) per pixel
  PUT_MODES = 9,
};

// Source x1 meaning "the whole source".
enum : int32_t { PUT_WHOLE_SOURCE = -65536 };

// Coordinate types: bit 0, (x2, y2) is relative to (x1, y1); bit 1, (x, y) is relative to the
// last point placed on this thread.
enum : int32_t {
  PUT_ABSOLUTE = 0,
  PUT_RELATIVE_CORNER = 1,
  PUT_RELATIVE_POSITION = 2,
  PUT_RELATIVE = 3,
};

// A custom blend: the new target pixel from the source and target pixels (0x00RRGGBB at 16
// bits, the byte at 8 bits).
using VOX_BLENDER = uint32_t (*)(uint32_t source, uint32_t target, void* param);

// A row routine: h rows of w pixels, top to bottom, each left to right. It runs the variant
// for the current target's bytes per pixel.
using VOX_PUT_ROUTINE = void (*)(const uint8_t* source, uint8_t* target, int32_t w, int32_t h,
                                 int32_t source_pitch, int32_t target_pitch, int32_t alpha,
                                 VOX_BLENDER blender, void* param);

// The row routines of the nine raster operations, one per PUT_* mode, each a VOX_PUT_ROUTINE.
void vox_hPutTrans(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                   VOX_BLENDER, void*);
void vox_hPutPSet(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                  VOX_BLENDER, void*);
void vox_hPutPReset(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                    VOX_BLENDER, void*);
void vox_hPutAnd(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, VOX_BLENDER,
                 void*);
void vox_hPutOr(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, VOX_BLENDER,
                void*);
void vox_hPutXor(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, VOX_BLENDER,
                 void*);
void vox_hPutAlpha(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                   VOX_BLENDER, void*);
void vox_hPutAdd(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, VOX_BLENDER,
                 void*);
void vox_hPutCustom(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                    VOX_BLENDER, void*);
// 8-bit source onto a 32-bit target: each source byte becomes the target pixel's alpha byte.
// vox_GfxPut switches to it by itself for PUT_ALPHA with that pair of depths.
void vox_hPutAlphaMask(const uint8_t*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                       VOX_BLENDER, void*);

// Draws the source rectangle (x1, y1)-(x2, y2), corners inclusive and clamped to the source,
// with its top-left pixel at (x, y) (rounded half away from zero) on target, or on the screen
// when target is null, clipped to the target's view. mode is a PUT_* number and routine its
// row routine; alpha (masked to 0..255) is used by PUT_ADD, blender and param by PUT_CUSTOM.
// source may carry the compact header (vox_hImageInfo).
// Returns, and stores for vox_GetError(), 0 on success (also when nothing is left to draw) or
// 1: no screen, null source or routine, mode or coordinate type out of range, NaN position,
// an unreadable header, or a depth mismatch other than an 8-bit source with PUT_ALPHA on a
// 32-bit target. Takes the screen lock for its own duration unless the program holds it, and
// marks the rows it drew on the screen's visible page as changed.
// The engine's usual call: vox_GfxPut(target, x, y, image, sx, sy, w, h, PUT_RELATIVE_CORNER,
// PUT_ALPHA, vox_hPutAlpha, -1, nullptr, nullptr).
int32_t vox_GfxPut(void* target, float x, float y, const void* source, int32_t x1, int32_t y1,
                   int32_t x2, int32_t y2, int32_t coordinate_type, int32_t mode,
                   VOX_PUT_ROUTINE routine, int32_t alpha, VOX_BLENDER blender, void* param);
