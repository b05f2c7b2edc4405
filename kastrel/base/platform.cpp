#include "kastrel/base/detail/platform.h"

#include <new>

// What every system shares, written on the calls of platform_<system>.cpp.
namespace KASTREL::PLATFORM {

BOOLEAN READWHOLEFILE(const std::string& PATH, uint64_t MAXBYTES, std::vector<uint8_t>* OUT,
                      std::string* REASON, bool* MISSING) {
  OUT->clear();
  READFILE file;
  const bool opened = file.OPEN(PATH) != FALSE;
  if (MISSING != nullptr) *MISSING = file.MISSING();
  if (!opened) {
    *REASON = file.REASON();
    return FALSE;
  }
  if (MAXBYTES != 0 && file.SIZE() > MAXBYTES) {
    *REASON = "it is " + std::to_string(file.SIZE()) + " bytes, over the cap of " +
              std::to_string(MAXBYTES);
    return FALSE;
  }
  if (file.SIZE() > SIZE_MAX / 2) {
    *REASON = "it is too large to read";
    return FALSE;
  }
  try {
    OUT->resize(size_t(file.SIZE()));
  } catch (const std::bad_alloc&) {
    *REASON = "out of memory for its " + std::to_string(file.SIZE()) + " bytes";
    return FALSE;
  }
  // A file that grows while it is read is read as far as it was long when opened.
  const int64_t got = file.READ(OUT->data(), OUT->size());
  if (got != int64_t(OUT->size())) {
    *REASON = got < 0 ? file.REASON() : "the file shrank while it was read";
    OUT->clear();
    return FALSE;
  }
  return TRUE;
}

}  // namespace KASTREL::PLATFORM
