// Linux's own calls of the platform layer; what it shares with other POSIX systems is in
// platform_posix.cpp.
#include <pwd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/detail/platform_posix.h"

namespace KASTREL::PLATFORM {

bool STOREDURABLY(const std::string&, std::string*) { return true; }  // fsync was enough

std::string PROGRAMPATH() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0 && size_t(n) < sizeof path - 1) return std::string(path, size_t(n));
  return program_invocation_name != nullptr ? program_invocation_name : "";
}

std::string PROGRAMNAME() {
  const std::string path = PROGRAMPATH();
  std::string name = path.substr(path.rfind('/') + 1);
  return name;
}

std::string PLAYERDATAFOLDER(std::string* REASON) {
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

BOOLEAN ADDRESSSPACELEFT(size_t BYTES) {
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

}  // namespace KASTREL::PLATFORM
