// Preloaded into a game by tools/soak-breakout.sh: a thread plugs virtual pads in and out at
// random and presses and moves them while connected, for as long as the file named by
// KASTREL_SOAK_PADS exists; then unplugs them and says on standard error what it did.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "kastrel/device/testing/virtual_pad.h"

namespace {

void run(const char* flag) {
  auto going = [flag] { return access(flag, F_OK) == 0; };
  while (going() && SDL_WasInit(SDL_INIT_GAMECONTROLLER) == 0) SDL_Delay(50);
  std::mt19937 rng(std::random_device{}());
  auto pick = [&rng](size_t n) { return int(rng() % n); };
  std::vector<std::unique_ptr<virtual_pad::Pad>> pads;
  long plugs = 0, unplugs = 0, seen = 0, moves = 0;
  auto unplug = [&](size_t i) {
    // Only the engine opens pads as game controllers here.
    seen += SDL_GameControllerFromInstanceID(pads[i]->id()) != nullptr;
    pads.erase(pads.begin() + long(i));
    ++unplugs;
  };
  while (going()) {
    SDL_Delay(Uint32(20 + pick(200)));
    const int roll = pick(100);
    if (roll < 4 && pads.size() < 3) {
      auto pad = std::make_unique<virtual_pad::Pad>();
      if (pad->ok()) pads.push_back(std::move(pad)), ++plugs;
    } else if (roll < 8 && !pads.empty()) {
      unplug(size_t(pick(pads.size())));
    } else if (!pads.empty()) {
      virtual_pad::Pad& pad = *pads[size_t(pick(pads.size()))];
      if (roll < 60)
        pad.button(pick(SDL_CONTROLLER_BUTTON_MAX), pick(2) == 1);
      else
        pad.axis(pick(SDL_CONTROLLER_AXIS_MAX), pick(65536) - 32768);
      ++moves;
    }
  }
  while (!pads.empty()) unplug(pads.size() - 1);
  std::fprintf(
      stderr,
      "soak-pads: %ld plugged, %ld unplugged (%ld seen by the game), %ld presses and moves\n",
      plugs, unplugs, seen, moves);
}

const bool started = [] {
  if (const char* flag = std::getenv("KASTREL_SOAK_PADS")) std::thread(run, flag).detach();
  return true;
}();

}  // namespace
