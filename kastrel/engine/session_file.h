#pragma once
// The session file: what makes one run of a game what it is, as written by a recording and read
// back by a replay. The layout is described in docs/session-format.md.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kastrel/boolean.h"
#include "kastrel/device/event.h"
#include "kastrel/device/input.h"

namespace KASTREL::ENGINE {

inline constexpr uint32_t SESSIONFORMAT = 1;  // the format this build writes and reads
inline constexpr size_t SESSIONHEADERSIZE = 16;

// Record tags. A clock reading is CLOCK + n, n = 0..8 bytes of difference following.
enum SESSIONTAG : uint8_t {
  TAG_MODE = 0x01,       // W, H, FS, FLAGS of an INITIALIZE (4 x int32)
  TAG_READING = 0x02,    // an input-state reading: its kind (INPUTREADING), then its int32s
  TAG_PASS = 0x03,       // a frame-loop pass that took no device event
  TAG_PASSEVENT = 0x04,  // a pass that took the device event that follows (20 bytes)
  TAG_BLOCKEND = 0x05,   // end of a pass: CRC-32 of every byte since the previous block
  TAG_END = 0x06,        // the game ended: CRC-32 as for TAG_BLOCKEND; nothing follows
  TAG_CLOCK = 0x10,
};

enum class SESSIONKIND : uint8_t { MODE, READING, PASS, BLOCKEND, END, CLOCK };

// How many int32 values a reading of each kind holds (0: no such kind).
int32_t READINGVALUES(int32_t KIND);

struct SESSIONENTRY {
  SESSIONKIND KIND = SESSIONKIND::PASS;
  BOOLEAN HASEVENT{};       // PASS only; FALSE
  double CLOCK = 0.0;       // CLOCK only
  int32_t READINGKIND = 0;  // READING only
  int32_t VALUES[6] = {};   // MODE (4 used), READING, or the event of a PASS (see EVENT())
  VOX::EVENT EVENT() const;
};

struct SESSION {
  std::vector<SESSIONENTRY> ENTRIES;  // in the order the game met them; BLOCKEND/END included
  BOOLEAN ENDED{};  // FALSE: the recording stopped after a pass (the game crashed)
  int32_t PASSES = 0;
};

// Checks and reads a whole session file held in memory. FALSE (LASTERROR() says why: foreign,
// newer format, truncated, damaged) and OUT emptied when any byte is out of place.
BOOLEAN READSESSION(const void* DATA, size_t SIZE, SESSION& OUT);

// Builds the bytes of a session file, block by block, as the recorder writes them.
class SESSIONWRITER {
 public:
  static std::vector<uint8_t> HEADER();
  void MODE(int32_t W, int32_t H, int32_t FS, int32_t FLAGS);
  void READING(int32_t KIND, const int32_t* VALUES);  // READINGVALUES(KIND) values
  void CLOCK(double SECONDS);
  void PASS(const VOX::EVENT* EVENT);  // null: no event
  // Closes the block with TAG_BLOCKEND (or TAG_END when LAST) and its checksum; the bytes of the
  // block are then in BLOCK() until the next record starts a new one.
  void CLOSE(bool LAST);
  const std::vector<uint8_t>& BLOCK() const { return IBLOCK; }
  void CLEARBLOCK() { IBLOCK.clear(); }

 private:
  void PUT32(uint32_t V);
  std::vector<uint8_t> IBLOCK;
  uint64_t ILASTCLOCK = 0;
};

}  // namespace KASTREL::ENGINE
