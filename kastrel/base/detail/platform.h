#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kastrel/base/paths.h"
#include "kastrel/boolean.h"

// The one place that knows the operating system: files, the program's own path, the player's
// folders and stop requests. Paths are UTF-8 everywhere; where the system wants another form
// (Windows' wide strings) the conversion happens underneath.
namespace KASTREL::PLATFORM {

// A file opened for reading. Opening never blocks (a FIFO or device named by mistake must not
// stall the game) and succeeds only for a regular file: a folder, FIFO, socket or device (on
// Windows also a device name such as COM1 or AUX.tsx, refused from the name) is refused with
// a reason.
class READFILE {
 public:
  READFILE() = default;
  ~READFILE() { CLOSE(); }
  READFILE(const READFILE&) = delete;
  READFILE& operator=(const READFILE&) = delete;

  // FALSE with REASON() (and MISSING() when there is no such file); the file is then closed.
  BOOLEAN OPEN(const std::string& PATH);
  void CLOSE();
  bool ISOPEN() const { return IHANDLE != -1; }
  // The size the file had when opened.
  uint64_t SIZE() const { return ISIZE; }
  // Up to BYTES bytes at the file's position: how many were read (0 at the end), or -1 with
  // REASON().
  int64_t READ(void* TO, size_t BYTES);
  BOOLEAN SEEK(uint64_t AT);
  // Why the last call failed, in words, without the path; "it is a folder" (a FIFO, a device...)
  // for what is not a regular file.
  const std::string& REASON() const { return IREASON; }
  bool MISSING() const { return IMISSING; }

 private:
  intptr_t IHANDLE = -1;
  uint64_t ISIZE = 0;
  bool IMISSING = false;
  std::string IREASON;
};

// The whole of a regular file, at most MAXBYTES long (0: no cap). FALSE with *REASON (and
// *MISSING, when given, for a file that does not exist) otherwise; a file over the cap is
// refused from its size, before any memory is taken for it.
BOOLEAN READWHOLEFILE(const std::string& PATH, uint64_t MAXBYTES, std::vector<uint8_t>* OUT,
                      std::string* REASON, bool* MISSING = nullptr);

// A file being written from its start (made, or emptied when it exists).
class WRITEFILE {
 public:
  WRITEFILE() = default;
  ~WRITEFILE() { CLOSE(); }
  WRITEFILE(const WRITEFILE&) = delete;
  WRITEFILE& operator=(const WRITEFILE&) = delete;

  // PRIVATE makes a new file readable by its owner only (where the system has owners).
  BOOLEAN CREATE(const std::string& PATH, bool PRIVATE = false);
  // Makes PATH as a new file; FALSE with EXISTED() when anything is at that name already (a
  // file, a folder, a link, which is never followed), so nothing planted there is written
  // through. PERMISSIONS, unless -1, are then set as given, whatever the process's mask (where
  // the system has permissions).
  BOOLEAN CREATENEW(const std::string& PATH, bool PRIVATE, int32_t PERMISSIONS = -1);
  bool EXISTED() const { return IEXISTED; }
  // All of the bytes, or FALSE with REASON().
  BOOLEAN WRITE(const void* DATA, size_t BYTES);
  // Onto the disk, not just the system's cache.
  BOOLEAN FLUSH();
  // Cuts the file back to BYTES long and writes on from there.
  BOOLEAN TRUNCATE(uint64_t BYTES);
  // FALSE when the last of the data failed to reach the file.
  BOOLEAN CLOSE();
  bool ISOPEN() const { return IHANDLE != -1; }
  const std::string& REASON() const { return IREASON; }

 private:
  intptr_t IHANDLE = -1;
  bool IEXISTED = false;
  std::string IREASON;
};

// Writes DATA to PATH through a temporary file beside it, put in PATH's place in one step: a
// crash or a full disk leaves the old file or the new one, never a part. The temporary file is
// named TEMP and an ending of its own ("-" and hexadecimal digits), made new for this call alone:
// a link or file planted at any such name is never written through, and several threads or
// processes replacing one PATH at once each put a whole file in place, the last to land staying.
// DURABLE flushes the data and the replacement to the disk first. An existing file's permissions
// carry over; a new file is the owner's alone when PRIVATE. FALSE with *REASON (naming the step
// and the file), PATH then being as this call found it and the temporary file gone (a crash
// can leave it behind). On Windows, where a file open elsewhere or being replaced by another
// process refuses a replacement for a moment, the replacement is tried again for up to 5 s.
BOOLEAN REPLACEFILE(const std::string& PATH, const std::string& TEMP, const void* DATA,
                    size_t BYTES, bool DURABLE, bool PRIVATE, std::string* REASON);

// Removes a file; FALSE when it cannot (a missing file included).
BOOLEAN REMOVEFILE(const std::string& PATH);
bool ISFOLDER(const std::string& PATH);
// True when the process may write into the file or folder PATH.
bool ISWRITABLE(const std::string& PATH);
// Makes the folder PATH (its parent must exist); TRUE when it exists already. PRIVATE makes it
// the owner's alone where the system has owners.
BOOLEAN MAKEFOLDER(const std::string& PATH, bool PRIVATE, std::string* REASON);

// The program's own file, the folder it is in (ending in '/') and its name without folder or
// ".exe". "" when the system does not say. Folders are separated by '/' on every system.
std::string PROGRAMPATH();
std::string PROGRAMFOLDER();
std::string PROGRAMNAME();

// True for a character that separates folders in a path: '/', and '\\' on Windows.
bool ISSEPARATOR(char C);
// The folder part of PATH: up to and including its last separator (on Windows also a drive's
// ':', as in "C:a.tmx"); "" for a bare file name. PATH's own separators are kept.
std::string FOLDEROF(const std::string& PATH);
// PATH as the system finds it: absolute, every link followed and every "." and ".." taken out,
// with '/' between folders on every system. "" with *REASON (and *MISSING, when given, for a
// file or folder that does not exist) otherwise. Nothing is opened for reading, and a Windows
// device name (CON, NUL, COM1, AUX.tsx...) is refused from the name alone.
std::string REALPATH(const std::string& PATH, std::string* REASON, bool* MISSING = nullptr);

// The folder the player's files for every game live in, without a trailing '/' (and with '/'
// between folders):
// $XDG_DATA_HOME or ~/.local/share on Linux, %APPDATA% on Windows. "" with *REASON when unknown.
std::string PLAYERDATAFOLDER(std::string* REASON);
// The environment variable NAME in UTF-8 (Windows hands the C run-time's getenv its values in
// the system's code page, which cannot hold every path). FALSE when it is not set.
bool GETENVIRONMENT(const char* NAME, std::string* VALUE);
// PROGRAMARGUMENTS, the one call of this layer games make, is declared in kastrel/base/paths.h.
// Sets the environment variable NAME for this process and the programs it starts (unsets it
// when VALUE is null).
void SETENVIRONMENT(const char* NAME, const char* VALUE);
// Runs ARGV[0] (searched in PATH when it names no folder) with ARGV, in the folder CWD unless
// empty, and waits for it: its exit status, 128 + the signal that ended it, or -1 with *REASON
// when it cannot be started. OUTPUTTOERRORS sends the program's standard output to this
// process's standard error, so that this process's own output stays its own.
int RUNPROGRAM(const std::vector<std::string>& ARGV, const std::string& CWD, std::string* REASON,
               bool OUTPUTTOERRORS = false);

// Stop requests from outside (SIGTERM, SIGINT and SIGHUP; on Windows Ctrl+C, Ctrl+Break, the
// console's close, log-off and shutdown) call ONSTOP, which must only set a flag. A second
// request while one is pending ends the process at once. Null puts back what was there before.
void CATCHSTOPREQUESTS(void (*ONSTOP)());

// FALSE when less than BYTES of address space is left to map (a process with a limit set on
// Linux runs out of it before memory); TRUE on systems without such limits.
BOOLEAN ADDRESSSPACELEFT(size_t BYTES);

// A hint before a large fresh block is filled: the system backs the whole pages within
// [AT, AT + BYTES) now, in one call, instead of one fault a page as they are first written,
// and with 2 MiB pages where it offers them. Nothing where the system has no such call; the
// memory must be the caller's to write.
void PREPAREMEMORY(void* AT, size_t BYTES);

// Waits until DEADLINE. On a thread with an idle pass (set by a display driver whose window
// the game's own thread serves) the wait runs the pass whenever it falls due. In the browser,
// where the program has no thread of its own, the wait also hands control back to the page (its
// input, its next animation frame) and runs the pass each turn.
void SLEEPUNTIL(std::chrono::steady_clock::time_point DEADLINE);
// The calling thread's idle pass, or null: it does what is due and says when it is next due
// (time_point::max() when nothing is; the browser's waits ignore the answer).
using IDLEPASS = std::chrono::steady_clock::time_point (*)();
void SETIDLEPASS(IDLEPASS PASS);

// Blocks while WORD holds OLD (it may also return early, so callers check again); WAKEONE wakes
// one thread blocked on WORD. Not std::atomic::wait: where the C++ library has no futex to build
// it on (MinGW's), its wait checks the value outside the lock its notify skips, and a wake-up
// that falls between the two is lost for good.
void WAITWHILE(const std::atomic<int32_t>& WORD, int32_t OLD);
void WAKEONE(std::atomic<int32_t>& WORD);

// Per-thread pointers read inline from the system's own block for the thread, for the few values
// every small blit reads: MinGW emulates thread_local through a library call (about 14 ns under
// Wine, against 2 ns on Linux). Where thread_local is cheap THREADSLOTS is false and callers keep
// it. THREADSLOTNEW(ENDED) gives a free slot's number, or THREADSLOTCOUNT when none is to be had
// (or the system has none); THREADSLOTGET(slot), for a slot below THREADSLOTCOUNT, is what this
// thread last set there, null before that. When a thread that set a value ends, the slot is
// cleared and ENDED (unless null) gets the value, on that thread, to free what it points to.
inline constexpr uint32_t THREADSLOTCOUNT = 64;
#if defined(_WIN32) && defined(__x86_64__) && defined(__GNUC__)
inline constexpr bool THREADSLOTS = true;
inline void* THREADSLOTGET(uint32_t SLOT) {
  void* value;
  // The thread environment block's first 64 slots, which TlsGetValue reads too.
  __asm__("movq %%gs:0x1480(,%1,8), %0" : "=r"(value) : "r"(uint64_t(SLOT)));
  return value;
}
#else
inline constexpr bool THREADSLOTS = false;
inline void* THREADSLOTGET(uint32_t) { return nullptr; }
#endif
uint32_t THREADSLOTNEW(void (*ENDED)(void* VALUE));
bool THREADSLOTSET(uint32_t SLOT, void* VALUE);  // false: not set (no slot, no memory)

// The last system error in words (errno or GetLastError()).
std::string LASTSYSTEMERROR();

}  // namespace KASTREL::PLATFORM
