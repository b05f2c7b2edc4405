// A page for tools/test-web-pages.py: counts its runs in the player's settings, saved as a game
// saves them (stored in the browser's IndexedDB before SAVE returns), so that a reload must see
// the count go up. Exit status 0 when saved, 1 with the reason on stderr.
#include <cstdio>

#include "kastrel/kastrel.h"

using namespace KASTREL;

int main() {
  const std::string FOLDER = PATHS::SAVES("kastrel", "web-save-probe");
  SETTINGS S;
  S.LOAD(FOLDER + "probe.txt");  // missing on the first run
  const int32_t RUNS = S.GETINT("runs", 0) + 1;
  if (FOLDER.empty() || !S.SETINT("runs", RUNS) || !S.SAVE(FOLDER + "probe.txt")) {
    std::fprintf(stderr, "kastrel-web-save-probe: %s\n", LASTERROR());
    return 1;
  }
  std::printf("kastrel-web-save-probe: run %d saved\n", static_cast<int>(RUNS));
  return 0;
}
