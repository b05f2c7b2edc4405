#include "kastrel/engine/replay.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "kastrel/base/detail/outside_readings.h"
#include "kastrel/base/detail/platform.h"
#include "kastrel/base/detail/player_files.h"
#include "kastrel/base/error.h"
#include "kastrel/base/timer.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/engine/detail/session_file.h"
#include "kastrel/engine/engine.h"
#include "kastrel/graphics/bitmap.h"

namespace KASTREL::ENGINE {

namespace {

enum class STATE { OFF, RECORDARMED, RECORDING, REPLAYARMED, REPLAYING, DONE };

struct SESSIONSTATE {
  STATE state = STATE::OFF;
  bool environment_read = false;
  int32_t pass = 0;  // the pass under way, counted from 1
  std::string file_name;
  // Recording.
  PLATFORM::WRITEFILE file;
  SESSIONWRITER writer;
  uint64_t kept = 0;            // bytes of whole blocks written
  int32_t kept_passes = 0;      // the passes in them
  double block_started = -1.0;  // the clock when the block under way started; -1: none written
  double last_reading = 0.0;
  double hashed_at = -1e300;  // the clock at the last frame hashed
  // Replay.
  SESSIONREADER recorded;
  SESSIONENTRY ahead;  // the next record, read but not yet taken
  bool has_ahead = false;
  READINGMEMORY answers;  // for the readings the file leaves out
  int32_t skipped = 0;    // readings answered from it since the last counted record
  bool window = false;
  bool verify = false;  // report every differing frame instead of stopping at the first
  int32_t differing = 0, first_differing = 0;
  int32_t compared = 0, equal = 0;  // recorded frame hashes checked, and those that matched
  bool whole = false;               // a recording cut short fails (EXITCUT)
  std::string summary_file;         // where the replay's summary goes at its end; "": nowhere
  bool summary_written = false;
  bool closing = false;     // past the end of a recording cut short
  bool replayed = false;    // a replay's frame loop has ended: the process stays a replay
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

void remove_replay_folder();
bool write_summary(SESSIONSTATE& s, std::string* reason);

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
  // A replay that stops still says how far its frames matched.
  std::string reason;
  if (session().state == STATE::REPLAYING && !write_summary(session(), &reason))
    std::fprintf(stderr, "kastrel: %s\n", reason.c_str());
  std::fflush(stderr);
  // _Exit skips the exit handlers (the game's own among them): the replay's folder goes first.
  remove_replay_folder();
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
    case SESSIONKIND::ENDPASS:
      return "the end of a pass";
    case SESSIONKIND::END:
      return "the end of the game";
    case SESSIONKIND::HASH:
      return "a frame hash";
    case SESSIONKIND::CLOCK:
      return "a clock reading";
    case SESSIONKIND::LOAD:
      return "a settings load";
    case SESSIONKIND::SAVE:
      return "a settings save";
  }
  return "a record";
}

// The next recorded record; null past the end of the recording. A file that cannot be read
// again as it was checked ends the replay.
const SESSIONENTRY* peek() {
  SESSIONSTATE& s = session();
  if (!s.has_ahead && s.recorded.NEXT(s.ahead) != FALSE) s.has_ahead = true;
  if (s.recorded.FAILED()) stop(EXITBADSESSION, "%s: %s", s.file_name.c_str(), LASTERROR());
  return s.has_ahead ? &s.ahead : nullptr;
}

// The recording ends without its end mark (the recorder was killed): the game is closed as a
// close request would, and one line says where, while the status stays the game's own.
void cut_short(SESSIONSTATE& s) {
  if (s.closing) return;
  s.closing = true;
  std::fprintf(stderr,
               "kastrel: the recording was cut short after pass %d (it has no end mark); the "
               "replay closes the game there\n",
               int(s.recorded.PASSES()));
  std::fflush(stderr);
}

// Takes the next recorded record, which must be of KIND, into *OUT; false past the end of the
// recording. Records that count the readings left out check the game took as many.
bool take(SESSIONKIND kind, SESSIONENTRY* out) {
  SESSIONSTATE& s = session();
  const SESSIONENTRY* entry = peek();
  if (entry == nullptr) return false;
  char what[160];
  if (entry->KIND != kind) {
    std::snprintf(what, sizeof what, "the game came to %s where the recording holds %s",
                  describe(kind), describe(entry->KIND));
    diverge(what);
  }
  if (kind != SESSIONKIND::CLOCK && kind != SESSIONKIND::HASH && kind != SESSIONKIND::LOAD &&
      kind != SESSIONKIND::SAVE) {
    if (entry->SKIP != s.skipped) {
      std::snprintf(what, sizeof what,
                    "the game took %d input-state readings before %s where the recording "
                    "holds %d",
                    int(s.skipped), describe(kind), int(entry->SKIP));
      diverge(what);
    }
    s.skipped = 0;
  }
  *out = *entry;
  s.has_ahead = false;
  return true;
}

// Writes the block under way. On a failure the file is cut back to its last whole block, so
// that it replays up to there, and the game stops.
void write_block(SESSIONSTATE& s, bool last) {
  const std::vector<uint8_t>& block = s.writer.BLOCK(last);
  if (!s.file.WRITE(block.data(), block.size())) {
    const std::string error = s.file.REASON();
    const bool cut = s.file.TRUNCATE(s.kept) != FALSE;
    s.file.CLOSE();
    stop(EXITBADSESSION, "cannot write the session file %s: %s; %s %d passes", s.file_name.c_str(),
         error.c_str(), cut ? "it keeps its first" : "it may be damaged after", int(s.kept_passes));
  }
  s.kept += block.size();
  s.kept_passes = s.pass;
  s.block_started = s.last_reading;
}

// While recording, the game's thread reads the clock in whole ticks (see SESSIONTICK).
double recording_clock() {
  if (!session_thread) return real_clock();
  const double now = std::floor(real_clock() / SESSIONTICK) * SESSIONTICK;
  session().writer.CLOCK(now);
  return session().last_reading = now;
}

double replay_clock() {
  if (!session_thread) return real_clock();
  SESSIONSTATE& s = session();
  SESSIONENTRY entry;
  if (!s.closing) {
    if (take(SESSIONKIND::CLOCK, &entry)) return s.last_clock = entry.CLOCK;
    cut_short(s);  // the recording stops here: this pass closes the game
  }
  return s.last_clock;
}

// Key, pointer and typed-key readings the game's thread takes: kept, or answered. A reading
// whose answer did not change is not in the file; the replay answers it as before.
void input_filter(INPUTREADING kind, int32_t* values, int32_t count) {
  if (!session_thread) return;
  SESSIONSTATE& s = session();
  if (s.state == STATE::RECORDING) {
    s.writer.READING(kind, values);
    return;
  }
  if (s.state != STATE::REPLAYING || s.closing) return;
  if (kind >= READDISPLAY && s.recorded.FORMAT() < 3) return;  // older files kept none
  const SESSIONENTRY* next = peek();
  if (next == nullptr) {
    cut_short(s);
    return;
  }
  char what[160];
  if (next->KIND == SESSIONKIND::READING && next->SKIP <= s.skipped) {
    SESSIONENTRY reading;
    take(SESSIONKIND::READING, &reading);
    // The question must be the one recorded: the key asked about, or the pad call and its pad
    // and control.
    const int32_t asked = kind == READPAD ? 3 : kind == READMOUSE || kind == READKEY ? 0 : 1;
    if (reading.READINGKIND != kind || !std::equal(values, values + asked, reading.VALUES)) {
      std::snprintf(what, sizeof what,
                    "the game took input reading %d (first value %d) where the recording holds "
                    "reading %d (first value %d)",
                    int(kind), int(values[0]), int(reading.READINGKIND), int(reading.VALUES[0]));
      diverge(what);
    }
    s.answers.SAME(kind, reading.VALUES);
    std::copy(reading.VALUES, reading.VALUES + count, values);
    return;
  }
  if (!s.answers.ANSWER(kind, values)) {
    std::snprintf(what, sizeof what,
                  "the game took input reading %d (first value %d), which the recording never "
                  "answered",
                  int(kind), int(values[0]));
    diverge(what);
  }
  ++s.skipped;
}

// The frame as the session's format hashes it (a replay of an older file, as that did).
// The readings of the parts the input filter does not reach (the sound device's answers).
void outside_filter(int32_t kind, int32_t* values, int32_t count) {
  input_filter(INPUTREADING(kind), values, count);
}

uint32_t screen_hash(uint32_t format = SESSIONFORMAT) {
  const VOX_GFX_SCREEN* screen = __vox_gfx;
  if (screen == nullptr || screen->framebuffer == nullptr) return 0;
  return FRAMEHASH(screen->framebuffer, screen->width, screen->height, screen->pitch, format);
}

// A replayed frame against the recorded hash: a difference stops the replay, or is reported and
// counted when every one is wanted.
void check_frame(SESSIONSTATE& s, uint32_t recorded) {
  ++s.compared;
  if (screen_hash(s.recorded.FORMAT()) == recorded) {
    ++s.equal;
    return;
  }
  if (!s.verify) diverge("its frame differs from the recorded one");
  if (s.differing++ == 0) s.first_differing = s.pass;
  std::fprintf(stderr, "kastrel: pass %d: the frame differs from the recorded one\n", int(s.pass));
}

// The replay's summary, one line in the file KASTREL_REPLAY_SUMMARY names (kastrel-replay's,
// or the page's), written once: the frames compared and whether the recording was whole. The
// tool and the page put it before their readers as it is.
bool write_summary(SESSIONSTATE& s, std::string* reason) {
  if (s.summary_file.empty() || s.summary_written) return true;
  s.summary_written = true;
  char line[160];
  const int length =
      s.recorded.ENDED() != FALSE
          ? std::snprintf(line, sizeof line,
                          "%d frames compared, %d equal; the recording is whole\n", int(s.compared),
                          int(s.equal))
          : std::snprintf(
                line, sizeof line,
                "%d frames compared, %d equal; the recording is cut short after pass %d\n",
                int(s.compared), int(s.equal), int(s.recorded.PASSES()));
  PLATFORM::WRITEFILE file;
  if (!file.CREATE(s.summary_file) || !file.WRITE(line, size_t(length)) || !file.CLOSE()) {
    *reason = "cannot write the replay's summary " + s.summary_file + ": " + file.REASON();
    return false;
  }
  return true;
}

// A stop request from outside while recording (SIGTERM, SIGINT, SIGHUP; a console's Ctrl+C or
// close on Windows): the first asks the game to close, as the close box does, so the recording
// gets its end; the second ends the process at once.
std::atomic<bool> g_close_asked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_stop_request() { g_close_asked.store(true); }

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

// A variable's value in UTF-8; "" when unset or empty, which both mean "not asked for".
std::string variable(const char* name) {
  std::string value;
  PLATFORM::GETENVIRONMENT(name, &value);
  return value;
}

// The KASTREL_* variables, unless calls set things up before.
void read_environment() {
  SESSIONSTATE& s = session();
  if (s.environment_read) return;
  s.environment_read = true;
  const std::string record = variable("KASTREL_RECORD");
  const std::string replay = variable("KASTREL_REPLAY");
  if (s.state == STATE::OFF) {
    if (!record.empty() && !replay.empty())
      stop(EXITBADSESSION, "KASTREL_RECORD and KASTREL_REPLAY are both set");
    const auto on = [](const char* name) {
      const std::string value = variable(name);
      return !value.empty() && value != "0" ? TRUE : FALSE;
    };
    if (!replay.empty() && REPLAYSESSION(replay, on("KASTREL_REPLAY_WINDOW"),
                                         on("KASTREL_REPLAY_VERIFY")) == FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
    if (!record.empty() && RECORDSESSION(record) == FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
  }
  const std::string frames = variable("KASTREL_FRAMES");
  if (!frames.empty() && s.frames_dir.empty()) {
    const std::string every = variable("KASTREL_FRAMES_EVERY");
    std::vector<int32_t> passes;
    if (const std::string list = variable("KASTREL_FRAMES_AT"); !list.empty()) {
      for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        passes.push_back(number("KASTREL_FRAMES_AT", list.substr(start, comma - start).c_str()));
        start = comma + 1;
      }
    }
    if (WRITEFRAMES(frames, every.empty() ? 1 : number("KASTREL_FRAMES_EVERY", every.c_str()),
                    passes) == FALSE)
      stop(EXITBADSESSION, "%s", LASTERROR());
  }
  const std::string whole = variable("KASTREL_REPLAY_WHOLE");
  s.whole = !whole.empty() && whole != "0";
  s.summary_file = variable("KASTREL_REPLAY_SUMMARY");
}

// ---- The player's files ----
//
// A recording keeps what SETTINGS::LOAD found and what SAVE answered; its replay answers both
// from the file, writes nothing, and names a folder of its own for PATHS::SAVES, so that it
// neither depends on nor changes the player's files. A replay of a format-2 file (which kept
// none of it) reads the settings as they are now, as it always did, and writes nothing.

// The game's thread, or any thread before INITIALIZE (games read their settings first).
bool files_recorded(SESSIONSTATE& s) {
  read_environment();
  return session_thread || s.state == STATE::RECORDARMED || s.state == STATE::REPLAYARMED;
}
bool recording(SESSIONSTATE& s) {
  return files_recorded(s) && (s.state == STATE::RECORDING || s.state == STATE::RECORDARMED);
}
bool replaying(SESSIONSTATE& s) {
  return files_recorded(s) && (s.state == STATE::REPLAYING || s.state == STATE::REPLAYARMED);
}
// Whatever the thread: a replay never writes the player's files, after its frame loop neither
// (a game that saves its best score on the way out).
bool replay_on(SESSIONSTATE& s) {
  read_environment();
  return s.state == STATE::REPLAYING || s.state == STATE::REPLAYARMED ||
         (s.state == STATE::DONE && s.replayed);
}

bool load_answer(FILEREAD* state, std::string* text) {
  SESSIONSTATE& s = session();
  if (!replaying(s) || s.recorded.FORMAT() < 3) return false;
  SESSIONENTRY entry;
  if (s.closing || !take(SESSIONKIND::LOAD, &entry)) {  // past a recording cut short
    *state = FILEREAD::MISSING;
    return true;
  }
  *state = FILEREAD(entry.STATE);
  *text = std::move(entry.TEXT);
  return true;
}

void loaded(FILEREAD state, const std::string& text) {
  SESSIONSTATE& s = session();
  if (!recording(s)) return;
  if (text.size() > SESSIONMAXFILE)
    stop(EXITBADSESSION, "a settings file of %llu bytes is more than a session records (%llu)",
         static_cast<unsigned long long>(text.size()),
         static_cast<unsigned long long>(SESSIONMAXFILE));
  s.writer.LOAD(int32_t(state), text);
}

bool save_answer(BOOLEAN* result, std::string* reason) {
  SESSIONSTATE& s = session();
  if (!replay_on(s)) return false;
  SESSIONENTRY entry;
  if (!replaying(s) || s.recorded.FORMAT() < 3 || s.closing || !take(SESSIONKIND::SAVE, &entry)) {
    *result = TRUE;  // written nowhere
    return true;
  }
  *result = entry.STATE != 0 ? TRUE : FALSE;
  *reason = entry.TEXT.substr(0, SESSIONMAXFILE);
  return true;
}

void saved(BOOLEAN result, const std::string& reason) {
  SESSIONSTATE& s = session();
  if (recording(s)) s.writer.SAVE(result != FALSE, reason.substr(0, 4096));
}

// The replay's own folder for the game's files, under the temporary folder, removed when the
// process exits.
std::string replay_folder_root;

void remove_replay_folder() {
  if (replay_folder_root.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(replay_folder_root, error);
}

std::string saves_folder(const std::string& org, const std::string& app) {
  SESSIONSTATE& s = session();
  if (!replay_on(s) || s.recorded.FORMAT() < 3) return "";
  if (replay_folder_root.empty()) {
    // A fresh folder of a random name, the owner's alone: create_directory fails on one that
    // is there already.
    std::error_code error;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int tries = 0; tries < 100 && replay_folder_root.empty() && !tmp.empty(); ++tries) {
      char name[32];
      std::snprintf(name, sizeof name, "kastrel-replay-%08x", unsigned(random()));
      if (std::filesystem::create_directory(tmp / name, error)) {
        std::filesystem::permissions(tmp / name, std::filesystem::perms::owner_all, error);
        replay_folder_root = (tmp / name).generic_string();
      }
    }
    if (replay_folder_root.empty())
      stop(EXITBADSESSION, "cannot make a folder for the replay's files in %s: %s",
           tmp.generic_string().c_str(), error.message().c_str());
    std::atexit(remove_replay_folder);
  }
  const std::string folder = replay_folder_root + "/" + org + "/" + app;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error)
    stop(EXITBADSESSION, "cannot make the replay's folder %s: %s", folder.c_str(),
         error.message().c_str());
  return folder + "/";
}

const PLAYERFILEHOOKS kPlayerFileHooks{load_answer, loaded, save_answer, saved, saves_folder};
const bool kPlayerFileHooksSet = (SETPLAYERFILEHOOKS(&kPlayerFileHooks), true);

}  // namespace

BOOLEAN REPLAYING() {
  SESSIONSTATE& s = session();
  read_environment();
  return replay_on(s) ? TRUE : FALSE;
}

BOOLEAN RECORDSESSION(const std::string& FILENAME) {
  SESSIONSTATE& s = session();
  if (s.state != STATE::OFF) {
    SETLASTERROR("RECORDSESSION: %s: a session is set already", FILENAME.c_str());
    return FALSE;
  }
  if (!s.file.CREATE(FILENAME)) {
    SETLASTERROR("RECORDSESSION: cannot create %s: %s", FILENAME.c_str(), s.file.REASON().c_str());
    return FALSE;
  }
  const std::vector<uint8_t> header = SESSIONWRITER::HEADER();
  if (!s.file.WRITE(header.data(), header.size())) {
    SETLASTERROR("RECORDSESSION: cannot write %s: %s", FILENAME.c_str(), s.file.REASON().c_str());
    s.file.CLOSE();
    return FALSE;
  }
  s.kept = header.size();
  s.file_name = FILENAME;
  s.state = STATE::RECORDARMED;
  return TRUE;
}

BOOLEAN REPLAYSESSION(const std::string& FILENAME, BOOLEAN WINDOW, BOOLEAN VERIFY) {
  SESSIONSTATE& s = session();
  if (s.state != STATE::OFF) {
    SETLASTERROR("REPLAYSESSION: %s: a session is set already", FILENAME.c_str());
    return FALSE;
  }
  if (s.recorded.OPEN(FILENAME) == FALSE) {
    SETLASTERROR("%s: %s", FILENAME.c_str(), std::string(LASTERROR()).c_str());
    s.recorded.CLOSE();
    return FALSE;
  }
  s.file_name = FILENAME;
  s.window = WINDOW != FALSE;
  s.verify = VERIFY != FALSE;
  s.state = STATE::REPLAYARMED;
  return TRUE;
}

BOOLEAN WRITEFRAMES(const std::string& DIR, int32_t EVERY, const std::vector<int32_t>& PASSES) {
  if (EVERY < 1 || std::any_of(PASSES.begin(), PASSES.end(), [](int32_t p) { return p < 1; })) {
    SETLASTERROR("WRITEFRAMES: passes are counted from 1 (every %d)", int(EVERY));
    return FALSE;
  }
  std::error_code error;
  const std::filesystem::path folder(reinterpret_cast<const char8_t*>(DIR.c_str()));
  if (!DIR.empty()) std::filesystem::create_directories(folder, error);
  if (DIR.empty() || !PLATFORM::ISFOLDER(DIR) || !PLATFORM::ISWRITABLE(DIR)) {
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
    PLATFORM::CATCHSTOPREQUESTS(on_stop_request);
    SETTIMERSOURCE(recording_clock);
    SETINPUTFILTER(input_filter);
    SETOUTSIDEFILTER(outside_filter);
  } else if (s.state == STATE::REPLAYARMED) {
    s.state = STATE::REPLAYING;
    session_thread = true;
    SETTIMERSOURCE(replay_clock);
    SETINPUTFILTER(input_filter);
    SETOUTSIDEFILTER(outside_filter);
  }
  if (s.state == STATE::RECORDING) {
    s.writer.MODE(W, H, FS, FLAGS);
  } else if (s.state == STATE::REPLAYING) {
    SESSIONENTRY mode;
    if (!s.closing && take(SESSIONKIND::MODE, &mode)) {
      const int32_t* v = mode.VALUES;
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
      cut_short(s);
    }
    if (!s.window) return MODE_NULL;
  }
  return FLAGS;
}

int32_t FETCHEVENT(VOX::EVENT* EVENT) {
  SESSIONSTATE& s = session();
  ++s.pass;
  if (s.state == STATE::RECORDING) {
    if (g_close_asked.exchange(false)) {  // a signal: the close box's events
      VOX::EVENT close{};
      close.TYPE = VOX::CLOSEREQUESTED;
      vox_hTypedKeyAdd(0x6BFF);  // the close key
      vox_hPostEvent(&close);
    }
    const int32_t taken = vox_GfxEvent(EVENT);
    s.writer.PASS(taken != 0 ? EVENT : nullptr);
    return taken;
  }
  if (s.state != STATE::REPLAYING) return vox_GfxEvent(EVENT);
  SESSIONENTRY pass;
  if (s.closing || !take(SESSIONKIND::PASS, &pass)) {
    if (s.close_sent) diverge("the game went on after the close request that ends the recording");
    cut_short(s);
    s.close_sent = true;
    *EVENT = VOX::EVENT{};
    EVENT->TYPE = VOX::CLOSEREQUESTED;
    return -1;
  }
  if (pass.HASEVENT == FALSE) return 0;
  *EVENT = pass.EVENT();
  return -1;
}

void ENDPASS() {
  SESSIONSTATE& s = session();
  write_frame(s);
  if (s.state == STATE::RECORDING) {
    s.writer.ENDPASS();
    // The frame is hashed every few passes, and at the last.
    if (GAMELOOPRUNNING == FALSE ||
        (s.pass % SESSIONHASHEVERY == 0 && s.last_reading - s.hashed_at >= SESSIONHASHSECONDS)) {
      s.writer.HASH(screen_hash());
      s.hashed_at = s.last_reading;
    }
    // A block about every second (and after the first pass) bounds what a crash loses.
    if (s.block_started < 0 || s.last_reading - s.block_started >= 1.0 ||
        s.writer.PENDING() >= (64u << 10))
      write_block(s, false);
  } else if (s.state == STATE::REPLAYING && !s.closing) {
    SESSIONENTRY entry;
    if (!take(SESSIONKIND::ENDPASS, &entry)) {
      cut_short(s);
      return;
    }
    const SESSIONENTRY* next = peek();
    if (next != nullptr && next->KIND == SESSIONKIND::HASH && take(SESSIONKIND::HASH, &entry))
      check_frame(s, entry.HASH);
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
    s.writer.END();
    write_block(s, true);
    s.file.CLOSE();
    PLATFORM::CATCHSTOPREQUESTS(nullptr);
  } else if (s.state == STATE::REPLAYING) {
    SESSIONENTRY end;
    const SESSIONENTRY* next = s.closing ? nullptr : peek();
    if (next != nullptr && next->KIND != SESSIONKIND::END) {
      char what[120];
      std::snprintf(what, sizeof what, "the game ended; the recording goes on to pass %d",
                    int(s.recorded.PASSES()));
      diverge(what);
    }
    if (next != nullptr) take(SESSIONKIND::END, &end);
    s.replayed = true;
    if (std::string reason; !write_summary(s, &reason)) stop(EXITBADSESSION, "%s", reason.c_str());
    if (s.differing > 0)
      stop(EXITDIVERGED,
           "the frames of %d passes differ from the recorded ones, the first at pass %d",
           int(s.differing), int(s.first_differing));
    if (s.whole && s.recorded.ENDED() == FALSE)
      stop(EXITCUT,
           "the recording is cut short after pass %d (it has no end mark), and a whole one was "
           "asked for",
           int(s.recorded.PASSES()));
  } else {
    return;
  }
  SETTIMERSOURCE(nullptr);
  SETINPUTFILTER(nullptr);
  SETOUTSIDEFILTER(nullptr);
  session_thread = false;
  s.state = STATE::DONE;
}

}  // namespace SESSIONHOOK

}  // namespace KASTREL::ENGINE
