#pragma once
// The session file: what makes one run of a game what it is, as written by a recording and read
// back by a replay. The layout is described in docs/session-format.md.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/boolean.h"
#include "kastrel/device/event.h"
#include "kastrel/device/input.h"

namespace KASTREL::ENGINE {

// The format this build writes. It reads format 2 too, whose frame hashes cover the pixels'
// unused fourth byte as well.
inline constexpr uint32_t SESSIONFORMAT = 3;
inline constexpr uint32_t SESSIONOLDESTFORMAT = 2;
inline constexpr size_t SESSIONHEADERSIZE = 16;
// While recording the clock counts whole ticks of 2^-20 s (about a microsecond): every reading
// is then exact as a double, and the jitter of a pass's length takes about a byte.
inline constexpr double SESSIONTICK = 1.0 / 1048576.0;
// The recorder hashes the frame of a pass whose number is a multiple of SESSIONHASHEVERY when
// SESSIONHASHSECONDS have passed since the last hash (hashing a frame costs about a tenth of a
// pass's work), and the frame of the last pass.
inline constexpr int32_t SESSIONHASHEVERY = 10;
inline constexpr double SESSIONHASHSECONDS = 0.1;
// No block holds more than this, stored or unpacked: the reader's memory stays bounded. A pass
// holds at most one settings file of SESSIONMAXFILE bytes beside its other records.
inline constexpr size_t SESSIONMAXBLOCK = 2u << 20;
inline constexpr size_t SESSIONMAXFILE = 1u << 20;

// Record tags.
enum SESSIONTAG : uint8_t {
  TAG_MODE = 0x01,       // W, H, FS, FLAGS of an INITIALIZE (4 x int32)
  TAG_READING = 0x02,    // an input-state reading whose answer changed: kind, then its int32s
  TAG_PASS = 0x03,       // a frame-loop pass starts and takes no device event
  TAG_PASSEVENT = 0x04,  // a pass starts and takes the device event that follows (20 bytes)
  TAG_ENDPASS = 0x05,    // the pass ends
  TAG_END = 0x06,        // the game ended; nothing follows
  TAG_HASH = 0x07,       // CRC-32 of the frame of the pass that just ended
  TAG_CLOCK = 0x10,      // a clock reading
  TAG_LOAD = 0x11,       // what SETTINGS::LOAD found: state, then the bytes (format 3)
  TAG_SAVE = 0x12,       // what SETTINGS::SAVE answered, and why not (format 3)
};

// What a SESSIONENTRY holds: one kind per record tag above (PASS opens a pass, ENDPASS closes
// it, END closes the recording).
enum class SESSIONKIND : uint8_t { MODE, READING, PASS, ENDPASS, END, HASH, CLOCK, LOAD, SAVE };

// How many int32 values a reading of each kind holds (0: no such kind).
int32_t READINGVALUES(int32_t KIND);

// One record of a session file as SESSIONREADER::NEXT hands it over; the fields that do not
// belong to its KIND stay as made.
struct SESSIONENTRY {
  SESSIONKIND KIND = SESSIONKIND::PASS;
  BOOLEAN HASEVENT{};       // PASS only
  int32_t SKIP = 0;         // all but CLOCK and HASH: readings left out since the last such record
  double CLOCK = 0.0;       // CLOCK only
  uint32_t HASH = 0;        // HASH only
  int32_t READINGKIND = 0;  // READING only
  int32_t VALUES[6] = {};   // MODE (4 used), READING, or the event of a PASS (see EVENT())
  int32_t STATE = 0;        // LOAD: a FILEREAD; SAVE: 1 TRUE, 0 FALSE
  std::string TEXT;         // LOAD: the file's bytes or why it failed; SAVE: why it failed
  // A PASS's event record, read from VALUES (all 0 when the pass took none).
  VOX::EVENT EVENT() const;
};

// The last answer recorded for each input-state question (which key, which pad and control).
// A reading whose answer equals it is left out of the file and answered from here on replay.
class READINGMEMORY {
 public:
  // TRUE when VALUES hold the answer kept for their question; otherwise keeps them.
  bool SAME(int32_t KIND, const int32_t* VALUES);
  // Fills in the answer kept for the question in VALUES; false when none was.
  bool ANSWER(int32_t KIND, int32_t* VALUES) const;

 private:
  std::map<std::array<int32_t, 4>, std::array<int32_t, 6>> IANSWERS;
};

// Reads a session file block by block, holding one block at a time. OPEN checks the whole file
// first, so a damaged one never feeds a game; NEXT then reads it again from the start.
class SESSIONREADER {
 public:
  SESSIONREADER() = default;
  ~SESSIONREADER() { CLOSE(); }
  SESSIONREADER(const SESSIONREADER&) = delete;
  SESSIONREADER& operator=(const SESSIONREADER&) = delete;
  // FALSE, with LASTERROR() saying why (cannot be read, not a regular file, not a recording,
  // another format, truncated, damaged), when any byte is out of place.
  BOOLEAN OPEN(const std::string& FILENAME);
  BOOLEAN OPEN(const void* DATA, size_t SIZE);  // a file held in memory, kept by the caller
  void CLOSE();                                 // back to as made
  // The next record: TRUE. FALSE at the end of the recording, or (FAILED(), LASTERROR()) when
  // the file cannot be read again as it was checked.
  BOOLEAN NEXT(SESSIONENTRY& OUT);
  // Whether NEXT failed; the passes and format number the opened file holds.
  bool FAILED() const { return IFAILED; }
  int32_t PASSES() const { return IPASSES; }
  uint32_t FORMAT() const { return IFORMAT; }
  BOOLEAN ENDED() const { return IENDED; }  // FALSE: the recording stopped after a block

 private:
  BOOLEAN CHECK();
  BOOLEAN REFUSE(const char* FORMAT, ...) __attribute__((format(printf, 2, 3)));
  bool READ(void* OUT, size_t SIZE, size_t* GOT);
  BOOLEAN LOADBLOCK();
  BOOLEAN PARSE(SESSIONENTRY& OUT);
  void REWIND();

  PLATFORM::READFILE IFILE;
  std::string INAME;
  const uint8_t* IDATA = nullptr;
  size_t ISIZE = 0;
  uint64_t IAT = 0;              // bytes read so far
  uint64_t ILIMIT = UINT64_MAX;  // bytes the file had when opened
  uint64_t ICHECKED = 0;         // bytes the check found good; NEXT never reads past them
  std::vector<uint8_t> ISTORED, IBODY;
  size_t IRECORD = 0, IRECORDEND = 0, INUMBER = 0;  // read places in IBODY
  bool ILASTBLOCK = false, IDONE = false, IFAILED = false, IINPASS = false;
  bool IAFTERPASS = false;        // the last record ended a pass
  int64_t ITICK = 0, IDELTA = 0;  // the clock's last reading and step, in ticks
  int32_t IPASS = 0, IBLOCKPASSES = 0;
  int32_t IPASSES = 0;
  uint32_t IFORMAT = SESSIONFORMAT;
  BOOLEAN IENDED{};
  // Where the frame hashes go: the clock at the last one (seconds), whether the pass that just
  // ended owes one, and whether a hash came after a pass that owed none (only the last may).
  double IHASHEDAT = -1e300;
  bool IHASHDUE = false, IHASHEXTRA = false, ILASTHASHED = false;
};

// Builds the bytes of a session file, block by block, as the recorder writes them.
class SESSIONWRITER {
 public:
  // The file's first bytes: the magic, the format number and their CRC-32.
  static std::vector<uint8_t> HEADER();
  // The display mode INITIALIZE set (W, H, full-screen flag, MODE_* word).
  void MODE(int32_t W, int32_t H, int32_t FS, int32_t FLAGS);
  // Kept only when the answer differs from the last one kept for the same question.
  void READING(int32_t KIND, const int32_t* VALUES);  // READINGVALUES(KIND) values
  void CLOCK(double SECONDS);                         // a whole number of SESSIONTICKs
  void PASS(const VOX::EVENT* EVENT);                 // null: no event
  // The end of the pass PASS began, then the hash of the frame it left.
  void ENDPASS();
  void HASH(uint32_t FRAMEHASH);
  // What SETTINGS::LOAD found (STATE a FILEREAD) and what SAVE answered (TEXT at most
  // SESSIONMAXFILE bytes).
  void LOAD(int32_t STATE, const std::string& TEXT);
  void SAVE(bool SAVED, const std::string& REASON);
  // The recording's normal end.
  void END();
  // The records since the last block as one block, deflated when that is smaller; LAST marks
  // the recording's end. The records are then cleared.
  const std::vector<uint8_t>& BLOCK(bool LAST);
  // The bytes of records waiting for the next block.
  size_t PENDING() const { return IRECORDS.size() + INUMBERS.size(); }

 private:
  void COUNTED(uint8_t TAG);
  void PUT32(uint32_t V);
  std::vector<uint8_t> IRECORDS, INUMBERS, IBLOCK, IPACK;
  READINGMEMORY IMEMORY;
  int32_t ISKIP = 0;
  int64_t ITICK = 0, IDELTA = 0;
};

// Checks and reads a whole session file held in memory into ENTRIES, for tests and tools.
// FALSE (LASTERROR() says why) and ENTRIES emptied when any byte is out of place.
BOOLEAN READSESSION(const void* DATA, size_t SIZE, std::vector<SESSIONENTRY>& ENTRIES);

// CRC-32 of the W x H frame of 32-bit pixels at PIXELS, rows PITCH bytes apart, as the session
// files of FORMAT hold it: from format 3 each pixel's fourth byte, which no picture shows, counts
// as 0; format 2 took the bytes as they were in memory.
uint32_t FRAMEHASH(const void* PIXELS, int32_t W, int32_t H, int32_t PITCH,
                   uint32_t FORMAT = SESSIONFORMAT);

}  // namespace KASTREL::ENGINE
