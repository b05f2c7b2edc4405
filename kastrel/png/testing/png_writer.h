#pragma once
// Test-only PNG writer, written from the file format independently of the decoder: chunks with
// their CRCs, scanline packing, the five forward filters and the Adam7 split. Also repairs the
// CRCs of a damaged file so that damage reaches past the chunk layer.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

inline void PutBE32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

inline Bytes BE16(std::initializer_list<uint16_t> values) {
  Bytes out;
  for (uint16_t v : values) out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
  return out;
}

inline uint32_t ChunkCrc(const uint8_t* type_and_data, size_t size) {
  return uint32_t(crc32(0, type_and_data, uInt(size)));
}

inline Bytes Chunk(const std::string& type, const Bytes& data = {}) {
  Bytes out;
  PutBE32(out, uint32_t(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  PutBE32(out, ChunkCrc(out.data() + 4, out.size() - 4));
  return out;
}

inline Bytes IhdrData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour,
                      uint8_t interlace = 0) {
  Bytes data;
  PutBE32(data, width);
  PutBE32(data, height);
  data.insert(data.end(), {depth, colour, 0, 0, interlace});
  return data;
}

inline Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  if (compress(out.data(), &size, raw.data(), uLong(raw.size())) != Z_OK) std::abort();
  out.resize(size);
  return out;
}

// Signature followed by the given chunks.
inline Bytes File(std::initializer_list<Bytes> chunks) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const Bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

// Gives every chunk that fits in the file the CRC of its contents; stops at the first that
// does not fit.
inline void RepairCrcs(uint8_t* file, size_t size) {
  size_t at = 8;
  while (at + 12 <= size) {
    const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 |
                            uint32_t(file[at + 2]) << 8 | file[at + 3];
    if (length > size - at - 12) return;
    const uint32_t crc = ChunkCrc(file + at + 4, size_t(length) + 4);
    for (int i = 0; i < 4; ++i) file[at + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    at += size_t(length) + 12;
  }
}

inline int Channels(uint8_t colour) {
  return colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
}

// A picture as raw samples (channels per pixel, row by row) with its optional palette and
// transparency data.
struct Picture {
  uint32_t width = 1;
  uint32_t height = 1;
  uint8_t depth = 8;
  uint8_t colour = 0;
  std::vector<uint16_t> samples;
  Bytes palette;              // PLTE data, written when not empty
  std::optional<Bytes> trns;  // tRNS data, written when set
  uint16_t Sample(uint32_t x, uint32_t y, int channel) const {
    return samples[(size_t(y) * width + x) * size_t(Channels(colour)) + size_t(channel)];
  }
};

inline int PaethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Packs the pixels of row y at columns first, first + step, ... (most significant bits first
// below 8 bits, big-endian at 16 bits).
inline Bytes PackRow(const Picture& pic, uint32_t y, uint32_t first, uint32_t step) {
  Bytes out;
  uint32_t bits = 0, filled = 0;
  for (uint32_t x = first; x < pic.width; x += step) {
    for (int c = 0; c < Channels(pic.colour); ++c) {
      const uint16_t s = pic.Sample(x, y, c);
      if (pic.depth == 16) {
        out.insert(out.end(), {uint8_t(s >> 8), uint8_t(s)});
      } else if (pic.depth == 8) {
        out.push_back(uint8_t(s));
      } else {
        bits = bits << pic.depth | s;
        filled += pic.depth;
        if (filled == 8) {
          out.push_back(uint8_t(bits));
          bits = filled = 0;
        }
      }
    }
  }
  if (filled > 0) out.push_back(uint8_t(bits << (8 - filled)));
  return out;
}

// The inflated image data: every scanline of every pass, filtered with `filter`, or with the
// five filters in turn when it is negative.
inline Bytes Scanlines(const Picture& pic, bool interlaced, int filter) {
  static const uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  const size_t bpp = pic.depth < 8 ? 1 : size_t(pic.depth / 8 * Channels(pic.colour));
  Bytes out;
  int row_count = 0;
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const uint32_t x0 = interlaced ? adam7[pass][0] : 0, y0 = interlaced ? adam7[pass][1] : 0;
    const uint32_t dx = interlaced ? adam7[pass][2] : 1, dy = interlaced ? adam7[pass][3] : 1;
    if (x0 >= pic.width) continue;
    Bytes previous;
    for (uint32_t y = y0; y < pic.height; y += dy) {
      const Bytes row = PackRow(pic, y, x0, dx);
      const int type = filter >= 0 ? filter : row_count++ % 5;
      out.push_back(uint8_t(type));
      for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = previous.empty() ? 0 : previous[i];
        const int c = i >= bpp && !previous.empty() ? previous[i - bpp] : 0;
        const int predictor[5] = {0, a, b, (a + b) / 2, PaethPredictor(a, b, c)};
        out.push_back(uint8_t(row[i] - (type < 5 ? predictor[type] : 0)));
      }
      previous = row;
    }
  }
  return out;
}

// A complete file: IHDR, PLTE and tRNS when the picture has them, one IDAT, IEND.
inline Bytes Encode(const Picture& pic, bool interlaced = false, int filter = 0) {
  Bytes out = File(
      {Chunk("IHDR", IhdrData(pic.width, pic.height, pic.depth, pic.colour, interlaced ? 1 : 0))});
  const auto add = [&out](const Bytes& chunk) {
    out.insert(out.end(), chunk.begin(), chunk.end());
  };
  if (!pic.palette.empty()) add(Chunk("PLTE", pic.palette));
  if (pic.trns) add(Chunk("tRNS", *pic.trns));
  add(Chunk("IDAT", Deflate(Scanlines(pic, interlaced, filter))));
  add(Chunk("IEND"));
  return out;
}

}  // namespace pngtest
