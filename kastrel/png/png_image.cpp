#include "kastrel/png/png_image.h"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kastrel/base/detail/platform.h"
#include "kastrel/png/detail/png_decoder.h"

namespace KASTREL::PNG_DECODER {

namespace {

// ---- File and record -------------------------------------------------------------------------

// The whole file in a new block. Opened without blocking (a FIFO or device named by mistake
// must not stall the game), read only when it is a regular file, and read past the signature
// only when the signature is a PNG's, so that a huge file of another kind costs one small read.
uint8_t* FILE_TO_BUFFER(const char* path, int32_t* size) {
  *size = 0;
  if (path == nullptr || path[0] == '\0') {
    SETLASTERROR("png_load: no file name given");
    return nullptr;
  }
  KASTREL::PLATFORM::READFILE file;
  if (!file.OPEN(path)) {
    SETLASTERROR("%s: cannot open: %s", path, file.REASON().c_str());
    return nullptr;
  }
  uint8_t* buffer = nullptr;
  uint8_t signature[sizeof PNG_SIG];
  int64_t got = 0;
  if (file.SIZE() == 0) {
    SETLASTERROR("%s: cannot read: the file is empty", path);
  } else if (file.SIZE() > INT32_MAX) {
    // The size travels on as an int32.
    SETLASTERROR("%s: cannot read: larger than 2 GiB", path);
  } else if ((got = file.READ(signature, sizeof signature)) < 0) {
    SETLASTERROR("%s: cannot read: %s", path, file.REASON().c_str());
  } else if (size_t(got) < sizeof signature ||
             std::memcmp(signature, PNG_SIG, sizeof PNG_SIG) != 0) {
    SETLASTERROR("%s: not a PNG file (no signature)", path);
  } else {
    const size_t length = size_t(file.SIZE());
    buffer = static_cast<uint8_t*>(std::malloc(length));
    if (buffer == nullptr) {
      SETLASTERROR("%s: out of memory for its %llu bytes", path,
                   static_cast<unsigned long long>(length));
    } else {
      std::memcpy(buffer, signature, sizeof signature);
      got = file.READ(buffer + sizeof signature, length - sizeof signature);
      if (got == int64_t(length - sizeof signature)) {
        *size = int32_t(length);
      } else {
        SETLASTERROR("%s: cannot read: %s", path,
                     got < 0 ? file.REASON().c_str() : "the file shrank while read");
        std::free(buffer);
        buffer = nullptr;
      }
    }
  }
  return buffer;
}

void PNG_IMAGE_INIT(PNG_IMAGE* image, const uint8_t* buffer, uint32_t size) {
  *image = PNG_IMAGE{};
  image->BUFFER = buffer;
  image->BUFFER_SIZE = size;
  image->INITIALISED = KASTREL::TRUE;
}

void PNG_IMAGE_DEINIT(PNG_IMAGE* image) {
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

// Reads the chunk at POSITION into the record and checks its CRC; 1 if it is cut short or
// corrupt.
int32_t CHUNK_READ(PNG_IMAGE* image, PNG_CHUNK* chunk) {
  const uint32_t remaining = image->BUFFER_SIZE - image->POSITION;
  if (remaining < 8) {
    SETLASTERROR("damaged PNG file: the chunk at byte %u is cut short", image->POSITION);
    return 1;
  }
  const uint8_t* start = image->BUFFER + image->POSITION;
  chunk->LENGTH = READ_BE32(start);
  std::memcpy(chunk->TYPE, start + 4, 4);
  chunk->DATA = start + 8;
  // In 64 bits, so that a huge length cannot wrap round and pass.
  if (uint64_t(chunk->LENGTH) + 12 > remaining) {
    SETLASTERROR("damaged PNG file: the chunk at byte %u is cut short", image->POSITION);
    return 1;
  }
  chunk->CRC = READ_BE32(chunk->DATA + chunk->LENGTH);
  uint32_t crc = libdeflate_crc32(0, chunk->TYPE, 4);
  crc = libdeflate_crc32(crc, chunk->DATA, chunk->LENGTH);
  if (crc != chunk->CRC) {
    SETLASTERROR("damaged PNG file: the chunk at byte %u fails its CRC", image->POSITION);
    return 1;
  }
  image->POSITION += chunk->LENGTH + 12;
  return 0;
}

// 0 when the chunks fill the buffer exactly, number at least 3, and the last is an IEND.
int32_t CHUNKS_PREPARE(PNG_IMAGE* image) {
  if (!image->INITIALISED) return 1;
  while (image->POSITION < image->BUFFER_SIZE) {
    // The list doubles when full; it keeps its entries if that fails.
    if (image->CHUNK_COUNT == image->CHUNK_CAPACITY) {
      const uint32_t capacity = image->CHUNK_CAPACITY == 0 ? 8 : image->CHUNK_CAPACITY * 2;
      auto* grown = static_cast<PNG_CHUNK*>(
          std::realloc(image->CHUNKS, size_t(capacity) * sizeof(PNG_CHUNK)));
      if (grown == nullptr) {
        SETLASTERROR("out of memory listing PNG chunks");
        return 1;
      }
      image->CHUNKS = grown;
      image->CHUNK_CAPACITY = capacity;
    }
    if (CHUNK_READ(image, &image->CHUNKS[image->CHUNK_COUNT]) != 0) return 1;
    ++image->CHUNK_COUNT;
  }
  if (image->CHUNK_COUNT >= 3 && TYPE_EQUALS(&image->CHUNKS[image->CHUNK_COUNT - 1], TYPE_IEND))
    return 0;
  SETLASTERROR("damaged PNG file: too few chunks, or no IEND chunk at the end");
  return 1;
}

// Index of the first chunk of the given type at or after start, or -1.
int32_t CHUNK_FIND(const PNG_IMAGE* image, const CHUNK_TYPE& type, uint32_t start) {
  for (uint32_t i = start; i < image->CHUNK_COUNT; ++i) {
    if (TYPE_EQUALS(&image->CHUNKS[i], type)) return int32_t(i);
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
  const PNG_CHUNK* ihdr = &image->CHUNKS[0];
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
  const PNG_CHUNK* plte = &image->CHUNKS[index];
  image->PALETTE_COUNT = plte->LENGTH / 3;  // a trailing partial entry is ignored
  if (image->PALETTE_COUNT > 256) return 1;
  std::memcpy(image->PALETTE, plte->DATA, size_t(image->PALETTE_COUNT) * 3);
  return 0;
}

int32_t TRNS_PREPARE(PNG_IMAGE* image) {
  const int32_t index = CHUNK_FIND(image, TYPE_TRNS, 0);
  if (index < 0) return 0;
  image->HAS_TRNS = KASTREL::TRUE;
  const PNG_CHUNK* trns = &image->CHUNKS[index];
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

}  // namespace

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

namespace {

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
  image->COMPRESSED = nullptr;
  image->COMPRESSED_SIZE = 0;
  uint64_t total = 0;  // at most the file size, which fits in 31 bits
  uint32_t non_empty = 0;
  const PNG_CHUNK* last = nullptr;
  for (int32_t i = CHUNK_FIND(image, TYPE_IDAT, 0); i >= 0;
       i = CHUNK_FIND(image, TYPE_IDAT, uint32_t(i) + 1)) {
    total += image->CHUNKS[i].LENGTH;
    if (image->CHUNKS[i].LENGTH > 0) {
      ++non_empty;
      last = &image->CHUNKS[i];
    }
  }
  if (total == 0) return 1;
  if (non_empty == 1) {
    // One chunk holds the whole stream: inflate it where it lies.
    image->COMPRESSED = last->DATA;
    image->COMPRESSED_SIZE = last->LENGTH;
    return 0;
  }
  image->IMAGE_DATA = static_cast<uint8_t*>(std::malloc(size_t(total)));  // all written below
  if (image->IMAGE_DATA == nullptr) return OUT_OF_MEMORY;
  uint8_t* at = image->IMAGE_DATA;
  for (int32_t i = CHUNK_FIND(image, TYPE_IDAT, 0); i >= 0;
       i = CHUNK_FIND(image, TYPE_IDAT, uint32_t(i) + 1)) {
    const PNG_CHUNK* idat = &image->CHUNKS[i];
    if (idat->LENGTH > 0) std::memcpy(at, idat->DATA, idat->LENGTH);
    at += idat->LENGTH;
  }
  image->IMAGE_DATA_SIZE = uint32_t(total);
  image->COMPRESSED = image->IMAGE_DATA;
  image->COMPRESSED_SIZE = image->IMAGE_DATA_SIZE;
  return 0;
}

// Where the scanlines start when the picture is decoded in the block that becomes its output,
// or 0: one fresh block instead of two saves page faults. Rows that run top to bottom overlap:
// output row y must end at or before scanline y begins, so that no row is overwritten before it
// has been converted and has served as the row above. Rows in another order (Adam7, or the
// bottom-up form 3) have the scanlines after the output. The block is cut to the output's size
// afterwards.
uint64_t IN_PLACE_OFFSET(const PNG_IMAGE* image, uint64_t expected) {
  const uint32_t target = image->TARGET;
  const uint64_t width = image->WIDTH, height = image->HEIGHT;
  if (target < 1 || target > 3 || (target == 1 && (width > 8191 || height > 65535))) return 0;
  const uint64_t header = target == 1 ? 4 : target == 2 ? 32 : 0;
  const uint64_t pitch = target == 2 ? (width * 4 + 31) / 32 * 32 : width * 4;
  const uint64_t scan = CALC_SCAN_SIZE(image, 1);
  uint64_t offset = header + SIZE_MUL(pitch, height);
  if (image->INTERLACE == 0 && target != 3)
    offset = header + pitch + (pitch > scan ? SIZE_MUL(height - 1, pitch - scan) : 0);
  return offset + expected + 16 <= SIZE_LIMIT ? offset : 0;
}

// Inflates the gathered data in one call into a buffer 16 bytes larger than the size the header
// demands; any other produced length is an error.
int32_t IDAT_UNCOMPRESS(PNG_IMAGE* image) {
  const uint64_t expected = IDAT_CALC(image);
  uint8_t* block = nullptr;
  uint8_t* inflated = nullptr;
  uint64_t offset = 0;
  size_t produced = 0;
  int32_t status = 1;
  if (expected <= SIZE_LIMIT &&
      expected <= uint64_t(image->COMPRESSED_SIZE) * MAX_INFLATE_RATIO + MAX_INFLATE_RATIO) {
    const uint64_t capacity = expected + 16;
    // Not zero-filled: a success writes every expected byte, and the 16 bytes of slack after
    // them are zeroed for the scanline loops that read a little past a row. A stream longer
    // than the capacity fails as one of the wrong length.
    // Decoding in place saves a fresh block of the inflated size, and its page faults.
    offset = IN_PLACE_OFFSET(image, expected);
    if (offset != 0) block = static_cast<uint8_t*>(std::malloc(size_t(offset + capacity)));
    if (block == nullptr) offset = 0;
    if (block == nullptr && capacity <= SIZE_LIMIT)
      block = static_cast<uint8_t*>(std::malloc(size_t(capacity)));
    inflated = block == nullptr ? nullptr : block + offset;
    if (block == nullptr) status = OUT_OF_MEMORY;
    // One decompressor per call keeps the decoder free of shared state; it costs one small
    // allocation. Bytes after the end of the stream are ignored, as they always were. The one
    // stream this accepts that zlib refused: a Huffman code of a single one-bit codeword whose
    // unused codeword is then read (hand-made only); it decodes as the used one.
    libdeflate_decompressor* inflater =
        inflated != nullptr ? libdeflate_alloc_decompressor() : nullptr;
    if (inflated != nullptr && inflater == nullptr) status = OUT_OF_MEMORY;
    if (inflater != nullptr) {
      size_t consumed = 0;
      const libdeflate_result result =
          libdeflate_zlib_decompress_ex(inflater, image->COMPRESSED, image->COMPRESSED_SIZE,
                                        inflated, size_t(capacity), &consumed, &produced);
      libdeflate_free_decompressor(inflater);
      if (result == LIBDEFLATE_SUCCESS && produced == expected) {
        status = 0;
        std::memset(inflated + expected, 0, 16);
      }
    }
  }
  std::free(image->IMAGE_DATA);
  image->IMAGE_DATA = block;
  image->DATA_OFFSET = offset;
  image->IMAGE_DATA_SIZE = status == 0 ? uint32_t(produced) : 0;
  image->COMPRESSED = nullptr;
  image->COMPRESSED_SIZE = 0;
  return status;
}

// 0, 1 for data that is missing or damaged, or OUT_OF_MEMORY.
int32_t IDAT_PREPARE(PNG_IMAGE* image) {
  if (const int32_t status = IDAT_COMPILE(image); status != 0) return status;
  return IDAT_UNCOMPRESS(image);
}

// The bytes decoding takes at its peak: the inflated scanlines and the output, which share one
// block when decoded in place.
uint64_t WORKING_BYTES(const PNG_IMAGE* image) {
  const uint64_t expected = IDAT_CALC(image);
  if (expected > SIZE_LIMIT) return TOO_BIG;
  const uint64_t offset = IN_PLACE_OFFSET(image, expected);
  const uint64_t output = uint64_t(image->WIDTH) * image->HEIGHT * 4 + 32;
  return (offset != 0 ? offset : output) + expected + 16;
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

// Leaves READY false, with the reason in LASTERROR, at the first step that fails.
void PNG_IMAGE_PREPARE(PNG_IMAGE* image) {
  image->POSITION = 0;
  if (PNG_SIGNATURE_CHECK(image->BUFFER) != 0) return SETLASTERROR("not a PNG file (no signature)");
  image->POSITION += 8;
  if (CHUNKS_PREPARE(image) != 0) return;  // it said why
  if (IHDR_PREPARE(image) != 0) {
    return SETLASTERROR("bad or unsupported PNG header: %u x %u, colour type %u, bit depth %u",
                        image->WIDTH, image->HEIGHT, image->COLOR_TYPE, image->BIT_DEPTH);
  }
  // Checked before anything is inflated, so that a small file cannot demand a huge picture.
  if (image->MAX_PIXELS != 0 && uint64_t(image->WIDTH) * image->HEIGHT > image->MAX_PIXELS) {
    return SETLASTERROR("PNG picture of %u x %u pixels is over the cap of %llu pixels",
                        image->WIDTH, image->HEIGHT,
                        static_cast<unsigned long long>(image->MAX_PIXELS));
  }
  // Deep samples and Adam7 need more memory than the pixels alone: that is bounded too.
  const uint64_t working = WORKING_BYTES(image);
  if (image->MAX_PIXELS != 0 &&
      (working + WORKING_BYTES_PER_PIXEL - 1) / WORKING_BYTES_PER_PIXEL > image->MAX_PIXELS) {
    return SETLASTERROR(
        "PNG picture of %u x %u pixels at %u bits needs %llu bytes to decode, over the %u bytes "
        "a pixel that the cap of %llu pixels allows",
        image->WIDTH, image->HEIGHT, image->BIT_DEPTH, static_cast<unsigned long long>(working),
        WORKING_BYTES_PER_PIXEL, static_cast<unsigned long long>(image->MAX_PIXELS));
  }
  if (const int32_t status = IDAT_PREPARE(image); status != 0) {
    if (status == OUT_OF_MEMORY) {
      return SETLASTERROR("out of memory decoding a PNG picture of %u x %u pixels (%llu bytes)",
                          image->WIDTH, image->HEIGHT, static_cast<unsigned long long>(working));
    }
    return SETLASTERROR("PNG image data is missing, damaged or not the size of %u x %u pixels",
                        image->WIDTH, image->HEIGHT);
  }
  PNG_IMAGE_BPP_CALC(image);
  if (image->COLOR_TYPE == 3 && PLTE_PREPARE(image) != 0) {
    return SETLASTERROR("PNG palette (PLTE) missing or too long");
  }
  if (TRNS_PREPARE(image) != 0) return SETLASTERROR("bad PNG transparency (tRNS) chunk");
  image->READY = KASTREL::TRUE;
}

}  // namespace

}  // namespace KASTREL::PNG_DECODER

using namespace KASTREL::PNG_DECODER;

void* png_load(const std::string& filename, int32_t target) {
  return png_load_limited(filename, target, 0);
}

void* png_load_mem(const void* buffer, int32_t size, int32_t target) {
  return png_load_mem_limited(buffer, size, target, 0);
}

void* png_load_limited(const std::string& filename, int32_t target, uint64_t max_pixels) {
  int32_t size = 0;
  uint8_t* buffer = FILE_TO_BUFFER(filename.c_str(), &size);
  if (buffer == nullptr) return nullptr;
  void* image = png_load_mem_limited(buffer, size, target, max_pixels);
  std::free(buffer);
  // The decoder's reason, prefixed with the file's name.
  if (image == nullptr)
    SETLASTERROR("%s: %s", filename.c_str(), std::string(KASTREL::LASTERROR()).c_str());
  return image;
}

void* png_load_mem_limited(const void* buffer, int32_t size, int32_t target, uint64_t max_pixels) {
  // Shorter blocks cannot be a PNG file and are not read at all.
  if (buffer == nullptr || size < 49) {
    SETLASTERROR("not a PNG file: %d bytes are too few", buffer == nullptr ? 0 : size);
    return nullptr;
  }
  PNG_IMAGE image;
  PNG_IMAGE_INIT(&image, static_cast<const uint8_t*>(buffer), uint32_t(size));
  image.MAX_PIXELS = max_pixels;
  image.TARGET = uint32_t(target);
  PNG_IMAGE_PREPARE(&image);
  void* output = PNG_IMAGE_CONVERT(&image, uint32_t(target));
  PNG_IMAGE_DEINIT(&image);
  return output;
}
