#include "kastrel/png/png_image.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/boolean.h"

namespace {

using KASTREL::BOOLEAN;
using KASTREL::SETLASTERROR;

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
  uint8_t* IMAGE_DATA;  // gathered IDAT bytes, then the block of the inflated scanlines
  uint32_t IMAGE_DATA_SIZE;
  uint32_t TARGET;            // the output form asked for
  uint64_t DATA_OFFSET;       // where the scanlines start in IMAGE_DATA; not 0: it is the output
  const uint8_t* COMPRESSED;  // the zlib stream: IMAGE_DATA, or a lone IDAT's data in BUFFER
  uint32_t COMPRESSED_SIZE;
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
  PNG_CHUNK* CHUNKS;  // the chunk records, in file order
  uint32_t CHUNK_COUNT;
  uint32_t CHUNK_CAPACITY;
  BOOLEAN INITIALISED;
  BOOLEAN READY;
  uint64_t MAX_PIXELS;  // 0: no cap
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

// ---- File and record -------------------------------------------------------------------------

// Reads size bytes at the file's position: size on success, less at an early end, -1 (errno
// set) on an error.
ssize_t READ_ALL(int fd, uint8_t* to, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, to + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += size_t(got);
  }
  return ssize_t(done);
}

// The whole file in a new block. Opened without blocking (a FIFO or device named by mistake
// must not stall the game), read only when it is a regular file, and read past the signature
// only when the signature is a PNG's, so that a huge file of another kind costs one small read.
uint8_t* FILE_TO_BUFFER(const char* path, int32_t* size) {
  *size = 0;
  if (path == nullptr || path[0] == '\0') {
    SETLASTERROR("png_load: no file name given");
    return nullptr;
  }
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    SETLASTERROR("%s: cannot open: %s", path, std::strerror(errno));
    return nullptr;
  }
  uint8_t* buffer = nullptr;
  struct stat info {};
  uint8_t signature[sizeof PNG_SIG];
  ssize_t got = 0;
  if (::fstat(fd, &info) != 0) {
    SETLASTERROR("%s: cannot read: %s", path, std::strerror(errno));
  } else if (!S_ISREG(info.st_mode)) {
    SETLASTERROR("%s: cannot read: not a regular file", path);
  } else if (info.st_size == 0) {
    SETLASTERROR("%s: cannot read: the file is empty", path);
  } else if (info.st_size > INT32_MAX) {
    // The size travels on as an int32.
    SETLASTERROR("%s: cannot read: larger than 2 GiB", path);
  } else if ((got = READ_ALL(fd, signature, sizeof signature)) < 0) {
    SETLASTERROR("%s: cannot read: %s", path, std::strerror(errno));
  } else if (size_t(got) < sizeof signature ||
             std::memcmp(signature, PNG_SIG, sizeof PNG_SIG) != 0) {
    SETLASTERROR("%s: not a PNG file (no signature)", path);
  } else {
    const size_t length = size_t(info.st_size);
    buffer = static_cast<uint8_t*>(std::malloc(length));
    if (buffer == nullptr) {
      SETLASTERROR("%s: out of memory for its %zu bytes", path, length);
    } else {
      std::memcpy(buffer, signature, sizeof signature);
      got = READ_ALL(fd, buffer + sizeof signature, length - sizeof signature);
      if (got == ssize_t(length - sizeof signature)) {
        *size = int32_t(length);
      } else {
        SETLASTERROR("%s: cannot read: %s", path,
                     got < 0 ? std::strerror(errno) : "the file shrank while read");
        std::free(buffer);
        buffer = nullptr;
      }
    }
  }
  ::close(fd);
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
  if (image->IMAGE_DATA == nullptr) return 1;
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
    // One decompressor per call keeps the decoder free of shared state; it costs one small
    // allocation. Bytes after the end of the stream are ignored, as they always were. The one
    // stream this accepts that zlib refused: a Huffman code of a single one-bit codeword whose
    // unused codeword is then read (hand-made only); it decodes as the used one.
    libdeflate_decompressor* inflater =
        inflated != nullptr ? libdeflate_alloc_decompressor() : nullptr;
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
  if (IDAT_PREPARE(image) != 0) {
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

// ---- Pixels ----------------------------------------------------------------------------------
//
// Filters are reversed a whole scanline at a time, in place in the inflated data, and each
// reconstructed scanline is converted straight into the output while it is still in the cache.
// Conversion may read up to 16 bytes past the end of a scanline: the inflated data is always
// followed by at least 16 bytes of slack, zeroed by IDAT_UNCOMPRESS.
//
// Three loop sets give the same bytes: plain C++ (the rules as written), SSE2 and SSSE3. The
// widest the processor runs is used unless a test forced a narrower one.

enum : int32_t { LOOPS_PLAIN = 0, LOOPS_SSE2 = 1, LOOPS_SSSE3 = 2 };

#if defined(__SSE2__)
#define PNG_X86 1
#define PNG_SSSE3 __attribute__((target("ssse3")))
#else
#define PNG_X86 0
#endif

int32_t LOOPS_BEST() {
#if PNG_X86
  static const int32_t best = __builtin_cpu_supports("ssse3") ? LOOPS_SSSE3 : LOOPS_SSE2;
  return best;
#else
  return LOOPS_PLAIN;
#endif
}

std::atomic<int32_t> g_loops_forced{-1};  // a test's choice; negative: none

int32_t LOOPS_IN_USE() {
  const int32_t forced = g_loops_forced.load(std::memory_order_relaxed);
  return forced < 0 || forced > LOOPS_BEST() ? LOOPS_BEST() : forced;
}

uint32_t LOAD32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Native 32-bit store of a colour value, which the output forms hold little-endian.
void STORE_COLOUR(uint32_t* p, uint32_t colour) {
  if constexpr (std::endian::native == std::endian::big) colour = __builtin_bswap32(colour);
  std::memcpy(p, &colour, 4);
}

// Plain filters, one byte lane at a time. The previous pixel's bytes stay in registers
// (left[k]) so that no step waits for its own store to be read back. length is a multiple of
// BPP: below 8 bits a pixel counts as one byte.
template <uint32_t BPP>
void FILTER_SUB(uint8_t* row, uint32_t length) {
  uint8_t left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) row[i + k] = left[k] = uint8_t(row[i + k] + left[k]);
  }
}

void FILTER_UP(uint8_t* row, const uint8_t* up, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) row[i] = uint8_t(row[i] + up[i]);
}

template <uint32_t BPP>
void FILTER_AVERAGE(uint8_t* row, const uint8_t* up, uint32_t length) {
  uint32_t left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) {
      left[k] = uint8_t(row[i + k] + ((left[k] + up[i + k]) >> 1));
      row[i + k] = uint8_t(left[k]);
    }
  }
}

int PAETH(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

template <uint32_t BPP>
void FILTER_PAETH(uint8_t* row, const uint8_t* up, uint32_t length) {
  int left[BPP] = {}, up_left[BPP] = {};
  for (uint32_t i = 0; i < length; i += BPP) {
    for (uint32_t k = 0; k < BPP; ++k) {
      left[k] = uint8_t(row[i + k] + PAETH(left[k], up[i + k], up_left[k]));
      up_left[k] = up[i + k];
      row[i + k] = uint8_t(left[k]);
    }
  }
}

#if PNG_X86
// SSE2 filters for pixels of 2 bytes and more, one pixel per step in the low lanes of a
// register. A pixel is loaded and stored as W = 4 or 8 bytes: the bytes past the pixel are the
// next pixel's, already loaded when the store overwrites them, and the last pixel is stored
// exactly, so nothing past the scanline is changed. Loads read at most 2 bytes past a row, which
// the next row's bytes or the slack cover.
template <uint32_t BPP>
__m128i LOAD_W(const uint8_t* p) {
  if constexpr (BPP <= 4) return _mm_cvtsi32_si128(int32_t(LOAD32(p)));
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <uint32_t BPP>
void STORE_W(uint8_t* p, __m128i v) {
  if constexpr (BPP <= 4) {
    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(v));
    std::memcpy(p, &bytes, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

template <uint32_t BPP>
void STORE_EXACT(uint8_t* p, __m128i v) {
  uint8_t bytes[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), v);
  std::memcpy(p, bytes, BPP);
}

// step(raw, above) gives the reconstructed pixel from its filtered bytes and the pixel above.
template <uint32_t BPP, typename Step>
void PIXEL_LOOP(uint8_t* row, const uint8_t* up, uint32_t length, Step step) {
  __m128i raw = LOAD_W<BPP>(row);
  uint32_t i = 0;
  for (; i + BPP < length; i += BPP) {
    const __m128i pixel = step(raw, LOAD_W<BPP>(up + i));
    raw = LOAD_W<BPP>(row + i + BPP);  // before the store that may overwrite its first bytes
    STORE_W<BPP>(row + i, pixel);
  }
  STORE_EXACT<BPP>(row + i, step(raw, LOAD_W<BPP>(up + i)));
}

void FILTER_UP_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  uint32_t i = 0;
  for (; i + 16 <= length; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(a, b));
  }
  for (; i < length; ++i) row[i] = uint8_t(row[i] + up[i]);
}

template <uint32_t BPP>
void FILTER_SUB_SSE2(uint8_t* row, uint32_t length) {
  __m128i left = _mm_setzero_si128();
  PIXEL_LOOP<BPP>(row, row, length,
                  [&left](__m128i raw, __m128i) { return left = _mm_add_epi8(raw, left); });
}

template <uint32_t BPP>
void FILTER_AVERAGE_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  // On complemented bytes the rounded-up average is the complement of the floor average:
  // ~x = avg(~left, ~above) - raw, two steps from pixel to pixel.
  const __m128i ones = _mm_set1_epi8(-1);
  __m128i not_left = ones;
  PIXEL_LOOP<BPP>(row, up, length, [&not_left, ones](__m128i raw, __m128i above) {
    not_left = _mm_sub_epi8(_mm_avg_epu8(not_left, _mm_xor_si128(above, ones)), raw);
    return _mm_xor_si128(not_left, ones);
  });
}

// Paeth in 16-bit lanes. |b - c| does not depend on the pixel to the left, so only the other two
// distances and the choice lie on the chain from pixel to pixel.
template <uint32_t BPP>
void FILTER_PAETH_SSE2(uint8_t* row, const uint8_t* up, uint32_t length) {
  const __m128i zero = _mm_setzero_si128(), low_bytes = _mm_set1_epi16(0xFF);
  __m128i left = zero, up_left = zero;
  PIXEL_LOOP<BPP>(row, up, length, [&](__m128i raw, __m128i above_bytes) {
    const __m128i above = _mm_unpacklo_epi8(above_bytes, zero);
    const __m128i bc = _mm_sub_epi16(above, up_left), ac = _mm_sub_epi16(left, up_left);
    const __m128i abc = _mm_add_epi16(bc, ac);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
    const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i not_b = _mm_cmpgt_epi16(pb, pc);
    const __m128i b_or_c =
        _mm_or_si128(_mm_andnot_si128(not_b, above), _mm_and_si128(not_b, up_left));
    const __m128i predictor =
        _mm_or_si128(_mm_andnot_si128(not_a, left), _mm_and_si128(not_a, b_or_c));
    left = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(raw, zero), predictor), low_bytes);
    up_left = above;
    return _mm_packus_epi16(left, left);
  });
}
#endif

template <uint32_t BPP>
int32_t FILTER_ROW_BPP(uint8_t* row, const uint8_t* up, uint8_t filter, uint32_t length,
                       int32_t loops) {
#if PNG_X86
  if (loops >= LOOPS_SSE2 && filter == 2) {
    FILTER_UP_SSE2(row, up, length);
    return 0;
  }
  if constexpr (BPP >= 2) {
    if (loops >= LOOPS_SSE2 && filter == 1) {
      FILTER_SUB_SSE2<BPP>(row, length);
      return 0;
    }
    if (loops >= LOOPS_SSE2 && filter == 3) {
      FILTER_AVERAGE_SSE2<BPP>(row, up, length);
      return 0;
    }
    if (loops >= LOOPS_SSE2 && filter == 4) {
      FILTER_PAETH_SSE2<BPP>(row, up, length);
      return 0;
    }
  }
#else
  (void)loops;
#endif
  switch (filter) {
    case 0:
      return 0;
    case 1:
      FILTER_SUB<BPP>(row, length);
      return 0;
    case 2:
      FILTER_UP(row, up, length);
      return 0;
    case 3:
      FILTER_AVERAGE<BPP>(row, up, length);
      return 0;
    case 4:
      FILTER_PAETH<BPP>(row, up, length);
      return 0;
    default:
      return 1;
  }
}

// Reverses filter method 0 for one scanline in place; up is the previous scanline of the pass
// (reconstructed), or zeros for a pass's first row. 1 for an unknown filter type.
int32_t FILTER_ROW(uint8_t* row, const uint8_t* up, uint8_t filter, uint32_t length, uint32_t bpp,
                   int32_t loops) {
  switch (bpp) {
    case 1:
      return FILTER_ROW_BPP<1>(row, up, filter, length, loops);
    case 2:
      return FILTER_ROW_BPP<2>(row, up, filter, length, loops);
    case 3:
      return FILTER_ROW_BPP<3>(row, up, filter, length, loops);
    case 4:
      return FILTER_ROW_BPP<4>(row, up, filter, length, loops);
    case 6:
      return FILTER_ROW_BPP<6>(row, up, filter, length, loops);
    default:
      return FILTER_ROW_BPP<8>(row, up, filter, length, loops);
  }
}

uint32_t COLOUR(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
  return alpha << 24 | red << 16 | green << 8 | blue;
}

// The colour of every index or grey sample below 16 bits, transparency included.
void MAKE_TABLE(const PNG_IMAGE* image, uint32_t* table) {
  const bool has_trns = image->HAS_TRNS != 0;
  const uint32_t entries = 1u << image->BIT_DEPTH;
  for (uint32_t i = 0; i < entries; ++i) {
    if (image->COLOR_TYPE == 3) {
      const uint8_t* entry = image->PALETTE[i];
      table[i] = COLOUR(has_trns ? image->TRNS_ALPHA[i] : 255, entry[0], entry[1], entry[2]);
    } else {
      const uint32_t grey = i * (255 / (entries - 1));
      table[i] = COLOUR(has_trns && i == image->TRNS_GREY ? 0 : 255, grey, grey, grey);
    }
  }
}

// Writes colour(i) for the n pixels of a scanline to out[0], out[step], out[2 * step], ...
template <typename Colour>
void PUT_PIXELS(uint32_t* out, uint32_t n, uint32_t step, Colour colour) {
  if (step == 1) {
    for (uint32_t i = 0; i < n; ++i) STORE_COLOUR(out + i, colour(i));
  } else {
    for (uint32_t i = 0; i < n; ++i) STORE_COLOUR(out + size_t(i) * step, colour(i));
  }
}

// The pixels of the whole bytes of a packed scanline, PER_BYTE to a byte, copied from the table
// of every byte's colours; returns how many pixels that was.
template <uint32_t PER_BYTE>
uint32_t PUT_PACKED_BYTES(const uint32_t* byte_table, const uint8_t* p, uint32_t* out, uint32_t n) {
  const uint32_t bytes = n / PER_BYTE;
  const uint8_t* end = p + bytes;
  // Four bytes a step: the loop's own work would cost as much as a copy.
  for (; end - p >= 4; p += 4, out += 4 * PER_BYTE) {
    for (size_t k = 0; k < 4; ++k)
      std::memcpy(out + k * PER_BYTE, byte_table + size_t(p[k]) * PER_BYTE, PER_BYTE * 4);
  }
  for (; p < end; ++p, out += PER_BYTE)
    std::memcpy(out, byte_table + size_t(*p) * PER_BYTE, PER_BYTE * 4);
  return bytes * PER_BYTE;
}

#if PNG_X86
// Vector conversions of 8-bit rows without a transparency key into whole groups of pixels at
// the start of a row; they return how many pixels they did and leave the rest to the plain code.
void STORE16(uint32_t* out, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v); }
__m128i LOAD16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

PNG_SSSE3 uint32_t RGB_TO_PIXELS_SSSE3(const uint8_t* p, uint32_t* out, uint32_t n) {
  // Four pixels from 12 bytes of a 16-byte load: the last 4 bytes are the next pixels' or the
  // slack after the row.
  const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4)
    STORE16(out + i, _mm_or_si128(_mm_shuffle_epi8(LOAD16(p + 3 * i), order), alpha));
  return i;
}

PNG_SSSE3 uint32_t RGBA_TO_PIXELS_SSSE3(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) STORE16(out + i, _mm_shuffle_epi8(LOAD16(p + 4 * i), order));
  return i;
}

// 16-bit samples keep their high bytes, the first of each: four pixels from two loads.
PNG_SSSE3 uint32_t RGB16_TO_PIXELS_SSSE3(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i first = _mm_setr_epi8(4, 2, 0, -1, 10, 8, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i second = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 4, 2, 0, -1, 10, 8, 6, -1);
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i two = _mm_shuffle_epi8(LOAD16(p + 6 * i), first);
    const __m128i more = _mm_shuffle_epi8(LOAD16(p + 6 * i + 12), second);
    STORE16(out + i, _mm_or_si128(_mm_or_si128(two, more), alpha));
  }
  return i;
}

PNG_SSSE3 uint32_t RGBA16_TO_PIXELS_SSSE3(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i first = _mm_setr_epi8(4, 2, 0, 6, 12, 10, 8, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i second = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 4, 2, 0, 6, 12, 10, 8, 14);
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    STORE16(out + i, _mm_or_si128(_mm_shuffle_epi8(LOAD16(p + 8 * i), first),
                                  _mm_shuffle_epi8(LOAD16(p + 8 * i + 16), second)));
  }
  return i;
}

uint32_t RGBA_TO_PIXELS_SSE2(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i green_alpha = _mm_set1_epi32(int32_t(0xFF00FF00u));
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = LOAD16(p + 4 * i);
    const __m128i red_blue = _mm_andnot_si128(green_alpha, v);  // 16-bit halves: red, blue
    const __m128i swapped = _mm_shufflehi_epi16(_mm_shufflelo_epi16(red_blue, 0xB1), 0xB1);
    STORE16(out + i, _mm_or_si128(_mm_and_si128(v, green_alpha), swapped));
  }
  return i;
}

uint32_t GREY_TO_PIXELS_SSE2(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i opaque = _mm_set1_epi8(-1);
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i g = LOAD16(p + i);
    const __m128i gg_low = _mm_unpacklo_epi8(g, g), gg_high = _mm_unpackhi_epi8(g, g);
    const __m128i ga_low = _mm_unpacklo_epi8(g, opaque), ga_high = _mm_unpackhi_epi8(g, opaque);
    STORE16(out + i, _mm_unpacklo_epi16(gg_low, ga_low));
    STORE16(out + i + 4, _mm_unpackhi_epi16(gg_low, ga_low));
    STORE16(out + i + 8, _mm_unpacklo_epi16(gg_high, ga_high));
    STORE16(out + i + 12, _mm_unpackhi_epi16(gg_high, ga_high));
  }
  return i;
}

uint32_t GREY_ALPHA_TO_PIXELS_SSE2(const uint8_t* p, uint32_t* out, uint32_t n) {
  const __m128i low_bytes = _mm_set1_epi16(0xFF);
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i ga = LOAD16(p + 2 * i);
    const __m128i g = _mm_and_si128(ga, low_bytes);
    const __m128i gg = _mm_or_si128(g, _mm_slli_epi16(g, 8));
    STORE16(out + i, _mm_unpacklo_epi16(gg, ga));
    STORE16(out + i + 4, _mm_unpackhi_epi16(gg, ga));
  }
  return i;
}

// The pixels done, and bytes per pixel, of the vector conversion that suits the image.
uint32_t CONVERT_ROW_START(const PNG_IMAGE* image, const uint8_t* p, uint32_t* out, uint32_t n,
                           int32_t loops, uint32_t* bytes_per_pixel) {
  if (loops < LOOPS_SSE2) return 0;
  const bool ssse3 = loops >= LOOPS_SSSE3;
  if (image->BIT_DEPTH == 16 && ssse3 && image->COLOR_TYPE == 2 && !image->HAS_TRNS) {
    *bytes_per_pixel = 6;
    return RGB16_TO_PIXELS_SSSE3(p, out, n);
  }
  if (image->BIT_DEPTH == 16 && ssse3 && image->COLOR_TYPE == 6) {
    *bytes_per_pixel = 8;
    return RGBA16_TO_PIXELS_SSSE3(p, out, n);
  }
  if (image->BIT_DEPTH != 8) return 0;
  switch (image->COLOR_TYPE) {
    case 0:
      if (image->HAS_TRNS) return 0;
      *bytes_per_pixel = 1;
      return GREY_TO_PIXELS_SSE2(p, out, n);
    case 2:
      if (image->HAS_TRNS || !ssse3) return 0;
      *bytes_per_pixel = 3;
      return RGB_TO_PIXELS_SSSE3(p, out, n);
    case 4:
      *bytes_per_pixel = 2;
      return GREY_ALPHA_TO_PIXELS_SSE2(p, out, n);
    case 6:
      *bytes_per_pixel = 4;
      return ssse3 ? RGBA_TO_PIXELS_SSSE3(p, out, n) : RGBA_TO_PIXELS_SSE2(p, out, n);
    default:
      return 0;
  }
}
#endif

// Converts the n pixels of one reconstructed scanline into colour values.
void CONVERT_ROW(const PNG_IMAGE* image, const uint32_t* table, const uint32_t* byte_table,
                 const uint8_t* p, uint32_t* out, uint32_t n, uint32_t step, int32_t loops) {
#if PNG_X86
  if (step == 1) {
    uint32_t bytes_per_pixel = 0;
    const uint32_t done = CONVERT_ROW_START(image, p, out, n, loops, &bytes_per_pixel);
    p += done * bytes_per_pixel;
    out += done;
    n -= done;
  }
#else
  (void)loops;
#endif
  const bool wide = image->BIT_DEPTH == 16;
  const bool has_trns = image->HAS_TRNS != 0;
  switch (image->COLOR_TYPE) {
    case 0:
      if (wide) {
        const uint32_t key = has_trns ? image->TRNS_GREY : 0x10000;  // 0x10000 never matches
        PUT_PIXELS(out, n, step, [p, key](uint32_t i) {
          const uint8_t* s = p + 2 * i;
          return COLOUR(READ_BE16(s) == key ? 0 : 255, s[0], s[0], s[0]);
        });
        return;
      }
      [[fallthrough]];
    case 3:
      if (image->BIT_DEPTH < 8 && step == 1) {
        // Whole bytes through the table of every byte's run of colours; then the last pixels.
        uint32_t done = 0;
        switch (image->BIT_DEPTH) {
          case 4:
            done = PUT_PACKED_BYTES<2>(byte_table, p, out, n);
            break;
          case 2:
            done = PUT_PACKED_BYTES<4>(byte_table, p, out, n);
            break;
          default:
            done = PUT_PACKED_BYTES<8>(byte_table, p, out, n);
            break;
        }
        out += done;
        p += done / (8u / image->BIT_DEPTH);
        n -= done;
      }
      switch (image->BIT_DEPTH) {
        case 8:
          if (step == 1) {  // four a step, as for packed bytes
            for (const uint8_t* end = p + n / 4 * 4; p < end; p += 4, out += 4) {
              for (size_t k = 0; k < 4; ++k) STORE_COLOUR(out + k, table[p[k]]);
            }
            n %= 4;
          }
          PUT_PIXELS(out, n, step, [p, table](uint32_t i) { return table[p[i]]; });
          return;
        case 4:
          PUT_PIXELS(out, n, step, [p, table](uint32_t i) {
            return table[(p[i >> 1] >> (4 - (i & 1) * 4)) & 15];
          });
          return;
        case 2:
          PUT_PIXELS(out, n, step, [p, table](uint32_t i) {
            return table[(p[i >> 2] >> (6 - (i & 3) * 2)) & 3];
          });
          return;
        default:
          PUT_PIXELS(out, n, step,
                     [p, table](uint32_t i) { return table[(p[i >> 3] >> (7 - (i & 7))) & 1]; });
          return;
      }
    case 2:
      if (wide) {
        PUT_PIXELS(out, n, step, [p, image, has_trns](uint32_t i) {
          const uint8_t* s = p + 6 * i;
          const bool clear = has_trns && READ_BE16(s) == image->TRNS_RED &&
                             READ_BE16(s + 2) == image->TRNS_GREEN &&
                             READ_BE16(s + 4) == image->TRNS_BLUE;
          return COLOUR(clear ? 0 : 255, s[0], s[2], s[4]);
        });
      } else if (has_trns) {
        PUT_PIXELS(out, n, step, [p, image](uint32_t i) {
          const uint8_t* s = p + 3 * i;
          const bool clear =
              s[0] == image->TRNS_RED && s[1] == image->TRNS_GREEN && s[2] == image->TRNS_BLUE;
          return COLOUR(clear ? 0 : 255, s[0], s[1], s[2]);
        });
      } else {
        // Four bytes read for three: the fourth is the next pixel's, or slack past the row.
        PUT_PIXELS(out, n, step, [p](uint32_t i) {
          const uint32_t v = LOAD32(p + 3 * i);  // little-endian: red in the low byte
          return 0xFF000000u | (v & 0xFFu) << 16 | (v & 0xFF00u) | (v >> 16 & 0xFFu);
        });
      }
      return;
    case 4:
      if (wide) {
        PUT_PIXELS(out, n, step, [p](uint32_t i) {
          const uint8_t* s = p + 4 * i;
          return COLOUR(s[2], s[0], s[0], s[0]);
        });
      } else {
        PUT_PIXELS(out, n, step, [p](uint32_t i) {
          const uint8_t* s = p + 2 * i;
          return COLOUR(s[1], s[0], s[0], s[0]);
        });
      }
      return;
    default:
      if (wide) {
        PUT_PIXELS(out, n, step, [p](uint32_t i) {
          const uint8_t* s = p + 8 * i;
          return COLOUR(s[6], s[0], s[2], s[4]);
        });
      } else {
        PUT_PIXELS(out, n, step, [p](uint32_t i) {
          const uint32_t v = LOAD32(p + 4 * i);  // bytes red, green, blue, alpha
          return (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
        });
      }
      return;
  }
}

// Where the pixels of image row y go, one uint32 per pixel; target 3 goes through a row of
// colour values first, to exchange red and blue and turn the picture upside down.
struct PNG_OUTPUT {
  uint8_t* block;
  uint32_t target;
  uint64_t pitch;
  uint32_t* Row(uint64_t y) const {
    return reinterpret_cast<uint32_t*>(block + (target == 1 ? 4 : 32) + y * pitch);
  }
};

void STORE_TEXTURE_ROW(const PNG_IMAGE* image, uint8_t* output, const uint32_t* colours, uint32_t n,
                       uint64_t x0, uint64_t y, uint32_t step) {
  uint8_t* row = output + (image->HEIGHT - 1 - y) * uint64_t(image->WIDTH) * 4;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c = colours[i];
    if constexpr (std::endian::native == std::endian::big) c = __builtin_bswap32(c);
    WRITE_LE32(row + (x0 + uint64_t(i) * step) * 4,
               (c & 0xFF00FF00u) | (c >> 16 & 0xFFu) | (c & 0xFFu) << 16);
  }
}

// Builds the output of the given form from the inflated scanlines; null if the record is not
// ready, the target is unknown, a size does not fit, memory runs out or a filter type is bad.
void* PNG_IMAGE_CONVERT(PNG_IMAGE* image, uint32_t target) {
  if (!image->READY) return nullptr;  // PNG_IMAGE_PREPARE said why
  const uint32_t width = image->WIDTH;
  const uint32_t height = image->HEIGHT;
  uint64_t output_size = TOO_BIG;
  uint64_t pitch = 0;
  switch (target) {
    case 1:
      // The compact header holds 13 bits of width and 16 of height.
      if (width > 8191 || height > 65535) {
        SETLASTERROR("%u x %u pixels do not fit PNG output form 1", width, height);
        return nullptr;
      }
      pitch = uint64_t(width) * 4;
      output_size = uint64_t(width) * height * 4 + 4;
      break;
    case 2:
      pitch = (uint64_t(width) * 4 + 31) / 32 * 32;
      output_size = SIZE_MUL(pitch, height) + 32;
      break;
    case 3:
      output_size = SIZE_MUL(SIZE_MUL(width, height), 4);
      break;
    default:
      SETLASTERROR("unknown PNG output form %u", target);
      return nullptr;
  }
  if (output_size > SIZE_LIMIT) {
    SETLASTERROR("a PNG picture of %u x %u pixels is too large", width, height);
    return nullptr;
  }

  // Every pixel is written exactly once, so only the header and the row padding need zeroing.
  // Decoded in place, the block holding the scanlines becomes the output.
  const bool in_place = image->DATA_OFFSET != 0;  // only ever for the form asked for
  const bool overlap = in_place && image->INTERLACE == 0 && target != 3;
  uint8_t* data = image->IMAGE_DATA + image->DATA_OFFSET;
  auto* output =
      in_place ? image->IMAGE_DATA : static_cast<uint8_t*>(std::malloc(size_t(output_size)));
  if (in_place) image->IMAGE_DATA = nullptr;
  if (output == nullptr) {
    SETLASTERROR("out of memory for a PNG picture of %u x %u pixels", width, height);
    return nullptr;
  }
  if (target == 1) {
    WRITE_LE32(output, (4u | width << 3) | height << 16);
  } else if (target == 2) {
    std::memset(output, 0, 32);
    WRITE_LE32(output, 7);
    WRITE_LE32(output + 4, 4);
    WRITE_LE32(output + 8, width);
    WRITE_LE32(output + 12, height);
    WRITE_LE32(output + 16, uint32_t(pitch));
    const uint64_t used = uint64_t(width) * 4;
    if (pitch > used && !overlap) {
      for (uint64_t y = 0; y < height; ++y)
        std::memset(output + 32 + y * pitch + used, 0, pitch - used);
    }
  }
  const PNG_OUTPUT out{output, target, pitch};

  const bool interlaced = image->INTERLACE == 1;
  const uint32_t bpp = image->BPP;
  const int32_t loops = LOOPS_IN_USE();
  uint32_t table[256];
  uint32_t byte_table[256 * 8];  // below 8 bits: the colours of the pixels packed in each byte
  if (image->BIT_DEPTH <= 8 && (image->COLOR_TYPE == 0 || image->COLOR_TYPE == 3)) {
    MAKE_TABLE(image, table);
    if (image->BIT_DEPTH < 8) {
      const uint32_t depth = image->BIT_DEPTH, per_byte = 8 / depth, mask = (1u << depth) - 1;
      for (uint32_t b = 0; b < 256; ++b) {
        for (uint32_t i = 0; i < per_byte; ++i)
          STORE_COLOUR(byte_table + b * per_byte + i, table[(b >> (8 - depth - i * depth)) & mask]);
      }
    }
  }

  // The row above a pass's first row reads as zeros. Target 3 also needs a row of colours, and
  // so do Adam7 rows of deep samples, converted in a row by the vector loops and then spread.
  const uint64_t longest_scan = CALC_SCAN_SIZE(image, interlaced ? 7 : 1);
  uint8_t* zeros = static_cast<uint8_t*>(std::calloc(size_t(longest_scan) + 16, 1));
  const bool spread =
      interlaced && loops >= LOOPS_SSE2 && image->BIT_DEPTH >= 8 && image->COLOR_TYPE != 3;
  uint32_t* colours =
      target == 3 || spread ? static_cast<uint32_t*>(std::malloc(size_t(width) * 4)) : nullptr;
  bool ok = zeros != nullptr && (colours != nullptr || (target != 3 && !spread));
  if (!ok) SETLASTERROR("out of memory decoding a PNG picture");

  const uint64_t padding = target == 2 ? pitch - uint64_t(width) * 4 : 0;
  uint64_t cursor = 0;  // runs through the rows of every pass without gaps
  for (int pass = 1; ok && pass <= (interlaced ? 7 : 1); ++pass) {
    const uint32_t p = uint32_t(pass - 1);
    const uint64_t rows = interlaced ? PASS_ROWS(image, pass) : height;
    if (rows == 0) continue;
    const uint64_t scan_size = CALC_SCAN_SIZE(image, pass);
    const uint32_t column_step = interlaced ? TB_WFAC[p] : 1;
    const uint32_t row_step = interlaced ? TB_HFAC[p] : 1;
    const uint32_t first_column = interlaced ? TB_XOFF[p] : 0;
    const uint32_t first_row = interlaced ? TB_YOFF[p] : 0;
    const uint32_t columns = (width - first_column + column_step - 1) / column_step;
    for (uint64_t r = 0; r < rows; ++r, cursor += scan_size) {
      uint8_t* row = data + cursor + 1;
      const uint8_t* up = r > 0 ? row - scan_size : zeros;
      if (FILTER_ROW(row, up, data[cursor], uint32_t(scan_size - 1), bpp, loops) != 0) {
        SETLASTERROR("damaged PNG image data: unknown filter type %u", data[cursor]);
        ok = false;
        break;
      }
      const uint64_t y = first_row + r * row_step;
      if (target == 3) {
        CONVERT_ROW(image, table, byte_table, row, colours, columns, 1, loops);
        STORE_TEXTURE_ROW(image, output, colours, columns, first_column, y, column_step);
      } else if (spread && column_step > 1) {
        CONVERT_ROW(image, table, byte_table, row, colours, columns, 1, loops);
        uint32_t* to = out.Row(y) + first_column;
        for (uint32_t i = 0; i < columns; ++i) to[size_t(i) * column_step] = colours[i];
      } else {
        CONVERT_ROW(image, table, byte_table, row, out.Row(y) + first_column, columns, column_step,
                    loops);
        // In place the padding held scanline bytes until now.
        if (overlap && padding != 0) std::memset(out.Row(y) + width, 0, size_t(padding));
      }
    }
  }
  std::free(zeros);
  std::free(colours);
  if (!ok) {
    std::free(output);
    return nullptr;
  }
  // The rest of an in-place block (the last scanlines and the slack) is zeroed when short, as
  // it is after rows that overlap. A long rest (16-bit samples, Adam7, form 3) is cut off:
  // cutting a block short moves nothing. A short one is kept, since a block freed at the size
  // the next picture of that size asks for is reused by the allocator rather than mapped anew.
  if (in_place) {
    const uint64_t rest = uint64_t(data + cursor + 16 - (output + output_size));
    if (rest > output_size / 8) {
      if (void* cut = std::realloc(output, size_t(output_size))) return cut;
    }
    std::memset(output + output_size, 0, size_t(rest));
  }
  return output;
}

}  // namespace

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

int32_t png_loops_force(int32_t set) {
  g_loops_forced.store(set < 0 ? -1 : set, std::memory_order_relaxed);
  return LOOPS_IN_USE();
}
