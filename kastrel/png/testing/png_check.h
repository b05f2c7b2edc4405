#pragma once
// Checks the decoder's tests share: decoding a file to the three targets on every loop set, and
// the PNG conformance suite with the sums of its pictures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/png/png_image.h"
#include "kastrel/png/testing/png_writer.h"

namespace pngtest {

namespace fs = std::filesystem;

struct FreeImage {
  void operator()(uint8_t* image) const { std::free(image); }
};
using Image = std::unique_ptr<uint8_t, FreeImage>;

inline Image Load(const Bytes& file, int32_t target = PNG_TARGET_NEW) {
  return Image(static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target)));
}

inline uint32_t LE32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t BE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Pixel (x, y) of a w x h picture decoded to target, as 0xAARRGGBB.
inline uint32_t Pixel(const Image& image, uint32_t x, uint32_t y, int target = 2, uint32_t w = 0,
                      uint32_t h = 0) {
  if (target == 1) return LE32(image.get() + 4 + (size_t(y) * w + x) * 4);
  if (target == 2) return LE32(image.get() + 32 + size_t(y) * LE32(image.get() + 16) + x * 4);
  const uint32_t rgba = LE32(image.get() + (size_t(h - 1 - y) * w + x) * 4);  // bottom row first
  return (rgba & 0xFF00FF00) | (rgba >> 16 & 0xFF) | (rgba & 0xFF) << 16;
}

// The header a w x h picture gets in target 1 or 2.
inline void ExpectHeader(const uint8_t* image, int target, uint32_t w, uint32_t h) {
  ASSERT_TRUE(target != 1 || LE32(image) == (4 | w << 3 | h << 16));
  const uint32_t header[5] = {7, 4, w, h, (w * 4 + 31) / 32 * 32};
  for (int i = 0; i < 5 && target == 2; ++i) ASSERT_EQ(LE32(image + 4 * i), header[i]) << i;
}

// Decodes file to all three targets: each must hold the header, colour(x, y) at every pixel
// and zeros in the row padding, with every loop set the processor runs, plain first.
template <typename Colour>
void ExpectDecodes(const Bytes& file, uint32_t w, uint32_t h, Colour colour) {
  for (int32_t set = 0; png_loops_force(set) == set; ++set) {
    for (int target : {1, 2, 3}) {
      const Image image = Load(file, target);
      ASSERT_NE(image, nullptr) << "target " << target << " loops " << set;
      ExpectHeader(image.get(), target, w, h);
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x)
          ASSERT_EQ(Pixel(image, x, y, target, w, h), colour(x, y))
              << "target " << target << " pixel " << x << "," << y;
        for (uint32_t i = w * 4; target == 2 && i < LE32(image.get() + 16); ++i)
          ASSERT_EQ(image.get()[32 + y * LE32(image.get() + 16) + i], 0);
      }
    }
  }
  png_loops_force(-1);
}

// A file the test program finds beside itself (where the Windows build copies its data, so the
// tests run wherever the build folder goes), else at FALLBACK.
inline fs::path Beside(const std::string& name, const fs::path& fallback) {
  const fs::path here = fs::path(KASTREL::PLATFORM::PROGRAMFOLDER()) / name;
  return fs::exists(here) ? here : fallback;
}

// The PNG conformance suite: real files made by other encoders.
inline fs::path Suite() {
  return Beside("pngsuite", fs::path(KASTREL_TESTDATA_DIR) / "pngsuite");
}

#define SKIP_WITHOUT_SUITE()                                         \
  if (!fs::is_directory(pngtest::Suite()))                           \
  GTEST_SKIP() << "The PNG conformance suite is not at " << pngtest::Suite() \
               << "; point the CMake option KASTREL_TESTDATA_DIR at the shared test data"

// The suite's files whose names start with first_letter (or do not, when !wanted), sorted.
inline std::vector<fs::path> SuiteFiles(char first_letter, bool wanted) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(Suite())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".png" && (name[0] == first_letter) == wanted)
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline Bytes ReadFile(const fs::path& path) {
  const std::string bytes = kastrel_testing::read_file(path.string());
  return Bytes(bytes.begin(), bytes.end());
}

// FNV-1a of a picture's size and its 8-bit BGRA rows without gaps.
inline uint64_t PictureSum(uint32_t w, uint32_t h, const uint8_t* bgra) {
  uint64_t sum = 0xCBF29CE484222325u;
  const auto add = [&](uint8_t byte) { sum = (sum ^ byte) * 0x100000001B3u; };
  for (uint32_t v : {w, h})
    for (int shift = 0; shift < 32; shift += 8) add(uint8_t(v >> shift));
  for (size_t i = 0; i < size_t(w) * h * 4; ++i) add(bgra[i]);
  return sum;
}

// The suite's valid files by name with the sum of the picture the reference decoder gives
// (pngsuite.sums; the libpng comparison checks the list, the builds without libpng use it).
inline std::map<std::string, uint64_t> SuiteSums() {
  std::map<std::string, uint64_t> sums;
  std::ifstream in(Beside("pngsuite.sums", KASTREL_SOURCE_DIR "/kastrel/png/testing/pngsuite.sums"));
  std::string name, hex;
  while (in >> name >> hex) sums[name] = std::strtoull(hex.c_str(), nullptr, 16);
  return sums;
}

}  // namespace pngtest
