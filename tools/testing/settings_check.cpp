// The settings file against the real file system of a system (Windows under Wine in
// `make test-windows`), driven by tools/test-windows.sh. Every mode that saves or reads again
// and again has a bound of its own, so that nothing it starts outlives the script's deadline:
//   settings_check write A|B FILE       saves set A or B (200 keys each) to FILE
//   settings_check loop SECONDS FILE    saves A and B in turn until killed or SECONDS pass;
//                                       prints "saving" once the first save is in place
//   settings_check which FILE           prints A, B or what else FILE holds; status 0 for A or B
//   settings_check race P COUNT FILE    COUNT saves of its own (P is 0 or 1: two processes
//                                       racing), every one whole: status 0 when each answers TRUE
//   settings_check watch SECONDS COUNT FILE
//                                       reads FILE again and again until FILE.stop appears or
//                                       SECONDS pass: status 0 when every read was one race save
//                                       whole and the last is one racer's save COUNT - 1
//   settings_check refuse PATH          LOAD and SAVE must both fail on PATH, each with a reason
//   settings_check roundtrip FOLDER     makes FOLDER/Zoë, SAVEs in it, LOAD reads it back
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/settings.h"

using namespace KASTREL;

namespace {

SETTINGS set_of(char which) {
  SETTINGS s;
  for (int k = 0; k < 200; ++k) s.SETINT("key" + std::to_string(k), (which == 'A' ? 0 : 1000) + k);
  return s;
}

// Save N of racer P: every value names both, so that a mix of two saves shows.
constexpr int kRaceKeys = 100;
SETTINGS race_save(int p, int n) {
  SETTINGS s;
  for (int k = 0; k < kRaceKeys; ++k)
    s.SETINT("key" + std::to_string(k), p * 10000000 + n * 1000 + k);
  return s;
}

// The racer's save number a file holds whole, or -1.
int whole_race_save(const SETTINGS& s) {
  const int first = s.GETINT("key0", -1);
  if (first < 0 || s.VALUES().size() != kRaceKeys) return -1;
  for (int k = 1; k < kRaceKeys; ++k)
    if (s.GETINT("key" + std::to_string(k), -1) != first + k) return -1;
  return first % 10000000 / 1000;
}

using Clock = std::chrono::steady_clock;

Clock::time_point after(const std::string& seconds) {
  return Clock::now() + std::chrono::milliseconds(int64_t(std::atof(seconds.c_str()) * 1000));
}

}  // namespace

int main(int argc, char** argv) {
  // As a game takes them: UTF-8 on every system, whatever Windows' code page.
  const std::vector<std::string> args = PLATFORM::PROGRAMARGUMENTS(argc, argv);
  if (argc < 3 || argc > 5 || args.size() != static_cast<size_t>(argc)) return 2;
  const std::string mode = args[1], path = args[argc - 1];
  if (mode == "write" && argc == 4) return set_of(args[2][0]).SAVE(path) ? 0 : 1;
  if (mode == "loop" && argc == 4) {
    SETTINGS sets[2] = {set_of('A'), set_of('B')};
    const Clock::time_point deadline = after(args[2]);
    for (unsigned i = 0; Clock::now() < deadline; ++i) {
      if (!sets[i % 2].SAVE(path)) return std::printf("%s\n", LASTERROR()), 1;
      if (i == 0) std::printf("saving\n"), std::fflush(stdout);
    }
    return 0;
  }
  if (mode == "race" && argc == 5) {
    const int p = std::atoi(args[2].c_str()), count = std::atoi(args[3].c_str());
    int failed = 0;
    const Clock::time_point start = Clock::now();
    for (int n = 0; n < count; ++n)
      if (!race_save(p, n).SAVE(path) && failed++ == 0) std::printf("%s\n", LASTERROR());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("racer %d: %d saves in %.1f s, %d failed\n", p, count, seconds, failed);
    return failed == 0 ? 0 : 1;
  }
  if (mode == "watch" && argc == 5) {
    const Clock::time_point deadline = after(args[2]);
    const int count = std::atoi(args[3].c_str());
    int reads = 0, whole = 0, last = -1;
    PLATFORM::READFILE stop;
    for (bool stopped = false; !stopped;) {
      stopped = stop.OPEN(path + ".stop") || Clock::now() >= deadline;
      SETTINGS s;
      const bool loaded = s.LOAD(path);
      if (loaded && s.VALUES().empty()) continue;  // before the first save
      ++reads;
      last = loaded ? whole_race_save(s) : -1;
      if (last >= 0)
        ++whole;
      else if (reads - whole == 1)
        std::printf("first bad read: %s\n", loaded ? "torn" : LASTERROR());
    }
    std::printf("%d of %d reads whole; the last is save %d\n", whole, reads, last);
    return reads > 0 && whole == reads && last == count - 1 ? 0 : 1;
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
