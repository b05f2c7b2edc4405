#include "kastrel/png/png_save.h"

#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"

namespace {

constexpr std::uint32_t kMaxDimension = 0x7FFFFFFFu;

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void put_chunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::uint8_t* data,
               std::size_t size) {
  put_u32(out, static_cast<std::uint32_t>(size));
  const std::size_t type_at = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  // The CRC covers the type and the data, not the length.
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, out.data() + type_at, 4 + size);
  put_u32(out, static_cast<std::uint32_t>(crc));
}

// Leaves the reason and gives the empty result of a refused picture.
std::vector<std::uint8_t> refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::vector<std::uint8_t> refuse(const char* format, ...) {
  va_list args;
  va_start(args, format);
  KASTREL::VSETLASTERROR(format, args);
  va_end(args);
  return {};
}

std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  if (pb <= pc) return static_cast<std::uint8_t>(b);
  return static_cast<std::uint8_t>(c);
}

// Filters one row with filter `type` into `out` (row bytes only, without the type byte).
void filter_row(int type, const std::uint8_t* row, const std::uint8_t* prior, std::size_t size,
                std::size_t bpp, std::uint8_t* out) {
  for (std::size_t i = 0; i < size; ++i) {
    const int x = row[i];
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prior != nullptr ? prior[i] : 0;
    const int c = (i >= bpp && prior != nullptr) ? prior[i - bpp] : 0;
    int predicted = 0;
    switch (type) {
      case 1:
        predicted = a;
        break;
      case 2:
        predicted = b;
        break;
      case 3:
        predicted = (a + b) / 2;
        break;
      case 4:
        predicted = paeth(a, b, c);
        break;
      default:
        break;
    }
    out[i] = static_cast<std::uint8_t>(x - predicted);
  }
}

// The usual heuristic: the filter whose output, read as signed bytes, has the smallest sum of
// magnitudes tends to compress best.
std::uint64_t cost(const std::uint8_t* filtered, std::size_t size) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) {
    sum += static_cast<std::uint64_t>(
        std::abs(static_cast<int>(static_cast<std::int8_t>(filtered[i]))));
  }
  return sum;
}

}  // namespace

std::vector<uint8_t> png_encode(const uint8_t* pixels, uint32_t width, uint32_t height,
                                size_t stride, PNG_COLOUR colour, PNG_EFFORT effort) {
  const std::size_t bpp = colour == PNG_RGBA ? 4 : 3;
  if (pixels == nullptr) return refuse("png_encode: no pixels");
  if (colour != PNG_RGB && colour != PNG_RGBA)
    return refuse("png_encode: colour type %d is neither RGB (2) nor RGBA (6)", int(colour));
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension)
    return refuse("png_encode: a %u x %u picture is out of range", width, height);
  const std::size_t row_size = static_cast<std::size_t>(width) * bpp;
  if (row_size / bpp != width || stride < row_size)
    return refuse("png_encode: rows %llu bytes apart are shorter than a row",
                  static_cast<unsigned long long>(stride));
  if (row_size + 1 > std::numeric_limits<std::size_t>::max() / height)
    return refuse("png_encode: a %u x %u picture is too large", width, height);

  std::vector<std::uint8_t> raw((row_size + 1) * height);
  std::array<std::vector<std::uint8_t>, 5> trial;
  for (auto& t : trial) t.resize(row_size);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
    const std::uint8_t* prior = y > 0 ? row - stride : nullptr;
    const bool fast = effort == PNG_FAST;
    int best = fast ? 2 : 0;
    std::uint64_t best_cost = std::numeric_limits<std::uint64_t>::max();
    if (fast) filter_row(2, row, prior, row_size, bpp, trial[2].data());
    for (int type = 0; type < 5 && !fast; ++type) {
      filter_row(type, row, prior, row_size, bpp, trial[static_cast<std::size_t>(type)].data());
      const std::uint64_t c = cost(trial[static_cast<std::size_t>(type)].data(), row_size);
      if (c < best_cost) {
        best_cost = c;
        best = type;
      }
    }
    std::uint8_t* dst = raw.data() + static_cast<std::size_t>(y) * (row_size + 1);
    dst[0] = static_cast<std::uint8_t>(best);
    std::memcpy(dst + 1, trial[static_cast<std::size_t>(best)].data(), row_size);
  }

  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  if (static_cast<std::size_t>(packed_size) < raw.size())  // uLong too narrow
    return refuse("png_encode: the picture is too large to compress");
  std::vector<std::uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()),
                effort == PNG_FAST ? 1 : Z_BEST_COMPRESSION) != Z_OK) {
    return refuse("png_encode: compression failed");
  }
  packed.resize(packed_size);
  // One IDAT chunk holds at most 2^31 - 1 bytes.
  if (packed.size() > kMaxDimension) return refuse("png_encode: the image data exceed one chunk");

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put_u32(header, width);
  put_u32(header, height);
  header.push_back(8);  // bit depth
  header.push_back(static_cast<std::uint8_t>(colour));
  header.push_back(0);  // deflate
  header.push_back(0);  // adaptive filtering
  header.push_back(0);  // not interlaced
  put_chunk(out, "IHDR", header.data(), header.size());
  put_chunk(out, "IDAT", packed.data(), packed.size());
  put_chunk(out, "IEND", nullptr, 0);
  return out;
}

KASTREL::BOOLEAN png_save(const std::string& filename, const uint8_t* pixels, uint32_t width,
                          uint32_t height, size_t stride, PNG_COLOUR colour,
                          PNG_EFFORT effort) {
  const std::vector<std::uint8_t> png = png_encode(pixels, width, height, stride, colour, effort);
  if (png.empty()) return KASTREL::FALSE;  // png_encode said why
  std::string reason;
  if (!KASTREL::PLATFORM::REPLACEFILE(filename, filename + ".part", png.data(), png.size(), false,
                                      false, &reason)) {
    KASTREL::SETLASTERROR("png_save: %s", reason.c_str());
    return KASTREL::FALSE;
  }
  return KASTREL::TRUE;
}
