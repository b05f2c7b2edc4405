#include "kastrel/engine/session_file.h"

#include <zlib.h>

#include <bit>
#include <cstdarg>
#include <cstring>

#include "kastrel/base/error.h"

namespace KASTREL::ENGINE {

namespace {

// Like PNG's: a high byte, line ends and an end-of-file mark catch files mangled as text.
constexpr uint8_t MAGIC[8] = {0x89, 'K', 'S', 'T', '\r', '\n', 0x1A, '\n'};

uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc_of(const uint8_t* data, size_t size) {
  return uint32_t(crc32_z(crc32(0L, Z_NULL, 0), data, size));
}

// Empties the session and leaves the reason it was refused.
BOOLEAN refuse(SESSION& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
BOOLEAN refuse(SESSION& out, const char* format, ...) {
  out = SESSION{};
  va_list args;
  va_start(args, format);
  VSETLASTERROR(format, args);
  va_end(args);
  return FALSE;
}

}  // namespace

VOX::EVENT SESSIONENTRY::EVENT() const {
  VOX::EVENT event{};
  std::memcpy(&event, VALUES, sizeof event);
  return event;
}

std::vector<uint8_t> SESSIONWRITER::HEADER() {
  std::vector<uint8_t> out(MAGIC, MAGIC + 8);
  for (uint32_t v : {SESSIONFORMAT, 0u}) {
    const uint32_t value = v == 0 ? crc_of(out.data(), 12) : v;
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
  }
  return out;
}

void SESSIONWRITER::PUT32(uint32_t V) {
  for (int i = 0; i < 4; ++i) IBLOCK.push_back(uint8_t(V >> (8 * i)));
}

void SESSIONWRITER::MODE(int32_t W, int32_t H, int32_t FS, int32_t FLAGS) {
  IBLOCK.push_back(TAG_MODE);
  for (int32_t v : {W, H, FS, FLAGS}) PUT32(uint32_t(v));
}

int32_t READINGVALUES(int32_t KIND) {
  switch (KIND) {
    case READMULTIKEY:
      return 2;
    case READMOUSE:
      return 6;
    case READKEY:
      return 1;
    case READPAD:
      return 4;
    default:
      return 0;
  }
}

void SESSIONWRITER::READING(int32_t KIND, const int32_t* VALUES) {
  IBLOCK.push_back(TAG_READING);
  IBLOCK.push_back(uint8_t(KIND));
  for (int32_t i = 0; i < READINGVALUES(KIND); ++i) PUT32(uint32_t(VALUES[i]));
}

// Successive readings share their sign, exponent and leading mantissa bits, so only the low
// bytes of the XOR with the previous reading are stored.
void SESSIONWRITER::CLOCK(double SECONDS) {
  const uint64_t bits = std::bit_cast<uint64_t>(SECONDS);
  const uint64_t diff = bits ^ ILASTCLOCK;
  ILASTCLOCK = bits;
  const int n = (64 - std::countl_zero(diff) + 7) / 8;
  IBLOCK.push_back(uint8_t(TAG_CLOCK + n));
  for (int i = 0; i < n; ++i) IBLOCK.push_back(uint8_t(diff >> (8 * i)));
}

void SESSIONWRITER::PASS(const VOX::EVENT* EVENT) {
  if (EVENT == nullptr) {
    IBLOCK.push_back(TAG_PASS);
    return;
  }
  IBLOCK.push_back(TAG_PASSEVENT);
  int32_t values[5];
  std::memcpy(values, EVENT, sizeof values);
  for (int32_t v : values) PUT32(uint32_t(v));
}

void SESSIONWRITER::CLOSE(bool LAST) {
  IBLOCK.push_back(LAST ? TAG_END : TAG_BLOCKEND);
  PUT32(crc_of(IBLOCK.data(), IBLOCK.size()));
}

BOOLEAN READSESSION(const void* DATA, size_t SIZE, SESSION& OUT) {
  OUT = SESSION{};
  const auto* data = static_cast<const uint8_t*>(DATA);
  if (data == nullptr || SIZE < SESSIONHEADERSIZE || std::memcmp(data, MAGIC, 8) != 0) {
    if (data != nullptr && SIZE < SESSIONHEADERSIZE && SIZE > 0 &&
        std::memcmp(data, MAGIC, SIZE < 8 ? SIZE : 8) == 0)
      return refuse(OUT, "truncated session file: %zu bytes, less than its header", SIZE);
    return refuse(OUT, "not a session recording (it does not start with the session file's mark)");
  }
  if (get32(data + 12) != crc_of(data, 12))
    return refuse(OUT, "damaged session file: the header's checksum does not match");
  const uint32_t format = get32(data + 8);
  if (format > SESSIONFORMAT)
    return refuse(OUT, "session file of format %u, newer than this build reads (format %u)", format,
                  SESSIONFORMAT);
  if (format == 0) return refuse(OUT, "damaged session file: format number 0");

  static constexpr size_t PAYLOAD[] = {0, 16, 0, 0, 20, 4, 4};  // by tag, up to TAG_END
  std::vector<SESSIONENTRY> block;  // entries wait here until their block's checksum holds
  size_t at = SESSIONHEADERSIZE, block_start = at;
  int32_t passes_in_block = 0;
  uint64_t clock = 0;
  while (at < SIZE) {
    const uint8_t tag = data[at];
    size_t payload = 0;
    if (tag >= TAG_CLOCK && tag <= TAG_CLOCK + 8) {
      payload = size_t(tag - TAG_CLOCK);
    } else if (tag == TAG_READING) {
      const int32_t values = at + 1 < SIZE ? READINGVALUES(data[at + 1]) : 1;
      if (values == 0)
        return refuse(OUT, "damaged session file: unknown reading kind %d at byte %zu",
                      int(data[at + 1]), at + 1);
      payload = 1 + 4 * size_t(values);
    } else if (tag >= TAG_MODE && tag <= TAG_END) {
      payload = PAYLOAD[tag];
    } else {
      return refuse(OUT, "damaged session file: unknown record 0x%02X at byte %zu", unsigned(tag),
                    at);
    }
    if (payload > SIZE - at - 1)
      return refuse(OUT,
                    "truncated session file: the record at byte %zu runs past its end (%zu bytes)",
                    at, SIZE);
    const uint8_t* p = data + at + 1;
    SESSIONENTRY entry;
    if (tag >= TAG_CLOCK) {
      uint64_t diff = 0;
      for (size_t i = 0; i < payload; ++i) diff |= uint64_t(p[i]) << (8 * i);
      clock ^= diff;
      entry.KIND = SESSIONKIND::CLOCK;
      entry.CLOCK = std::bit_cast<double>(clock);
    } else if (tag == TAG_READING) {
      entry.KIND = SESSIONKIND::READING;
      entry.READINGKIND = p[0];
      for (size_t i = 0; i * 4 + 1 < payload; ++i) entry.VALUES[i] = int32_t(get32(p + 1 + 4 * i));
    } else if (tag == TAG_MODE || tag == TAG_PASSEVENT) {
      entry.KIND = tag == TAG_MODE ? SESSIONKIND::MODE : SESSIONKIND::PASS;
      entry.HASEVENT = tag == TAG_PASSEVENT ? TRUE : FALSE;
      for (size_t i = 0; i * 4 < payload; ++i) entry.VALUES[i] = int32_t(get32(p + 4 * i));
    } else if (tag == TAG_PASS) {
      entry.KIND = SESSIONKIND::PASS;
    } else {  // a block ends: its checksum, then exactly one pass (none before the end mark)
      if (get32(p) != crc_of(data + block_start, at + 1 - block_start))
        return refuse(OUT, "damaged session file: the checksum of bytes %zu to %zu does not match",
                      block_start, at + 4);
      const bool last = tag == TAG_END;
      if (passes_in_block != (last ? 0 : 1))
        return refuse(OUT, "damaged session file: the block ending at byte %zu holds %d passes",
                      at + 4, int(passes_in_block));
      if (last && at + 5 != SIZE)
        return refuse(OUT, "damaged session file: %zu bytes follow its end mark", SIZE - at - 5);
      entry.KIND = last ? SESSIONKIND::END : SESSIONKIND::BLOCKEND;
      block.push_back(entry);
      OUT.ENTRIES.insert(OUT.ENTRIES.end(), block.begin(), block.end());
      block.clear();
      OUT.PASSES += passes_in_block;
      OUT.ENDED = last ? TRUE : FALSE;
      passes_in_block = 0;
      at += 1 + payload;
      block_start = at;
      continue;
    }
    if (entry.KIND == SESSIONKIND::PASS) ++passes_in_block;
    block.push_back(entry);
    at += 1 + payload;
  }
  // A recording the game never closed ends after a whole pass; anything else is cut short.
  if (block_start != SIZE)
    return refuse(OUT, "truncated session file: it ends inside pass %d (byte %zu)",
                  int(OUT.PASSES + 1), SIZE);
  return TRUE;
}

}  // namespace KASTREL::ENGINE
