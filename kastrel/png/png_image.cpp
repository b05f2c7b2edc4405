#include "kastrel/png/png_image.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kastrel/boolean.h"

namespace {

using KASTREL::BOOLEAN;

// One chunk of the file. DATA points into the file buffer: chunk data is never copied.
struct PNG_CHUNK {
  uint32_t LENGTH;
  uint8_t TYPE[4];
  const uint8_t* DATA;
  uint32_t CRC;
};

// The decoder's working record; one per call, so the decoder keeps no global mutable state.
struct PNG_IMAGE {
  uint32_t WIDTH;
  uint32_t HEIGHT;
  uint8_t BIT_DEPTH;
  uint8_t COLOR_TYPE;
  uint8_t COMPRESSION;
  uint8_t FILTER;
  uint8_t INTERLACE;
  uint8_t PALETTE[256][3];
  uint32_t PALETTE_COUNT;
  uint8_t* IMAGE_DATA;  // gathered IDAT bytes, then the inflated (still filtered) scanlines
  uint32_t IMAGE_DATA_SIZE;
  BOOLEAN HAS_TRNS;
  uint8_t TRNS_ALPHA[256];
  uint16_t TRNS_GREY;
  uint16_t TRNS_RED;
  uint16_t TRNS_GREEN;
  uint16_t TRNS_BLUE;
  const uint8_t* BUFFER;
  uint32_t BUFFER_SIZE;
  uint32_t POSITION;
  uint32_t BPP;
  PNG_CHUNK** CHUNKS;
  uint32_t CHUNK_COUNT;
  BOOLEAN INITIALISED;
  BOOLEAN READY;
};

using CHUNK_TYPE = uint8_t[4];

constexpr uint8_t PNG_SIG[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr CHUNK_TYPE TYPE_IHDR = {'I', 'H', 'D', 'R'};
constexpr CHUNK_TYPE TYPE_PLTE = {'P', 'L', 'T', 'E'};
constexpr CHUNK_TYPE TYPE_IDAT = {'I', 'D', 'A', 'T'};
constexpr CHUNK_TYPE TYPE_TRNS = {'t', 'R', 'N', 'S'};
constexpr CHUNK_TYPE TYPE_IEND = {'I', 'E', 'N', 'D'};

// Adam7 passes 1 to 7: column step, row step, first column, first row.
constexpr uint32_t TB_WFAC[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr uint32_t TB_HFAC[7] = {8, 8, 8, 4, 4, 2, 2};
constexpr uint32_t TB_XOFF[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t TB_YOFF[7] = {0, 0, 4, 0, 2, 0, 1};

// Every size derived from the header is computed in 64 bits and must fit in 32; anything larger
// is refused rather than allowed to wrap round to a small, wrong size.
constexpr uint64_t SIZE_LIMIT = UINT32_MAX;
constexpr uint64_t TOO_BIG = SIZE_LIMIT + 1;

// Inflation never expands data by more than 1032:1, so a longer expected size cannot be met.
constexpr uint64_t MAX_INFLATE_RATIO = 1032;

// a * b, or TOO_BIG when either factor or the product exceeds 32 bits.
uint64_t SIZE_MUL(uint64_t a, uint64_t b) {
  if (a > SIZE_LIMIT || b > SIZE_LIMIT) return TOO_BIG;
  const uint64_t product = a * b;  // both below 2^32: cannot overflow 64 bits
  return product > SIZE_LIMIT ? TOO_BIG : product;
}

uint32_t READ_BE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint16_t READ_BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void WRITE_LE32(uint8_t* p, uint32_t value) {
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
  p[2] = uint8_t(value >> 16);
  p[3] = uint8_t(value >> 24);
}

uint32_t READ_LE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ---- File and record -------------------------------------------------------------------------

uint8_t* FILE_TO_BUFFER(const char* path, int32_t* size) {
  *size = 0;
  if (path == nullptr || path[0] == '\0') return nullptr;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  uint8_t* buffer = nullptr;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long end = std::ftell(file);
    // The size travels on as an int32: larger files (and failed tells) are refused.
    if (end > 0 && end <= INT32_MAX && std::fseek(file, 0, SEEK_SET) == 0) {
      *size = int32_t(end);
      buffer = static_cast<uint8_t*>(std::calloc(size_t(end), 1));
      if (buffer != nullptr && std::fread(buffer, 1, size_t(end), file) != size_t(end)) {
        std::free(buffer);
        buffer = nullptr;
      }
    }
  }
  std::fclose(file);
  return buffer;
}

void PNG_IMAGE_INIT(PNG_IMAGE* image, const uint8_t* buffer, uint32_t size) {
  *image = PNG_IMAGE{};
  image->BUFFER = buffer;
  image->BUFFER_SIZE = size;
  image->INITIALISED = KASTREL::TRUE;
}

void PNG_IMAGE_DEINIT(PNG_IMAGE* image) {
  for (uint32_t i = 0; i < image->CHUNK_COUNT; ++i) std::free(image->CHUNKS[i]);
  std::free(image->CHUNKS);
  std::free(image->IMAGE_DATA);
  image->CHUNKS = nullptr;
  image->CHUNK_COUNT = 0;
  image->IMAGE_DATA = nullptr;
  image->IMAGE_DATA_SIZE = 0;
}

int32_t PNG_SIGNATURE_CHECK(const uint8_t* first) {
  return std::memcmp(first, PNG_SIG, sizeof PNG_SIG) == 0 ? 0 : -1;
}

// ---- Chunks ----------------------------------------------------------------------------------

bool TYPE_EQUALS(const PNG_CHUNK* chunk, const CHUNK_TYPE& type) {
  return std::memcmp(chunk->TYPE, type, 4) == 0;
}

// Reads the chunk at POSITION and checks its CRC; null if it is cut short or corrupt.
PNG_CHUNK* CHUNK_READ(PNG_IMAGE* image) {
  auto* chunk = static_cast<PNG_CHUNK*>(std::calloc(1, sizeof(PNG_CHUNK)));
  if (chunk == nullptr) return nullptr;
  const uint32_t remaining = image->BUFFER_SIZE - image->POSITION;
  if (remaining < 8) {
    std::free(chunk);
    return nullptr;
  }
  const uint8_t* start = image->BUFFER + image->POSITION;
  chunk->LENGTH = READ_BE32(start);
  std::memcpy(chunk->TYPE, start + 4, 4);
  chunk->DATA = start + 8;
  // In 64 bits, so that a huge length cannot wrap round and pass.
  if (uint64_t(chunk->LENGTH) + 12 > remaining) {
    std::free(chunk);
    return nullptr;
  }
  chunk->CRC = READ_BE32(chunk->DATA + chunk->LENGTH);
  uLong crc = crc32(0, chunk->TYPE, 4);
  crc = crc32(crc, chunk->DATA, chunk->LENGTH);
  image->POSITION += chunk->LENGTH + 12;
  if (crc != chunk->CRC) {
    std::free(chunk);
    return nullptr;
  }
  return chunk;
}

// 0 when the chunks fill the buffer exactly, number at least 3, and the last is an IEND.
int32_t CHUNKS_PREPARE(PNG_IMAGE* image) {
  if (!image->INITIALISED) return 1;
  while (image->POSITION < image->BUFFER_SIZE) {
    auto** grown = static_cast<PNG_CHUNK**>(
        std::realloc(image->CHUNKS, (size_t(image->CHUNK_COUNT) + 1) * sizeof(PNG_CHUNK*)));
    if (grown == nullptr) return 1;
    image->CHUNKS = grown;
    PNG_CHUNK* chunk = CHUNK_READ(image);
    if (chunk == nullptr) return 1;
    image->CHUNKS[image->CHUNK_COUNT++] = chunk;
  }
  if (image->CHUNK_COUNT < 3) return 1;
  return TYPE_EQUALS(image->CHUNKS[image->CHUNK_COUNT - 1], TYPE_IEND) ? 0 : 1;
}

// Index of the first chunk of the given type at or after start, or -1.
int32_t CHUNK_FIND(const PNG_IMAGE* image, const CHUNK_TYPE& type, uint32_t start) {
  for (uint32_t i = start; i < image->CHUNK_COUNT; ++i) {
    if (TYPE_EQUALS(image->CHUNKS[i], type)) return int32_t(i);
  }
  return -1;
}

BOOLEAN IHDR_IS_VALID(const PNG_IMAGE* image) {
  if (image->WIDTH == 0 || image->HEIGHT == 0) return KASTREL::FALSE;
  const uint8_t depth = image->BIT_DEPTH;
  bool depth_ok = false;
  switch (image->COLOR_TYPE) {
    case 0:
      depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
      break;
    case 3:
      depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8;
      break;
    case 2:
    case 4:
    case 6:
      depth_ok = depth == 8 || depth == 16;
      break;
    default:
      break;
  }
  const bool methods_ok = image->COMPRESSION == 0 && image->FILTER == 0 &&
                          (image->INTERLACE == 0 || image->INTERLACE == 1);
  return depth_ok && methods_ok ? KASTREL::TRUE : KASTREL::FALSE;
}

int32_t IHDR_PREPARE(PNG_IMAGE* image) {
  if (CHUNK_FIND(image, TYPE_IHDR, 0) != 0) return 1;
  const PNG_CHUNK* ihdr = image->CHUNKS[0];
  if (ihdr->LENGTH != 13) return 1;
  const uint8_t* data = ihdr->DATA;
  image->WIDTH = READ_BE32(data);
  image->HEIGHT = READ_BE32(data + 4);
  image->BIT_DEPTH = data[8];
  image->COLOR_TYPE = data[9];
  image->COMPRESSION = data[10];
  image->FILTER = data[11];
  image->INTERLACE = data[12];
  return IHDR_IS_VALID(image) ? 0 : 1;
}

int32_t PLTE_PREPARE(PNG_IMAGE* image) {
  const int32_t index = CHUNK_FIND(image, TYPE_PLTE, 0);
  if (index < 0) return 1;
  const PNG_CHUNK* plte = image->CHUNKS[index];
  image->PALETTE_COUNT = plte->LENGTH / 3;  // a trailing partial entry is ignored
  if (image->PALETTE_COUNT > 256) return 1;
  std::memcpy(image->PALETTE, plte->DATA, size_t(image->PALETTE_COUNT) * 3);
  return 0;
}

int32_t TRNS_PREPARE(PNG_IMAGE* image) {
  const int32_t index = CHUNK_FIND(image, TYPE_TRNS, 0);
  if (index < 0) return 0;
  image->HAS_TRNS = KASTREL::TRUE;
  const PNG_CHUNK* trns = image->CHUNKS[index];
  switch (image->COLOR_TYPE) {
    case 0:
      if (trns->LENGTH != 2) return 1;
      image->TRNS_GREY = READ_BE16(trns->DATA);
      return 0;
    case 2:
      if (trns->LENGTH != 6) return 1;
      image->TRNS_RED = READ_BE16(trns->DATA);
      image->TRNS_GREEN = READ_BE16(trns->DATA + 2);
      image->TRNS_BLUE = READ_BE16(trns->DATA + 4);
      return 0;
    case 3:
      if (trns->LENGTH > 256) return 1;
      for (uint32_t i = 0; i < 256; ++i)
        image->TRNS_ALPHA[i] = i < trns->LENGTH ? trns->DATA[i] : 255;
      return 0;
    default:  // images with an alpha channel take no tRNS
      return 1;
  }
}

// ---- Image data ------------------------------------------------------------------------------

// Bytes in one scanline of the pass, filter-type byte included; 0 for a pass without columns.
// May exceed 32 bits: callers check.
uint64_t CALC_SCAN_SIZE(const PNG_IMAGE* image, int pass) {
  uint64_t columns = image->WIDTH;
  if (image->INTERLACE == 1) {
    const uint32_t p = uint32_t(pass - 1);
    if (image->WIDTH <= TB_XOFF[p]) return 0;
    columns = (uint64_t(image->WIDTH) + TB_WFAC[p] - TB_XOFF[p] - 1) / TB_WFAC[p];
  }
  uint64_t bytes = (columns * image->BIT_DEPTH + 7) / 8;
  switch (image->COLOR_TYPE) {
    case 2:
      bytes *= 3;
      break;
    case 4:
      bytes *= 2;
      break;
    case 6:
      bytes *= 4;
      break;
    default:
      break;
  }
  return bytes + 1;
}

// Rows of an Adam7 pass; 0 when the image has no column or no row for it.
uint64_t PASS_ROWS(const PNG_IMAGE* image, int pass) {
  const uint32_t p = uint32_t(pass - 1);
  if (image->WIDTH <= TB_XOFF[p]) return 0;
  return (uint64_t(image->HEIGHT) + TB_HFAC[p] - TB_YOFF[p] - 1) / TB_HFAC[p];
}

// The exact number of bytes the inflated data must have; TOO_BIG when it does not fit in 32 bits.
uint64_t IDAT_CALC(const PNG_IMAGE* image) {
  if (image->INTERLACE != 1) return SIZE_MUL(CALC_SCAN_SIZE(image, 1), image->HEIGHT);
  uint64_t total = 0;
  for (int pass = 1; pass <= 7; ++pass) {
    const uint64_t rows = PASS_ROWS(image, pass);
    if (rows == 0) continue;
    total += SIZE_MUL(rows, CALC_SCAN_SIZE(image, pass));
    if (total > SIZE_LIMIT) return TOO_BIG;
  }
  return total;
}

// Gathers the data of every IDAT chunk, in file order, wherever the chunks stand.
int32_t IDAT_COMPILE(PNG_IMAGE* image) {
  image->IMAGE_DATA = nullptr;
  image->IMAGE_DATA_SIZE = 0;
  uint64_t total = 0;  // at most the file size, which fits in 31 bits
  for (int32_t i = CHUNK_FIND(image, TYPE_IDAT, 0); i >= 0;
       i = CHUNK_FIND(image, TYPE_IDAT, uint32_t(i) + 1)) {
    total += image->CHUNKS[i]->LENGTH;
  }
  if (total == 0) return 1;
  image->IMAGE_DATA = static_cast<uint8_t*>(std::calloc(size_t(total), 1));
  if (image->IMAGE_DATA == nullptr) return 1;
  uint8_t* at = image->IMAGE_DATA;
  for (int32_t i = CHUNK_FIND(image, TYPE_IDAT, 0); i >= 0;
       i = CHUNK_FIND(image, TYPE_IDAT, uint32_t(i) + 1)) {
    const PNG_CHUNK* idat = image->CHUNKS[i];
    if (idat->LENGTH > 0) std::memcpy(at, idat->DATA, idat->LENGTH);
    at += idat->LENGTH;
  }
  image->IMAGE_DATA_SIZE = uint32_t(total);
  return 0;
}

// Inflates the gathered data in one call into a buffer 20 % plus 12 bytes larger than the size
// the header demands; any other produced length is an error.
int32_t IDAT_UNCOMPRESS(PNG_IMAGE* image) {
  const uint64_t expected = IDAT_CALC(image);
  uint8_t* inflated = nullptr;
  uLongf produced = 0;
  int32_t status = 1;
  if (expected <= SIZE_LIMIT &&
      expected <= uint64_t(image->IMAGE_DATA_SIZE) * MAX_INFLATE_RATIO + MAX_INFLATE_RATIO) {
    const uint64_t capacity = uint64_t(std::llrint(double(expected) * 1.2 + 12.0));
    if (capacity <= SIZE_LIMIT) inflated = static_cast<uint8_t*>(std::calloc(capacity, 1));
    if (inflated != nullptr) {
      produced = uLongf(capacity);
      const int result = uncompress(inflated, &produced, image->IMAGE_DATA, image->IMAGE_DATA_SIZE);
      if (result == Z_OK && produced == expected) status = 0;
    }
  }
  std::free(image->IMAGE_DATA);
  image->IMAGE_DATA = inflated;
  image->IMAGE_DATA_SIZE = status == 0 ? uint32_t(produced) : 0;
  return status;
}

int32_t IDAT_PREPARE(PNG_IMAGE* image) {
  if (IDAT_COMPILE(image) != 0) return 1;
  return IDAT_UNCOMPRESS(image) != 0 ? 1 : 0;
}

// Bytes per complete pixel, at least 1: the distance the filters look back.
void PNG_IMAGE_BPP_CALC(PNG_IMAGE* image) {
  uint32_t bpp = image->BIT_DEPTH < 8 ? 1 : image->BIT_DEPTH / 8u;
  switch (image->COLOR_TYPE) {
    case 2:
      bpp *= 3;
      break;
    case 4:
      bpp *= 2;
      break;
    case 6:
      bpp *= 4;
      break;
    default:
      break;
  }
  image->BPP = bpp;
}

void PNG_IMAGE_PREPARE(PNG_IMAGE* image) {
  image->POSITION = 0;
  if (PNG_SIGNATURE_CHECK(image->BUFFER) != 0) return;
  image->POSITION += 8;
  if (CHUNKS_PREPARE(image) != 0) return;
  if (IHDR_PREPARE(image) != 0) return;
  if (IDAT_PREPARE(image) != 0) return;
  PNG_IMAGE_BPP_CALC(image);
  if (image->COLOR_TYPE == 3 && PLTE_PREPARE(image) != 0) return;
  if (TRNS_PREPARE(image) != 0) return;
  image->READY = KASTREL::TRUE;
}

// ---- Pixels ----------------------------------------------------------------------------------

// Reverses filter method 0 for the byte in place; the bytes it looks back at are already
// reconstructed. 1 for an unknown filter type, leaving the byte as it was.
int32_t FILTER_BYTE(uint8_t* byte, uint8_t filter, uint64_t k, uint64_t r, uint64_t scan_size,
                    uint32_t bpp) {
  const int left = k >= bpp ? byte[-int64_t(bpp)] : 0;
  const int up = r > 0 ? byte[-int64_t(scan_size)] : 0;
  const int up_left = r > 0 && k >= bpp ? byte[-int64_t(scan_size + bpp)] : 0;
  int predictor = 0;
  switch (filter) {
    case 0:
      break;
    case 1:
      predictor = left;
      break;
    case 2:
      predictor = up;
      break;
    case 3:
      predictor = (left + up) / 2;
      break;
    case 4: {
      const int p = left + up - up_left;
      const int pa = std::abs(p - left);
      const int pb = std::abs(p - up);
      const int pc = std::abs(p - up_left);
      predictor = pa <= pb && pa <= pc ? left : pb <= pc ? up : up_left;
      break;
    }
    default:
      return 1;
  }
  *byte = uint8_t(*byte + predictor);
  return 0;
}

using PLOT = void (*)(uint8_t* output, uint64_t x, uint64_t y, uint32_t colour, uint32_t width,
                      uint32_t height);

void PLOT_OLD(uint8_t* output, uint64_t x, uint64_t y, uint32_t colour, uint32_t width, uint32_t) {
  WRITE_LE32(output + 4 + (y * width + x) * 4, colour);
}

void PLOT_NEW(uint8_t* output, uint64_t x, uint64_t y, uint32_t colour, uint32_t, uint32_t) {
  const uint32_t pitch = READ_LE32(output + 16);
  WRITE_LE32(output + 32 + y * pitch + x * 4, colour);
}

void PLOT_OPENGL(uint8_t* output, uint64_t x, uint64_t y, uint32_t colour, uint32_t width,
                 uint32_t height) {
  // Red and blue change places, so the bytes in memory read red, green, blue, alpha.
  const uint32_t rgba = (colour & 0xFF00FF00u) | (colour >> 16 & 0xFFu) | (colour & 0xFFu) << 16;
  WRITE_LE32(output + ((height - 1 - y) * width + x) * 4, rgba);
}

uint32_t COLOUR(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
  return alpha << 24 | red << 16 | green << 8 | blue;
}

// Turns the reconstructed bytes of one pixel (or, below 8 bits, of one byte of pixels) into
// colour values, plots them and moves x on by the column step for each.
void PNG_IMAGE_DRAW_PIXELS(const PNG_IMAGE* image, uint8_t* output, const uint8_t* last, PLOT plot,
                           uint64_t* x, uint64_t y, uint32_t step) {
  const uint8_t* p = last - (image->BPP - 1);
  const uint32_t width = image->WIDTH;
  const uint32_t height = image->HEIGHT;
  const bool wide = image->BIT_DEPTH == 16;
  const bool has_trns = image->HAS_TRNS != 0;
  uint32_t colour = 0;
  switch (image->COLOR_TYPE) {
    case 0:
      if (wide) {
        const bool clear = has_trns && READ_BE16(p) == image->TRNS_GREY;
        colour = COLOUR(clear ? 0 : 255, p[0], p[0], p[0]);
        break;
      }
      [[fallthrough]];
    case 3: {
      // Packed samples, the leftmost pixel in the most significant bits; slots past the end
      // of the row are skipped.
      const uint32_t depth = image->BIT_DEPTH;
      const uint32_t mask = (1u << depth) - 1;
      const uint32_t slots = 8 / depth;
      for (uint32_t i = 0; i < slots; ++i, *x += step) {
        if (*x >= width) continue;
        const uint32_t sample = uint32_t(*p >> ((slots - 1 - i) * depth)) & mask;
        if (image->COLOR_TYPE == 0) {
          const uint32_t grey = sample * (255 / mask);
          const bool clear = has_trns && sample == image->TRNS_GREY;
          plot(output, *x, y, COLOUR(clear ? 0 : 255, grey, grey, grey), width, height);
        } else {
          const uint8_t* entry = image->PALETTE[sample];
          const uint32_t alpha = has_trns ? image->TRNS_ALPHA[sample] : 255;
          plot(output, *x, y, COLOUR(alpha, entry[0], entry[1], entry[2]), width, height);
        }
      }
      return;
    }
    case 2:
      if (wide) {
        const bool clear = has_trns && READ_BE16(p) == image->TRNS_RED &&
                           READ_BE16(p + 2) == image->TRNS_GREEN &&
                           READ_BE16(p + 4) == image->TRNS_BLUE;
        colour = COLOUR(clear ? 0 : 255, p[0], p[2], p[4]);
      } else {
        const bool clear = has_trns && p[0] == image->TRNS_RED && p[1] == image->TRNS_GREEN &&
                           p[2] == image->TRNS_BLUE;
        colour = COLOUR(clear ? 0 : 255, p[0], p[1], p[2]);
      }
      break;
    case 4:
      colour = wide ? COLOUR(p[2], p[0], p[0], p[0]) : COLOUR(p[1], p[0], p[0], p[0]);
      break;
    case 6:
      colour = wide ? COLOUR(p[6], p[0], p[2], p[4]) : COLOUR(p[3], p[0], p[1], p[2]);
      break;
    default:
      break;
  }
  plot(output, *x, y, colour, width, height);
  *x += step;
}

// Builds the output of the given form from the inflated scanlines; null if the record is not
// ready, the target is unknown, a size does not fit, memory runs out or a filter type is bad.
void* PNG_IMAGE_CONVERT(PNG_IMAGE* image, uint32_t target) {
  if (!image->READY) return nullptr;
  const uint32_t width = image->WIDTH;
  const uint32_t height = image->HEIGHT;
  uint64_t output_size = TOO_BIG;
  uint64_t pitch = 0;
  PLOT plot = nullptr;
  switch (target) {
    case 1:
      // The compact header holds 13 bits of width and 16 of height.
      if (width > 8191 || height > 65535) return nullptr;
      output_size = uint64_t(width) * height * 4 + 4;
      plot = PLOT_OLD;
      break;
    case 2:
      pitch = (uint64_t(width) * 4 + 31) / 32 * 32;
      output_size = SIZE_MUL(pitch, height) + 32;
      plot = PLOT_NEW;
      break;
    case 3:
      output_size = SIZE_MUL(SIZE_MUL(width, height), 4);
      plot = PLOT_OPENGL;
      break;
    default:
      return nullptr;
  }
  if (output_size > SIZE_LIMIT) return nullptr;

  auto* output = static_cast<uint8_t*>(std::calloc(size_t(output_size), 1));
  if (output == nullptr) return nullptr;
  if (target == 1) {
    WRITE_LE32(output, (4u | width << 3) | height << 16);
  } else if (target == 2) {
    WRITE_LE32(output, 7);
    WRITE_LE32(output + 4, 4);
    WRITE_LE32(output + 8, width);
    WRITE_LE32(output + 12, height);
    WRITE_LE32(output + 16, uint32_t(pitch));
  }

  // Filters are reversed in place in a copy; IMAGE_DATA stays as inflated.
  auto* work = static_cast<uint8_t*>(std::malloc(image->IMAGE_DATA_SIZE));
  if (work == nullptr) {
    std::free(output);
    return nullptr;
  }
  std::memcpy(work, image->IMAGE_DATA, image->IMAGE_DATA_SIZE);

  const bool interlaced = image->INTERLACE == 1;
  const uint32_t bpp = image->BPP;
  uint64_t cursor = 0;  // runs through the rows of every pass without gaps
  for (int pass = 1; pass <= (interlaced ? 7 : 1); ++pass) {
    const uint32_t p = uint32_t(pass - 1);
    const uint64_t scan_size = CALC_SCAN_SIZE(image, pass);
    const uint32_t column_step = interlaced ? TB_WFAC[p] : 1;
    const uint32_t row_step = interlaced ? TB_HFAC[p] : 1;
    const uint32_t first_column = interlaced ? TB_XOFF[p] : 0;
    const uint32_t first_row = interlaced ? TB_YOFF[p] : 0;
    const uint64_t rows = interlaced ? PASS_ROWS(image, pass) : height;
    for (uint64_t r = 0; r < rows; ++r) {
      const uint64_t y = first_row + r * row_step;
      uint64_t x = first_column;
      const uint8_t filter = work[cursor++];
      for (uint64_t k = 0; k + 1 < scan_size; ++k, ++cursor) {
        uint8_t* byte = work + cursor;
        if (FILTER_BYTE(byte, filter, k, r, scan_size, bpp) != 0) {
          std::free(work);
          std::free(output);
          return nullptr;
        }
        if ((k + 1) % bpp == 0)
          PNG_IMAGE_DRAW_PIXELS(image, output, byte, plot, &x, y, column_step);
      }
    }
  }
  std::free(work);
  return output;
}

}  // namespace

void* png_load(const std::string& filename, int32_t target) {
  int32_t size = 0;
  uint8_t* buffer = FILE_TO_BUFFER(filename.c_str(), &size);
  if (buffer == nullptr) return nullptr;
  void* image = png_load_mem(buffer, size, target);
  std::free(buffer);
  return image;
}

void* png_load_mem(const void* buffer, int32_t size, int32_t target) {
  // Shorter blocks cannot be a PNG file and are not read at all.
  if (buffer == nullptr || size < 49) return nullptr;
  PNG_IMAGE image;
  PNG_IMAGE_INIT(&image, static_cast<const uint8_t*>(buffer), uint32_t(size));
  PNG_IMAGE_PREPARE(&image);
  void* output = PNG_IMAGE_CONVERT(&image, uint32_t(target));
  PNG_IMAGE_DEINIT(&image);
  return output;
}
