#pragma once
#include <cstdint>
#include <cstring>

// Image buffers: one heap block, a 32-byte header, then the pixel rows. They are passed around
// as pointers to the header. 4 bytes per pixel: 0xAARRGGBB little-endian (mask colour: low 24
// bits 0xFF00FF); 2: RGB 5-6-5 (mask 0xF81F); 1: palette index (mask 0).
// Pixel (x, y) lies at 32 + y * pitch + x * bpp from the start of the block.

// The 32-byte header at the start of every image buffer.
struct VOX_IMAGE_HEADER {
  uint32_t type;  // VOX_IMAGE_TYPE
  int32_t bpp;    // bytes per pixel: 1, 2 or 4
  uint32_t width;
  uint32_t height;
  uint32_t pitch;  // bytes from one row to the next, at least width * bpp
  uint8_t reserved[12];  // zero in a new buffer; holds the clip rectangle (graphics/clip.h)
};
static_assert(sizeof(VOX_IMAGE_HEADER) == 32);

// The first word of a buffer with the 32-byte header: it tells it from the compact header below.
enum : uint32_t { VOX_IMAGE_TYPE = 7 };

// A new buffer filled with color (flags >= 0; 0xRRGGBB is narrowed to 5-6-5 at 16 bits, the
// low byte is used at 8) or with the mask colour of its depth (flags < 0), padding included.
// depth is in bits per pixel (<= 0: the screen's); the pitch is rounded up to 16 bytes.
// Null for depth <= 0 without an open screen, for a size <= 0, a depth that is not 1 to 16 or 25 to 32 bits,
// a block beyond 2 GiB, or when memory runs out.
void* vox_GfxImageCreate(int32_t width, int32_t height, uint32_t color, int32_t depth,
                         int32_t flags);

// Releases a buffer from vox_GfxImageCreate (or any image block from std::malloc); null is fine.
void vox_GfxImageDestroy(void* image);

// A buffer as the raster operations see it. A block whose first word is not VOX_IMAGE_TYPE has
// the 4-byte compact header: bpp in the low 3 bits of byte 0 (0: default_bpp), width 13 bits
// ((byte 0 >> 3) | (byte 1 << 5)), height in bytes 2-3, rows unpadded from offset 4.
struct VOX_IMAGE_INFO {
  int32_t bpp;
  int32_t width;
  int32_t height;
  int32_t pitch;
  uint8_t* pixels;
};
// False for a header that cannot describe a buffer (bpp not 1, 2 or 4, sizes beyond 2^31 - 1,
// pitch below width * bpp).
// Inline: every blit reads two headers, and a call for each is a good part of a small one.
inline bool vox_hImageInfo(const void* image, int32_t default_bpp, VOX_IMAGE_INFO* info) {
  const auto* block = static_cast<const uint8_t*>(image);
  uint32_t type = 0;
  std::memcpy(&type, block, 4);
  int64_t bpp, width, height, pitch;
  if (type == VOX_IMAGE_TYPE) {
    VOX_IMAGE_HEADER header;
    std::memcpy(&header, block, sizeof header);
    bpp = header.bpp;
    width = header.width;
    height = header.height;
    pitch = header.pitch;
    info->pixels = const_cast<uint8_t*>(block) + 32;
  } else {
    bpp = block[0] & 7;
    if (bpp == 0) bpp = default_bpp;
    width = (block[0] >> 3) | (block[1] << 5);
    height = block[2] | (block[3] << 8);
    pitch = width * bpp;
    info->pixels = const_cast<uint8_t*>(block) + 4;
  }
  if ((bpp != 1 && bpp != 2 && bpp != 4) || width > INT32_MAX || height > INT32_MAX ||
      pitch > INT32_MAX || pitch < width * bpp) {
    return false;
  }
  info->bpp = static_cast<int32_t>(bpp);
  info->width = static_cast<int32_t>(width);
  info->height = static_cast<int32_t>(height);
  info->pitch = static_cast<int32_t>(pitch);
  return true;
}


// The clip rectangle an image with the 32-byte header may carry in its reserved bytes:
// [x0, x1) x [y0, y1), four 24-bit numbers with x0 stored plus one, so that twelve zero bytes
// (every new image's) mean "no clip". Drawing onto the image writes only inside it.
struct VOX_IMAGE_CLIP {
  int32_t x0, y0, x1, y1;
};
inline constexpr int32_t VOX_IMAGE_CLIP_LIMIT = (1 << 24) - 2;  // largest side a clip can cut

// False when the image carries no clip (compact headers never do).
inline bool vox_hImageClip(const void* image, VOX_IMAGE_CLIP* clip) {
  const auto* block = static_cast<const uint8_t*>(image);
  uint32_t type;
  std::memcpy(&type, block, 4);
  uint8_t b[12];
  std::memcpy(b, block + 20, 12);
  if (type != VOX_IMAGE_TYPE || (b[0] | b[1] | b[2]) == 0) return false;
  auto field = [&b](int i) { return int32_t(b[3 * i] | b[3 * i + 1] << 8 | b[3 * i + 2] << 16); };
  *clip = {field(0) - 1, field(1), field(2), field(3)};
  return true;
}

// Stores clip (null: none) into an image with the 32-byte header; values within 0 to
// VOX_IMAGE_CLIP_LIMIT + 1.
inline void vox_hSetImageClip(void* image, const VOX_IMAGE_CLIP* clip) {
  uint8_t b[12] = {};
  if (clip) {
    const int32_t v[4] = {clip->x0 + 1, clip->y0, clip->x1, clip->y1};
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) b[3 * i + k] = uint8_t(v[i] >> (8 * k));
  }
  std::memcpy(static_cast<uint8_t*>(image) + 20, b, 12);
}
