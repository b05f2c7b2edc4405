#include "kastrel/base/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kastrel/base/error.h"
#include "kastrel/base/player_files.h"

namespace KASTREL::PATHS {

namespace {

bool is_folder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool usable_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::string DATA() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0 || size_t(n) >= sizeof exe - 1) return "./";
  const std::string path(exe, size_t(n));
  const size_t slash = path.rfind('/');
  const std::string dir = path.substr(0, slash), name = path.substr(slash + 1);
  const size_t up = dir.rfind('/');
  if (up == std::string::npos) return "./";
  // PREFIX/bin/NAME -> PREFIX/share/NAME/
  const std::string installed = dir.substr(0, up) + "/share/" + name + "/";
  return is_folder(installed) ? installed : "./";
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
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const struct passwd* pw = getpwuid(getuid());
      home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') {
      SETLASTERROR("PATHS::SAVES: neither XDG_DATA_HOME nor a home folder is known");
      return "";
    }
    base = std::string(home) + "/.local/share";
  }
  // Each missing level is made in turn, private to the player from the game's own folders on.
  std::string path;
  const std::string full = base + "/" + ORG + "/" + APP;
  for (size_t from = 1; from != std::string::npos;) {
    const size_t next = full.find('/', from);
    path = full.substr(0, next);
    from = next == std::string::npos ? next : next + 1;
    if (path.empty() || path.back() == '/' || is_folder(path)) continue;
    if (mkdir(path.c_str(), path.size() > base.size() ? 0700 : 0755) != 0 && errno != EEXIST) {
      SETLASTERROR("PATHS::SAVES: cannot make the folder %s: %s", path.c_str(),
                   std::strerror(errno));
      return "";
    }
  }
  if (!is_folder(full)) {
    SETLASTERROR("PATHS::SAVES: %s is not a folder", full.c_str());
    return "";
  }
  return full + "/";
}

}  // namespace KASTREL::PATHS
