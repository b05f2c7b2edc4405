#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "kastrel/base/platform.h"

#if defined(__EMSCRIPTEN__)
#include <emscripten.h>

// In the browser the page mounts the player's folder from IndexedDB before the game starts and
// sets Module.kastrelSaves; a durable write counts as done only once stored there, which waits
// through Asyncify. Without either (the unit tests under Node) files live in memory only.
EM_JS(int, kastrel_web_store, (), {
  if (!Module['kastrelSaves'] || typeof Asyncify === 'undefined') return 1;
  return Asyncify.handleAsync(function() {
    return new Promise(function(done) { FS.syncfs(false, function(err) { done(err ? 0 : 1); }); });
  });
});

// The program's path is the page's choice (Module.thisProgram, "/game/<name>"): its packaged
// assets lie in data/ beside it.
EM_JS(int, kastrel_web_program, (char* to, int size), {
  var path = typeof thisProgram === 'string' ? thisProgram : '/game/game';
  stringToUTF8(path, to, size);
  return lengthBytesUTF8(path);
});
#endif

namespace KASTREL::PLATFORM {

namespace {

std::string system_error(int error) { return std::strerror(error); }

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO";
  if (S_ISSOCK(mode)) return "it is a socket";
  return "it is a device";
}

// STEM and an ending no other call shares: the process's id against other processes (a forked
// one included), a random number against the other threads and the calls before.
std::string unique_name(const std::string& stem) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  char ending[40];
  std::snprintf(ending, sizeof ending, "-%x-%016llx", unsigned(::getpid()),
                static_cast<unsigned long long>(random()));
  return stem + ending;
}

}  // namespace

std::string LASTSYSTEMERROR() { return system_error(errno); }

// ---- reading ---------------------------------------------------------------------------------

BOOLEAN READFILE::OPEN(const std::string& PATH) {
  CLOSE();
  IMISSING = false;
  // Non-blocking, so that a FIFO is refused rather than waited on; no controlling terminal.
  const int fd = ::open(PATH.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    IMISSING = errno == ENOENT;
    IREASON = system_error(errno);
    return FALSE;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    IREASON = known ? kind_of(st.st_mode) : system_error(errno);
    ::close(fd);
    return FALSE;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  IHANDLE = fd;
  ISIZE = uint64_t(st.st_size);
  return TRUE;
}

void READFILE::CLOSE() {
  if (IHANDLE != -1) ::close(int(IHANDLE));
  IHANDLE = -1;
  ISIZE = 0;
}

int64_t READFILE::READ(void* TO, size_t BYTES) {
  size_t done = 0;
  while (done < BYTES) {
    const ssize_t n = ::read(int(IHANDLE), static_cast<uint8_t*>(TO) + done, BYTES - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      IREASON = system_error(errno);
      return -1;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return int64_t(done);
}

BOOLEAN READFILE::SEEK(uint64_t AT) {
  if (AT > uint64_t(INT64_MAX) || ::lseek(int(IHANDLE), off_t(AT), SEEK_SET) < 0) {
    IREASON = system_error(errno);
    return FALSE;
  }
  return TRUE;
}

// ---- writing ---------------------------------------------------------------------------------

BOOLEAN WRITEFILE::CREATE(const std::string& PATH, bool PRIVATE) {
  CLOSE();
  const int fd = ::open(PATH.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY,
                        PRIVATE ? 0600 : 0666);
  if (fd < 0) {
    IREASON = system_error(errno);
    return FALSE;
  }
  IHANDLE = fd;
  return TRUE;
}

BOOLEAN WRITEFILE::CREATENEW(const std::string& PATH, bool PRIVATE, int32_t PERMISSIONS) {
  CLOSE();
  IEXISTED = false;
  // O_EXCL fails on any name that exists, a link included, dangling or not: nothing is followed.
  const int fd =
      ::open(PATH.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
             PRIVATE ? 0600 : 0666);
  if (fd < 0) {
    IEXISTED = errno == EEXIST;
    IREASON = system_error(errno);
    return FALSE;
  }
  IHANDLE = fd;
  if (PERMISSIONS != -1) ::fchmod(fd, mode_t(PERMISSIONS));
  return TRUE;
}

BOOLEAN WRITEFILE::WRITE(const void* DATA, size_t BYTES) {
  for (size_t done = 0; done < BYTES;) {
    const ssize_t n = ::write(int(IHANDLE), static_cast<const uint8_t*>(DATA) + done, BYTES - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      IREASON = system_error(n < 0 ? errno : ENOSPC);
      return FALSE;
    }
    done += size_t(n);
  }
  return TRUE;
}

BOOLEAN WRITEFILE::FLUSH() {
  if (::fsync(int(IHANDLE)) == 0) return TRUE;
  IREASON = system_error(errno);
  return FALSE;
}

BOOLEAN WRITEFILE::TRUNCATE(uint64_t BYTES) {
  if (::ftruncate(int(IHANDLE), off_t(BYTES)) == 0 &&
      ::lseek(int(IHANDLE), off_t(BYTES), SEEK_SET) >= 0)
    return TRUE;
  IREASON = system_error(errno);
  return FALSE;
}

BOOLEAN WRITEFILE::CLOSE() {
  if (IHANDLE == -1) return TRUE;
  const bool ok = ::close(int(IHANDLE)) == 0;
  if (!ok) IREASON = system_error(errno);
  IHANDLE = -1;
  return ok ? TRUE : FALSE;
}

BOOLEAN REPLACEFILE(const std::string& PATH, const std::string& TEMP, const void* DATA,
                    size_t BYTES, bool DURABLE, bool PRIVATE, std::string* REASON) {
  // The old file's permissions carry over (from the file a link at PATH leads to: the link
  // itself is what the rename replaces).
  struct stat old {};
  const bool existed = ::stat(PATH.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  WRITEFILE out;
  std::string temp;
  // A name of its own for each call: another process saving the same file at once, or a file
  // planted at the name, never shares it.
  bool ok = false;
  for (int attempt = 0; attempt < 8 && !ok; ++attempt) {
    temp = unique_name(TEMP);
    ok = out.CREATENEW(temp, PRIVATE || existed, existed ? int32_t(old.st_mode & 0777) : -1);
    if (!out.EXISTED()) break;
  }
  const char* step = "create";
  if (ok)
    ok = (step = "write", out.WRITE(DATA, BYTES)) && (!DURABLE || (step = "flush", out.FLUSH()));
  if (ok && !out.CLOSE()) ok = false, step = "write";
  std::string why = out.REASON();
  if (ok && ::rename(temp.c_str(), PATH.c_str()) != 0) {
    ok = false, step = "replace the file with", why = system_error(errno);
  }
  if (!ok) {
    out.CLOSE();
    if (std::strcmp(step, "create") != 0) ::unlink(temp.c_str());
    *REASON = std::string("cannot ") + step + " " + temp + ": " + why;
    return FALSE;
  }
  if (DURABLE) {
    // The rename itself reaches the disk with its folder.
    const size_t slash = PATH.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : PATH.substr(0, slash + 1);
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
#if defined(__EMSCRIPTEN__)
    if (!kastrel_web_store()) {
      *REASON = "cannot store " + PATH + " in the browser's storage";
      return FALSE;
    }
#endif
  }
  return TRUE;
}

BOOLEAN REMOVEFILE(const std::string& PATH) { return ::unlink(PATH.c_str()) == 0 ? TRUE : FALSE; }

bool ISFOLDER(const std::string& PATH) {
  struct stat st {};
  return ::stat(PATH.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ISWRITABLE(const std::string& PATH) { return ::access(PATH.c_str(), W_OK) == 0; }

BOOLEAN MAKEFOLDER(const std::string& PATH, bool PRIVATE, std::string* REASON) {
  if (ISFOLDER(PATH)) return TRUE;
  if (::mkdir(PATH.c_str(), PRIVATE ? 0700 : 0755) == 0 || (errno == EEXIST && ISFOLDER(PATH)))
    return TRUE;
  *REASON = system_error(errno == EEXIST ? ENOTDIR : errno);
  return FALSE;
}

// ---- the program and the player --------------------------------------------------------------

std::string PROGRAMPATH() {
  char path[4096];
#if defined(__EMSCRIPTEN__)
  const int length = kastrel_web_program(path, int(sizeof path));
  return length > 0 && size_t(length) < sizeof path ? std::string(path, size_t(length)) : "";
#endif
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0 && size_t(n) < sizeof path - 1) return std::string(path, size_t(n));
  return program_invocation_name != nullptr ? program_invocation_name : "";
}

std::string PROGRAMFOLDER() {
  const std::string path = PROGRAMPATH();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string PROGRAMNAME() {
  const std::string path = PROGRAMPATH();
  std::string name = path.substr(path.rfind('/') + 1);
#if defined(__EMSCRIPTEN__)
  // Under Node the program is its script.
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0) name.resize(name.size() - 3);
#endif
  return name;
}

bool ISSEPARATOR(char C) { return C == '/'; }

std::string FOLDEROF(const std::string& PATH) { return PATH.substr(0, PATH.rfind('/') + 1); }

std::string REALPATH(const std::string& PATH, std::string* REASON, bool* MISSING) {
  if (MISSING != nullptr) *MISSING = false;
  if (PATH.empty()) {
    *REASON = "no file named";
    return "";
  }
  char* real = ::realpath(PATH.c_str(), nullptr);
  if (real == nullptr) {
    if (MISSING != nullptr) *MISSING = errno == ENOENT || errno == ENOTDIR;
    *REASON = system_error(errno);
    return "";
  }
  std::string out = real;
  std::free(real);
  return out;
}

std::string PLAYERDATAFOLDER(std::string* REASON) {
#if defined(__EMSCRIPTEN__)
  // The folder the page mounts from IndexedDB.
  (void)REASON;
  return "/saves";
#endif
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const struct passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') {
    *REASON = "neither XDG_DATA_HOME nor a home folder is known";
    return "";
  }
  return std::string(home) + "/.local/share";
}

bool GETENVIRONMENT(const char* NAME, std::string* VALUE) {
  const char* value = std::getenv(NAME);
  if (value != nullptr) *VALUE = value;
  return value != nullptr;
}

std::vector<std::string> PROGRAMARGUMENTS(int ARGC, char** ARGV) {
  return std::vector<std::string>(ARGV, ARGV + ARGC);
}

void SETENVIRONMENT(const char* NAME, const char* VALUE) {
  if (VALUE != nullptr)
    ::setenv(NAME, VALUE, 1);
  else
    ::unsetenv(NAME);
}

int RUNPROGRAM(const std::vector<std::string>& ARGV, const std::string& CWD, std::string* REASON,
               bool OUTPUTTOERRORS) {
  if (ARGV.empty()) {
    *REASON = "no program named";
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : ARGV) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  // The child reports a failed start through a pipe closed on a successful exec.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    *REASON = system_error(errno);
    return -1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    int error = 0;
    if (!CWD.empty() && ::chdir(CWD.c_str()) != 0) error = errno;
    if (error == 0 && OUTPUTTOERRORS && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) error = errno;
    if (error == 0) ::execvp(argv[0], argv.data()), error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = child < 0 ? errno : 0;
  if (child > 0) {
    while (::read(report[0], &error, sizeof error) < 0 && errno == EINTR) {
    }
  }
  ::close(report[0]);
  int status = 0;
  while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (error != 0) {
    *REASON = system_error(error);
    return -1;
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// ---- stop requests ---------------------------------------------------------------------------

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction g_previous[3];
std::atomic<void (*)()> g_on_stop{nullptr};
std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_stop_signal(int signal) {
  if (g_requests.fetch_add(1) > 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  if (void (*on_stop)() = g_on_stop.load()) on_stop();
}

}  // namespace

void CATCHSTOPREQUESTS(void (*ONSTOP)()) {
  const bool on = ONSTOP != nullptr;
  if (on == (g_on_stop.load() != nullptr)) {
    g_on_stop.store(ONSTOP);
    return;
  }
  g_requests.store(0);
  g_on_stop.store(ONSTOP);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i)
    sigaction(kStopSignals[i], on ? &action : &g_previous[i], on ? &g_previous[i] : nullptr);
}

BOOLEAN ADDRESSSPACELEFT(size_t BYTES) {
#if defined(__EMSCRIPTEN__)
  // Memory there is taken as mapped: the page grows its memory as it goes instead.
  (void)BYTES;
  return TRUE;
#endif
  void* room = ::mmap(nullptr, BYTES, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (room == MAP_FAILED) return FALSE;
  ::munmap(room, BYTES);
  return TRUE;
}

void PREPAREMEMORY(void* AT, size_t BYTES) {
#if defined(MADV_POPULATE_WRITE)
  // Linux 5.14 on; an older kernel refuses the advice, which changes nothing.
  static const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
  const uintptr_t from = (reinterpret_cast<uintptr_t>(AT) + page - 1) & ~(page - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(AT) + BYTES) & ~(page - 1);
  // Whole 2 MiB pages where the block holds them: the kernel sets a large block up with far
  // fewer faults, and it is written through far fewer page entries.
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t huge = uintptr_t(1) << 21;
  const uintptr_t huge_from = (from + huge - 1) & ~(huge - 1), huge_to = to & ~(huge - 1);
  if (huge_to > huge_from)
    ::madvise(reinterpret_cast<void*>(huge_from), huge_to - huge_from, MADV_HUGEPAGE);
#endif
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)AT, (void)BYTES;
#endif
}

namespace {
thread_local IDLEPASS t_idle_pass = nullptr;
}  // namespace

void SETIDLEPASS(IDLEPASS PASS) { t_idle_pass = PASS; }

void SLEEPUNTIL(std::chrono::steady_clock::time_point DEADLINE) {
#if defined(__EMSCRIPTEN__)
  // A busy wait would freeze the page: each turn gives the browser up to a display interval.
  using namespace std::chrono;
  for (;;) {
    if (t_idle_pass != nullptr) t_idle_pass();
    const auto left = duration_cast<milliseconds>(DEADLINE - steady_clock::now()).count();
    if (left <= 0) return;
    emscripten_sleep(static_cast<unsigned>(left < 16 ? left : 16));
  }
#else
  // The pass again whenever it falls due before the deadline.
  for (IDLEPASS pass = t_idle_pass; pass != nullptr;) {
    const auto next = pass();
    if (next >= DEADLINE) break;
    std::this_thread::sleep_until(next);
  }
  std::this_thread::sleep_until(DEADLINE);
#endif
}

// Linux's C++ library builds these on the futex, which compares and sleeps as one step.
void WAITWHILE(const std::atomic<int32_t>& WORD, int32_t OLD) {
  WORD.wait(OLD, std::memory_order_relaxed);
}
void WAKEONE(std::atomic<int32_t>& WORD) { WORD.notify_one(); }

uint32_t THREADSLOTNEW(void (*)(void*)) { return THREADSLOTCOUNT; }  // thread_local is cheap here
bool THREADSLOTSET(uint32_t, void*) { return false; }

}  // namespace KASTREL::PLATFORM
