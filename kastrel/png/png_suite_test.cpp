// The decoder against real files made by other encoders (the PNG conformance suite), with
// libpng as the reference decoder, and against damaged copies of real files.

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "kastrel/png/png_image.h"
#include "kastrel/png/testing/png_writer.h"

namespace {

namespace fs = std::filesystem;
using pngtest::Bytes;

struct FreeImage {
  void operator()(uint8_t* image) const { std::free(image); }
};
using Image = std::unique_ptr<uint8_t, FreeImage>;

const fs::path kSuite = fs::path(KASTREL_TESTDATA_DIR) / "pngsuite";

#define SKIP_WITHOUT_SUITE()                                       \
  if (!fs::is_directory(kSuite))                                   \
  GTEST_SKIP() << "The PNG conformance suite is not at " << kSuite \
               << "; point the CMake option KASTREL_TESTDATA_DIR at the shared test data"

std::vector<fs::path> SuiteFiles(char first_letter, bool wanted) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kSuite)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".png" && (name[0] == first_letter) == wanted)
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

struct Reference {
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes bgra;  // rows without gaps
  std::vector<png_bytep> rows;
  const Bytes* file = nullptr;
  size_t read = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t size) {
  auto* ref = static_cast<Reference*>(png_get_io_ptr(png));
  if (size > ref->file->size() - ref->read) png_error(png, "read past the end");
  std::memcpy(out, ref->file->data() + ref->read, size);
  ref->read += size;
}

// libpng set to give 8-bit BGRA the way the decoder converts: palette and grey expanded, the
// tRNS key made alpha 0, 16-bit samples cut to their high byte, no gamma. Everything libpng
// touches after setjmp lives in *ref.
bool ReferenceDecode(const Bytes& file, Reference* ref) {
  ref->file = &file;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                           [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, ref, ReadFromMemory);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  ref->width = png_get_image_width(png, info);
  ref->height = png_get_image_height(png, info);
  if (png_get_rowbytes(png, info) != size_t(ref->width) * 4) png_error(png, "not 8-bit BGRA");
  ref->bgra.assign(size_t(ref->width) * ref->height * 4, 0);
  ref->rows.resize(ref->height);
  for (uint32_t y = 0; y < ref->height; ++y) ref->rows[y] = &ref->bgra[size_t(y) * ref->width * 4];
  png_read_image(png, ref->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// The first pixel where a decoded row differs from libpng's, as text; empty when none does.
std::string Compare(const Reference& ref, const Image& image, int target) {
  const uint32_t w = ref.width, h = ref.height;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t want = LE32(&ref.bgra[(size_t(y) * w + x) * 4]);
      uint32_t got = 0;
      if (target == 1) got = LE32(image.get() + 4 + (size_t(y) * w + x) * 4);
      if (target == 2) got = LE32(image.get() + 32 + size_t(y) * LE32(image.get() + 16) + x * 4);
      if (target == 3) {
        const uint32_t rgba = LE32(image.get() + (size_t(h - 1 - y) * w + x) * 4);
        got = (rgba & 0xFF00FF00) | (rgba >> 16 & 0xFF) | (rgba & 0xFF) << 16;
      }
      if (got != want) {
        return (testing::Message() << "target " << target << " pixel " << x << "," << y << ": "
                                   << std::hex << got << " instead of " << want)
            .GetString();
      }
    }
  }
  return {};
}

TEST(PngSuite, ValidFilesMatchTheReferenceDecoderInAllThreeForms) {
  SKIP_WITHOUT_SUITE();
  int compared = 0;
  for (const fs::path& path : SuiteFiles('x', false)) {
    SCOPED_TRACE(path.filename().string());
    const Bytes file = ReadFile(path);
    Reference ref;
    ASSERT_TRUE(ReferenceDecode(file, &ref));
    const Image buffer(static_cast<uint8_t*>(png_load(path.string(), 2)));
    ASSERT_NE(buffer, nullptr);
    const uint32_t header[5] = {7, 4, ref.width, ref.height, (ref.width * 4 + 31) / 32 * 32};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(LE32(buffer.get() + 4 * i), header[i]);
    EXPECT_EQ(Compare(ref, buffer, 2), "");
    for (int target : {1, 3}) {
      const Image other(
          static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target)));
      ASSERT_NE(other, nullptr);
      EXPECT_EQ(Compare(ref, other, target), "");
    }
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
  const auto load = [&] {
    return Image(static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target)));
  };
  const Image image = load();
  if (!image) return;
  const uint32_t w = BE32(&file[16]), h = BE32(&file[20]);
  size_t size = size_t(w) * h * 4;
  if (target == 1) {
    ASSERT_EQ(LE32(image.get()), 4 | w << 3 | h << 16);
    size += 4;
  } else if (target == 2) {
    const uint32_t header[5] = {7, 4, w, h, (w * 4 + 31) / 32 * 32};
    for (int i = 0; i < 5; ++i) ASSERT_EQ(LE32(image.get() + 4 * i), header[i]);
    size = 32 + size_t(header[4]) * h;
  }
  const Image again = load();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::memcmp(image.get(), again.get(), size), 0);
}

TEST(PngRobustness, TruncatedAndDamagedFilesYieldNullOrACompleteImage) {
  std::vector<Bytes> files;
  pngtest::Picture pic{9, 7, 2, 3, {}, Bytes(12, 0x55), Bytes{0, 128}};
  for (int i = 0; i < 63; ++i) pic.samples.push_back(uint16_t(i % 4));
  files.push_back(pngtest::Encode(pic, true, -1));
  if (fs::is_directory(kSuite)) {
    for (const char* name : {"s09i3p02.png", "basi0g04.png", "basi2c16.png", "tbbn3p08.png"})
      files.push_back(ReadFile(kSuite / name));
  }
  for (const Bytes& file : files) {
    ASSERT_GT(file.size(), 49u);
    for (size_t size = 0; size < file.size(); ++size) {
      const Bytes cut(file.begin(), file.begin() + long(size));  // exactly size bytes on the heap
      ASSERT_EQ(png_load_mem(cut.data(), int32_t(cut.size()), 2), nullptr) << size;
    }
    int decoded = 0;
    for (size_t at = 0; at < file.size(); ++at) {
      Bytes damaged = file;
      damaged[at] ^= 0xFF;
      for (int target : {1, 2, 3}) ExpectCompleteOrNull(damaged, target);
      // With the CRCs made good again the damage reaches the header, palette and image data.
      pngtest::RepairCrcs(damaged.data(), damaged.size());
      for (int target : {1, 2, 3}) ExpectCompleteOrNull(damaged, target);
      const Image image(
          static_cast<uint8_t*>(png_load_mem(damaged.data(), int32_t(damaged.size()), 2)));
      decoded += image != nullptr;
    }
    EXPECT_GT(decoded, 0);
  }
}

}  // namespace
