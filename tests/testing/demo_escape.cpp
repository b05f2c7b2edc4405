// The demonstration game as kastrel-demo runs it, with one test hook: on SIGUSR1 the next
// frame-loop pass posts an Escape press to the engine's event queue, as the window driver
// posts the keys it takes from the desktop. For desktops whose keyboard a test cannot drive
// (a compositor that never hands the focus to the game).
#include <kastrel/kastrel.h>

#include <csignal>
#include <cstdio>

#include "game.h"
#include "kastrel/device/screen.h"

namespace {

volatile std::sig_atomic_t escape_asked = 0;
bool escape_sent = false;

void ASKESCAPE(int) { escape_asked = 1; }

void ESCAPEWHENASKED(float, KASTREL::ENGINE::INPUTEVENT, VOX::EVENT&) {
  if (escape_asked == 0 || escape_sent) return;
  escape_sent = true;
  VOX::EVENT press{};
  press.TYPE = VOX::KEYPRESSED;
  press.SCANCODE = 1;  // Escape
  press.ASCII = 27;
  vox_hPostEvent(&press);
}

// MAINSCREEN exists once the game's ONINITIALIZE has run, before its frame loop starts.
void ATTACH() { KASTREL::ENGINE::GAMESCREENS[MAINSCREEN].ONFRAME += ESCAPEWHENASKED; }

}  // namespace

int main() {
  std::signal(SIGUSR1, ASKESCAPE);
  KASTREL::ENGINE::ONSTART += ATTACH;
  if (!KASTREL::ENGINE::INITIALIZE(640, 480, KASTREL::FALSE, MODE_NOSWITCH)) {
    std::fprintf(stderr, "kastrel-demo: %s\n", KASTREL::LASTERROR());
  }
  return 1;
}
