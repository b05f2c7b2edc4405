// The decoder and encoder against libpng, and hostile inputs only POSIX systems make (FIFOs,
// sparse files, unreadable pages). Linux only: libpng is a test reference, not built for others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <set>

#include "kastrel/png/png_save.h"
#include "kastrel/png/testing/png_check.h"
#include "kastrel/png/testing/save_cases.h"
#include "tests/testing/png_read.h"

namespace {

using namespace pngtest;

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

TEST(PngSuite, ValidFilesMatchTheReferenceDecoderInAllThreeForms) {
  SKIP_WITHOUT_SUITE();
  const std::map<std::string, uint64_t> sums = SuiteSums();
  int compared = 0;
  for (const fs::path& path : SuiteFiles('x', false)) {
    SCOPED_TRACE(path.filename().string());
    const Bytes file = ReadFile(path);
    Reference ref;
    ASSERT_TRUE(ReferenceDecode(file, &ref));
    // The list the builds without libpng check against; a new or changed file names its line.
    const uint64_t sum = PictureSum(ref.width, ref.height, ref.bgra.data());
    char line[64];
    std::snprintf(line, sizeof line, "%s %016llx", path.filename().string().c_str(),
                  static_cast<unsigned long long>(sum));
    EXPECT_TRUE(sums.count(path.filename().string()) && sums.at(path.filename().string()) == sum)
        << "pngsuite.sums should hold: " << line;
    ExpectDecodes(file, ref.width, ref.height, [&](uint32_t x, uint32_t y) {
      return LE32(&ref.bgra[(size_t(y) * ref.width + x) * 4]);
    });
    ++compared;
  }
  EXPECT_GE(compared, 150) << "the suite looks incomplete";
}

TEST(PngLoad, FifosHugeFilesAndUnreadableBlocks) {
  const kastrel_testing::TempDir temp;
  const fs::path dir = temp.path();
  const auto write = [&](const char* name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return (dir / name).string();
  };
  // A FIFO is refused at once, not waited on; the writer's open frees a reader stuck in open.
  const std::string fifo = (dir / "fifo.png").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto loading = std::async(std::launch::async, [&] { return png_load(fifo, 2); });
  if (loading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "png_load blocked on a FIFO";
    close(open(fifo.c_str(), O_WRONLY));
  }
  EXPECT_EQ(loading.get(), nullptr);
  // A large file that is no PNG is refused after its signature, not read whole.
  const std::string large = write("large.png", {'G', 'I', 'F', '8', '9', 'a', 0, 0});
  fs::resize_file(large, 512u << 20);  // sparse
  rusage usage_before{}, usage_after{};
  getrusage(RUSAGE_SELF, &usage_before);
  EXPECT_EQ(png_load(large, 2), nullptr);
  getrusage(RUSAGE_SELF, &usage_after);
  EXPECT_LT(usage_after.ru_maxrss - usage_before.ru_maxrss, 64 << 10) << "kilobytes";

  // A block under 49 bytes is refused without being read: these bytes cannot be read at all.
  const long page = sysconf(_SC_PAGESIZE);
  void* guarded = mmap(nullptr, size_t(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(guarded, MAP_FAILED);
  EXPECT_EQ(png_load_mem(guarded, 48, 2), nullptr);
  munmap(guarded, size_t(page));
}

TEST(PngSave, LibpngReadsBackEveryPixelExactly) {
  std::set<int> all_filters;
  for (const SaveCase& c : SaveCases()) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " type " << int(c.colour));
    const std::vector<std::uint8_t> png = png_encode(c.px.data(), c.w, c.h, c.stride, c.colour);
    kastrel_testing::RgbaImage img;
    std::string error;
    ASSERT_TRUE(kastrel_testing::read_png_memory(png, &img, &error)) << error;
    EXPECT_EQ(img.colour_type, int(c.colour));
    EXPECT_EQ(img.bit_depth, 8);
    ASSERT_EQ(img.width, c.w);
    ASSERT_EQ(img.height, c.h);
    int wrong = 0;
    for (std::uint32_t y = 0; y < c.h; ++y) {
      for (std::uint32_t x = 0; x < c.w; ++x) {
        for (std::size_t i = 0; i < 4; ++i) wrong += img.at(x, y)[i] != c.Channel(x, y, i);
      }
    }
    EXPECT_EQ(wrong, 0);
    const std::set<int> used = FiltersUsed(png, c.h, c.w * c.Bpp());
    all_filters.insert(used.begin(), used.end());
  }
  EXPECT_EQ(all_filters, (std::set<int>{0, 1, 2, 3, 4}));
}

}  // namespace
