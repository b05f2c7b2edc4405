// PNG decoding: a corpus written here with libpng from a fixed seed, decoded by our decoder
// (image buffer form), libpng (expanded to 8-bit BGRA), spng (RGBA8) and stb_image (4 channels).

#include <png.h>
#include <spng.h>
#include <stb/stb_image.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/table.h"
#include "kastrel/png/png_image.h"

namespace bench {
namespace {

using Bytes = std::vector<uint8_t>;

struct Spec {
  int colour;  // PNG colour type
  int depth;
  bool photo;  // photo-like, or flat areas of few colours
  bool interlaced;
};

struct Encoded {
  Bytes file;
  uint32_t width, height;
  Bytes stream;         // the IDAT data, for timing the inflater alone
  size_t inflated = 0;  // the size it inflates to
};

// Smooth value noise on a lattice of the given cell size, from a fixed table of random values.
class Noise {
 public:
  explicit Noise(uint32_t seed) {
    std::mt19937 rng(seed);
    for (auto& v : table_) v = float(rng() % 1024) / 1023.0f;
  }
  float At(float x, float y) const {
    const int xi = int(std::floor(x)), yi = int(std::floor(y));
    const float fx = x - float(xi), fy = y - float(yi);
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float a = Lattice(xi, yi), b = Lattice(xi + 1, yi);
    const float c = Lattice(xi, yi + 1), d = Lattice(xi + 1, yi + 1);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
  }

 private:
  float Lattice(int x, int y) const { return table_[uint32_t(x * 73 + y * 151) & 1023u]; }
  float table_[1024];
};

// Channel c (0..3 = red, green, blue, alpha) of pixel (x, y) in 0..1.
float PhotoSample(const Noise& noise, std::mt19937& grain, uint32_t x, uint32_t y, int c,
                  uint32_t w, uint32_t h) {
  const float u = float(x) / float(w), v = float(y) / float(h);
  const float base = 0.35f * noise.At(float(x) / 97.0f + float(c) * 13, float(y) / 83.0f) +
                     0.25f * noise.At(float(x) / 23.0f, float(y) / 29.0f + float(c) * 7) +
                     0.2f * (c == 3 ? 1 - u * v
                                    : (c == 0   ? u
                                       : c == 1 ? v
                                                : 1 - u));
  const float jitter = float(int(grain() % 9) - 4) / 255.0f;  // sensor grain
  return std::fmin(1.0f, std::fmax(0.0f, base + 0.1f + jitter));
}

float FlatSample(uint32_t x, uint32_t y, int c, uint32_t w, uint32_t h) {
  // Bands, panels and a disc of flat colour, like user-interface art or a drawing.
  const uint32_t panel = (x * 5 / w) + (y * 4 / h) * 5;
  const float dx = float(x) - float(w) / 2, dy = float(y) - float(h) / 2;
  const bool disc = dx * dx + dy * dy < float(w * h) / 16;
  static const float colours[8][4] = {{0.9f, 0.2f, 0.2f, 1}, {0.2f, 0.6f, 0.9f, 1},
                                      {1, 1, 1, 1},          {0.1f, 0.1f, 0.1f, 0},
                                      {0.4f, 0.8f, 0.3f, 1}, {0.95f, 0.85f, 0.2f, 0.5f},
                                      {0.5f, 0.5f, 0.5f, 1}, {0, 0, 0, 0}};
  const float* colour = colours[disc ? 5 : (panel % 3 == 0 ? 3 : panel % 8)];
  return colour[c];
}

// Writes the picture with libpng at the given zlib level; adaptive filters as libpng chooses.
Encoded Encode(const Spec& spec, uint32_t w, uint32_t h, int level, uint32_t seed) {
  const Noise noise(seed);
  std::mt19937 grain(seed * 7 + 1);
  const int channels = spec.colour == 2 ? 3 : spec.colour == 4 ? 2 : spec.colour == 6 ? 4 : 1;
  const size_t row_bytes = (size_t(w) * size_t(channels) * size_t(spec.depth) + 7) / 8;
  std::vector<Bytes> rows(h, Bytes(row_bytes, 0));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      float rgba[4];
      for (int c = 0; c < 4; ++c)
        rgba[c] = spec.photo ? PhotoSample(noise, grain, x, y, c, w, h) : FlatSample(x, y, c, w, h);
      const float grey = 0.3f * rgba[0] + 0.59f * rgba[1] + 0.11f * rgba[2];
      float values[4];
      switch (spec.colour) {
        case 0:
          values[0] = grey;
          break;
        case 4:
          values[0] = grey, values[1] = rgba[3];
          break;
        case 2:
          values[0] = rgba[0], values[1] = rgba[1], values[2] = rgba[2];
          break;
        case 6:
          std::memcpy(values, rgba, sizeof rgba);
          break;
        default:
          break;
      }
      if (spec.colour == 3) {
        // Palette of 2^depth entries: the grey-blue ramp quantised.
        const uint32_t levels = (1u << spec.depth) - 1;
        const uint32_t index =
            uint32_t(std::lround((0.5f * grey + 0.5f * rgba[2]) * float(levels)));
        const size_t bit = size_t(x) * size_t(spec.depth);
        rows[y][bit / 8] |= uint8_t(index << (8 - spec.depth - bit % 8));
        continue;
      }
      for (int c = 0; c < channels; ++c) {
        const size_t i = size_t(x) * size_t(channels) + size_t(c);
        if (spec.depth == 16) {
          const uint32_t v = uint32_t(std::lround(values[c] * 65535.0f)) ^ (grain() & 0xFF);
          rows[y][2 * i] = uint8_t(v >> 8), rows[y][2 * i + 1] = uint8_t(v);
        } else {
          rows[y][i] = uint8_t(std::lround(values[c] * 255.0f));
        }
      }
    }
  }

  Encoded out{{}, w, h, {}, 0};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng could not write the corpus");
  png_set_write_fn(
      png, &out.file,
      [](png_structp p, png_bytep data, size_t size) {
        auto* file = static_cast<Bytes*>(png_get_io_ptr(p));
        file->insert(file->end(), data, data + size);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, spec.depth, spec.colour,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (spec.colour == 3) {
    const int entries = 1 << spec.depth;
    std::vector<png_color> palette(static_cast<size_t>(entries));
    std::vector<png_byte> alpha(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
      const float t = float(i) / float(entries - 1);
      palette[size_t(i)] = {png_byte(40 + 200 * t), png_byte(60 + 180 * t * t), png_byte(255 * t)};
      alpha[size_t(i)] = png_byte(i == 0 ? 0 : 255);
    }
    png_set_PLTE(png, info, palette.data(), entries);
    png_set_tRNS(png, info, alpha.data(), entries, nullptr);
  }
  png_set_compression_level(png, level);
  png_write_info(png, info);
  std::vector<png_bytep> pointers(h);
  for (uint32_t y = 0; y < h; ++y) pointers[y] = rows[y].data();
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  // The concatenated IDAT data.
  for (size_t at = 8; at + 12 <= out.file.size();) {
    const uint8_t* c = out.file.data() + at;
    const size_t length = size_t(c[0]) << 24 | size_t(c[1]) << 16 | size_t(c[2]) << 8 | c[3];
    if (std::memcmp(c + 4, "IDAT", 4) == 0)
      out.stream.insert(out.stream.end(), c + 8, c + 8 + length);
    at += length + 12;
  }
  const size_t scan = (size_t(w) * size_t(channels) * size_t(spec.depth) + 7) / 8 + 1;
  out.inflated = spec.interlaced ? scan * h * 2 : scan * h;  // capacity only, when interlaced
  return out;
}

struct Class {
  std::string name;
  Spec spec;
  std::vector<Encoded> images;
  double pixels = 0;
};

std::vector<Class>& Corpus() {
  static std::vector<Class> corpus;
  return corpus;
}

struct Size {
  uint32_t w, h;
  int level;
};
const Size kSizes[] = {{64, 64, 9}, {256, 256, 1}, {640, 480, 6}, {1920, 1080, 6}};

// The classes of the corpus, their pictures not yet made.
void ListClasses() {
  const struct {
    const char* name;
    Spec spec;
  } classes[] = {
      {"photo RGB8", {2, 8, true, false}},     {"photo RGBA8", {6, 8, true, false}},
      {"photo RGB16", {2, 16, true, false}},   {"photo RGBA16", {6, 16, true, false}},
      {"flat RGB8", {2, 8, false, false}},     {"flat RGBA8", {6, 8, false, false}},
      {"palette 8-bit", {3, 8, true, false}},  {"palette 4-bit", {3, 4, false, false}},
      {"grey 8-bit", {0, 8, true, false}},     {"grey+alpha 8-bit", {4, 8, true, false}},
      {"interlaced RGB8", {2, 8, true, true}}, {"interlaced RGBA8", {6, 8, false, true}},
  };
  for (const auto& c : classes) {
    Class cls{c.name, c.spec, {}, 0};
    for (const Size& s : kSizes) cls.pixels += double(s.w) * s.h;
    Corpus().push_back(std::move(cls));
  }
}

// The corpus: each class at four sizes, written at zlib levels 9, 1, 6 and 6.
void MakePictures() {
  uint32_t seed = 20240611;
  // KASTREL_BENCH_CORPUS names a folder to leave the corpus in, for a look or a profile.
  const char* keep = std::getenv("KASTREL_BENCH_CORPUS");
  for (Class& cls : Corpus()) {
    for (const Size& s : kSizes) {
      cls.images.push_back(Encode(cls.spec, s.w, s.h, s.level, seed++));
      if (keep != nullptr) {
        std::string path = std::string(keep) + "/" + cls.name + " " + std::to_string(s.w) + "x" +
                           std::to_string(s.h) + ".png";
        for (char& ch : path) ch = ch == ' ' || ch == '+' ? '_' : ch;
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
          std::fwrite(cls.images.back().file.data(), 1, cls.images.back().file.size(), f);
          std::fclose(f);
        }
      }
    }
  }
}

// ---- The decoders ---------------------------------------------------------------------------

void* DecodeOurs(const Encoded& e) {
  return png_load_mem(e.file.data(), int32_t(e.file.size()), 2);
}

struct MemoryReader {
  const Bytes* file;
  size_t at;
};

// Expanded to 8-bit BGRA, the form of our image buffers.
uint8_t* DecodeLibpng(const Encoded& e) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  uint8_t* volatile out = nullptr;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(out);
    return nullptr;
  }
  MemoryReader reader{&e.file, 0};
  png_set_read_fn(png, &reader, [](png_structp p, png_bytep data, size_t size) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(p));
    if (size > r->file->size() - r->at) png_error(p, "short file");
    std::memcpy(data, r->file->data() + r->at, size);
    r->at += size;
  });
  png_read_info(png, info);
  const int colour = png_get_color_type(png, info);
  png_set_expand(png);  // palette to RGB, small grey to 8 bits, tRNS to alpha
  png_set_strip_16(png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  out = static_cast<uint8_t*>(std::malloc(size_t(w) * h * 4));
  rows.resize(h);
  for (uint32_t y = 0; y < h; ++y) rows[y] = out + size_t(y) * w * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

uint8_t* DecodeSpng(const Encoded& e) {
  spng_ctx* ctx = spng_ctx_new(0);
  uint8_t* out = nullptr;
  size_t size = 0;
  if (spng_set_png_buffer(ctx, e.file.data(), e.file.size()) == 0 &&
      spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
    out = static_cast<uint8_t*>(std::malloc(size));
    if (spng_decode_image(ctx, out, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
      std::free(out);
      out = nullptr;
    }
  }
  spng_ctx_free(ctx);
  return out;
}

// The floor every zlib-based decoder stands on: the same single inflation, nothing else.
uint8_t* InflateOnly(const Encoded& e) {
  auto* out = static_cast<uint8_t*>(std::malloc(e.inflated));
  uLongf size = e.inflated;
  if (uncompress(out, &size, e.stream.data(), uLong(e.stream.size())) != Z_OK) std::abort();
  return out;
}

// Our own floor since the decoder inflates with libdeflate.
uint8_t* InflateOnlyLibdeflate(const Encoded& e) {
  static libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  auto* out = static_cast<uint8_t*>(std::malloc(e.inflated));
  size_t in = 0, size = 0;
  if (libdeflate_zlib_decompress_ex(inflater, e.stream.data(), e.stream.size(), out, e.inflated,
                                    &in, &size) != LIBDEFLATE_SUCCESS)
    std::abort();
  return out;
}

uint8_t* DecodeStb(const Encoded& e) {
  int w, h, n;
  return stbi_load_from_memory(e.file.data(), int(e.file.size()), &w, &h, &n, 4);
}

// Before timing anything: every decoder must give the same pixels as ours, or the comparison
// would be of different work.
void CheckAgreement() {
  for (const Class& cls : Corpus()) {
    for (const Encoded& e : cls.images) {
      auto* ours = static_cast<uint8_t*>(DecodeOurs(e));
      uint8_t* lib = DecodeLibpng(e);
      uint8_t* spng = DecodeSpng(e);
      uint8_t* stb = DecodeStb(e);
      if (!ours || !lib || !spng || !stb) {
        std::fprintf(stderr, "png: a decoder failed on %s %ux%u\n", cls.name.c_str(), e.width,
                     e.height);
        std::exit(1);
      }
      uint32_t pitch;
      std::memcpy(&pitch, ours + 16, 4);
      int mismatches[3] = {0, 0, 0};
      for (uint32_t y = 0; y < e.height; ++y) {
        for (uint32_t x = 0; x < e.width; ++x) {
          const uint8_t* o = ours + 32 + size_t(y) * pitch + x * 4;  // B G R A
          const size_t i = (size_t(y) * e.width + x) * 4;
          const uint8_t rgba[4] = {o[2], o[1], o[0], o[3]};
          mismatches[0] += std::memcmp(o, lib + i, 4) != 0;
          mismatches[1] += std::memcmp(rgba, spng + i, 4) != 0;
          mismatches[2] += std::memcmp(rgba, stb + i, 4) != 0;
        }
      }
      // 16-bit samples: ours and libpng truncate; spng and stb_image may round.
      const bool rounding_may_differ = cls.spec.depth == 16;
      if (mismatches[0] || (!rounding_may_differ && (mismatches[1] || mismatches[2]))) {
        std::fprintf(stderr, "png: decoders disagree on %s %ux%u (libpng %d, spng %d, stb %d)\n",
                     cls.name.c_str(), e.width, e.height, mismatches[0], mismatches[1],
                     mismatches[2]);
        std::exit(1);
      }
      std::free(ours);
      std::free(lib);
      std::free(spng);
      stbi_image_free(stb);
    }
  }
}

// Made on first use, so that a filtered run without PNG benchmarks skips it.
void EnsureCorpus() {
  static const bool made = [] {
    MakePictures();
    CheckAgreement();
    return true;
  }();
  (void)made;
}

template <typename Decode, typename Release>
void Decoding(benchmark::State& state, const Class& cls, Decode decode, Release release) {
  EnsureCorpus();
  for (auto _ : state) {
    for (const Encoded& e : cls.images) {
      auto* pixels = decode(e);
      benchmark::DoNotOptimize(pixels);
      release(pixels);
    }
  }
}

}  // namespace

void RegisterPng() {
  ListClasses();
  const std::string section = "png decoding";
  Columns(section, {"kastrel", "libpng", "spng", "stb_image", "zlib only", "libdeflate only"},
          {"zlib only", "libdeflate only"});
  for (const Class& cls : Corpus()) {
    const double bytes = cls.pixels * 4;
    const Class* c = &cls;
    Add({section, cls.name, "kastrel", bytes},
        [c](benchmark::State& s) { Decoding(s, *c, DecodeOurs, [](void* p) { std::free(p); }); });
    Add({section, cls.name, "libpng", bytes},
        [c](benchmark::State& s) { Decoding(s, *c, DecodeLibpng, [](void* p) { std::free(p); }); });
    Add({section, cls.name, "spng", bytes},
        [c](benchmark::State& s) { Decoding(s, *c, DecodeSpng, [](void* p) { std::free(p); }); });
    Add({section, cls.name, "stb_image", bytes}, [c](benchmark::State& s) {
      Decoding(s, *c, DecodeStb, [](uint8_t* p) { stbi_image_free(p); });
    });
    Add({section, cls.name, "zlib only", bytes}, [c](benchmark::State& s) {
      Decoding(s, *c, InflateOnly, [](uint8_t* p) { std::free(p); });
    });
    Add({section, cls.name, "libdeflate only", bytes}, [c](benchmark::State& s) {
      Decoding(s, *c, InflateOnlyLibdeflate, [](uint8_t* p) { std::free(p); });
    });
  }
  AddTarget({"PNG total decode time vs libpng (<= 0.5x)", section, {}, "kastrel", "libpng", 0.5});
  std::vector<std::string> rows;
  for (const Class& cls : Corpus()) rows.push_back(cls.name);
  AddTarget({"PNG per class vs the fastest rival (<= 0.6x)", section, rows, "kastrel", "", 0.6});
}

}  // namespace bench
