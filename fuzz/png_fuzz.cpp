// libFuzzer target for the PNG decoder. Each input is decoded as it is and again with every
// chunk's CRC made good, since nearly every mutation of a real file otherwise stops at the first
// CRC check. Whatever decodes must be a complete image of the size its header (or, for the
// headerless texture form, the file's IHDR) implies. The same bytes also go through the file
// entry point, the capped one and the plain loops, which must agree with the memory entry point
// and its vector loops, and their compressed data through both inflaters the decoder has used
// (libdeflate now, zlib before), which must agree on every stream.

#include <libdeflate.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kastrel/png/png_image.h"
#include "kastrel/png/testing/png_writer.h"

namespace {

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Bytes of the image of the given form for the file's header.
size_t ImageSize(const std::vector<uint8_t>& file, int32_t target, const uint8_t* image) {
  const uint32_t width = BE32(&file[16]), height = BE32(&file[20]);
  size_t size = size_t(width) * height * 4;
  if (target == 1) {
    Check(LE32(image) == (4 | width << 3 | height << 16));
    size += 4;
  } else if (target == 2) {
    const uint32_t pitch = LE32(image + 16);
    Check(LE32(image) == 7 && LE32(image + 4) == 4 && LE32(image + 8) == width &&
          LE32(image + 12) == height && pitch % 32 == 0 && pitch / 4 >= width &&
          pitch - width * 4 < 32);
    size = 32 + size_t(pitch) * height;
  }
  return size;
}

// The target-2 image of the memory entry point, or empty, for the other entry points to match.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> form2;
  for (int32_t target = 0; target <= 4; ++target) {
    auto* image = static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), target));
    if (image == nullptr) continue;
    Check(target >= 1 && target <= 3 && file.size() >= 24);
    // Reading every byte lets AddressSanitizer see an image shorter than it claims.
    const size_t size = ImageSize(file, target, image);
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = uint8_t(sum + image[i]);
    volatile uint8_t sink = sum;
    (void)sink;
    if (target == 2) form2.assign(image, image + size);
    std::free(image);
  }
  return form2;
}

bool SameImage(const std::vector<uint8_t>& expected, const uint8_t* image) {
  if (expected.empty() || image == nullptr) return expected.empty() && image == nullptr;
  return std::memcmp(expected.data(), image, expected.size()) == 0;
}

// The file entry point on the same bytes, through a memory-backed file.
void DecodeFile(const std::vector<uint8_t>& file, const std::vector<uint8_t>& expected) {
  static const int fd = memfd_create("png_fuzz", MFD_CLOEXEC);
  Check(fd >= 0);
  Check(ftruncate(fd, 0) == 0 && pwrite(fd, file.data(), file.size(), 0) == ssize_t(file.size()));
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  auto* image = static_cast<uint8_t*>(png_load(path, 2));
  Check(SameImage(expected, image));
  std::free(image);
}

// The capped memory entry point: the same image at or under the cap, null over it.
void DecodeCapped(const std::vector<uint8_t>& file, const std::vector<uint8_t>& expected) {
  constexpr uint64_t kCap = 4096;
  auto* image =
      static_cast<uint8_t*>(png_load_mem_limited(file.data(), int32_t(file.size()), 2, kCap));
  const bool over = !expected.empty() && uint64_t(BE32(&file[16])) * BE32(&file[20]) > kCap;
  Check(SameImage(over ? std::vector<uint8_t>() : expected, image));
  std::free(image);
}

// The plain loops: the same image as the vector loops, or null too.
void DecodePlain(const std::vector<uint8_t>& file, const std::vector<uint8_t>& expected) {
  png_loops_force(0);
  auto* image = static_cast<uint8_t*>(png_load_mem(file.data(), int32_t(file.size()), 2));
  png_loops_force(-1);
  Check(SameImage(expected, image));
  std::free(image);
}

// zlib's inflater (as uncompress drives it) and libdeflate on one stream, into a buffer of the
// same size: both succeed with the same bytes or both fail. One known difference is allowed:
// libdeflate reads a Huffman code of a single one-bit codeword (and such a code-length code) as
// mapping both one-bit codewords to its symbol, where zlib refuses the unused one; only a
// hand-made stream has such a code, and it then decodes rather than being refused.
void Inflate(const uint8_t* data, size_t size) {
  constexpr size_t kMost = size_t(1) << 20;
  static auto* by_zlib = static_cast<uint8_t*>(std::malloc(kMost));
  static auto* by_libdeflate = static_cast<uint8_t*>(std::malloc(kMost));
  const size_t capacity = std::min(size * 1032 + 64, kMost);
  z_stream zlib{};
  Check(inflateInit(&zlib) == Z_OK);
  zlib.next_in = const_cast<uint8_t*>(data);
  zlib.avail_in = uInt(size);
  zlib.next_out = by_zlib;
  zlib.avail_out = uInt(capacity);
  const bool zlib_ok = inflate(&zlib, Z_FINISH) == Z_STREAM_END;
  const size_t zlib_size = zlib.total_out;
  const std::string zlib_reason = zlib.msg != nullptr ? zlib.msg : "";
  inflateEnd(&zlib);
  static libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  size_t consumed = 0, produced = 0;
  const bool libdeflate_ok =
      libdeflate_zlib_decompress_ex(inflater, data, size, by_libdeflate, capacity, &consumed,
                                    &produced) == LIBDEFLATE_SUCCESS;
  const bool one_codeword = zlib_reason == "invalid literal/length code" ||
                            zlib_reason == "invalid distance code" ||
                            zlib_reason == "invalid code lengths set";
  Check(zlib_ok == libdeflate_ok || (libdeflate_ok && one_codeword));
  if (zlib_ok) {
    Check(zlib_size == produced);
    Check(std::memcmp(by_zlib, by_libdeflate, produced) == 0);
  }
}

// The IDAT data of a file, gathered in order as the decoder gathers it.
std::vector<uint8_t> IdatData(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> stream;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = BE32(&file[at]);
    if (length > file.size() - at - 12) break;
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0)
      stream.insert(stream.end(), &file[at + 8], &file[at + 8] + length);
    at += size_t(length) + 12;
  }
  return stream;
}

void DecodeEveryWay(const std::vector<uint8_t>& file) {
  const std::vector<uint8_t> form2 = Decode(file);
  DecodeFile(file, form2);
  DecodeCapped(file, form2);
  DecodePlain(file, form2);
  const std::vector<uint8_t> stream = IdatData(file);
  if (!stream.empty()) Inflate(stream.data(), stream.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > INT32_MAX) return 0;
  std::vector<uint8_t> file(data, data + size);
  DecodeEveryWay(file);
  pngtest::RepairCrcs(file.data(), file.size());
  if (std::memcmp(file.data(), data, size) != 0) DecodeEveryWay(file);
  return 0;
}
