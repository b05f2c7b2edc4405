// libFuzzer target for the session file reader. Each input is read as it is and again with its
// header and block checksums made good, so that mutations reach past the checksum checks (blocks
// stored unpacked expose their records directly). What the reader accepts must hang together:
// every pass closed, hashes only after a pass, the end mark last, settings records in range.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kastrel/engine/detail/session_file.h"

namespace {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t Crc(const uint8_t* p, size_t n) { return uint32_t(crc32_z(crc32(0, Z_NULL, 0), p, n)); }

// Gives the header and every whole block the checksum of its bytes.
void RepairChecksums(std::vector<uint8_t>& file) {
  if (file.size() < SESSIONHEADERSIZE) return;
  Put32(&file[12], Crc(file.data(), 12));
  for (size_t at = SESSIONHEADERSIZE; file.size() - at >= 13;) {
    const size_t stored = Get32(&file[at + 1]);
    if (stored > file.size() - at - 13) return;
    Put32(&file[at + 9 + stored], Crc(&file[at], 9 + stored));
    at += 13 + stored;
  }
}

void Read(const std::vector<uint8_t>& file) {
  std::vector<SESSIONENTRY> entries(1);
  if (READSESSION(file.data(), file.size(), entries) == FALSE) {
    Check(entries.empty());
    return;
  }
  int32_t passes = 0;
  bool in_pass = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const SESSIONKIND kind = entries[i].KIND;
    if (kind == SESSIONKIND::PASS) Check(!in_pass), in_pass = true, ++passes;
    if (kind == SESSIONKIND::ENDPASS) Check(in_pass), in_pass = false;
    if (kind == SESSIONKIND::HASH) Check(i > 0 && entries[i - 1].KIND == SESSIONKIND::ENDPASS);
    if (kind == SESSIONKIND::END) Check(i + 1 == entries.size());
    Check(entries[i].SKIP >= 0 && entries[i].TEXT.size() <= SESSIONMAXFILE);
    if (kind == SESSIONKIND::LOAD || kind == SESSIONKIND::SAVE)  // the settings files' records
      Check(entries[i].STATE >= 0 && entries[i].STATE <= (kind == SESSIONKIND::LOAD ? 2 : 1));
    if (kind == SESSIONKIND::READING)  // a known kind; a display reading names a known call
      Check(READINGVALUES(entries[i].READINGKIND) > 0 &&
            (entries[i].READINGKIND < READDISPLAY ||
             uint32_t(entries[i].VALUES[0]) <= (entries[i].READINGKIND == READDISPLAY ? 3u : 4u)));
  }
  Check(!in_pass && passes >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  Read(file);
  RepairChecksums(file);
  Read(file);
  return 0;
}
