// A game's global constructor attaching to a global list defined in another
// file. Linked first, so this runs before that file is initialised.
#include "kastrel/engine/events.h"

namespace kastrel_test {

extern constinit KASTREL::ENGINE::__SIMPLE_EVENT EARLYLIST;
void EARLY_HANDLER();

namespace {
struct EarlyAttach {
  EarlyAttach() {
    EARLYLIST += EARLY_HANDLER;
    EARLYLIST.ATTACH(EARLY_HANDLER);
  }
} early_attach;
}  // namespace

}  // namespace kastrel_test
