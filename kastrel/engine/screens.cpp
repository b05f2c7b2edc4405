#include "kastrel/engine/screens.h"

#include <cstdlib>
#include <new>

#include "kastrel/engine/engine.h"
#include "kastrel/engine/fatal.h"
#include "kastrel/engine/regions.h"
#include "kastrel/engine/transition.h"

namespace KASTREL::ENGINE {

constinit GAMESCREENTABLE GAMESCREENS;
constinit const int32_t& SCREENCOUNT = GAMESCREENS.ICOUNT;
constinit int32_t ACTIVEGAMESCREEN = -1;

namespace {

constexpr int32_t kTableStep = 8;

}  // namespace

GAMESCREENTABLE::~GAMESCREENTABLE() {
  for (int32_t i = ICOUNT - 1; i >= 0; --i) {
    IITEM[i]->~GAMESCREENEVENTS();
    std::free(IITEM[i]);
  }
  std::free(IITEM);
  // Left valid and empty for any exit-time code that still looks.
  IITEM = nullptr;
  ICOUNT = 0;
  ISIZE = 0;
}

GAMESCREENEVENTS& GAMESCREENTABLE::operator[](int32_t SCR) {
  if (SCR < 0 || SCR >= ICOUNT) FATALERROR(ERRILLEGALFUNCTIONCALL, __LINE__, "engine");
  return *IITEM[SCR];
}

int32_t NEWGAMESCREEN() {
  GAMESCREENTABLE& table = GAMESCREENS;
  if (table.ICOUNT == table.ISIZE) {
    void* grown = table.ISIZE <= INT32_MAX - kTableStep
                      ? RESIZEBLOCK(table.IITEM, static_cast<size_t>(table.ISIZE) + kTableStep,
                                    sizeof(GAMESCREENEVENTS*))
                      : nullptr;
    if (grown == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
    table.IITEM = static_cast<GAMESCREENEVENTS**>(grown);
    table.ISIZE += kTableStep;
  }
  void* record = RESIZEBLOCK(nullptr, 1, sizeof(GAMESCREENEVENTS));
  if (record == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
  table.IITEM[table.ICOUNT] = new (record) GAMESCREENEVENTS;
  return table.ICOUNT++;
}

void SHOW(int32_t SCR, TRANSITIONEFFECT TRANSMETHOD, TRANSITIONDIRECTION TRANSDIR) {
  if (SCR < 0 || SCR >= GAMESCREENS.ICOUNT) return;
  const bool first = ACTIVEGAMESCREEN == -1;
  if (!first && SCR != ACTIVEGAMESCREEN && ACTIVEGAMESCREEN >= 0 &&
      ACTIVEGAMESCREEN < GAMESCREENS.ICOUNT) {
    BOOLEAN CANCEL = FALSE;
    GAMESCREENS[ACTIVEGAMESCREEN].ONHIDE.RAISE(SCR, CANCEL);
    if (CANCEL != FALSE) return;
  }
  // The outgoing picture is the frame buffer now, before the new screen's ONSHOW.
  if (!first) TRANSITIONSTEP::SHOWN(TRANSMETHOD, TRANSDIR);
  ACTIVEGAMESCREEN = SCR;
  GAMESCREENS[SCR].ONSHOW.RAISE();
  MATH::RECT whole;
  MARKDIRTY(whole);
  if (first) START();
}

}  // namespace KASTREL::ENGINE
