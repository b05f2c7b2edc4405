#pragma once
// The PNG decoder: turns a PNG file, named or held in memory, into a new 32-bit image.
// Every colour type and bit depth, plain or interlaced, is read; every chunk's CRC is checked.
// Any failure, of whatever kind, yields null and leaves its reason in KASTREL::LASTERROR().

#include <cstdint>
#include <string>

// Output forms (the entry points take the plain integer).
// 1: compact 4-byte header (4 | width << 3, then height, as 16-bit words), rows without gaps;
//    at most 8191 x 65535 pixels.
// 2: image buffer with its 32-byte header, rows padded to a multiple of 32 bytes.
// 3: no header, bottom row first, every pixel as the bytes red, green, blue, alpha.
inline constexpr int32_t PNG_TARGET_OLD = 1;
inline constexpr int32_t PNG_TARGET_NEW = 2;
inline constexpr int32_t PNG_TARGET_OPENGL = 3;

// Both return a new zero-filled heap block that the caller releases with std::free (for target 2
// that is vox_GfxImageDestroy), or null. The memory block given to png_load_mem is only read.
void* png_load(const std::string& filename, int32_t target);
void* png_load_mem(const void* buffer, int32_t size, int32_t target);

// As png_load and png_load_mem, but a picture whose header declares more than max_pixels pixels,
// or whose decoding would take more than 10 bytes for each of them (deep samples, Adam7), is
// refused (null, with the reason in KASTREL::LASTERROR()) before any of it is inflated, so a
// small file cannot make the decoder allocate without bound.
void* png_load_limited(const std::string& filename, int32_t target, uint64_t max_pixels);
void* png_load_mem_limited(const void* buffer, int32_t size, int32_t target, uint64_t max_pixels);

// Test hook: decode with the plain loops (0), SSE2 (1) or SSSE3 (2) from now on, or with the
// widest this processor runs (negative, or beyond it). Every set gives the same pixels. Returns
// the set in use.
int32_t png_loops_force(int32_t set);
