#pragma once
// Inside the PNG decoder: the working record and what its three parts share (the chunk and
// inflate path in png_image.cpp, the filters in png_filter.cpp, the pixel conversions in
// png_convert.cpp). Not for games.

#include <bit>
#include <cstdint>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/boolean.h"

// x86 only: WebAssembly has no SSSE3 byte shuffle of its own.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>
#include <tmmintrin.h>
#define PNG_X86 1
#define PNG_SSSE3 __attribute__((target("ssse3")))
#else
#define PNG_X86 0
#endif

namespace KASTREL::PNG_DECODER {

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

// A failure that is the system's, not the file's.
constexpr int32_t OUT_OF_MEMORY = 2;

// The decoder's working memory under a pixel cap: room for every 8-bit picture at the cap,
// decoded in place or beside its output, and for deep or interlaced ones somewhat below it.
constexpr uint32_t WORKING_BYTES_PER_PIXEL = 10;

// Inflation never expands data by more than 1032:1, so a longer expected size cannot be met.
constexpr uint64_t MAX_INFLATE_RATIO = 1032;

// a * b, or TOO_BIG when either factor or the product exceeds 32 bits.
inline uint64_t SIZE_MUL(uint64_t a, uint64_t b) {
  if (a > SIZE_LIMIT || b > SIZE_LIMIT) return TOO_BIG;
  const uint64_t product = a * b;  // both below 2^32: cannot overflow 64 bits
  return product > SIZE_LIMIT ? TOO_BIG : product;
}

inline uint32_t READ_BE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline uint16_t READ_BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

inline void WRITE_LE32(uint8_t* p, uint32_t value) {
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
  p[2] = uint8_t(value >> 16);
  p[3] = uint8_t(value >> 24);
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

// The loop set decoding uses: the widest the processor runs, or a narrower one a test forced.
int32_t LOOPS_IN_USE();

inline uint32_t LOAD32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Native 32-bit store of a colour value, which the output forms hold little-endian.
inline void STORE_COLOUR(uint32_t* p, uint32_t colour) {
  if constexpr (std::endian::native == std::endian::big) colour = __builtin_bswap32(colour);
  std::memcpy(p, &colour, 4);
}

// Bytes in one scanline of the pass, filter-type byte included; 0 for a pass without columns.
// May exceed 32 bits: callers check.
uint64_t CALC_SCAN_SIZE(const PNG_IMAGE* image, int pass);
// Rows of an Adam7 pass; 0 when the image has no column or no row for it.
uint64_t PASS_ROWS(const PNG_IMAGE* image, int pass);

// Reverses filter method 0 for one scanline in place; up is the previous scanline of the pass
// (reconstructed), or zeros for a pass's first row. 1 for an unknown filter type.
int32_t FILTER_ROW(uint8_t* row, const uint8_t* up, uint8_t filter, uint32_t length, uint32_t bpp,
                   int32_t loops);

// Builds the output of the given form from the inflated scanlines; null if the record is not
// ready, the target is unknown, a size does not fit, memory runs out or a filter type is bad.
void* PNG_IMAGE_CONVERT(PNG_IMAGE* image, uint32_t target);

}  // namespace KASTREL::PNG_DECODER
