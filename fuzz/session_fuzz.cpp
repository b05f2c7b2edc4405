// libFuzzer target for the session file reader. Each input is read as it is and again with its
// header and block checksums made good, so that mutations reach past the checksum checks. What
// the reader accepts must hang together: passes counted right, blocks closed, no stray entries.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kastrel/engine/session_file.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t Crc(const uint8_t* p, size_t n) { return uint32_t(crc32_z(crc32(0, Z_NULL, 0), p, n)); }

// Gives the header and every block the checksum of its bytes; stops at the first record the
// reader would not know.
void RepairChecksums(std::vector<uint8_t>& file) {
  if (file.size() < SESSIONHEADERSIZE) return;
  Put32(&file[12], Crc(file.data(), 12));
  static constexpr size_t kPayload[] = {0, 16, 0, 0, 20, 4, 4};
  size_t at = SESSIONHEADERSIZE, block = at;
  while (at < file.size()) {
    const uint8_t tag = file[at];
    size_t payload;
    if (tag >= TAG_CLOCK && tag <= TAG_CLOCK + 8)
      payload = size_t(tag - TAG_CLOCK);
    else if (tag == TAG_READING && at + 1 < file.size() && READINGVALUES(file[at + 1]) > 0)
      payload = 1 + 4 * size_t(READINGVALUES(file[at + 1]));
    else if (tag >= TAG_MODE && tag <= TAG_END)
      payload = kPayload[tag];
    else
      return;
    if (payload > file.size() - at - 1) return;
    if (tag == TAG_BLOCKEND || tag == TAG_END) {
      Put32(&file[at + 1], Crc(&file[block], at + 1 - block));
      block = at + 5;
    }
    at += 1 + payload;
  }
}

void Read(const std::vector<uint8_t>& file) {
  SESSION s;
  s.PASSES = -1;
  if (READSESSION(file.data(), file.size(), s) == FALSE) {
    Check(s.ENTRIES.empty() && s.PASSES == 0);
    return;
  }
  int32_t passes = 0;
  for (const SESSIONENTRY& e : s.ENTRIES) passes += e.KIND == SESSIONKIND::PASS;
  Check(passes == s.PASSES);
  if (!s.ENTRIES.empty()) {
    const SESSIONKIND last = s.ENTRIES.back().KIND;
    Check(last == (s.ENDED != FALSE ? SESSIONKIND::END : SESSIONKIND::BLOCKEND));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  Read(file);
  RepairChecksums(file);
  Read(file);
  return 0;
}
