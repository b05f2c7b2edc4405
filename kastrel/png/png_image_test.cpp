#include "kastrel/png/png_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <tuple>

#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/png/testing/png_check.h"
#include "kastrel/png/testing/png_writer.h"

namespace {

using namespace pngtest;

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
  if (pic.colour == 3) {
    const size_t index = pic.Sample(x, y, 0);
    if (index * 3 + 2 < pic.palette.size())
      r = pic.palette[index * 3], g = pic.palette[index * 3 + 1], b = pic.palette[index * 3 + 2];
    if (pic.trns && index < pic.trns->size()) a = (*pic.trns)[index];
  } else {  // grey or RGB, each with or without an alpha channel
    const bool grey = pic.colour == 0 || pic.colour == 4;
    r = eight(0), g = eight(grey ? 0 : 1), b = eight(grey ? 0 : 2);
    a = pic.colour >= 4 ? eight(grey ? 1 : 3) : keyed(grey ? 1 : 3) ? 0 : 255;
  }
  return a << 24 | r << 16 | g << 8 | b;
}

void ExpectMatchesModel(const Picture& pic, const Bytes& file) {
  ExpectDecodes(file, pic.width, pic.height,
                [&](uint32_t x, uint32_t y) { return ExpectedColour(pic, x, y); });
}

TEST(PngDecode, EveryColourTypeDepthAndInterlaceMatchesTheSampleRules) {
  const std::pair<uint8_t, std::vector<uint8_t>> kinds[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  // Small pictures, and rows long enough for the scanline loops and packed-byte tables to run
  // past their first few pixels; the writer gives the rows the five filters in turn.
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1},  {5, 3},   {13, 9},
                                                 {33, 2}, {67, 11}, {130, 11}};
  std::mt19937 rng(7);
  for (const auto& [colour, depths] : kinds) {
    for (uint8_t depth : depths) {
      for (const auto& [w, h] : sizes) {
        for (bool interlaced : {false, true}) {
          Picture pic{w, h, depth, colour, {}, {}, {}};
          const uint32_t max = (1u << depth) - 1;
          // Many zeros and largest samples, so that the filters meet ties and equal neighbours.
          for (size_t i = 0; i < size_t(w) * h * size_t(Channels(colour)); ++i) {
            const uint32_t kind = rng() % 4;
            pic.samples.push_back(uint16_t(kind == 0 ? 0 : kind == 1 ? max : rng() & max));
          }
          if (colour == 3) {
            // Short palettes leave the last index without a colour of its own.
            for (uint32_t i = 0; i < (w > 60 ? max + 1 : std::max(1u, max)) * 3; ++i)
              pic.palette.push_back(uint8_t(rng()));
            pic.trns = Bytes(max / 2);
            for (uint8_t& alpha : *pic.trns) alpha = uint8_t(rng());
          } else if ((colour == 0 || colour == 2) && (interlaced || w > 60)) {
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

TEST(PngDecode, FilterTypesAboveFourAreRefused) {
  const Picture pic{8, 8, 8, 0, std::vector<uint16_t>(64, 9), {}, {}};
  for (uint8_t interlaced : {0, 1}) {
    ASSERT_NE(Load(Encode(pic, interlaced, 1)), nullptr);
    for (uint8_t bad : {5, 255}) {
      Bytes lines = Scanlines(pic, interlaced, 1);
      lines[lines.size() - 9] = bad;  // the very last row (of the last Adam7 pass)
      const Bytes ihdr = Ihdr(8, 8, 8, 0, interlaced);
      EXPECT_EQ(Load(File({ihdr, Chunk("IDAT", Deflate(lines)), kIend})), nullptr) << int(bad);
    }
  }
}

TEST(PngOutput, TargetsAndTheirLimits) {
  const auto grey = [](uint32_t w, uint32_t h) {
    Picture pic{w, h, 1, 0, {}, {}, {}};
    for (uint32_t i = 0; i < w * h; ++i) pic.samples.push_back(uint16_t(i % 2));
    return Encode(pic);
  };
  for (int32_t target : {0, 4, -1, INT32_MIN})
    EXPECT_EQ(Load(grey(10, 5), target), nullptr) << target;
  // The compact header holds at most 8191 x 65535 pixels.
  EXPECT_NE(Load(grey(8191, 1), 1), nullptr);
  EXPECT_EQ(Load(grey(8192, 1), 1), nullptr);
  EXPECT_NE(Load(grey(8192, 1), 2), nullptr);
  EXPECT_NE(Load(grey(1, 65535), 1), nullptr);
  EXPECT_EQ(Load(grey(1, 65536), 1), nullptr);
}

TEST(PngContainer, ChunkLayer) {
  const Picture pic{2, 2, 8, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}, {}};
  const Bytes ihdr = Ihdr(2, 2, 8, 2), stream = Deflate(Scanlines(pic, false, 0));
  const Bytes idat = Chunk("IDAT", stream), text = Chunk("tEXt", {'a', 0, 'b'});
  const Bytes good = File({ihdr, idat, kIend});
  Bytes bad_text = text, long_ihdr = IhdrData(2, 2, 8, 2), signature = good, huge = good;
  bad_text.back() ^= 1;
  long_ihdr.push_back(0);
  signature[3] ^= 0x20;
  // A length so large that adding the 12 framing bytes would wrap round in 32 bits.
  huge.insert(huge.end() - 12, {0xFF, 0xFF, 0xFF, 0xF8, 't', 'E', 'X', 't'});
  const std::pair<Bytes, bool> cases[] = {
      {good, true},
      {File({ihdr, text, idat, kIend}), true},
      {File({ihdr, Chunk("ABCD", {1, 2}), idat, kIend}), true},  // unknown critical chunk
      {File({ihdr, idat, Chunk("IEND", {1, 2, 3})}), true},      // IEND with data
      {File({ihdr, kIend, idat, kIend}), true},                  // an IEND that is not last
      {File({ihdr, idat, kIend, text, kIend}), true},            // whole chunks after IEND
      {File({ihdr, Ihdr(99, 99, 8, 0), idat, kIend}), true},     // a second IHDR
      {signature, false},
      {File({ihdr, bad_text, idat, kIend}), false},     // every chunk's CRC counts
      {Bytes(good.begin(), good.end() - 1), false},     // cut inside IEND
      {File({ihdr, idat, kIend, text}), false},         // last chunk not IEND
      {File({ihdr, Chunk("IEND", Bytes(30))}), false},  // two chunks only
      {File({text, ihdr, idat, kIend}), false},         // IHDR not first
      {File({Chunk("IHDR", long_ihdr), idat, kIend}), false},
      {File({ihdr, Chunk("idat", stream), kIend}), false},  // chunk types are compared exactly
      {huge, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(Load(cases[i].first) != nullptr, cases[i].second) << "case " << i;
  for (size_t extra : {1, 7, 8, 11}) {
    Bytes longer = good;
    longer.resize(good.size() + extra, 0);
    EXPECT_EQ(Load(longer), nullptr) << extra << " bytes after IEND";
  }
}

TEST(PngContainer, HeaderValuesOutsideTheTableAreRefused) {
  const Bytes plte = Chunk("PLTE", Bytes(768, 0x40));
  const auto load = [&](uint32_t w, uint32_t h, int depth, int colour, Bytes ihdr_data) {
    const size_t per_pixel = size_t(Channels(uint8_t(colour)));
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
  const auto plte = [&](size_t size) {
    return Chunk("PLTE", Bytes(colours.begin(), colours.begin() + long(size)));
  };
  const auto file = [&](std::initializer_list<Bytes> chunks) {
    Bytes out = File({Ihdr(4, 1, 8, 3)});
    for (const Bytes& c : chunks) out.insert(out.end(), c.begin(), c.end());
    return out;
  };
  EXPECT_EQ(Load(file({idat, kIend})), nullptr) << "no PLTE";
  EXPECT_EQ(Load(file({plte(771), idat, kIend})), nullptr) << "257 entries";
  // Anywhere, and only the first counts; a part entry left over (indices past the palette are
  // black); no entries at all.
  for (size_t size : {768, 10, 0}) {
    pic.palette.assign(colours.begin(), colours.begin() + long(size));
    ExpectMatchesModel(pic, size == 768 ? file({idat, plte(768), plte(3), kIend})
                                        : file({plte(size), idat, kIend}));
  }
  // Other colour types ignore any PLTE, even an oversized one.
  const Picture grey{1, 1, 8, 0, {5}, {}, {}};
  ExpectMatchesModel(grey, File({Ihdr(1, 1, 8, 0), plte(771),
                                 Chunk("IDAT", Deflate(Scanlines(grey, false, 0))), kIend}));
}

TEST(PngContainer, TransparencyRules) {
  // Palette alphas by index: none, fewer than the colours, more (index 3 is black with an alpha
  // of its own); 257 are too many.
  Picture pal{4, 1, 8, 3, {0, 1, 2, 3}, Bytes(9, 0x80), {}};
  for (const Bytes& trns : {Bytes{}, Bytes{10, 20}, Bytes(256, 7)}) {
    pal.trns = trns;
    ExpectMatchesModel(pal, Encode(pal));
  }
  pal.trns = Bytes(257, 7);
  EXPECT_EQ(Load(Encode(pal)), nullptr);

  // A key of the size its colour type needs; the types with alpha take none.
  const std::tuple<uint8_t, size_t, bool> keys[] = {
      {0, 2, true},  {0, 3, false}, {0, 0, false}, {2, 6, true},  {2, 2, false}, {4, 0, false},
      {4, 2, false}, {4, 6, false}, {6, 0, false}, {6, 2, false}, {6, 6, false}};
  for (const auto& [colour, size, ok] : keys) {
    const std::vector<uint16_t> samples(size_t(Channels(colour)), 1);
    EXPECT_EQ(Load(Encode(Picture{1, 1, 8, colour, samples, {}, Bytes(size, 1)})) != nullptr, ok)
        << int(colour) << " " << size;
  }

  // 16-bit samples keep their high byte, but keys compare all 16 bits of the raw samples; a key
  // that cannot occur at the depth never matches, not even on its low bits.
  const Picture wide{2, 1, 16, 2, {0x12FF, 0x3400, 0xFFFF, 0x1200, 0x3400, 0xFFFF}, {},
                     BE16({0x12FF, 0x3400, 0xFFFF})};
  ExpectMatchesModel(wide, Encode(wide));
  EXPECT_EQ(ExpectedColour(wide, 0, 0), 0x001234FFu);
  const Picture unkeyed{1, 1, 8, 0, {0}, {}, BE16({0x100})};
  ExpectMatchesModel(unkeyed, Encode(unkeyed));

  // Only the first tRNS counts.
  const Picture grey{2, 1, 8, 0, {3, 4}, {}, BE16({4})};
  ExpectMatchesModel(grey,
                     File({Ihdr(2, 1, 8, 0), Chunk("tRNS", BE16({4})), Chunk("tRNS", BE16({3})),
                           Chunk("IDAT", Deflate(Scanlines(grey, false, 0))), kIend}));
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
  ExpectMatchesModel(pic, File({ihdr, part(0, third), Chunk("tEXt", {'k', 0}), part(third, third),
                                Chunk("PLTE", {1, 2, 3}), part(third, 2 * third), Chunk("zzzz"),
                                part(2 * third, stream.size()), kIend}));

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
  const auto file = [](uint32_t w, uint32_t h, uint8_t interlace, size_t inflated) {
    return File({Ihdr(w, h, 16, 6, interlace), Chunk("IDAT", Deflate(Bytes(inflated, 0))), kIend});
  };
  // 2^29 pixels of 8 bytes: a scanline of 2^32 + 1 bytes, which would wrap to 1; five rows
  // would then "need" 5 bytes.
  EXPECT_EQ(Load(file(1u << 29, 5, 0, 5)), nullptr);
  // As a single row, its texture output (2^31 bytes) would fit: the scanline must still not wrap.
  EXPECT_EQ(Load(file(1u << 29, 1, 0, 1), 3), nullptr);
  EXPECT_EQ(Load(file(1u << 29, 1, 1, 4)), nullptr);  // Adam7 passes adding up to 2^32 + 4
  EXPECT_EQ(Load(file(UINT32_MAX, UINT32_MAX, 0, 9)), nullptr);
  // Valid data whose output would take exactly 2^32 bytes (and wrap to 0) as a texture.
  const Bytes data(size_t(8193) * 16384, 0);
  const Bytes huge = File({Ihdr(65536, 16384, 1, 0), Chunk("IDAT", Deflate(data)), kIend});
  for (int32_t target : {1, 2, 3}) EXPECT_EQ(Load(huge, target), nullptr) << target;

  // The pixel cap bounds the decoder's memory too (10 bytes a capped pixel): 900 pixels under a
  // cap of 1000 fit at 8 bits in every layout, but not as interlaced 16-bit RGBA, which inflates
  // to 8 bytes a pixel beside its 4 of output.
  for (const auto& [depth, interlaced, loads] :
       {std::tuple{8, true, true}, {8, false, true}, {16, false, true}, {16, true, false}}) {
    Picture pic{30, 30, uint8_t(depth), 6, std::vector<uint16_t>(3600, 7), {}, {}};
    const Bytes png = Encode(pic, interlaced);
    void* image = png_load_mem_limited(png.data(), int32_t(png.size()), 2, 1000);
    EXPECT_EQ(image != nullptr, loads) << depth << " " << interlaced;
    std::free(image);
  }
}

TEST(PngLoad, FilesAndMemoryBlocks) {
  const Bytes good = Encode(Picture{3, 2, 8, 0, {1, 2, 3, 4, 5, 6}, {}, {}});
  const kastrel_testing::TempDir temp;
  const fs::path dir = temp.path();
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
}

// ---------------------------------------------------------------------------------------------
// Real files made by other encoders (the PNG conformance suite), and damaged copies of them.

// Each valid file decodes to the picture the reference decoder gives (by its listed sum) in all
// three forms on every loop set.
TEST(PngSuite, ValidFilesDecodeToTheReferencePictures) {
  SKIP_WITHOUT_SUITE();
  const std::map<std::string, uint64_t> sums = SuiteSums();
  int compared = 0;
  for (const fs::path& path : SuiteFiles('x', false)) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const Bytes file = ReadFile(path);
    const Image image = Load(file, 2);
    ASSERT_NE(image, nullptr);
    const uint32_t w = LE32(image.get() + 8), h = LE32(image.get() + 12);
    Bytes bgra;
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* row = image.get() + 32 + size_t(y) * LE32(image.get() + 16);
      bgra.insert(bgra.end(), row, row + size_t(w) * 4);
    }
    ASSERT_TRUE(sums.count(name)) << "not in pngsuite.sums";
    EXPECT_EQ(PictureSum(w, h, bgra.data()), sums.at(name));
    ExpectDecodes(file, w, h, [&](uint32_t x, uint32_t y) { return LE32(&bgra[(size_t(y) * w + x) * 4]); });
    ++compared;
  }
  EXPECT_GE(compared, 150) << "the suite looks incomplete";
}

TEST(PngSuite, BrokenFilesYieldNull) {
  SKIP_WITHOUT_SUITE();
  const std::vector<fs::path> broken = SuiteFiles('x', true);
  EXPECT_GE(broken.size(), 10u);
  for (const fs::path& path : broken) {
    for (int target : {1, 2, 3}) EXPECT_EQ(png_load(path.string(), target), nullptr) << path;
  }
}

// A decoded image must be complete: the header agrees with the file's IHDR, and a second decode
// gives the same bytes over the whole size the header implies (read in full, so the sanitizers
// see any shortfall).
void ExpectCompleteOrNull(const Bytes& file, int target) {
  const Image image = Load(file, target);
  if (!image) return;
  const uint32_t w = BE32(&file[16]), h = BE32(&file[20]);
  ExpectHeader(image.get(), target, w, h);
  const size_t size = target == 1   ? 4 + size_t(w) * h * 4
                      : target == 2 ? 32 + size_t(LE32(image.get() + 16)) * h
                                    : size_t(w) * h * 4;
  const Image again = Load(file, target);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::memcmp(image.get(), again.get(), size), 0);
}

TEST(PngRobustness, TruncatedAndDamagedFilesYieldNullOrACompleteImage) {
  std::vector<Bytes> files;
  Picture pic{9, 7, 2, 3, {}, Bytes(12, 0x55), Bytes{0, 128}};
  for (int i = 0; i < 63; ++i) pic.samples.push_back(uint16_t(i % 4));
  files.push_back(Encode(pic, true, -1));
  if (fs::is_directory(Suite())) {
    for (const char* name : {"s09i3p02.png", "basi0g04.png", "basi2c16.png", "tbbn3p08.png"})
      files.push_back(ReadFile(Suite() / name));
  }
  for (const Bytes& file : files) {
    ASSERT_GT(file.size(), 49u);
    for (size_t size = 0; size < file.size(); ++size) {
      const Bytes cut(file.begin(), file.begin() + long(size));  // exactly size bytes on the heap
      ASSERT_EQ(Load(cut), nullptr) << size;
    }
    int decoded = 0;
    for (size_t at = 0; at < file.size(); ++at) {
      Bytes damaged = file;
      damaged[at] ^= 0xFF;
      // Then with the CRCs made good again, so that the damage reaches the header, palette and
      // image data.
      for (bool repaired : {false, true}) {
        if (repaired) RepairCrcs(damaged.data(), damaged.size());
        for (int target : {1, 2, 3}) ExpectCompleteOrNull(damaged, target);
      }
      decoded += Load(damaged) != nullptr;
    }
    EXPECT_GT(decoded, 0);
  }
}

}  // namespace
