#pragma once
// How session recording and replay see the player's files. The engine installs the hooks while a
// session runs (base cannot reach the engine); without them, SETTINGS and PATHS::SAVES read and
// write the player's files as they are. They are called on the thread that calls SETTINGS or
// PATHS, and each decides itself whether that thread is the recorded one.
#include <string>

#include "kastrel/boolean.h"

namespace KASTREL {

// What SETTINGS::LOAD found: the file's bytes, no file, or a file it could not read (REASON).
enum class FILEREAD : int { READ = 0, MISSING = 1, FAILED = 2 };

struct PLAYERFILEHOOKS {
  // SETTINGS::LOAD, before the file is read: true when the hook answers instead (a replay, from
  // the recording), with *TEXT the contents (READ) or the reason (FAILED).
  bool (*LOADANSWER)(FILEREAD* STATE, std::string* TEXT);
  // After LOAD read the file itself: what it found (a recording keeps it).
  void (*LOADED)(FILEREAD STATE, const std::string& TEXT);
  // SETTINGS::SAVE, before anything is written: true when the hook answers instead, with
  // *RESULT and, for FALSE, the reason; nothing is written then.
  bool (*SAVEANSWER)(BOOLEAN* RESULT, std::string* REASON);
  // After SAVE wrote the file itself: what it answered.
  void (*SAVED)(BOOLEAN RESULT, const std::string& REASON);
  // PATHS::SAVES: the folder to name instead of the player's (ending in '/'), or "".
  std::string (*SAVESFOLDER)(const std::string& ORG, const std::string& APP);
};

// HOOKS is kept, not copied; null takes them away.
void SETPLAYERFILEHOOKS(const PLAYERFILEHOOKS* HOOKS);
const PLAYERFILEHOOKS* PLAYERFILEHOOKSSET();

}  // namespace KASTREL
