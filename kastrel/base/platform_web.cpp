// The browser's own calls of the platform layer (Emscripten's POSIX file system in the page's
// memory, the player's folder in IndexedDB); what it shares with Linux is in platform_posix.cpp.
#include <emscripten.h>

#include <chrono>
#include <string>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/detail/platform_posix.h"

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

namespace KASTREL::PLATFORM {

bool STOREDURABLY(const std::string& PATH, std::string* REASON) {
  if (kastrel_web_store()) return true;
  *REASON = "cannot store " + PATH + " in the browser's storage";
  return false;
}

std::string PROGRAMPATH() {
  char path[4096];
  const int length = kastrel_web_program(path, int(sizeof path));
  return length > 0 && size_t(length) < sizeof path ? std::string(path, size_t(length)) : "";
}

std::string PROGRAMNAME() {
  const std::string path = PROGRAMPATH();
  std::string name = path.substr(path.rfind('/') + 1);
  // Under Node the program is its script.
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0) name.resize(name.size() - 3);
  return name;
}

// The folder the page mounts from IndexedDB.
std::string PLAYERDATAFOLDER(std::string*) { return "/saves"; }

// Memory there is taken as mapped: the page grows its memory as it goes instead.
BOOLEAN ADDRESSSPACELEFT(size_t) { return TRUE; }
void PREPAREMEMORY(void*, size_t) {}  // the page's memory has no pages to fault in ahead

namespace {
thread_local IDLEPASS t_idle_pass = nullptr;
}  // namespace

void SETIDLEPASS(IDLEPASS PASS) { t_idle_pass = PASS; }

void SLEEPUNTIL(std::chrono::steady_clock::time_point DEADLINE) {
  // A busy wait would freeze the page: each turn gives the browser up to a display interval.
  using namespace std::chrono;
  for (;;) {
    if (t_idle_pass != nullptr) t_idle_pass();
    const auto left = duration_cast<milliseconds>(DEADLINE - steady_clock::now()).count();
    if (left <= 0) return;
    emscripten_sleep(static_cast<unsigned>(left < 16 ? left : 16));
  }
}

}  // namespace KASTREL::PLATFORM
