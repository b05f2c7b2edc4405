#include "kastrel/base/paths.h"

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/detail/player_files.h"
#include "kastrel/base/error.h"

namespace KASTREL::PATHS {

namespace {

bool usable_name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name)
    if (PLATFORM::ISSEPARATOR(c)) return false;
  return true;
}

}  // namespace

std::string DATA() {
  const std::string dir = PLATFORM::PROGRAMFOLDER(), name = PLATFORM::PROGRAMNAME();
  if (dir.size() < 2 || name.empty()) return "./";
  // PREFIX/bin/NAME -> PREFIX/share/NAME/
  const size_t up = dir.rfind('/', dir.size() - 2);
  if (up != std::string::npos) {
    const std::string installed = dir.substr(0, up) + "/share/" + name + "/";
    if (PLATFORM::ISFOLDER(installed)) return installed;
  }
  // A game unpacked anywhere: its data beside the program.
  const std::string beside = dir + "data/";
  return PLATFORM::ISFOLDER(beside) ? beside : "./";
}

std::string SAVES(const std::string& ORG, const std::string& APP) {
  if (!usable_name(ORG) || !usable_name(APP)) {
    SETLASTERROR("PATHS::SAVES: \"%s\" and \"%s\" must be plain folder names", ORG.c_str(),
                 APP.c_str());
    return "";
  }
  // A session replay keeps the player's folder out of the game's reach.
  if (const PLAYERFILEHOOKS* hooks = PLAYERFILEHOOKSSET(); hooks != nullptr) {
    if (std::string instead = hooks->SAVESFOLDER(ORG, APP); !instead.empty()) return instead;
  }
  std::string reason;
  const std::string base = PLATFORM::PLAYERDATAFOLDER(&reason);
  if (base.empty()) {
    SETLASTERROR("PATHS::SAVES: %s", reason.c_str());
    return "";
  }
  // Each missing level is made in turn, private to the player from the game's own folders on.
  const std::string full = base + "/" + ORG + "/" + APP;
  for (size_t from = base.find('/') + 1; from != 0;) {
    const size_t next = full.find('/', from);
    const std::string path = full.substr(0, next);
    from = next == std::string::npos ? 0 : next + 1;
    if (path.empty() || path.back() == '/' || path.back() == ':') continue;
    if (!PLATFORM::MAKEFOLDER(path, path.size() > base.size(), &reason)) {
      SETLASTERROR("PATHS::SAVES: cannot make the folder %s: %s", path.c_str(), reason.c_str());
      return "";
    }
  }
  if (!PLATFORM::ISFOLDER(full)) {
    SETLASTERROR("PATHS::SAVES: %s is not a folder", full.c_str());
    return "";
  }
  return full + "/";
}

}  // namespace KASTREL::PATHS
