#include "kastrel/graphics/image.h"

#include <cstdlib>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/screen.h"

namespace {

constexpr int64_t kMaxImageBytes = INT32_MAX;

uint32_t mask_color(int32_t bpp) {
  if (bpp == 4) return 0xFFFF00FFu;
  if (bpp == 2) return 0xF81Fu;
  return 0;
}

}  // namespace

void* vox_GfxImageCreate(int32_t width, int32_t height, uint32_t color, int32_t depth,
                         int32_t flags) {
  // Only "the screen's depth" needs a screen.
  if (depth <= 0 && !__vox_gfx) {
    KASTREL::SETLASTERROR("vox_GfxImageCreate: no screen is open to take the depth from");
    return nullptr;
  }
  if (width <= 0 || height <= 0) {
    KASTREL::SETLASTERROR("vox_GfxImageCreate: no image is %d x %d pixels", width, height);
    return nullptr;
  }
  const int64_t bpp = depth <= 0 ? __vox_gfx->bytes_per_pixel : (int64_t{depth} + 7) / 8;
  if (bpp != 1 && bpp != 2 && bpp != 4) {
    KASTREL::SETLASTERROR("vox_GfxImageCreate: unsupported depth of %d bits", depth);
    return nullptr;
  }
  uint32_t fill = mask_color(static_cast<int32_t>(bpp));
  if (flags >= 0) {
    if (bpp == 2) {
      fill = ((color & 0xF80000u) >> 8) | ((color & 0xFC00u) >> 5) | ((color & 0xF8u) >> 3);
    } else if (bpp == 1) {
      fill = color & 0xFFu;
    } else {
      fill = color;
    }
  }
  // width * bpp fits (31 + 2 bits); the rest is checked so that no size can wrap.
  const int64_t pitch = (width * bpp + 15) / 16 * 16;
  int64_t bytes = 0;
  if (__builtin_mul_overflow(int64_t{height}, pitch, &bytes) ||
      __builtin_add_overflow(bytes, int64_t{32}, &bytes) || bytes > kMaxImageBytes) {
    KASTREL::SETLASTERROR("vox_GfxImageCreate: %d x %d pixels exceed 2 GiB", width, height);
    return nullptr;
  }
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes)));
  if (!block) {
    KASTREL::SETLASTERROR("vox_GfxImageCreate: out of memory for %d x %d pixels", width, height);
    return nullptr;
  }

  VOX_IMAGE_HEADER header{};
  header.type = VOX_IMAGE_TYPE;
  header.bpp = static_cast<int32_t>(bpp);
  header.width = static_cast<uint32_t>(width);
  header.height = static_cast<uint32_t>(height);
  header.pitch = static_cast<uint32_t>(pitch);
  std::memcpy(block, &header, sizeof header);

  // Padding included: the whole pixel area is one run of fill slots.
  vox_hFillPixels(block + 32, static_cast<size_t>(height * pitch), static_cast<int32_t>(bpp), fill);
  return block;
}

void vox_GfxImageDestroy(void* image) { std::free(image); }
