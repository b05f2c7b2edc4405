#include <gtest/gtest.h>

#include <cstdlib>

#include "kastrel/base/detail/platform.h"
#include "kastrel/engine/engine.h"

namespace startup_game {

using namespace KASTREL;
using namespace KASTREL::ENGINE;

extern int32_t MAINSCREEN;
extern RESOLUTIONLIST MENU;
void GAME_ONINITIALIZE();
void MAINSCREEN_ONFRAME(float FELAPSED, INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA);
int32_t frames = 0;
void GAME_ONINITIALIZE() {
  SHOW(MAINSCREEN, TRANSITIONEFFECT::NONE, TRANSITIONDIRECTION::FROMLEFT);
}
void MAINSCREEN_ONFRAME(float, INPUTEVENT, VOX::EVENT&) {
  if (++frames == 2) SHUTDOWN(FALSE);
}

}  // namespace startup_game

using namespace startup_game;

TEST(Startup, WhatAGameSetsUpFromItsGlobalConstructorsSurvivesAndRuns) {
  EXPECT_EQ(ONINITIALIZE.ICOUNT, 1);
  EXPECT_EQ(MAINSCREEN, 0);
  EXPECT_EQ(SCREENCOUNT, 1);
  EXPECT_EQ(GAMESCREENS[0].ONFRAME.ICOUNT, 1);
  ASSERT_EQ(DIRTYREGIONS.COUNT, 1);
  EXPECT_EQ(DIRTYREGIONS.RECT[0].W, 3);
  ASSERT_EQ(MENU.COUNT, 1);
  EXPECT_EQ(std::string(MENU.LIST[0]), "320x200");
  MENU.RELEASE();
  PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  EXPECT_EQ(INITIALIZE(64, 48, FALSE, 4), TRUE);
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(FRAMECOUNT, 2);
}
