#include "kastrel/engine/replay.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "kastrel/base/error.h"
#include "kastrel/base/timer.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/input.h"
#include "kastrel/engine/session_file.h"
#include "kastrel/graphics/bitmap.h"

namespace KASTREL::ENGINE {

namespace {

enum class STATE { OFF, RECORDARMED, RECORDING, REPLAYARMED, REPLAYING, DONE };

struct SESSIONSTATE {
  STATE state = STATE::OFF;
  bool environment_read = false;
  int32_t pass = 0;  // the pass under way, counted from 1
  // Recording.
  std::FILE* file = nullptr;
  std::string file_name;
  SESSIONWRITER writer;
  // Replay.
  SESSION recorded;
  size_t next = 0;
  bool window = false;
  bool closing = false;     // past the end of a recording cut short
  bool close_sent = false;  // the closing pass has had its close request
  double last_clock = 0.0;
  // Frames.
  std::string frames_dir;
  int32_t every = 0;
  std::vector<int32_t> frame_passes;  // sorted; empty: every `every` passes
};

SESSIONSTATE& session() {
  static SESSIONSTATE s;
  return s;
}

// Only the thread that runs the game is recorded and fed; others keep the real clock.
thread_local bool session_thread = false;

double real_clock() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

[[noreturn]] void stop(int32_t status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
[[noreturn]] void stop(int32_t status, const char* format, ...) {
  // Formatted apart first: the arguments may be LASTERROR() itself.
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  SETLASTERROR("%s", message);
  std::fprintf(stderr, "kastrel: %s\n", message);
  std::fflush(stderr);
  std::_Exit(status);
}

[[noreturn]] void diverge(const char* what) {
  if (session().pass == 0) stop(EXITDIVERGED, "replay diverged before the first pass: %s", what);
  stop(EXITDIVERGED, "replay diverged at pass %d: %s", int(session().pass), what);
}

const char* describe(SESSIONKIND kind) {
  switch (kind) {
    case SESSIONKIND::MODE:
      return "a screen mode";
    case SESSIONKIND::READING:
      return "an input-state reading";
    case SESSIONKIND::PASS:
      return "the start of a pass";
    case SESSIONKIND::BLOCKEND:
      return "the end of a pass";
    case SESSIONKIND::END:
      return "the end of the game";
    case SESSIONKIND::CLOCK:
      return "a clock reading";
  }
  return "a record";
}

// The next recorded entry, which must be of KIND; null past the end of the recording.
const SESSIONENTRY* take(SESSIONKIND kind) {
  SESSIONSTATE& s = session();
  if (s.next >= s.recorded.ENTRIES.size()) return nullptr;
  const SESSIONENTRY& entry = s.recorded.ENTRIES[s.next];
  if (entry.KIND != kind) {
    char what[160];
    std::snprintf(what, sizeof what, "the game came to %s where the recording holds %s",
                  describe(kind), describe(entry.KIND));
    diverge(what);
  }
  ++s.next;
  return &entry;
}

void write_block(SESSIONSTATE& s, bool last) {
  s.writer.CLOSE(last);
  const std::vector<uint8_t>& block = s.writer.BLOCK();
  // Flushed at every pass, so a crash keeps every pass up to the last one.
  if (std::fwrite(block.data(), 1, block.size(), s.file) != block.size() ||
      std::fflush(s.file) != 0) {
    stop(EXITBADSESSION, "cannot write the session file %s: %s", s.file_name.c_str(),
         std::strerror(errno));
  }
  s.writer.CLEARBLOCK();
}

double recording_clock() {
  const double now = real_clock();
  if (session_thread) session().writer.CLOCK(now);
  return now;
}

double replay_clock() {
  if (!session_thread) return real_clock();
  SESSIONSTATE& s = session();
  if (!s.closing) {
    if (const SESSIONENTRY* entry = take(SESSIONKIND::CLOCK)) return s.last_clock = entry->CLOCK;
    s.closing = true;  // the recording stops here: this pass closes the game
  }
  return s.last_clock;
}

// Key, pointer and typed-key readings the game's thread takes: kept, or answered.
void input_filter(INPUTREADING kind, int32_t* values, int32_t count) {
  if (!session_thread) return;
  SESSIONSTATE& s = session();
  if (s.state == STATE::RECORDING) {
    s.writer.READING(kind, values);
    return;
  }
  if (s.state != STATE::REPLAYING || s.closing) return;
  const SESSIONENTRY* reading = take(SESSIONKIND::READING);
  if (reading == nullptr) {
    s.closing = true;
    return;
  }
  // The question must be the one recorded: the key asked about, or the pad call and its pad
  // and control.
  const int32_t asked = kind == READMULTIKEY ? 1 : kind == READPAD ? 3 : 0;
  if (reading->READINGKIND != kind ||
      !std::equal(values, values + asked, reading->VALUES)) {
    char what[160];
    std::snprintf(what, sizeof what,
                  "the game took input reading %d (first value %d) where the recording holds "
                  "reading %d (first value %d)",
                  int(kind), int(values[0]), int(reading->READINGKIND), int(reading->VALUES[0]));
    diverge(what);
  }
  std::copy(reading->VALUES, reading->VALUES + count, values);
}

void write_frame(SESSIONSTATE& s) {
  if (s.frames_dir.empty()) return;
  const bool wanted = s.frame_passes.empty() ? s.pass % s.every == 0
                                             : std::binary_search(s.frame_passes.begin(),
                                                                  s.frame_passes.end(), s.pass);
  if (!wanted) return;
  char name[32];
  std::snprintf(name, sizeof name, "/pass-%06d.png", int(s.pass));
  if (GRAPHICS::BITMAP().SAVETOFILE(s.frames_dir + name, TRUE) == FALSE)
    stop(EXITBADSESSION, "cannot write the frame of pass %d: %s", int(s.pass), LASTERROR());
}

int32_t number(const char* variable, const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text || errno != 0 || value < 1 || value > INT32_MAX)
    stop(EXITBADSESSION, "%s: \"%s\" is not a pass number", variable, text);
  return int32_t(value);
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The KASTREL_* variables, unless calls set things up before.
void read_environment() {
  SESSIONSTATE& s = session();
  if (s.environment_read) return;
  s.environment_read = true;
  const char* record = variable("KASTREL_RECORD");
  const char* replay = variable("KASTREL_REPLAY");
  if (s.state == STATE::OFF) {
    if (record != nullptr && replay != nullptr)
      stop(EXITBADSESSION, "KASTREL_RECORD and KASTREL_REPLAY are both set");
    const char* window = variable("KASTREL_REPLAY_WINDOW");
    const BOOLEAN in_window = window != nullptr && std::strcmp(window, "0") != 0 ? TRUE : FALSE;
    if (replay != nullptr && REPLAYSESSION(replay, in_window) == FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
    if (record != nullptr && RECORDSESSION(record) == FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
  }
  const char* frames = variable("KASTREL_FRAMES");
  if (frames != nullptr && s.frames_dir.empty()) {
    const char* every = variable("KASTREL_FRAMES_EVERY");
    std::vector<int32_t> passes;
    if (const char* at = variable("KASTREL_FRAMES_AT")) {
      std::string list = at;
      for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        passes.push_back(number("KASTREL_FRAMES_AT", list.substr(start, comma - start).c_str()));
        start = comma + 1;
      }
    }
    if (WRITEFRAMES(frames, every != nullptr ? number("KASTREL_FRAMES_EVERY", every) : 1, passes) ==
        FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
  }
}

}  // namespace

BOOLEAN RECORDSESSION(const std::string& FILENAME) {
  SESSIONSTATE& s = session();
  if (s.state != STATE::OFF) {
    SETLASTERROR("RECORDSESSION: %s: a session is set already", FILENAME.c_str());
    return FALSE;
  }
  s.file = std::fopen(FILENAME.c_str(), "wb");
  if (s.file == nullptr) {
    SETLASTERROR("RECORDSESSION: cannot create %s: %s", FILENAME.c_str(), std::strerror(errno));
    return FALSE;
  }
  const std::vector<uint8_t> header = SESSIONWRITER::HEADER();
  if (std::fwrite(header.data(), 1, header.size(), s.file) != header.size() ||
      std::fflush(s.file) != 0) {
    SETLASTERROR("RECORDSESSION: cannot write %s: %s", FILENAME.c_str(), std::strerror(errno));
    std::fclose(s.file);
    s.file = nullptr;
    return FALSE;
  }
  s.file_name = FILENAME;
  s.state = STATE::RECORDARMED;
  return TRUE;
}

BOOLEAN REPLAYSESSION(const std::string& FILENAME, BOOLEAN WINDOW) {
  SESSIONSTATE& s = session();
  if (s.state != STATE::OFF) {
    SETLASTERROR("REPLAYSESSION: %s: a session is set already", FILENAME.c_str());
    return FALSE;
  }
  std::ifstream in(FILENAME, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    SETLASTERROR("REPLAYSESSION: cannot read %s: %s", FILENAME.c_str(), std::strerror(errno));
    return FALSE;
  }
  if (!in.is_open()) {
    SETLASTERROR("REPLAYSESSION: cannot open %s: %s", FILENAME.c_str(), std::strerror(errno));
    return FALSE;
  }
  if (READSESSION(bytes.data(), bytes.size(), s.recorded) == FALSE) {
    SETLASTERROR("%s: %s", FILENAME.c_str(), std::string(LASTERROR()).c_str());
    return FALSE;
  }
  s.window = WINDOW != FALSE;
  s.state = STATE::REPLAYARMED;
  return TRUE;
}

BOOLEAN WRITEFRAMES(const std::string& DIR, int32_t EVERY, const std::vector<int32_t>& PASSES) {
  if (EVERY < 1 || std::any_of(PASSES.begin(), PASSES.end(), [](int32_t p) { return p < 1; })) {
    SETLASTERROR("WRITEFRAMES: passes are counted from 1 (every %d)", int(EVERY));
    return FALSE;
  }
  std::error_code error;
  std::filesystem::create_directories(DIR, error);
  if (DIR.empty() || !std::filesystem::is_directory(DIR) || access(DIR.c_str(), W_OK) != 0) {
    SETLASTERROR("WRITEFRAMES: %s is not a folder frames can be written to", DIR.c_str());
    return FALSE;
  }
  SESSIONSTATE& s = session();
  s.frames_dir = DIR;
  s.every = EVERY;
  s.frame_passes = PASSES;
  std::sort(s.frame_passes.begin(), s.frame_passes.end());
  return TRUE;
}

namespace SESSIONHOOK {

int32_t MODE(int32_t W, int32_t H, BOOLEAN FS, int32_t FLAGS) {
  read_environment();
  SESSIONSTATE& s = session();
  if (s.state == STATE::RECORDARMED) {
    s.state = STATE::RECORDING;
    session_thread = true;
    SETTIMERSOURCE(recording_clock);
    SETINPUTFILTER(input_filter);
  } else if (s.state == STATE::REPLAYARMED) {
    s.state = STATE::REPLAYING;
    session_thread = true;
    SETTIMERSOURCE(replay_clock);
    SETINPUTFILTER(input_filter);
  }
  if (s.state == STATE::RECORDING) {
    s.writer.MODE(W, H, FS, FLAGS);
  } else if (s.state == STATE::REPLAYING) {
    if (const SESSIONENTRY* mode = s.closing ? nullptr : take(SESSIONKIND::MODE)) {
      const int32_t* v = mode->VALUES;
      if (v[0] != W || v[1] != H || v[2] != FS || v[3] != FLAGS) {
        char what[200];
        std::snprintf(what, sizeof what,
                      "the game asked for a %d x %d screen (full screen %d, flags %d) where the "
                      "recording has %d x %d (full screen %d, flags %d)",
                      int(W), int(H), int(FS), int(FLAGS), int(v[0]), int(v[1]), int(v[2]),
                      int(v[3]));
        diverge(what);
      }
    } else {
      s.closing = true;
    }
    if (!s.window) return MODE_NULL;
  }
  return FLAGS;
}

int32_t FETCHEVENT(VOX::EVENT* EVENT) {
  SESSIONSTATE& s = session();
  ++s.pass;
  if (s.state == STATE::RECORDING) {
    const int32_t taken = vox_GfxEvent(EVENT);
    s.writer.PASS(taken != 0 ? EVENT : nullptr);
    return taken;
  }
  if (s.state != STATE::REPLAYING) return vox_GfxEvent(EVENT);
  const SESSIONENTRY* pass = s.closing ? nullptr : take(SESSIONKIND::PASS);
  if (pass == nullptr) {
    if (s.close_sent) diverge("the game went on after the close request that ends the recording");
    s.closing = s.close_sent = true;
    *EVENT = VOX::EVENT{};
    EVENT->TYPE = VOX::CLOSEREQUESTED;
    return -1;
  }
  if (pass->HASEVENT == FALSE) return 0;
  *EVENT = pass->EVENT();
  return -1;
}

void ENDPASS() {
  SESSIONSTATE& s = session();
  write_frame(s);
  if (s.state == STATE::RECORDING) {
    write_block(s, false);
  } else if (s.state == STATE::REPLAYING && !s.closing) {
    if (take(SESSIONKIND::BLOCKEND) == nullptr) s.closing = true;
  }
}

bool PAUSES() {
  const SESSIONSTATE& s = session();
  return s.state != STATE::REPLAYING || s.window;  // else no presentation thread to let in
}

bool EVENTWAITING() { return session().state != STATE::REPLAYING && vox_GfxEvent(nullptr) != 0; }

void FINISH() {
  SESSIONSTATE& s = session();
  if (s.state == STATE::RECORDING) {
    write_block(s, true);
    std::fclose(s.file);
    s.file = nullptr;
  } else if (s.state == STATE::REPLAYING) {
    if (!s.closing && s.next < s.recorded.ENTRIES.size() &&
        s.recorded.ENTRIES[s.next].KIND != SESSIONKIND::END) {
      char what[120];
      std::snprintf(what, sizeof what, "the game ended; the recording goes on to pass %d",
                    int(s.recorded.PASSES));
      diverge(what);
    }
  } else {
    return;
  }
  SETTIMERSOURCE(nullptr);
  SETINPUTFILTER(nullptr);
  session_thread = false;
  s.state = STATE::DONE;
}

}  // namespace SESSIONHOOK

}  // namespace KASTREL::ENGINE
