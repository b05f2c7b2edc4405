// The settings file against the real file system of a system (Windows under Wine in
// `make test-windows`), driven by tools/test-windows.sh:
//   settings_check write A|B FILE   saves set A or B (200 keys each) to FILE
//   settings_check loop FILE        saves A and B in turn until killed
//   settings_check which FILE       prints A, B or what else FILE holds; status 0 for A or B
//   settings_check refuse PATH      LOAD and SAVE must both fail on PATH, each with a reason
//   settings_check roundtrip FOLDER makes FOLDER/Zoë, SAVEs in it, LOAD reads it back
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/base/platform.h"
#include "kastrel/base/settings.h"

using namespace KASTREL;

namespace {

SETTINGS set_of(char which) {
  SETTINGS s;
  for (int k = 0; k < 200; ++k) s.SETINT("key" + std::to_string(k), (which == 'A' ? 0 : 1000) + k);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  // As a game takes them: UTF-8 on every system, whatever Windows' code page.
  const std::vector<std::string> args = PLATFORM::PROGRAMARGUMENTS(argc, argv);
  if (args.size() != static_cast<size_t>(argc)) return 2;
  const std::string mode = args[1], path = args[argc - 1];
  if (mode == "write") return set_of(args[2][0]).SAVE(path) ? 0 : 1;
  if (mode == "loop") {
    SETTINGS sets[2] = {set_of('A'), set_of('B')};
    for (unsigned i = 0;; ++i)
      if (!sets[i % 2].SAVE(path)) return 1;
  }
  SETTINGS s;
  if (mode == "which") {
    if (!s.LOAD(path)) return std::printf("unreadable: %s\n", LASTERROR()), 1;
    for (const char which : {'A', 'B'})
      if (s.VALUES() == set_of(which).VALUES()) return std::printf("%c\n", which), 0;
    return std::printf("neither: %zu keys\n", s.VALUES().size()), 1;
  }
  if (mode == "refuse") {
    s.SETINT("a", 1);
    const bool saved = s.SAVE(path);
    std::printf("SAVE: %s\n", saved ? "saved" : LASTERROR());
    const bool loaded = s.LOAD(path) && !s.VALUES().empty();
    std::printf("LOAD: %s\n", loaded ? "loaded" : LASTERROR());
    return !saved && !loaded ? 0 : 1;
  }
  if (mode == "roundtrip") {
    const std::string folder = path + "/Zo\xC3\xAB", file = folder + "/settings.txt";
    std::string reason;
    if (!PLATFORM::MAKEFOLDER(folder, true, &reason)) return std::printf("%s\n", reason.c_str()), 1;
    s.SETSTRING("name", "Zo\xC3\xAB");
    if (!s.SAVE(file) || !s.SAVE(file)) return std::printf("SAVE: %s\n", LASTERROR()), 1;
    SETTINGS t;
    if (!t.LOAD(file)) return std::printf("LOAD: %s\n", LASTERROR()), 1;
    return t.GETSTRING("name", "") == "Zo\xC3\xAB" ? 0 : 1;
  }
  return 2;
}
