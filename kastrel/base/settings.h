#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "kastrel/boolean.h"

namespace KASTREL {

// A small settings file of key=value lines with typed reads and writes; every read names the
// value to use when the key is missing or its text is not of that type. The file is UTF-8
// text, one setting a line in key order; blank lines and lines starting with '#' are skipped,
// and a backslash escapes a line break, carriage return or backslash inside a value.
//
//   SETTINGS S(PATHS::SAVES("me", "asteroids") + "settings.txt");
//   int32_t BEST = S.GETINT("best", 0);
//   S.SETINT("best", 4200);
//   if (!S.SAVE()) std::fprintf(stderr, "%s\n", LASTERROR());
//
// SAVE writes a temporary file beside the file (its name plus ".saving"), flushes it to the
// disk and renames it over the file: a crash or a full disk leaves the old file or the new one,
// never a part of either. Use a SETTINGS object from one thread at a time.
class SETTINGS {
 public:
  SETTINGS() = default;
  // LOAD(FILENAME); its result is lost, check LASTERROR() or call LOAD yourself.
  explicit SETTINGS(const std::string& FILENAME) { LOAD(FILENAME); }

  // Reads FILENAME and makes it the file SAVE writes. A missing file is no error: the settings
  // start empty. FALSE, with LASTERROR(), for a file that cannot be read, is not a regular file
  // or is over MAXSETTINGSBYTES(), or holds a line without '=' or with an empty key; the
  // settings are then empty too.
  BOOLEAN LOAD(const std::string& FILENAME);
  // Writes every setting to the file LOAD named (or FILENAME, which it then becomes). FALSE,
  // with LASTERROR() saying why, when it cannot; the file on disk is then as it was.
  BOOLEAN SAVE();
  BOOLEAN SAVE(const std::string& FILENAME);
  const std::string& FILENAME() const { return IFILENAME; }

  // The setting read as a whole number, or as a finite float; DEFAULT when the key is missing or
  // its text is empty, not wholly that number or (for GETINT) outside the int32 range.
  int32_t GETINT(const std::string& KEY, int32_t DEFAULT) const;
  float GETFLOAT(const std::string& KEY, float DEFAULT) const;
  // true/false, yes/no, on/off or 1/0.
  bool GETBOOL(const std::string& KEY, bool DEFAULT) const;
  std::string GETSTRING(const std::string& KEY, const std::string& DEFAULT) const;

  // A KEY that is empty, holds '=' or a line break, starts with '#' or has spaces around it is
  // not stored: FALSE, with LASTERROR().
  BOOLEAN SETINT(const std::string& KEY, int32_t VALUE);
  BOOLEAN SETFLOAT(const std::string& KEY, float VALUE);
  BOOLEAN SETBOOL(const std::string& KEY, bool VALUE);
  BOOLEAN SETSTRING(const std::string& KEY, const std::string& VALUE);

  // Whether KEY has a value; REMOVE drops one key, CLEAR every key (SAVE writes the change).
  bool HAS(const std::string& KEY) const { return IVALUES.count(KEY) != 0; }
  void REMOVE(const std::string& KEY) { IVALUES.erase(KEY); }
  void CLEAR() { IVALUES.clear(); }
  // The text of every setting, by key.
  const std::map<std::string, std::string>& VALUES() const { return IVALUES; }

 private:
  BOOLEAN SETTEXT(const std::string& KEY, std::string TEXT);
  BOOLEAN WRITE();  // SAVE's work on the file

  std::string IFILENAME;
  std::map<std::string, std::string> IVALUES;
};

// The most bytes a settings file LOAD reads may have; a larger one, like a folder, FIFO or
// device named as the file, is refused before it is read, with the reason in LASTERROR(). The
// default, 1 MiB, is far above any game's settings; 0 lifts the cap. Any thread may set it.
inline constexpr uint64_t DEFAULTMAXSETTINGSBYTES = uint64_t{1} << 20;
void SETMAXSETTINGSBYTES(uint64_t BYTES);
uint64_t MAXSETTINGSBYTES();

}  // namespace KASTREL
