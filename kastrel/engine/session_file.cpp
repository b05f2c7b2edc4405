#include "kastrel/engine/detail/session_file.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "kastrel/base/detail/player_files.h"
#include "kastrel/base/error.h"

namespace KASTREL::ENGINE {

namespace {

// Like PNG's: a high byte, line ends and an end-of-file mark catch files mangled as text.
constexpr uint8_t MAGIC[8] = {0x89, 'K', 'S', 'T', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t BLOCK_DEFLATED = 1, BLOCK_LAST = 2;
constexpr size_t BLOCK_HEAD = 9;                // flags, stored size, unpacked size
constexpr int64_t MAX_TICK = int64_t{1} << 53;  // beyond it a tick count is not exact as a double

uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void put_varint(std::vector<uint8_t>& out, uint64_t v) {
  for (; v >= 0x80; v >>= 7) out.push_back(uint8_t(v | 0x80));
  out.push_back(uint8_t(v));
}
// Reads a varint of at most 10 bytes from [*at, end); false when it runs past.
bool get_varint(const uint8_t* data, size_t* at, size_t end, uint64_t* v) {
  *v = 0;
  for (int shift = 0; shift < 64 && *at < end; shift += 7) {
    const uint8_t b = data[(*at)++];
    *v |= uint64_t(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}
uint64_t zigzag(int64_t v) { return (uint64_t(v) << 1) ^ uint64_t(v >> 63); }
int64_t unzigzag(uint64_t v) { return int64_t(v >> 1) ^ -int64_t(v & 1); }

uint32_t crc_of(const uint8_t* data, size_t size) {
  return uint32_t(crc32_z(crc32(0L, Z_NULL, 0), data, size));
}

// The int32s kept per question: the key asked about, or the pad call, pad and control.
int32_t question_values(int32_t kind) {
  return kind == READMULTIKEY || kind == READDISPLAY || kind == READAUDIO ? 1
         : kind == READPAD                                                ? 3
                                                                          : 0;
}

std::array<int32_t, 4> question(int32_t kind, const int32_t* values) {
  std::array<int32_t, 4> q{kind, 0, 0, 0};
  std::copy(values, values + question_values(kind), q.begin() + 1);
  return q;
}

}  // namespace

VOX::EVENT SESSIONENTRY::EVENT() const {
  VOX::EVENT event{};
  std::memcpy(&event, VALUES, sizeof event);
  return event;
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
    case READDISPLAY:
    case READAUDIO:
      return 2;
    default:
      return 0;
  }
}

bool READINGMEMORY::SAME(int32_t KIND, const int32_t* VALUES) {
  std::array<int32_t, 6> answer{};
  std::copy(VALUES, VALUES + READINGVALUES(KIND), answer.begin());
  auto [at, added] = IANSWERS.try_emplace(question(KIND, VALUES), answer);
  if (added || at->second == answer) return !added;
  at->second = answer;
  return false;
}

bool READINGMEMORY::ANSWER(int32_t KIND, int32_t* VALUES) const {
  const auto at = IANSWERS.find(question(KIND, VALUES));
  if (at == IANSWERS.end()) return false;
  std::copy(at->second.begin(), at->second.begin() + READINGVALUES(KIND), VALUES);
  return true;
}

uint32_t FRAMEHASH(const void* PIXELS, int32_t W, int32_t H, int32_t PITCH, uint32_t FORMAT) {
  uint32_t crc = 0;
  const auto* row = static_cast<const uint8_t*>(PIXELS);
  std::vector<uint32_t> shown(FORMAT >= 3 && W > 0 ? size_t(W) : 0);
  for (int32_t y = 0; row != nullptr && y < H; ++y, row += PITCH) {
    if (shown.empty()) {
      crc = libdeflate_crc32(crc, row, size_t(W) * 4);
      continue;
    }
    std::memcpy(shown.data(), row, shown.size() * 4);
    for (uint32_t& pixel : shown) pixel &= 0x00FFFFFFu;  // the bytes as in memory, little-endian
    crc = libdeflate_crc32(crc, shown.data(), shown.size() * 4);
  }
  return crc;
}

// ---- Writing ----

std::vector<uint8_t> SESSIONWRITER::HEADER() {
  std::vector<uint8_t> out(MAGIC, MAGIC + 8);
  put32(out, SESSIONFORMAT);
  put32(out, crc_of(out.data(), 12));
  return out;
}

void SESSIONWRITER::PUT32(uint32_t V) { put32(IRECORDS, V); }

// A record that carries the count of readings left out since the last one.
void SESSIONWRITER::COUNTED(uint8_t TAG) {
  IRECORDS.push_back(TAG);
  put_varint(IRECORDS, uint32_t(ISKIP));
  ISKIP = 0;
}

void SESSIONWRITER::MODE(int32_t W, int32_t H, int32_t FS, int32_t FLAGS) {
  COUNTED(TAG_MODE);
  for (int32_t v : {W, H, FS, FLAGS}) PUT32(uint32_t(v));
}

void SESSIONWRITER::READING(int32_t KIND, const int32_t* VALUES) {
  if (IMEMORY.SAME(KIND, VALUES)) {
    ++ISKIP;
    return;
  }
  COUNTED(TAG_READING);
  IRECORDS.push_back(uint8_t(KIND));
  for (int32_t i = 0; i < READINGVALUES(KIND); ++i) PUT32(uint32_t(VALUES[i]));
}

// The clock's readings go to the numbers, as the change of their step: passes of even length
// make small numbers there, and the records stay a repeating pattern.
void SESSIONWRITER::CLOCK(double SECONDS) {
  const double ticks = std::round(SECONDS / SESSIONTICK);
  const int64_t tick = ticks >= 0 && ticks < double(MAX_TICK) ? int64_t(ticks) : 0;
  const int64_t delta = tick - ITICK;
  IRECORDS.push_back(TAG_CLOCK);
  put_varint(INUMBERS, zigzag(delta - IDELTA));
  ITICK = tick;
  IDELTA = delta;
}

void SESSIONWRITER::PASS(const VOX::EVENT* EVENT) {
  COUNTED(EVENT != nullptr ? TAG_PASSEVENT : TAG_PASS);
  if (EVENT == nullptr) return;
  int32_t values[5];
  std::memcpy(values, EVENT, sizeof values);
  for (int32_t v : values) PUT32(uint32_t(v));
}

void SESSIONWRITER::ENDPASS() { COUNTED(TAG_ENDPASS); }

void SESSIONWRITER::HASH(uint32_t FRAMEHASH) {
  IRECORDS.push_back(TAG_HASH);
  put32(INUMBERS, FRAMEHASH);
}

void SESSIONWRITER::LOAD(int32_t STATE, const std::string& TEXT) {
  IRECORDS.push_back(TAG_LOAD);
  IRECORDS.push_back(uint8_t(STATE));
  put_varint(IRECORDS, TEXT.size());
  IRECORDS.insert(IRECORDS.end(), TEXT.begin(), TEXT.end());
}

void SESSIONWRITER::SAVE(bool SAVED, const std::string& REASON) {
  IRECORDS.push_back(TAG_SAVE);
  IRECORDS.push_back(SAVED ? 1 : 0);
  put_varint(IRECORDS, SAVED ? 0 : REASON.size());
  if (!SAVED) IRECORDS.insert(IRECORDS.end(), REASON.begin(), REASON.end());
}

void SESSIONWRITER::END() { COUNTED(TAG_END); }

const std::vector<uint8_t>& SESSIONWRITER::BLOCK(bool LAST) {
  std::vector<uint8_t> body;
  body.reserve(PENDING() + 10);
  put_varint(body, IRECORDS.size());
  body.insert(body.end(), IRECORDS.begin(), IRECORDS.end());
  body.insert(body.end(), INUMBERS.begin(), INUMBERS.end());
  IRECORDS.clear();
  INUMBERS.clear();

  static thread_local std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>
      packer(libdeflate_alloc_compressor(9), libdeflate_free_compressor);
  IPACK.resize(packer ? libdeflate_deflate_compress_bound(packer.get(), body.size()) : 0);
  const size_t packed = packer ? libdeflate_deflate_compress(packer.get(), body.data(), body.size(),
                                                             IPACK.data(), IPACK.size())
                               : 0;
  const bool deflated = packed > 0 && packed < body.size();
  const std::vector<uint8_t>& stored = deflated ? IPACK : body;
  const size_t stored_size = deflated ? packed : body.size();
  IBLOCK.clear();
  IBLOCK.push_back(uint8_t((deflated ? BLOCK_DEFLATED : 0) | (LAST ? BLOCK_LAST : 0)));
  put32(IBLOCK, uint32_t(stored_size));
  put32(IBLOCK, uint32_t(body.size()));
  IBLOCK.insert(IBLOCK.end(), stored.begin(), stored.begin() + ptrdiff_t(stored_size));
  put32(IBLOCK, crc_of(IBLOCK.data(), IBLOCK.size()));
  return IBLOCK;
}

// ---- Reading ----

void SESSIONREADER::CLOSE() {
  IFILE.CLOSE();
  ILIMIT = UINT64_MAX;
  IDATA = nullptr;
  ISIZE = 0;
  ICHECKED = 0;
  IPASSES = 0;
  IENDED = FALSE;
  ISTORED = {};
  IBODY = {};
  REWIND();
}

BOOLEAN SESSIONREADER::REFUSE(const char* FORMAT, ...) {
  IFAILED = true;
  IDONE = true;
  va_list args;
  va_start(args, FORMAT);
  VSETLASTERROR(FORMAT, args);
  va_end(args);
  return FALSE;
}

bool SESSIONREADER::READ(void* OUT, size_t SIZE, size_t* GOT) {
  *GOT = 0;
  if (!IFILE.ISOPEN()) {
    *GOT = std::min<uint64_t>(SIZE, ISIZE - std::min<uint64_t>(IAT, ISIZE));
    std::memcpy(OUT, IDATA + IAT, *GOT);
  } else {
    SIZE = std::min<uint64_t>(SIZE, ILIMIT - std::min(IAT, ILIMIT));
    const int64_t n = IFILE.READ(OUT, SIZE);
    if (n < 0) {
      REFUSE("cannot read it at byte %llu: %s", static_cast<unsigned long long>(IAT),
             IFILE.REASON().c_str());
      return false;
    }
    *GOT = size_t(n);
  }
  IAT += *GOT;
  return true;
}

BOOLEAN SESSIONREADER::OPEN(const std::string& FILENAME) {
  if (IFILE.ISOPEN() || IDATA != nullptr) return REFUSE("a session file is open already");
  // A FIFO is refused rather than waited on.
  if (!IFILE.OPEN(FILENAME)) {
    const std::string& why = IFILE.REASON();
    if (why.rfind("it is ", 0) == 0) return REFUSE("%s, not a session file", why.c_str());
    return REFUSE("cannot open it: %s", why.c_str());
  }
  // A file that grows while it is read (one still being recorded, or endless) is read as far as
  // it was long when opened.
  if (IFILE.SIZE() > 0) ILIMIT = IFILE.SIZE();
  return CHECK();
}

BOOLEAN SESSIONREADER::OPEN(const void* DATA, size_t SIZE) {
  if (IFILE.ISOPEN() || IDATA != nullptr) return REFUSE("a session file is open already");
  static const uint8_t none = 0;
  IDATA = DATA != nullptr ? static_cast<const uint8_t*>(DATA) : &none;
  ISIZE = DATA != nullptr ? SIZE : 0;
  return CHECK();
}

void SESSIONREADER::REWIND() {
  IRECORD = IRECORDEND = INUMBER = 0;
  IBODY.clear();
  ILASTBLOCK = IDONE = IFAILED = IINPASS = IAFTERPASS = false;
  ITICK = IDELTA = 0;
  IPASS = IBLOCKPASSES = 0;
  IHASHEDAT = -1e300;
  IHASHDUE = IHASHEXTRA = ILASTHASHED = false;
  IAT = SESSIONHEADERSIZE;
  if (IFILE.ISOPEN() && !IFILE.SEEK(IAT))
    REFUSE("cannot read it again: %s", IFILE.REASON().c_str());
}

BOOLEAN SESSIONREADER::CHECK() {
  uint8_t head[SESSIONHEADERSIZE];
  size_t got = 0;
  if (!READ(head, sizeof head, &got)) return FALSE;
  if (got < 8 || std::memcmp(head, MAGIC, 8) != 0) {
    if (got > 0 && std::memcmp(head, MAGIC, std::min<size_t>(got, 8)) == 0)
      return REFUSE("truncated session file: %d bytes, less than its header", int(got));
    return REFUSE("not a session recording (it does not start with the session file's mark)");
  }
  if (got < SESSIONHEADERSIZE)
    return REFUSE("truncated session file: %d bytes, less than its header", int(got));
  if (get32(head + 12) != crc_of(head, 12))
    return REFUSE("damaged session file: the header's checksum does not match");
  const uint32_t format = get32(head + 8);
  if (format > SESSIONFORMAT)
    return REFUSE("session file of format %u, newer than this build reads (format %u)", format,
                  SESSIONFORMAT);
  if (format < SESSIONOLDESTFORMAT)
    return REFUSE(
        "session file of format %u, from an older build: this build reads formats %u to %u "
        "only; record the session again",
        format, SESSIONOLDESTFORMAT, SESSIONFORMAT);
  IFORMAT = format;
  REWIND();
  SESSIONENTRY entry;
  int64_t passes = 0;
  bool any = false;
  while (PARSE(entry) != FALSE) {
    any = true;
    passes += entry.KIND == SESSIONKIND::PASS;
    if (passes > INT32_MAX) return REFUSE("damaged session file: more passes than a replay counts");
  }
  if (IFAILED) return FALSE;
  if (!any)
    return REFUSE("the session file holds no pass: the recording stopped before it wrote one");
  IPASSES = int32_t(passes);
  IENDED = ILASTBLOCK ? TRUE : FALSE;
  ICHECKED = IAT;
  REWIND();
  return IFAILED ? FALSE : TRUE;
}

BOOLEAN SESSIONREADER::LOADBLOCK() {
  const uint64_t start = IAT;
  if (ICHECKED != 0 && start >= ICHECKED) {  // the second reading stops where the check ended
    IDONE = true;
    return FALSE;
  }
  uint8_t head[BLOCK_HEAD];
  size_t got = 0;
  if (!READ(head, sizeof head, &got)) return FALSE;
  if (got == 0 && !ILASTBLOCK) {  // a recording cut after a whole block
    IDONE = true;
    return FALSE;
  }
  const auto at = static_cast<unsigned long long>(start);
  if (got < sizeof head)
    return REFUSE("truncated session file: it ends inside the block at byte %llu", at);
  const uint8_t flags = head[0];
  const uint32_t stored = get32(head + 1), size = get32(head + 5);
  if ((flags & ~(BLOCK_DEFLATED | BLOCK_LAST)) != 0 || stored > SESSIONMAXBLOCK ||
      size > SESSIONMAXBLOCK || size == 0 || ((flags & BLOCK_DEFLATED) == 0 && stored != size))
    return REFUSE("damaged session file: the block at byte %llu has a bad head", at);
  ISTORED.assign(head, head + sizeof head);
  ISTORED.resize(sizeof head + stored + 4);
  if (!READ(ISTORED.data() + sizeof head, stored + 4, &got)) return FALSE;
  if (got < stored + 4)
    return REFUSE("truncated session file: it ends inside the block at byte %llu", at);
  if (get32(&ISTORED[sizeof head + stored]) != crc_of(ISTORED.data(), sizeof head + stored))
    return REFUSE("damaged session file: the checksum of the block at byte %llu does not match%s",
                  at, ICHECKED != 0 ? " (the file changed while it was replayed)" : "");
  IBODY.resize(size);
  if ((flags & BLOCK_DEFLATED) != 0) {
    static thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)>
        unpacker(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!unpacker) return REFUSE("no memory to unpack the session file's blocks");
    if (libdeflate_deflate_decompress(unpacker.get(), ISTORED.data() + sizeof head, stored,
                                      IBODY.data(), size, nullptr) != LIBDEFLATE_SUCCESS)
      return REFUSE("damaged session file: the block at byte %llu does not unpack", at);
  } else {
    std::memcpy(IBODY.data(), ISTORED.data() + sizeof head, size);
  }
  size_t place = 0;
  uint64_t records = 0;
  if (!get_varint(IBODY.data(), &place, size, &records) || records > size - place)
    return REFUSE("damaged session file: the block at byte %llu has a bad record count", at);
  IRECORD = place;
  IRECORDEND = place + size_t(records);
  INUMBER = IRECORDEND;
  ILASTBLOCK = (flags & BLOCK_LAST) != 0;
  IBLOCKPASSES = 0;
  return TRUE;
}

BOOLEAN SESSIONREADER::NEXT(SESSIONENTRY& OUT) {
  if (ICHECKED == 0) return FALSE;  // not opened, or refused
  return PARSE(OUT);
}

BOOLEAN SESSIONREADER::PARSE(SESSIONENTRY& OUT) {
  if (IDONE) return FALSE;
  while (IRECORD >= IRECORDEND) {
    if (!IBODY.empty()) {  // the block read before ends here
      const bool ended = ILASTBLOCK;
      if (INUMBER != IBODY.size() || IINPASS || (!ended && IBLOCKPASSES == 0) || IHASHDUE)
        return REFUSE("damaged session file: a block ends %s (before byte %llu)",
                      INUMBER != IBODY.size() ? "with numbers left over"
                      : IBLOCKPASSES == 0     ? "without a pass"
                      : IHASHDUE              ? "where a pass owes its frame hash"
                                              : "inside a pass",
                      static_cast<unsigned long long>(IAT));
      IBODY.clear();
      if (ended) return REFUSE("damaged session file: its last block has no end mark");
    }
    if (LOADBLOCK() == FALSE) return FALSE;
  }
  const uint8_t* body = IBODY.data();
  const uint8_t tag = body[IRECORD++];
  OUT = SESSIONENTRY{};
  const auto damaged = [&](const char* what) {
    return REFUSE("damaged session file: %s (record 0x%02X of the block before byte %llu)", what,
                  unsigned(tag), static_cast<unsigned long long>(IAT));
  };
  const bool after_pass = IAFTERPASS, due = IHASHDUE;
  IAFTERPASS = false;
  // A hash follows every pass that owes one (the recorder's rule) and the last; no other.
  if (tag != TAG_HASH && after_pass && IHASHDUE)
    return damaged("a frame hash is missing after a pass that owes one");
  IHASHDUE = false;
  if ((tag == TAG_PASS || tag == TAG_PASSEVENT) && IHASHEXTRA)
    return damaged("a frame hash follows a pass that is neither due one nor the last");
  if (tag == TAG_END && !ILASTHASHED) return damaged("the last pass has no frame hash");
  const auto fixed = [&](int32_t count, int32_t* values) {
    if (size_t(count) * 4 > IRECORDEND - IRECORD) return false;
    for (int32_t i = 0; i < count; ++i, IRECORD += 4) values[i] = int32_t(get32(body + IRECORD));
    return true;
  };
  if (tag != TAG_CLOCK && tag != TAG_HASH && tag != TAG_LOAD && tag != TAG_SAVE) {
    // Counted records: the readings left out first.
    uint64_t skip = 0;
    if (tag < TAG_MODE || tag > TAG_END) return damaged("unknown record");
    if (!get_varint(body, &IRECORD, IRECORDEND, &skip) || skip > INT32_MAX)
      return damaged("bad count of readings");
    OUT.SKIP = int32_t(skip);
  }
  switch (tag) {
    case TAG_MODE:
      OUT.KIND = SESSIONKIND::MODE;
      if (!fixed(4, OUT.VALUES)) return damaged("cut short");
      break;
    case TAG_READING:
      OUT.KIND = SESSIONKIND::READING;
      OUT.READINGKIND = IRECORD < IRECORDEND ? body[IRECORD++] : 0;
      if (READINGVALUES(OUT.READINGKIND) == 0 || (OUT.READINGKIND >= READDISPLAY && IFORMAT < 3))
        return damaged("unknown reading kind");
      if (!fixed(READINGVALUES(OUT.READINGKIND), OUT.VALUES)) return damaged("cut short");
      if (OUT.READINGKIND >= READDISPLAY &&
          uint32_t(OUT.VALUES[0]) > (OUT.READINGKIND == READDISPLAY ? 3u : 4u))
        return damaged("unknown display or sound reading");
      break;
    case TAG_PASS:
    case TAG_PASSEVENT:
      if (IINPASS) return damaged("a pass starts inside a pass");
      if (IPASS == INT32_MAX) return damaged("too many passes");
      OUT.KIND = SESSIONKIND::PASS;
      OUT.HASEVENT = tag == TAG_PASSEVENT ? TRUE : FALSE;
      if (tag == TAG_PASSEVENT && !fixed(5, OUT.VALUES)) return damaged("cut short");
      IINPASS = true;
      ILASTHASHED = false;
      ++IPASS;
      ++IBLOCKPASSES;
      break;
    case TAG_ENDPASS:
      if (!IINPASS) return damaged("a pass ends that did not start");
      OUT.KIND = SESSIONKIND::ENDPASS;
      IINPASS = false;
      IAFTERPASS = true;  // a hash may follow; the recorder's rule says when one must
      IHASHDUE = IPASS % SESSIONHASHEVERY == 0 &&
                 double(ITICK) * SESSIONTICK - IHASHEDAT >= SESSIONHASHSECONDS;
      return TRUE;
    case TAG_END: {
      if (!ILASTBLOCK || IINPASS || IRECORD != IRECORDEND || INUMBER != IBODY.size())
        return damaged("the end mark is out of place");
      OUT.KIND = SESSIONKIND::END;
      uint8_t more = 0;
      size_t got = 0;
      if (ICHECKED == 0 && !READ(&more, 1, &got)) return FALSE;
      if (got != 0)
        return REFUSE("damaged session file: bytes follow its end mark (byte %llu)",
                      static_cast<unsigned long long>(IAT - 1));
      IDONE = true;
      return TRUE;
    }
    case TAG_HASH:
      if (!after_pass) return damaged("a frame hash is out of place");
      if (IBODY.size() - INUMBER < 4) return damaged("cut short");
      OUT.KIND = SESSIONKIND::HASH;
      OUT.HASH = get32(body + INUMBER);
      INUMBER += 4;
      IHASHEXTRA = !due;
      ILASTHASHED = true;
      IHASHEDAT = double(ITICK) * SESSIONTICK;
      break;
    case TAG_CLOCK: {
      uint64_t change = 0;
      int64_t delta = 0, tick = 0;
      if (!get_varint(body, &INUMBER, IBODY.size(), &change)) return damaged("cut short");
      if (__builtin_add_overflow(IDELTA, unzigzag(change), &delta) ||
          __builtin_add_overflow(ITICK, delta, &tick) || tick < 0 || tick > MAX_TICK)
        return damaged("a clock reading out of range");
      OUT.KIND = SESSIONKIND::CLOCK;
      OUT.CLOCK = double(tick) * SESSIONTICK;
      ITICK = tick;
      IDELTA = delta;
      break;
    }
    case TAG_LOAD:
    case TAG_SAVE: {
      uint64_t size = 0;
      if (IFORMAT < 3) return damaged("unknown record");
      OUT.KIND = tag == TAG_LOAD ? SESSIONKIND::LOAD : SESSIONKIND::SAVE;
      OUT.STATE = IRECORD < IRECORDEND ? body[IRECORD++] : 0xFF;
      if (OUT.STATE > (tag == TAG_LOAD ? 2 : 1)) return damaged("unknown file state");
      if (!get_varint(body, &IRECORD, IRECORDEND, &size)) return damaged("cut short");
      // Each reason of its own: a script that checks archived sessions says what is wrong.
      if (size > SESSIONMAXFILE)
        return damaged(tag == TAG_LOAD ? "a settings load record over 1 MiB"
                                       : "a settings save record over 1 MiB");
      if (size != 0 && tag == TAG_LOAD && OUT.STATE == int32_t(FILEREAD::MISSING))
        return damaged("a settings load record of no file that carries bytes");
      if (size != 0 && tag == TAG_SAVE && OUT.STATE == 1)
        return damaged("a settings save record of TRUE that carries bytes");
      if (size > IRECORDEND - IRECORD) return damaged("cut short");
      OUT.TEXT.assign(reinterpret_cast<const char*>(body + IRECORD), size_t(size));
      IRECORD += size_t(size);
      break;
    }
    default:
      return damaged("unknown record");
  }
  return TRUE;
}

BOOLEAN READSESSION(const void* DATA, size_t SIZE, std::vector<SESSIONENTRY>& ENTRIES) {
  ENTRIES.clear();
  SESSIONREADER reader;
  if (reader.OPEN(DATA, SIZE) == FALSE) return FALSE;
  SESSIONENTRY entry;
  while (reader.NEXT(entry) != FALSE) ENTRIES.push_back(entry);
  if (reader.FAILED()) {
    ENTRIES.clear();
    return FALSE;
  }
  return TRUE;
}

}  // namespace KASTREL::ENGINE
