#include "kastrel/png/png_image.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "kastrel/png/testing/png_writer.h"

namespace {

using namespace pngtest;

struct FreeImage {
  void operator()(uint8_t* image) const { std::free(image); }
};
using Image = std::unique_ptr<uint8_t, FreeImage>;

Image Load(const Bytes& file, int32_t target = PNG_TARGET_NEW) {
  return Image(static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target)));
}

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Pixel of an image buffer, rows stepped by the header's pitch.
uint32_t Pixel(const Image& image, uint32_t x, uint32_t y) {
  return LE32(image.get() + 32 + size_t(y) * LE32(image.get() + 16) + size_t(x) * 4);
}

const Bytes kIend = Chunk("IEND");

Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, uint8_t interlace = 0) {
  return Chunk("IHDR", IhdrData(width, height, depth, colour, interlace));
}

// The colour a picture's pixel must get, from the sample rules alone.
uint32_t ExpectedColour(const Picture& pic, uint32_t x, uint32_t y) {
  const auto eight = [&](int c) -> uint32_t {
    const uint32_t s = pic.Sample(x, y, c);
    return pic.depth == 16 ? s >> 8 : s * 255 / ((1u << pic.depth) - 1);
  };
  const auto keyed = [&](int channels) {
    if (!pic.trns || pic.trns->size() != size_t(channels) * 2) return false;
    for (int c = 0; c < channels; ++c) {
      if (pic.Sample(x, y, c) != ((*pic.trns)[size_t(c) * 2] << 8 | (*pic.trns)[size_t(c) * 2 + 1]))
        return false;
    }
    return true;
  };
  uint32_t a = 255, r = 0, g = 0, b = 0;
  switch (pic.colour) {
    case 0:
      r = g = b = eight(0);
      a = keyed(1) ? 0 : 255;
      break;
    case 2:
      r = eight(0), g = eight(1), b = eight(2);
      a = keyed(3) ? 0 : 255;
      break;
    case 3: {
      const size_t index = pic.Sample(x, y, 0);
      if (index * 3 + 2 < pic.palette.size()) {
        r = pic.palette[index * 3], g = pic.palette[index * 3 + 1], b = pic.palette[index * 3 + 2];
      }
      if (pic.trns && index < pic.trns->size()) a = (*pic.trns)[index];
      break;
    }
    case 4:
      r = g = b = eight(0);
      a = eight(1);
      break;
    default:
      r = eight(0), g = eight(1), b = eight(2), a = eight(3);
  }
  return a << 24 | r << 16 | g << 8 | b;
}

// Decodes the file in all three forms and compares every pixel with the model.
void ExpectMatchesModel(const Picture& pic, const Bytes& file) {
  const Image image = Load(file), old = Load(file, 1), gl = Load(file, 3);
  ASSERT_TRUE(image && old && gl);
  const uint32_t w = pic.width, h = pic.height, pitch = (w * 4 + 31) / 32 * 32;
  const uint32_t header[5] = {7, 4, w, h, pitch};
  for (int i = 0; i < 5; ++i) ASSERT_EQ(LE32(image.get() + i * 4), header[i]);
  ASSERT_EQ(LE32(old.get()), 4 | w << 3 | h << 16);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t c = ExpectedColour(pic, x, y);
      ASSERT_EQ(Pixel(image, x, y), c) << "x " << x << " y " << y;
      ASSERT_EQ(LE32(old.get() + 4 + (y * w + x) * 4), c);
      const uint8_t* rgba = gl.get() + ((h - 1 - y) * w + x) * 4;
      ASSERT_EQ(LE32(rgba), (c & 0xFF00FF00) | (c >> 16 & 0xFF) | (c & 0xFF) << 16);
    }
    for (uint32_t i = w * 4; i < pitch; ++i) ASSERT_EQ(image.get()[32 + y * pitch + i], 0);
  }
}

TEST(PngDecode, EveryColourTypeDepthAndInterlaceMatchesTheSampleRules) {
  const std::pair<uint8_t, std::vector<uint8_t>> kinds[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {5, 3}, {13, 9}, {33, 2}};
  std::mt19937 rng(7);
  for (const auto& [colour, depths] : kinds) {
    for (uint8_t depth : depths) {
      for (const auto& [w, h] : sizes) {
        for (bool interlaced : {false, true}) {
          Picture pic{w, h, depth, colour, {}, {}, {}};
          const uint32_t max = (1u << depth) - 1;
          // Many zeros, so that the filters often meet ties and equal neighbours.
          for (size_t i = 0; i < size_t(w) * h * size_t(Channels(colour)); ++i)
            pic.samples.push_back(uint16_t(rng() % 3 == 0 ? 0 : rng() & max));
          if (colour == 3) {
            // Fewer entries than indices: the last index has no colour of its own.
            for (uint32_t i = 0; i < std::max(1u, max) * 3; ++i)
              pic.palette.push_back(uint8_t(rng()));
            pic.trns = Bytes(max / 2);
            for (uint8_t& alpha : *pic.trns) alpha = uint8_t(rng());
          } else if ((colour == 0 || colour == 2) && interlaced) {
            pic.trns = colour == 0 ? BE16({pic.samples[0]})
                                   : BE16({pic.samples[0], pic.samples[1], pic.samples[2]});
          }
          SCOPED_TRACE(testing::Message() << "colour " << int(colour) << " depth " << int(depth)
                                          << " size " << w << "x" << h << " adam7 " << interlaced);
          ExpectMatchesModel(pic, Encode(pic, interlaced, -1));
        }
      }
    }
  }
}

// Long rows with every filter: the scanline loops and the packed-byte tables run past their
// first few pixels and end on partial bytes.
TEST(PngDecode, LongRowsWithEveryFilterMatchTheSampleRules) {
  const std::pair<uint8_t, std::vector<uint8_t>> kinds[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  std::mt19937 rng(11);
  for (const auto& [colour, depths] : kinds) {
    for (uint8_t depth : depths) {
      for (uint32_t w : {67u, 130u}) {
        Picture pic{w, 11, depth, colour, {}, {}, {}};
        const uint32_t max = (1u << depth) - 1;
        for (size_t i = 0; i < size_t(w) * pic.height * size_t(Channels(colour)); ++i)
          pic.samples.push_back(uint16_t(rng() % 4 == 0 ? max : rng() & max));
        if (colour == 3) {
          for (uint32_t i = 0; i <= max; ++i)
            pic.palette.insert(pic.palette.end(), {uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
        } else if (colour == 0 || colour == 2) {
          pic.trns = Bytes(colour == 0 ? 2 : 6, 0);
          for (size_t i = 0; i < pic.trns->size(); i += 2) (*pic.trns)[i + 1] = uint8_t(max & 0xFF);
          if (depth == 16) (*pic.trns)[0] = 0xFF;
        }
        for (bool interlaced : {false, true}) {
          SCOPED_TRACE(testing::Message() << "colour " << int(colour) << " depth " << int(depth)
                                          << " width " << w << " adam7 " << interlaced);
          ExpectMatchesModel(pic, Encode(pic, interlaced, -1));
        }
      }
    }
  }
}

TEST(PngDecode, FiltersAreReversedByteByByte) {
  // A 2 x 6 grey image, its filtered rows worked out by hand.
  Bytes raw = {0, 200, 100,  // None
               3, 150, 86,   // Average: left + up summed without 8-bit overflow
               0, 10,  30,   // None
               4, 246, 20,   // Paeth: up when pa > pb = pc (left 0, up 30, up-left 10)
               1, 100, 200,  // Sub, wrapping modulo 256
               2, 1,   1};   // Up
  const uint8_t grey[6][2] = {{200, 100}, {250, 5}, {10, 30}, {0, 50}, {100, 44}, {101, 45}};
  const auto file = [](const Bytes& data) {
    return File({Ihdr(2, 6, 8, 0), Chunk("IDAT", Deflate(data)), kIend});
  };
  const Image image = Load(file(raw));
  ASSERT_NE(image, nullptr);
  for (uint32_t y = 0; y < 6; ++y) {
    for (uint32_t x = 0; x < 2; ++x)
      EXPECT_EQ(Pixel(image, x, y), (0xFF000000u | 0x010101u * grey[y][x]));
  }
  for (uint8_t bad : {5, 255}) {
    raw[15] = bad;
    EXPECT_EQ(Load(file(raw)), nullptr) << int(bad);
  }
  // A bad filter type in the very last row of the last Adam7 pass.
  Picture pic{8, 8, 8, 0, std::vector<uint16_t>(64, 9), {}, {}};
  Bytes lines = Scanlines(pic, true, 1);
  EXPECT_NE(Load(Encode(pic, true, 1)), nullptr);
  lines[lines.size() - 9] = 5;
  EXPECT_EQ(Load(File({Ihdr(8, 8, 8, 0, 1), Chunk("IDAT", Deflate(lines)), kIend})), nullptr);
}

TEST(PngOutput, ThreeFormsAndTheirLimits) {
  const auto grey = [](uint32_t w, uint32_t h, uint8_t depth = 8) {
    Picture pic{w, h, depth, 0, {}, {}, {}};
    for (uint32_t i = 0; i < w * h; ++i)
      pic.samples.push_back(uint16_t(i % (depth == 1 ? 2 : 251)));
    return pic;
  };
  const Bytes hundred = Encode(grey(100, 50));
  const Image old = Load(hundred, 1);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(Bytes(old.get(), old.get() + 4), Bytes({0x24, 0x03, 0x32, 0x00}));
  for (int32_t target : {0, 4, -1, INT32_MIN}) EXPECT_EQ(Load(hundred, target), nullptr) << target;

  // The compact header holds at most 8191 x 65535 pixels.
  EXPECT_NE(Load(Encode(grey(8191, 1, 1)), 1), nullptr);
  EXPECT_EQ(Load(Encode(grey(8192, 1, 1)), 1), nullptr);
  EXPECT_NE(Load(Encode(grey(8192, 1, 1)), 2), nullptr);
  EXPECT_NE(Load(Encode(grey(1, 65535, 1)), 1), nullptr);
  EXPECT_EQ(Load(Encode(grey(1, 65536, 1)), 1), nullptr);
}

TEST(PngContainer, ChunkLayer) {
  const Picture pic{2, 2, 8, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}, {}};
  const Bytes ihdr = Ihdr(2, 2, 8, 2), idat = Chunk("IDAT", Deflate(Scanlines(pic, false, 0)));
  const Bytes text = Chunk("tEXt", {'a', 0, 'b'});
  Bytes bad_text = text;
  bad_text.back() ^= 1;
  const Bytes good = File({ihdr, idat, kIend});
  ASSERT_NE(Load(good), nullptr);
  EXPECT_NE(Load(File({ihdr, text, idat, kIend})), nullptr);
  EXPECT_NE(Load(File({ihdr, Chunk("ABCD", {1, 2}), idat, kIend})), nullptr) << "unknown critical";
  EXPECT_NE(Load(File({ihdr, idat, Chunk("IEND", {1, 2, 3})})), nullptr) << "IEND with data";
  EXPECT_NE(Load(File({ihdr, kIend, idat, kIend})), nullptr) << "IEND that is not last";
  EXPECT_NE(Load(File({ihdr, idat, kIend, text, kIend})), nullptr) << "whole chunks after IEND";
  EXPECT_NE(Load(File({ihdr, Ihdr(99, 99, 8, 0), idat, kIend})), nullptr) << "second IHDR";

  Bytes signature = good;
  signature[3] ^= 0x20;
  EXPECT_EQ(Load(signature), nullptr);
  EXPECT_EQ(Load(File({ihdr, bad_text, idat, kIend})), nullptr) << "text CRC";
  for (size_t extra : {1, 7, 8, 11}) {
    Bytes longer = good;
    longer.resize(good.size() + extra, 0);
    EXPECT_EQ(Load(longer), nullptr) << extra << " bytes after IEND";
  }
  EXPECT_EQ(Load(Bytes(good.begin(), good.end() - 1)), nullptr) << "cut inside IEND";
  EXPECT_EQ(Load(File({ihdr, idat, kIend, text})), nullptr) << "last chunk not IEND";
  EXPECT_EQ(Load(File({ihdr, Chunk("IEND", Bytes(30))})), nullptr) << "two chunks";
  EXPECT_EQ(Load(File({text, ihdr, idat, kIend})), nullptr) << "IHDR not first";
  Bytes long_ihdr = IhdrData(2, 2, 8, 2);
  long_ihdr.push_back(0);
  EXPECT_EQ(Load(File({Chunk("IHDR", long_ihdr), idat, kIend})), nullptr);
  EXPECT_EQ(Load(File({ihdr, Chunk("idat", Deflate(Scanlines(pic, false, 0))), kIend})), nullptr)
      << "chunk types are compared exactly";
  // A length so large that adding the 12 framing bytes would wrap round in 32 bits.
  Bytes huge = File({ihdr, idat, kIend});
  huge.insert(huge.end() - 12, {0xFF, 0xFF, 0xFF, 0xF8, 't', 'E', 'X', 't'});
  EXPECT_EQ(Load(huge), nullptr);
}

TEST(PngContainer, HeaderValuesOutsideTheTableAreRefused) {
  const Bytes plte = Chunk("PLTE", Bytes(768, 0x40));
  const auto load = [&](uint32_t w, uint32_t h, int depth, int colour, Bytes ihdr_data) {
    const size_t per_pixel = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
    const Bytes rows(h * (1 + (w * size_t(depth) + 7) / 8 * per_pixel), 0);
    return Load(File({Chunk("IHDR", ihdr_data), plte, Chunk("IDAT", Deflate(rows)), kIend}));
  };
  const std::vector<int> accepted[7] = {{1, 2, 4, 8, 16}, {}, {8, 16}, {1, 2, 4, 8},
                                        {8, 16},          {}, {8, 16}};
  for (int colour = 0; colour < 8; ++colour) {
    for (int depth = 0; depth <= 17; ++depth) {
      const bool ok = colour < 7 && std::find(accepted[colour].begin(), accepted[colour].end(),
                                              depth) != accepted[colour].end();
      const Image image =
          load(3, 2, depth, colour, IhdrData(3, 2, uint8_t(depth), uint8_t(colour)));
      EXPECT_EQ(image != nullptr, ok) << "colour " << colour << " depth " << depth;
    }
  }
  EXPECT_EQ(load(0, 2, 8, 0, IhdrData(0, 2, 8, 0)), nullptr);
  EXPECT_EQ(load(3, 0, 8, 0, IhdrData(3, 0, 8, 0)), nullptr);
  for (int field : {10, 11, 12}) {
    Bytes data = IhdrData(3, 2, 8, 0);
    data[size_t(field)] = field == 12 ? 2 : 1;  // compression 1, filter 1, interlace 2
    EXPECT_EQ(load(3, 2, 8, 0, data), nullptr) << field;
  }
}

TEST(PngContainer, PaletteRules) {
  Picture pic{4, 1, 8, 3, {0, 1, 2, 3}, {}, {}};
  const Bytes idat = Chunk("IDAT", Deflate(Scanlines(pic, false, 0)));
  Bytes colours(771);
  for (size_t i = 0; i < colours.size(); ++i) colours[i] = uint8_t(i * 7);
  const auto load = [&](std::initializer_list<Bytes> chunks) {
    Bytes file = File({Ihdr(4, 1, 8, 3)});
    for (const Bytes& c : chunks) file.insert(file.end(), c.begin(), c.end());
    return Load(file);
  };
  const auto plte = [&](size_t size) {
    return Chunk("PLTE", Bytes(colours.begin(), colours.begin() + long(size)));
  };
  EXPECT_EQ(load({idat, kIend}), nullptr) << "no PLTE";
  EXPECT_EQ(load({plte(771), idat, kIend}), nullptr) << "257 entries";
  const Image full = load({idat, plte(768), plte(3), kIend});  // anywhere; only the first counts
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(Pixel(full, 3, 0), 0xFF3F464Du);
  const Image ten = load({plte(10), idat, kIend});  // 3 entries, one byte left over
  ASSERT_NE(ten, nullptr);
  EXPECT_EQ(Pixel(ten, 2, 0), 0xFF2A3138u);
  EXPECT_EQ(Pixel(ten, 3, 0), 0xFF000000u) << "index past the palette is black";
  const Image none = load({plte(0), idat, kIend});
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(Pixel(none, 1, 0), 0xFF000000u);
  // Other colour types ignore any PLTE, even an oversized one.
  const Picture grey{1, 1, 8, 0, {5}, {}, {}};
  EXPECT_NE(Load(File({Ihdr(1, 1, 8, 0), plte(771),
                       Chunk("IDAT", Deflate(Scanlines(grey, false, 0))), kIend})),
            nullptr);
}

TEST(PngContainer, TransparencyRules) {
  Picture pal{4, 1, 8, 3, {0, 1, 2, 3}, Bytes(9, 0x80), {}};
  const auto alphas = [](const Picture& pic) {
    const Image image = Load(Encode(pic));
    std::vector<uint32_t> out;
    for (uint32_t x = 0; image && x < pic.width; ++x) out.push_back(Pixel(image, x, 0) >> 24);
    return out;
  };
  pal.trns = Bytes{};
  EXPECT_EQ(alphas(pal), std::vector<uint32_t>({255, 255, 255, 255}));
  pal.trns = Bytes{10, 20};
  EXPECT_EQ(alphas(pal), std::vector<uint32_t>({10, 20, 255, 255}));
  pal.trns = Bytes(256, 7);  // more alphas than colours: index 3 is black with its own alpha
  EXPECT_EQ(alphas(pal), std::vector<uint32_t>({7, 7, 7, 7}));
  pal.trns = Bytes(257, 7);
  EXPECT_TRUE(alphas(pal).empty());

  const auto loads = [](uint8_t colour, size_t trns_size) {
    Picture pic{1,
                1,
                8,
                colour,
                std::vector<uint16_t>(size_t(Channels(colour)), 1),
                {},
                Bytes(trns_size, 1)};
    return Load(Encode(pic)) != nullptr;
  };
  EXPECT_TRUE(loads(0, 2));
  EXPECT_FALSE(loads(0, 3));
  EXPECT_FALSE(loads(0, 0));
  EXPECT_TRUE(loads(2, 6));
  EXPECT_FALSE(loads(2, 2));
  for (uint8_t colour : {4, 6}) {
    for (size_t size : {0, 2, 6}) EXPECT_FALSE(loads(colour, size)) << int(colour) << " " << size;
  }

  // 16-bit samples keep their high byte, but keys compare all 16 bits of the raw samples; a key
  // that cannot occur at the depth never matches, not even on its low bits.
  Picture wide{2, 1, 16, 2, {0x12FF, 0x3400, 0xFFFF, 0x1200, 0x3400, 0xFFFF}, {}, {}};
  wide.trns = BE16({0x12FF, 0x3400, 0xFFFF});
  const Image deep = Load(Encode(wide));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(Pixel(deep, 0, 0), 0x001234FFu);
  EXPECT_EQ(Pixel(deep, 1, 0), 0xFF1234FFu);
  const Image unkeyed = Load(Encode(Picture{1, 1, 8, 0, {0}, {}, BE16({0x100})}));
  ASSERT_NE(unkeyed, nullptr);
  EXPECT_EQ(Pixel(unkeyed, 0, 0), 0xFF000000u);

  // Only the first tRNS counts.
  const Picture grey{2, 1, 8, 0, {3, 4}, {}, {}};
  const Image image =
      Load(File({Ihdr(2, 1, 8, 0), Chunk("tRNS", BE16({4})), Chunk("tRNS", BE16({3})),
                 Chunk("IDAT", Deflate(Scanlines(grey, false, 0))), kIend}));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(Pixel(image, 0, 0) >> 24, 255u);
  EXPECT_EQ(Pixel(image, 1, 0) >> 24, 0u);
}

TEST(PngImageData, GatheredFromEveryIdatAndInflatedToTheExactSize) {
  // Headers with the inflated size they demand, worked out by hand.
  const std::pair<Bytes, size_t> sizes[] = {{Ihdr(1, 1, 8, 6), 5},      {Ihdr(10, 2, 1, 0), 6},
                                            {Ihdr(1, 1, 8, 0, 1), 2},   {Ihdr(3, 3, 8, 2, 1), 33},
                                            {Ihdr(8, 8, 8, 6, 1), 271}, {Ihdr(5, 1, 4, 0, 1), 8}};
  for (const auto& [ihdr, size] : sizes) {
    for (size_t n : {size - 1, size, size + 1}) {
      const Bytes file = File({ihdr, Chunk("IDAT", Deflate(Bytes(n, 0))), kIend});
      EXPECT_EQ(Load(file) != nullptr, n == size) << "demanded " << size << ", given " << n;
    }
  }

  Picture pic{7, 5, 8, 2, {}, {}, {}};
  for (int i = 0; i < 7 * 5 * 3; ++i) pic.samples.push_back(uint16_t(i * 5 % 256));
  const Bytes ihdr = Ihdr(7, 5, 8, 2), stream = Deflate(Scanlines(pic, false, 0));
  const auto part = [&](size_t from, size_t to) {
    return Chunk("IDAT", Bytes(stream.begin() + long(from), stream.begin() + long(to)));
  };
  const size_t third = stream.size() / 3;
  const Bytes split = File({ihdr, part(0, third), Chunk("tEXt", {'k', 0}), part(third, third),
                            Chunk("PLTE", {1, 2, 3}), part(third, 2 * third), Chunk("zzzz"),
                            part(2 * third, stream.size()), kIend});
  const Image gathered = Load(split);
  ASSERT_NE(gathered, nullptr);
  EXPECT_EQ(Pixel(gathered, 6, 4), 0xFFFE0308u);

  // Plain zeros compress about as densely as deflate allows; such a stream still loads.
  const Bytes zeros = Deflate(Bytes(size_t(2049) * 2048, 0));
  EXPECT_GT(size_t(2049) * 2048 / zeros.size(), 1000u);
  EXPECT_NE(Load(File({Ihdr(2048, 2048, 8, 0), Chunk("IDAT", zeros), kIend})), nullptr);

  Bytes trailing = stream;
  trailing.insert(trailing.end(), {1, 2, 3});
  EXPECT_NE(Load(File({ihdr, Chunk("IDAT", trailing), kIend})), nullptr)
      << "bytes after the stream";
  Bytes adler = stream;
  adler.back() ^= 1;
  Bytes raw_deflate(stream.begin() + 2, stream.end());
  const Bytes failures[] = {
      File({ihdr, Chunk("tEXt", {'k', 0}), kIend}),                 // no IDAT
      File({ihdr, Chunk("IDAT"), Chunk("IDAT"), kIend}),            // only empty ones
      File({ihdr, Chunk("IDAT", adler), kIend}),                    // bad Adler-32
      File({ihdr, part(0, stream.size() - 5), kIend}),              // stream cut short
      File({ihdr, Chunk("IDAT", raw_deflate), kIend}),              // no zlib header
      File({ihdr, Chunk("IDAT", Deflate(Bytes(1000, 0))), kIend}),  // beyond the capacity
  };
  for (const Bytes& file : failures) EXPECT_EQ(Load(file), nullptr);
}

TEST(PngImageData, SizesBeyond32BitsAreRefusedNotWrapped) {
  // 2^29 pixels of 8 bytes: a scanline of 2^32 + 1 bytes, which would wrap to 1; five rows
  // would then "need" 5 bytes.
  EXPECT_EQ(Load(File({Ihdr(1u << 29, 5, 16, 6), Chunk("IDAT", Deflate(Bytes(5, 0))), kIend})),
            nullptr);
  // As a single row, its texture output (2^31 bytes) would fit: the scanline must still not wrap.
  EXPECT_EQ(Load(File({Ihdr(1u << 29, 1, 16, 6), Chunk("IDAT", Deflate(Bytes(1, 0))), kIend}), 3),
            nullptr);
  // Interlaced, its passes add up to 2^32 + 4 bytes.
  EXPECT_EQ(Load(File({Ihdr(1u << 29, 1, 16, 6, 1), Chunk("IDAT", Deflate(Bytes(4, 0))), kIend})),
            nullptr);
  EXPECT_EQ(
      Load(File({Ihdr(UINT32_MAX, UINT32_MAX, 16, 6), Chunk("IDAT", Deflate(Bytes(9, 0))), kIend})),
      nullptr);
  // Valid data whose output would take exactly 2^32 bytes (and wrap to 0) as a texture.
  const Bytes data(size_t(8193) * 16384, 0);
  const Bytes file = File({Ihdr(65536, 16384, 1, 0), Chunk("IDAT", Deflate(data)), kIend});
  for (int32_t target : {1, 2, 3}) EXPECT_EQ(Load(file, target), nullptr) << target;
}

TEST(PngLoad, FilesAndMemoryBlocks) {
  const Picture pic{3, 2, 8, 0, {1, 2, 3, 4, 5, 6}, {}, {}};
  const Bytes good = Encode(pic);
  const std::filesystem::path dir = testing::TempDir() + "kastrel_png_load";
  std::filesystem::create_directories(dir);
  const auto write = [&](const char* name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return (dir / name).string();
  };
  const Image from_file(static_cast<uint8_t*>(png_load(write("good.png", good), 2)));
  const Image from_memory = Load(good);
  ASSERT_TRUE(from_file && from_memory);
  EXPECT_EQ(Bytes(from_file.get(), from_file.get() + 32 + 2 * 32),
            Bytes(from_memory.get(), from_memory.get() + 32 + 2 * 32));
  for (const std::string& path :
       {std::string(), (dir / "missing.png").string(), write("empty.png", {}), dir.string()})
    EXPECT_EQ(png_load(path, 2), nullptr) << path;

  EXPECT_EQ(png_load_mem(nullptr, 100, 2), nullptr);
  EXPECT_EQ(png_load_mem(good.data(), -1, 2), nullptr);
  // A block under 49 bytes is refused without being read: these bytes cannot be read at all.
  const long page = sysconf(_SC_PAGESIZE);
  void* guarded = mmap(nullptr, size_t(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(guarded, MAP_FAILED);
  EXPECT_EQ(png_load_mem(guarded, 48, 2), nullptr);
  munmap(guarded, size_t(page));

  // The caller's block is left as it was, whether the load succeeds or fails late.
  Bytes bad_filter =
      File({Ihdr(3, 2, 8, 0), Chunk("IDAT", Deflate({7, 1, 2, 3, 0, 4, 5, 6})), kIend});
  for (const Bytes& file : {good, bad_filter}) {
    const Bytes before = file;
    Load(file);
    EXPECT_EQ(file, before);
  }
  EXPECT_EQ(Load(bad_filter), nullptr);
}

}  // namespace
