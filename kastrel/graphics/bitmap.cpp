#include "kastrel/graphics/bitmap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/display.h"
#include "kastrel/device/screen.h"
#include "kastrel/graphics/detail/put_inside.h"
#include "kastrel/graphics/image.h"
#include "kastrel/png/png_image.h"
#include "kastrel/png/png_save.h"

namespace KASTREL::GRAPHICS {
namespace {

// Every image buffer some bitmap holds, with the number of bitmaps holding it. Copies of a
// bitmap, and bitmaps handed another's HANDLE, find the image here and share it; the last
// holder to let go releases it. Never destroyed, so global bitmaps may outlive other statics.
struct HOLDERS {
  std::mutex lock;
  std::unordered_map<const void*, int32_t> count;
};

HOLDERS& holders() {
  static HOLDERS* table = new HOLDERS;
  return *table;
}

// One more holder for image (null is fine). False only when a new entry cannot be made.
bool hold(void* image) {
  if (!image) return true;
  HOLDERS& table = holders();
  std::lock_guard<std::mutex> guard(table.lock);
  try {
    ++table.count[image];
  } catch (const std::bad_alloc&) {
    SETLASTERROR("out of memory recording the bitmap's image");
    return false;
  }
  return true;
}

// One holder fewer; the last one releases the image. Images nobody holds are left alone.
void let_go(void* image) {
  if (!image) return;
  HOLDERS& table = holders();
  {
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = table.count.find(image);
    if (it == table.count.end() || --it->second > 0) return;
    table.count.erase(it);
  }
  vox_GfxImageDestroy(image);
}

// A new image the bitmap will hold, or null (and the image released) if it cannot be held.
void* held(void* image) {
  if (hold(image)) return image;
  vox_GfxImageDestroy(image);
  return nullptr;
}

// The saved alpha bytes sit behind a small header that counts the bitmaps sharing them and
// remembers the size they were saved at.
struct alignas(16) ALPHACOPY {
  std::atomic<int32_t> refs;
  uint32_t w;
  uint32_t h;
};

ALPHACOPY* copy_header(uint8_t* bytes) {
  return reinterpret_cast<ALPHACOPY*>(bytes - sizeof(ALPHACOPY));
}

uint8_t* alpha_new(uint32_t w, uint32_t h) {
  const uint64_t size = uint64_t{w} * h;  // both below 2^31
  void* block = std::calloc(1, sizeof(ALPHACOPY) + static_cast<size_t>(size));
  if (!block) return nullptr;
  auto* header = new (block) ALPHACOPY{};
  header->refs.store(1, std::memory_order_relaxed);
  header->w = w;
  header->h = h;
  return static_cast<uint8_t*>(block) + sizeof(ALPHACOPY);
}

void alpha_share(uint8_t* bytes) {
  if (bytes) copy_header(bytes)->refs.fetch_add(1, std::memory_order_relaxed);
}

void alpha_let_go(uint8_t* bytes) {
  if (!bytes) return;
  ALPHACOPY* header = copy_header(bytes);
  if (header->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  header->~ALPHACOPY();
  std::free(header);
}

int32_t screen_bpp() { return __vox_gfx ? __vox_gfx->bytes_per_pixel : 0; }

// A new W x H image at src's depth, filled with opaque magenta, with the closed rectangle
// (X, Y)-(X + W, Y + H) of src copied to its top-left corner; null on failure.
void* copy_region(const void* src, int32_t X, int32_t Y, int32_t W, int32_t H) {
  VOX_IMAGE_INFO info;
  if (!vox_hImageInfo(src, screen_bpp(), &info)) {
    SETLASTERROR("not an image buffer of 1, 2 or 4 bytes a pixel");
    return nullptr;
  }
  if (W < 1) W = info.width;
  if (H < 1) H = info.height;
  void* image = vox_GfxImageCreate(W, H, 0xFFFF00FFu, info.bpp * 8, 0);
  if (!image) return nullptr;
  vox_GfxPut(image, 0.0f, 0.0f, src, X, Y, W, H, PUT_RELATIVE_CORNER, PUT_PSET, vox_hPutPSet, -1,
             nullptr, nullptr);
  return image;
}

struct BLIT {
  int32_t mode;
  VOX_PUT_ROUTINE routine;
};

// Indexed by RASTEROP: the blit numbers its modes differently.
constexpr BLIT kBlits[] = {
    {PUT_PSET, vox_hPutPSet},   {PUT_PRESET, vox_hPutPReset}, {PUT_TRANS, vox_hPutTrans},
    {PUT_AND, vox_hPutAnd},     {PUT_OR, vox_hPutOr},         {PUT_XOR, vox_hPutXor},
    {PUT_ALPHA, vox_hPutAlpha}, {PUT_ADD, vox_hPutAdd},       {PUT_CUSTOM, vox_hPutCustom},
};

// DRAWTO's blit the general way (vox_GfxPut's), out of line and with DRAWTO's own arguments,
// so that the short way keeps its registers and the call is a jump.
[[gnu::noinline]] void draw_general(const BITMAP& B, void* DEST, int32_t DSTX, int32_t DSTY,
                                    int32_t SRCX, int32_t SRCY, int32_t W, int32_t H,
                                    RASTEROP METHOD, VOX_BLENDER BLENDER, void* PARAM) {
  const bool custom = METHOD == VOXCUSTOM;
  vox_GfxPut(DEST, float(DSTX), float(DSTY), B.IMGHANDLE, SRCX, SRCY, W < 1 ? int32_t(B.IW) : W,
             H < 1 ? int32_t(B.IH) : H, PUT_RELATIVE_CORNER, kBlits[METHOD].mode,
             kBlits[METHOD].routine, METHOD == VOXADD ? 255 : -1, custom ? BLENDER : nullptr,
             custom ? PARAM : nullptr);
}

}  // namespace

BITMAP::BITMAP(void* HND, int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (HND) COPYFROMHANDLE(HND, X, Y, W, H);
}

BITMAP::BITMAP(int32_t W, int32_t H, uint32_t CLR, int32_t DEPTH) { CREATE(W, H, CLR, DEPTH); }

BITMAP::BITMAP(const std::string& FILENAME, int32_t X, int32_t Y, int32_t W, int32_t H) {
  LOADFROMFILE(FILENAME, X, Y, W, H);
}

BITMAP::BITMAP(const void* MEM, int32_t SIZE, int32_t X, int32_t Y, int32_t W, int32_t H) {
  LOADFROMMEMORY(MEM, SIZE, X, Y, W, H);
}

// Copies already held images only bump the count: sharing never allocates.
BITMAP::BITMAP(const BITMAP& OTHER)
    : IW(OTHER.IW),
      IH(OTHER.IH),
      IBPP(OTHER.IBPP),
      IPITCH(OTHER.IPITCH),
      IMGHANDLE(OTHER.IMGHANDLE),
      IALPHA(OTHER.IALPHA),
      IALPHACHANNEL(OTHER.IALPHACHANNEL) {
  hold(IMGHANDLE);
  alpha_share(IALPHACHANNEL);
}

BITMAP::BITMAP(BITMAP&& OTHER) noexcept
    : IW(OTHER.IW),
      IH(OTHER.IH),
      IBPP(OTHER.IBPP),
      IPITCH(OTHER.IPITCH),
      IMGHANDLE(OTHER.IMGHANDLE),
      IALPHA(OTHER.IALPHA),
      IALPHACHANNEL(OTHER.IALPHACHANNEL) {
  OTHER.IW = OTHER.IH = OTHER.IPITCH = 0;
  OTHER.IBPP = 0;
  OTHER.IMGHANDLE = nullptr;
  OTHER.IALPHA = 255;
  OTHER.IALPHACHANNEL = nullptr;
}

BITMAP& BITMAP::operator=(const BITMAP& OTHER) {
  // Take the new shares before letting go of the old ones: they may be the same.
  hold(OTHER.IMGHANDLE);
  alpha_share(OTHER.IALPHACHANNEL);
  let_go(IMGHANDLE);
  alpha_let_go(IALPHACHANNEL);
  IW = OTHER.IW;
  IH = OTHER.IH;
  IBPP = OTHER.IBPP;
  IPITCH = OTHER.IPITCH;
  IMGHANDLE = OTHER.IMGHANDLE;
  IALPHA = OTHER.IALPHA;
  IALPHACHANNEL = OTHER.IALPHACHANNEL;
  return *this;
}

BITMAP& BITMAP::operator=(BITMAP&& OTHER) noexcept {
  BITMAP taken(static_cast<BITMAP&&>(OTHER));
  std::swap(IW, taken.IW);
  std::swap(IH, taken.IH);
  std::swap(IBPP, taken.IBPP);
  std::swap(IPITCH, taken.IPITCH);
  std::swap(IMGHANDLE, taken.IMGHANDLE);
  std::swap(IALPHA, taken.IALPHA);
  std::swap(IALPHACHANNEL, taken.IALPHACHANNEL);
  return *this;  // taken lets go of what this bitmap held
}

BITMAP::~BITMAP() {
  let_go(IMGHANDLE);
  alpha_let_go(IALPHACHANNEL);
}

void BITMAP::TAKEIMAGE(void* IMAGE) {
  void* const previous = IMGHANDLE;
  IMGHANDLE = IMAGE;
  IW = IH = IPITCH = 0;
  IBPP = 0;
  // Pixels are addressed behind a 32-byte header; any other block is held but shows no size,
  // so nothing here reads or writes its pixels.
  uint32_t type = 0;
  if (IMAGE) std::memcpy(&type, IMAGE, sizeof type);
  VOX_IMAGE_INFO info;
  if (type == VOX_IMAGE_TYPE && vox_hImageInfo(IMAGE, screen_bpp(), &info)) {
    IW = static_cast<uint32_t>(info.width);
    IH = static_cast<uint32_t>(info.height);
    IBPP = info.bpp;
    IPITCH = static_cast<uint32_t>(info.pitch);
  }
  if (previous != IMAGE) let_go(previous);
  // The saved bytes are indexed with IW and IH: they only fit a 32-bit image of their size.
  if (IALPHACHANNEL) {
    const ALPHACOPY* header = copy_header(IALPHACHANNEL);
    if (IBPP != 4 || header->w != IW || header->h != IH) DROPALPHACHANNEL();
  }
}

void BITMAP::DROPALPHACHANNEL() {
  alpha_let_go(IALPHACHANNEL);
  IALPHACHANNEL = nullptr;
}

void BITMAP::HANDLE(void* H) {
  // An image that cannot be recorded as held is not taken: the bitmap would release it later.
  if (H != IMGHANDLE && !hold(H)) H = nullptr;
  TAKEIMAGE(H);
}

BOOLEAN BITMAP::CREATE(int32_t W, int32_t H, uint32_t CLR, int32_t DEPTH) {
  TAKEIMAGE(held(vox_GfxImageCreate(W, H, CLR, DEPTH, 0)));
  return TOBOOLEAN(IMGHANDLE != nullptr);
}

BOOLEAN BITMAP::COPYFROMHANDLE(void* HND, int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (!HND) {
    SETLASTERROR("COPYFROMHANDLE: no image to copy from");
    return FALSE;
  }
  // HND may be this bitmap's own image: it is copied before the bitmap lets go of it.
  TAKEIMAGE(held(copy_region(HND, X, Y, W, H)));
  return TOBOOLEAN(IMGHANDLE != nullptr);
}

namespace {

// Takes a decoded picture, or the region of it; a null decode leaves the bitmap alone.
BOOLEAN load(BITMAP& bitmap, void* decoded, int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (!decoded) return FALSE;
  if (X == 0 && Y == 0 && W == 0 && H == 0) {
    bitmap.HANDLE(decoded);
    if (bitmap.HANDLE() == decoded) return TRUE;
    vox_GfxImageDestroy(decoded);
    return FALSE;
  }
  void* region = copy_region(decoded, X, Y, W, H);
  vox_GfxImageDestroy(decoded);
  if (!region) return FALSE;
  bitmap.HANDLE(region);
  if (bitmap.HANDLE() == region) return TRUE;
  vox_GfxImageDestroy(region);
  return FALSE;
}

}  // namespace

namespace {

// 0xAARRGGBB pixels (BGRA bytes) turned into RGB or RGBA rows without gaps.
std::vector<uint8_t> png_rows(const uint8_t* pixels, uint32_t w, uint32_t h, size_t pitch,
                              bool alpha) {
  const size_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> out(size_t{w} * h * channels);
  uint8_t* to = out.data();
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* from = pixels + y * pitch;
    for (uint32_t x = 0; x < w; ++x, from += 4, to += channels) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      if (alpha) to[3] = from[3];
    }
  }
  return out;
}

}  // namespace

BOOLEAN BITMAP::SAVETOFILE(const std::string& FILENAME, BOOLEAN FAST) const {
  const PNG_EFFORT effort = FAST != FALSE ? PNG_FAST : PNG_BEST;
  if (IMGHANDLE != nullptr) {
    VOX_IMAGE_INFO info;
    if (!vox_hImageInfo(IMGHANDLE, 4, &info) || info.bpp != 4) {
      SETLASTERROR("SAVETOFILE: %s: only 32-bit bitmaps are written", FILENAME.c_str());
      return FALSE;
    }
    const std::vector<uint8_t> rows = png_rows(info.pixels, uint32_t(info.width),
                                               uint32_t(info.height), size_t(info.pitch), true);
    return png_save(FILENAME, rows.data(), uint32_t(info.width), uint32_t(info.height),
                    size_t(info.width) * 4, PNG_RGBA, effort);
  }
  if (!vox_hProgramThread("SAVETOFILE")) return FALSE;
  vox_hAutoLock();
  const VOX_GFX_SCREEN* screen = __vox_gfx;
  const auto* frame = static_cast<const uint8_t*>(vox_GfxScreenPtr());
  if (screen == nullptr || frame == nullptr || screen->bytes_per_pixel != 4) {
    vox_hAutoUnlock();
    SETLASTERROR("SAVETOFILE: %s: there is no 32-bit screen to write", FILENAME.c_str());
    return FALSE;
  }
  const uint32_t w = uint32_t(screen->width), h = uint32_t(screen->height);
  const std::vector<uint8_t> rows = png_rows(frame, w, h, size_t(screen->pitch), false);
  vox_hAutoUnlock();
  return png_save(FILENAME, rows.data(), w, h, size_t(w) * 3, PNG_RGB, effort);
}

namespace {
std::atomic<uint64_t> g_max_image_pixels{DEFAULTMAXIMAGEPIXELS};
}  // namespace

void SETMAXIMAGEPIXELS(uint64_t PIXELS) { g_max_image_pixels.store(PIXELS, std::memory_order_relaxed); }
uint64_t MAXIMAGEPIXELS() { return g_max_image_pixels.load(std::memory_order_relaxed); }

BOOLEAN BITMAP::LOADFROMFILE(const std::string& FILENAME, int32_t X, int32_t Y, int32_t W,
                             int32_t H) {
  return load(*this, png_load_limited(FILENAME, PNG_TARGET_NEW, MAXIMAGEPIXELS()), X, Y, W, H);
}

BOOLEAN BITMAP::LOADFROMMEMORY(const void* MEM, int32_t SIZE, int32_t X, int32_t Y, int32_t W,
                               int32_t H) {
  return load(*this, png_load_mem_limited(MEM, SIZE, PNG_TARGET_NEW, MAXIMAGEPIXELS()), X, Y, W, H);
}

uint32_t BITMAP::PIXEL(const MATH::POINT& PT) const {
  if (!IMGHANDLE) return 0;
  uint32_t value;
  std::memcpy(&value,
              static_cast<const uint8_t*>(IMGHANDLE) + 32 + size_t(uint32_t(PT.Y)) * IPITCH +
                  size_t(uint32_t(PT.X)) * 4,
              4);
  return value;
}

void BITMAP::PIXEL(const MATH::POINT& PT, uint32_t VALUE) {
  if (!IMGHANDLE) return;
  std::memcpy(static_cast<uint8_t*>(IMGHANDLE) + 32 + size_t(uint32_t(PT.Y)) * IPITCH +
                  size_t(uint32_t(PT.X)) * 4,
              &VALUE, 4);
}

uint8_t BITMAP::PIXELALPHA(const MATH::POINT& PT) const { return uint8_t(PIXEL(PT) >> 24); }
uint8_t BITMAP::PIXELRED(const MATH::POINT& PT) const { return uint8_t(PIXEL(PT) >> 16); }
uint8_t BITMAP::PIXELGREEN(const MATH::POINT& PT) const { return uint8_t(PIXEL(PT) >> 8); }
uint8_t BITMAP::PIXELBLUE(const MATH::POINT& PT) const { return uint8_t(PIXEL(PT)); }

void BITMAP::ALPHA(uint8_t A) {
  if (IBPP == 4 && IMGHANDLE) {
    // Every pixel's new alpha depends only on one byte, so it is looked up. The products are
    // exact in double and then rounded to nearest, halves to even.
    uint8_t table[256];
    if (IALPHACHANNEL) {
      const float f = float(A) / 255.0f;
      for (int v = 0; v < 256; ++v) table[v] = uint8_t(std::nearbyint(v * double(f)));
    } else {
      // Relative to the previous uniform alpha; both count as at least 25 so that a bitmap
      // faded to 0 can come back.
      const float f =
          float((std::max(A, uint8_t{25}) / 255.0) / (std::max(IALPHA, uint8_t{25}) / 255.0));
      for (int v = 0; v < 256; ++v) {
        // Raising the fade past what a pixel can hold saturates rather than wrapping.
        table[v] = v <= 5 ? uint8_t(v) : uint8_t(std::min(255.0, std::nearbyint(v * double(f))));
      }
    }
    auto* rows = static_cast<uint8_t*>(IMGHANDLE) + 32;
    for (uint32_t y = 0; y < IH; ++y) {
      uint8_t* alpha = rows + size_t(y) * IPITCH + 3;
      if (IALPHACHANNEL) {
        for (uint32_t x = 0; x < IW; ++x)
          alpha[size_t(x) * 4] = table[IALPHACHANNEL[size_t(x) * IH + y]];
      } else {
        for (uint32_t x = 0; x < IW; ++x) alpha[size_t(x) * 4] = table[alpha[size_t(x) * 4]];
      }
    }
  }
  IALPHA = A;
}

void BITMAP::PRESERVEALPHACHANNEL() {
  DROPALPHACHANNEL();
  // Only a 32-bit image has alpha bytes to save.
  if (IBPP != 4 || !IMGHANDLE) return;
  IALPHACHANNEL = alpha_new(IW, IH);
  if (!IALPHACHANNEL) return;
  const auto* rows = static_cast<const uint8_t*>(IMGHANDLE) + 32;
  for (uint32_t x = 0; x < IW; ++x) {
    uint8_t* column = IALPHACHANNEL + size_t(x) * IH;
    const uint8_t* alpha = rows + size_t(x) * 4 + 3;
    for (uint32_t y = 0; y < IH; ++y) column[y] = alpha[size_t(y) * IPITCH];
  }
}

void BITMAP::DRAWTO(void* DEST, int32_t DSTX, int32_t DSTY, int32_t SRCX, int32_t SRCY, int32_t W,
                    int32_t H, RASTEROP METHOD, VOX_BLENDER BLENDER, void* PARAM) const {
  // Faded below 4 without saved bytes to come back from: treated as invisible.
  if (IBPP == 4 && !IALPHACHANNEL && IALPHA < 4) return;
  if (METHOD < VOXPSET || METHOD > VOXCUSTOM) return;
  // The usual blit's short way inline, where float(DSTX) is DSTX: targets below 2^24 pixels.
  if (METHOD != VOXCUSTOM &&
      vox_hPutInside(DEST, DSTX, DSTY, float(DSTX), float(DSTY), IMGHANDLE, SRCX, SRCY,
                     W < 1 ? int32_t(IW) : W, H < 1 ? int32_t(IH) : H, true,
                     uint32_t(kBlits[METHOD].mode), METHOD == VOXADD ? 255 : -1, nullptr,
                     nullptr)) {
    return;
  }
  draw_general(*this, DEST, DSTX, DSTY, SRCX, SRCY, W, H, METHOD, BLENDER, PARAM);
}

void BITMAP::DRAWTO(BITMAP& DEST, int32_t DSTX, int32_t DSTY, int32_t SRCX, int32_t SRCY, int32_t W,
                    int32_t H, RASTEROP METHOD, VOX_BLENDER BLENDER, void* PARAM) const {
  DRAWTO(DEST.HANDLE(), DSTX, DSTY, SRCX, SRCY, W, H, METHOD, BLENDER, PARAM);
}

int32_t IMAGEHOLDERS(const void* IMAGE) {
  HOLDERS& table = holders();
  std::lock_guard<std::mutex> guard(table.lock);
  const auto it = table.count.find(IMAGE);
  return it == table.count.end() ? 0 : it->second;
}

BOOLEAN operator==(const BITMAP& A, const void* B) { return A.HANDLE() == B ? TRUE : FALSE; }
BOOLEAN operator==(const void* A, const BITMAP& B) { return A == B.HANDLE() ? TRUE : FALSE; }
BOOLEAN operator==(const BITMAP& A, const BITMAP& B) {
  return A.HANDLE() == B.HANDLE() ? TRUE : FALSE;
}
BOOLEAN operator!=(const BITMAP& A, const void* B) { return A.HANDLE() != B ? TRUE : FALSE; }
BOOLEAN operator!=(const void* A, const BITMAP& B) { return A != B.HANDLE() ? TRUE : FALSE; }
BOOLEAN operator!=(const BITMAP& A, const BITMAP& B) {
  return A.HANDLE() != B.HANDLE() ? TRUE : FALSE;
}

}  // namespace KASTREL::GRAPHICS
