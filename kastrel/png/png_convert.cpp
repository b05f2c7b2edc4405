#include <cstdlib>
#include <cstring>

#include "kastrel/png/detail/png_decoder.h"

// From reconstructed scanlines to the output forms: each vector conversion beside the plain
// loop it must match.

namespace KASTREL::PNG_DECODER {

namespace {

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

}  // namespace

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

}  // namespace KASTREL::PNG_DECODER
