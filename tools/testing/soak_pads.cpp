// Preloaded into a game by tools/soak-breakout.sh: a thread plugs virtual pads in and out at
// random and presses and moves them while connected, for as long as the file named by
// KASTREL_SOAK_PADS exists; then unplugs them and says on standard error what it did.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <random>
#include <thread>

#include "kastrel/device/testing/virtual_pad.h"

namespace {

void run(const char* flag) {
  while (access(flag, F_OK) == 0 && SDL_WasInit(SDL_INIT_GAMECONTROLLER) == 0) SDL_Delay(50);
  std::mt19937 rng(std::random_device{}());
  auto pick = [&rng](size_t n) { return int(rng() % n); };
  std::list<virtual_pad::Pad> pads;
  long plugs = 0, seen = 0, moves = 0;
  auto unplug = [&](size_t i) {  // only the engine opens pads as game controllers here
    auto pad = std::next(pads.begin(), long(i));
    seen += SDL_GameControllerFromInstanceID(pad->id()) != nullptr;
    pads.erase(pad);
  };
  for (bool going = true; going || !pads.empty(); going = access(flag, F_OK) == 0) {
    SDL_Delay(Uint32(20 + pick(200)));
    const int roll = going ? pick(100) : 4;
    if (roll < 4 && pads.size() < 3) {
      if (pads.emplace_back().ok())
        ++plugs;
      else
        pads.pop_back();
    } else if (roll < 8 && !pads.empty()) {
      unplug(size_t(pick(pads.size())));
    } else if (!pads.empty()) {
      virtual_pad::Pad& pad = *std::next(pads.begin(), pick(pads.size()));
      if (roll < 60)
        pad.button(pick(SDL_CONTROLLER_BUTTON_MAX), pick(2) == 1);
      else
        pad.axis(pick(SDL_CONTROLLER_AXIS_MAX), pick(65536) - 32768);
      ++moves;
    }
  }
  std::fprintf(stderr, "soak-pads: %ld plugged and unplugged (%ld seen by the game), %ld moves\n",
               plugs, seen, moves);
}

const bool started = [] {
  if (const char* flag = std::getenv("KASTREL_SOAK_PADS")) std::thread(run, flag).detach();
  return true;
}();

}  // namespace
