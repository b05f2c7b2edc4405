// The game's routines driven directly, as the frame loop calls them. Each test runs in its own
// process, so the game's globals start fresh.
#include "game.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "png_writer.h"
#include "tests/testing/process.h"

namespace {

using namespace KASTREL;
using ENGINE::INPUTEVENT;

constexpr float kSixtieth = 1.0f / 60.0f;

VOX::EVENT NoEvent() { return VOX::EVENT{}; }

VOX::EVENT Motion(int32_t x, int32_t y, int32_t dx, int32_t dy) {
  VOX::EVENT e{};
  e.TYPE = VOX::MOUSEMOVED;
  e.X = x;
  e.Y = y;
  e.DX = dx;
  e.DY = dy;
  return e;
}

VOX::EVENT Button(int32_t type, int32_t button) {
  VOX::EVENT e{};
  e.TYPE = type;
  e.BUTTON = button;
  return e;
}

VOX::EVENT Key(int32_t type, int32_t scancode) {
  VOX::EVENT e{};
  e.TYPE = type;
  e.SCANCODE = scancode;
  return e;
}

void Frame(float elapsed, INPUTEVENT input, VOX::EVENT event) {
  MAINSCREEN_ONFRAME(elapsed, input, event);
}

// A free pass with no input.
void Pass(float elapsed = kSixtieth) { Frame(elapsed, INPUTEVENT::NONE, NoEvent()); }

// Moves the engine's pointer and hands the game the move, as the frame loop does.
void PointerTo(int32_t x, int32_t y) {
  const int32_t dx = x - ENGINE::MOUSECURSORPOSITION.X;
  const int32_t dy = y - ENGINE::MOUSECURSORPOSITION.Y;
  ENGINE::MOUSECURSORPOSITION = {x, y};
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(x, y, dx, dy));
}

void PlaceBall(int32_t x, int32_t y, int32_t w, int32_t h, float vx, float vy) {
  THEBALL.RECT = {x, y, w, h};
  THEBALL.VELOCITY = {vx, vy};
}

bool WholeWindowDirty() {
  const ENGINE::RECTLIST& list = ENGINE::DIRTYREGIONS;
  return list.COUNT == 1 && list.RECT[0].X == 0 && list.RECT[0].Y == 0 &&
         list.RECT[0].W == ENGINE::SCREENRESOLUTION.WIDTH &&
         list.RECT[0].H == ENGINE::SCREENRESOLUTION.HEIGHT;
}

// Opens the screen on the windowless driver without starting the game.
void OpenScreenWithoutGame() {
  ENGINE::ONINITIALIZE -= GAME_ONINITIALIZE;
  setenv("VOXGFX", "null", 1);
  ASSERT_EQ(ENGINE::INITIALIZE(640, 480, FALSE, MODE_NOSWITCH), TRUE);
}

// A working folder holding images/ball.png of w x h pixels with the given alpha at every pixel
// (RGB mid grey), and nothing else; the current directory moves there.
class BallFolder {
 public:
  BallFolder(uint32_t w, uint32_t h, const std::vector<uint8_t>& alpha) {
    std::filesystem::create_directory(dir_.file("images"));
    std::vector<uint8_t> rgba(size_t{w} * h * 4, 0x80);
    for (size_t i = 0; i < size_t{w} * h; ++i) rgba[i * 4 + 3] = alpha[i];
    std::string error;
    EXPECT_TRUE(kastrel_tools::write_png(dir_.file("images/ball.png"), rgba.data(), w, h, w * 4,
                                         kastrel_tools::PngColour::RGBA, &error))
        << error;
    EXPECT_EQ(chdir(dir_.path().c_str()), 0);
  }

 private:
  kastrel_testing::TempDir dir_;
};

TEST(DemoGame, StartsUpAttachedWithItsGlobals) {
  // GAME ran during start-up: its handler is the one on ONINITIALIZE.
  ASSERT_EQ(ENGINE::ONINITIALIZE.ICOUNT, 1);
  EXPECT_EQ(ENGINE::ONINITIALIZE.HANDLER[0], &GAME_ONINITIALIZE);

  EXPECT_EQ(std::bit_cast<uint32_t>(GRAVITY), 0x41A00000u);  // 20.0
  EXPECT_EQ(std::bit_cast<uint32_t>(RESTITUTION), 0x3F333333u);
  EXPECT_EQ(std::bit_cast<uint32_t>(FRICTION), 0x3F4CCCCDu);
  EXPECT_EQ(MAINSCREEN, 0);
  EXPECT_EQ(BMPCURSOR.HANDLE(), nullptr);
  EXPECT_EQ(BMPBACKGROUND.HANDLE(), nullptr);
  EXPECT_EQ(THEBALL.IMAGE.HANDLE(), nullptr);
  EXPECT_EQ(THEBALL.RECT.X | THEBALL.RECT.Y | THEBALL.RECT.W | THEBALL.RECT.H, 0);
  EXPECT_EQ(THEBALL.HOVERED, FALSE);
  EXPECT_EQ(THEBALL.DRAGGING, FALSE);
  EXPECT_EQ(THEBALL.VELOCITY.X, 0.0f);
  EXPECT_EQ(THEBALL.VELOCITY.Y, 0.0f);
}

TEST(DemoGame, ShowLoadsThePicturesCentresTheBallAndSetsTheCursor) {
  OpenScreenWithoutGame();
  {
    SCOPED_TRACE("the game's own pictures");
    ASSERT_EQ(chdir(KASTREL_SOURCE_DIR "/demo"), 0);
    MAINSCREEN_ONSHOW();
    EXPECT_EQ(BMPBACKGROUND.WIDTH(), 640u);
    EXPECT_EQ(BMPBACKGROUND.HEIGHT(), 480u);
    ASSERT_GT(BMPCURSOR.WIDTH(), 0u);
    const int32_t w = int32_t(THEBALL.IMAGE.WIDTH());
    const int32_t h = int32_t(THEBALL.IMAGE.HEIGHT());
    ASSERT_GT(w, 7);
    EXPECT_EQ(THEBALL.RECT.X, int32_t(std::nearbyint((640 - w) / 2.0)));
    EXPECT_EQ(THEBALL.RECT.Y, 0);
    EXPECT_EQ(THEBALL.RECT.W, w - 7);
    EXPECT_EQ(THEBALL.RECT.H, h - 9);
    EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 205);
    EXPECT_EQ(ENGINE::MOUSECURSORBITMAP, &BMPCURSOR);
    EXPECT_EQ(ENGINE::MOUSECURSORHOTSPOT.X, 5);
    EXPECT_EQ(ENGINE::MOUSECURSORHOTSPOT.Y, 5);
    EXPECT_NE(ENGINE::MOUSECURSORVISIBLE, FALSE);
  }
  // Half a pixel of room on each side rounds to the even column.
  for (const auto& [width, column] : {std::pair{61u, 290}, std::pair{63u, 288}}) {
    SCOPED_TRACE(width);
    BallFolder folder(width, 20, std::vector<uint8_t>(width * 20, 255));
    THEBALL.IMAGE = GRAPHICS::BITMAP();
    MAINSCREEN_ONSHOW();
    EXPECT_EQ(THEBALL.RECT.X, column);
    EXPECT_EQ(THEBALL.RECT.W, int32_t(width) - 7);
    EXPECT_EQ(THEBALL.RECT.H, 11);
  }
  {
    SCOPED_TRACE("no pictures at all");
    kastrel_testing::TempDir empty;
    ASSERT_EQ(chdir(empty.path().c_str()), 0);
    THEBALL.IMAGE = GRAPHICS::BITMAP();
    BMPCURSOR = GRAPHICS::BITMAP();
    BMPBACKGROUND = GRAPHICS::BITMAP();
    MAINSCREEN_ONSHOW();
    EXPECT_EQ(THEBALL.IMAGE.HANDLE(), nullptr);
    EXPECT_EQ(BMPBACKGROUND.HANDLE(), nullptr);
    EXPECT_EQ(THEBALL.RECT.X, 320);
    EXPECT_EQ(THEBALL.RECT.W, -7);
    EXPECT_EQ(THEBALL.RECT.H, -9);
    // The ball without a picture sinks until its top is 9 pixels below the bottom edge.
    for (int i = 0; i < 400; ++i) Pass();
    EXPECT_EQ(THEBALL.RECT.Y, 489);
    EXPECT_EQ(THEBALL.RECT.X, 320);
  }
}

TEST(DemoGame, PhysicsStepFollowsTheWorkedCases) {
  ENGINE::SCREENRESOLUTION = {640, 480};
  {
    SCOPED_TRACE("at 60 passes a second from rest at the top");
    PlaceBall(288, 0, 57, 57, 0, 0);
    Pass();
    EXPECT_EQ(THEBALL.VELOCITY.Y, 20.0f);
    EXPECT_EQ(THEBALL.RECT.Y, 0);  // 0.333
    EXPECT_TRUE(WholeWindowDirty());
    Pass();
    EXPECT_EQ(THEBALL.VELOCITY.Y, 40.0f);
    EXPECT_EQ(THEBALL.RECT.Y, 1);  // 0.667
    EXPECT_EQ(THEBALL.RECT.X, 288);
  }
  {
    SCOPED_TRACE("a bounce off the bottom: gravity first, then -0.7 and 0.8 in float32");
    PlaceBall(100, 420, 57, 57, 100, 280);
    Pass();
    EXPECT_EQ(THEBALL.RECT.Y, 423);
    EXPECT_EQ(THEBALL.RECT.X, 102);  // 100 + 1.667
    EXPECT_EQ(THEBALL.VELOCITY.X, 80.0f);
    EXPECT_EQ(THEBALL.VELOCITY.Y, -210.0f);
    EXPECT_EQ(THEBALL.VELOCITY.Y, -0.7f * 300.0f);
  }
  {
    SCOPED_TRACE("gravity once per pass whatever the pass's length; halves to even");
    PlaceBall(10, 10, 57, 57, 0, -20);
    Pass(0.0f);
    EXPECT_EQ(THEBALL.VELOCITY.Y, 0.0f);
    EXPECT_EQ(THEBALL.RECT.Y, 10);
    PlaceBall(10, 10, 57, 57, 0.5f, -19.5f);  // moves of exactly +0.5 in X and Y
    Pass(1.0f);
    EXPECT_EQ(THEBALL.RECT.X, 10);
    EXPECT_EQ(THEBALL.RECT.Y, 10);
    PlaceBall(11, 11, 57, 57, 0.5f, -19.5f);
    Pass(1.0f);
    EXPECT_EQ(THEBALL.RECT.X, 12);
    EXPECT_EQ(THEBALL.RECT.Y, 12);
    PlaceBall(11, 11, 57, 57, -0.5f, -20.5f);
    Pass(1.0f);
    EXPECT_EQ(THEBALL.RECT.X, 10);
    EXPECT_EQ(THEBALL.RECT.Y, 10);
  }
  {
    SCOPED_TRACE("side edges, measured with the collision size");
    PlaceBall(3, 100, 57, 57, -600, 0);
    Pass(0.01f);
    EXPECT_EQ(THEBALL.RECT.X, 0);
    EXPECT_EQ(THEBALL.VELOCITY.X, -0.7f * -600.0f);
    PlaceBall(580, 100, 57, 57, 600, 0);
    Pass(0.01f);
    EXPECT_EQ(THEBALL.RECT.X, 583);
    EXPECT_EQ(THEBALL.VELOCITY.X, -0.7f * 600.0f);
    EXPECT_EQ(THEBALL.VELOCITY.Y, 20.0f) << "no bottom bounce away from the bottom";
  }
  {
    SCOPED_TRACE("a corner: the bottom first, then the side with the reduced speed");
    PlaceBall(580, 420, 57, 57, 600, 400);
    Pass(0.01f);
    EXPECT_EQ(THEBALL.RECT.X, 583);
    EXPECT_EQ(THEBALL.RECT.Y, 423);
    EXPECT_EQ(THEBALL.VELOCITY.X, -0.7f * (0.8f * 600.0f));
    EXPECT_EQ(THEBALL.VELOCITY.Y, -0.7f * 420.0f);
    // In float32 the order shows: -0.7 * (0.8 * 3) is -1.68000007, 0.8 * (-0.7 * 3) -1.67999995.
    PlaceBall(590, 420, 57, 57, 3, 400);
    Pass(0.01f);
    EXPECT_EQ(THEBALL.RECT.X, 583);
    EXPECT_EQ(THEBALL.VELOCITY.X, -0.7f * (0.8f * 3.0f));
    EXPECT_NE(THEBALL.VELOCITY.X, 0.8f * (-0.7f * 3.0f));
  }
  {
    SCOPED_TRACE("no top edge: thrown upwards it leaves the window and falls back");
    PlaceBall(200, 10, 57, 57, 0, -1200);
    int32_t highest = THEBALL.RECT.Y;
    for (int i = 0; i < 200 && THEBALL.VELOCITY.Y < 0; ++i) {
      Pass();
      highest = std::min(highest, THEBALL.RECT.Y);
    }
    EXPECT_LT(highest, -100);
    for (int i = 0; i < 400 && THEBALL.RECT.Y < 423; ++i) Pass();
    EXPECT_EQ(THEBALL.RECT.Y, 423);
  }
  {
    SCOPED_TRACE("a stalled pass of hours neither wraps nor loses the ball");
    PlaceBall(200, 100, 57, 57, 3e5f, 3e5f);
    Pass(3600.0f * 24);
    EXPECT_EQ(THEBALL.RECT.Y, 423);
    EXPECT_EQ(THEBALL.RECT.X, 583);
  }
}

// Runs free passes at a steady rate from the start and returns the top rows the ball turns
// round at, from the start on.
std::vector<int32_t> TurningPoints(float elapsed, int passes) {
  PlaceBall(288, 0, 57, 57, 0, 0);
  std::vector<int32_t> apexes{0};
  bool rising = false;
  int32_t last = 0;
  for (int i = 0; i < passes; ++i) {
    Pass(elapsed);
    const int32_t y = THEBALL.RECT.Y;
    if (y < last) rising = true;
    if (rising && y > last) {
      apexes.push_back(last);
      rising = false;
    }
    last = y;
  }
  return apexes;
}

TEST(DemoGame, FallsBouncesLowerEachTimeAndComesToRest) {
  ENGINE::SCREENRESOLUTION = {640, 480};
  for (const float elapsed : {1.0f / 60, 1.0f / 400, 1.0f / 1000}) {
    SCOPED_TRACE(elapsed);
    const std::vector<int32_t> apexes = TurningPoints(elapsed, 20000);
    ASSERT_GE(apexes.size(), 4u);
    for (size_t i = 1; i < apexes.size(); ++i) {
      EXPECT_GT(apexes[i], apexes[i - 1]) << "bounce " << i << " is not lower";
    }
    // At rest the collision box sits on the bottom edge (the picture 9 pixels past it), and
    // stays there pass after pass, as does the column.
    for (int i = 0; i < 1000; ++i) {
      Pass(elapsed);
      ASSERT_EQ(THEBALL.RECT.Y, 423);
      ASSERT_EQ(THEBALL.RECT.X, 288);
    }
  }
}

TEST(DemoGame, DragFollowsThePointerWithinTheEdgesAndReleaseThrows) {
  OpenScreenWithoutGame();
  BallFolder folder(64, 66, std::vector<uint8_t>(64 * 66, 255));
  MAINSCREEN_ONSHOW();
  PlaceBall(288, 423, 57, 57, 0, 0);
  ENGINE::MOUSECURSORPOSITION = {0, 0};
  PointerTo(310, 440);  // test point (315, 445): over the ball
  ASSERT_EQ(THEBALL.HOVERED, TRUE);
  Frame(kSixtieth, INPUTEVENT::MOUSEBUTTONPRESS, Button(VOX::BUTTONPRESSED, 1));
  ASSERT_EQ(THEBALL.DRAGGING, TRUE);

  // Held: the ball follows the motion even off the ball, no gravity, the speed of the last move.
  PointerTo(210, 390);
  EXPECT_EQ(THEBALL.RECT.X, 188);
  EXPECT_EQ(THEBALL.RECT.Y, 373);
  EXPECT_EQ(THEBALL.VELOCITY.X, -200.0f);
  EXPECT_EQ(THEBALL.VELOCITY.Y, -100.0f);
  EXPECT_TRUE(WholeWindowDirty());
  ENGINE::MOUSECURSORPOSITION = {600, 5};  // far off the ball: the hover test does not run
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(600, 5, 3, -4));
  EXPECT_EQ(THEBALL.RECT.X, 191);
  EXPECT_EQ(THEBALL.RECT.Y, 369);
  EXPECT_EQ(THEBALL.HOVERED, TRUE);
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 255);
  for (int i = 0; i < 50; ++i) Pass();
  EXPECT_EQ(THEBALL.RECT.Y, 369) << "no physics while held";
  EXPECT_EQ(THEBALL.VELOCITY.Y, -8.0f);

  // The edges, measured with the collision size.
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(0, 0, -500, -900));
  EXPECT_EQ(THEBALL.RECT.X, 0);
  EXPECT_EQ(THEBALL.RECT.Y, 0);
  EXPECT_EQ(THEBALL.VELOCITY.X, -1000.0f) << "the speed is the motion's, not the clamped one";
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(0, 0, 2000, 3000));
  EXPECT_EQ(THEBALL.RECT.X, 583);
  EXPECT_EQ(THEBALL.RECT.Y, 423);
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(0, 0, INT32_MAX, INT32_MIN));
  EXPECT_EQ(THEBALL.RECT.X, 583);
  EXPECT_EQ(THEBALL.RECT.Y, 0);
  EXPECT_EQ(THEBALL.VELOCITY.X, -2.0f) << "doubled as int32";
  EXPECT_EQ(THEBALL.VELOCITY.Y, 0.0f);

  // A right release does not drop it; a left release throws it with the last move's speed.
  Frame(kSixtieth, INPUTEVENT::MOUSEMOVE, Motion(0, 0, -30, 100));
  Frame(kSixtieth, INPUTEVENT::MOUSEBUTTONRELEASE, Button(VOX::BUTTONRELEASED, 3));
  EXPECT_EQ(THEBALL.DRAGGING, TRUE);
  EXPECT_EQ(THEBALL.RECT.X, 553);
  EXPECT_EQ(THEBALL.RECT.Y, 100);
  Frame(0.1f, INPUTEVENT::MOUSEBUTTONRELEASE, Button(VOX::BUTTONRELEASED, 1));
  EXPECT_EQ(THEBALL.DRAGGING, FALSE);
  EXPECT_EQ(THEBALL.VELOCITY.X, -60.0f);
  EXPECT_EQ(THEBALL.VELOCITY.Y, 220.0f);
  EXPECT_EQ(THEBALL.RECT.X, 547) << "the release pass already moves it";
  EXPECT_EQ(THEBALL.RECT.Y, 122);
}

TEST(DemoGame, OnlyALeftPressOverTheBallPicksItUp) {
  OpenScreenWithoutGame();
  BallFolder folder(64, 66, std::vector<uint8_t>(64 * 66, 255));
  MAINSCREEN_ONSHOW();
  PlaceBall(288, 423, 57, 57, 0, 0);
  ENGINE::MOUSECURSORPOSITION = {0, 0};
  for (const int32_t button : {1, 2, 3}) {
    Frame(kSixtieth, INPUTEVENT::MOUSEBUTTONPRESS, Button(VOX::BUTTONPRESSED, button));
    EXPECT_EQ(THEBALL.DRAGGING, FALSE) << "not hovered, button " << button;
  }
  PointerTo(310, 440);
  ASSERT_EQ(THEBALL.HOVERED, TRUE);
  for (const int32_t button : {2, 3}) {
    Frame(kSixtieth, INPUTEVENT::MOUSEBUTTONPRESS, Button(VOX::BUTTONPRESSED, button));
    EXPECT_EQ(THEBALL.DRAGGING, FALSE) << "hovered, button " << button;
  }
  Frame(kSixtieth, INPUTEVENT::MOUSEBUTTONDOUBLECLICK, Button(VOX::BUTTONDOUBLECLICKED, 1));
  EXPECT_EQ(THEBALL.DRAGGING, FALSE);
  // After a right press the ball does not move with the pointer.
  PointerTo(250, 300);
  EXPECT_EQ(THEBALL.RECT.X, 288);
  EXPECT_EQ(THEBALL.RECT.Y, 423);
}

int shutdowns = 0;
void CountShutdown(BOOLEAN& /*CANCEL*/) { ++shutdowns; }

TEST(DemoGame, EscapeAloneEndsTheGame) {
  ENGINE::SCREENRESOLUTION = {640, 480};
  ENGINE::ONSHUTDOWN += CountShutdown;
  PlaceBall(288, 100, 57, 57, 0, 0);
  for (const int32_t scancode : {2, 28, 57, 59, 0}) {
    Frame(kSixtieth, INPUTEVENT::KEYPRESS, Key(VOX::KEYPRESSED, scancode));
  }
  Frame(kSixtieth, INPUTEVENT::KEYRELEASE, Key(VOX::KEYRELEASED, 1));
  Frame(kSixtieth, INPUTEVENT::KEYREPEAT, Key(VOX::KEYREPEATED, 1));
  Frame(kSixtieth, INPUTEVENT::MOUSEWHEEL, Key(VOX::WHEELMOVED, 1));
  EXPECT_EQ(shutdowns, 0);
  EXPECT_EQ(THEBALL.RECT.X, 288) << "keys do not move the ball";
  Frame(kSixtieth, INPUTEVENT::KEYPRESS, Key(VOX::KEYPRESSED, 1));
  EXPECT_EQ(shutdowns, 1);
}

// A picture whose pixels carry their own column number as alpha (0 to 63), so the pointer
// picks the alpha it tests.
TEST(DemoGame, HoverLightsTheBallUpOverPixelsAboveTheThreshold) {
  OpenScreenWithoutGame();
  std::vector<uint8_t> alpha(64 * 16);
  for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = uint8_t(i % 64);
  BallFolder folder(64, 16, alpha);
  MAINSCREEN_ONSHOW();
  // Resting on the bottom edge, where the passes that carry the moves leave it.
  PlaceBall(100, 473, 57, 7, 0, 0);
  // The test point is 5 pixels right of and below the pointer: column c is under x = 95 + c.
  const auto over_column = [](int32_t c) { PointerTo(95 + c, 471); };
  const MATH::POINT p38{38, 3};
  EXPECT_EQ(THEBALL.IMAGE.PIXELALPHA(p38), 31) << "38 at 205/255";

  over_column(37);  // reads 30
  EXPECT_EQ(THEBALL.HOVERED, FALSE);
  over_column(38);  // reads 31
  EXPECT_EQ(THEBALL.HOVERED, TRUE);
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 255);
  EXPECT_EQ(THEBALL.IMAGE.PIXELALPHA(p38), 38);
  EXPECT_TRUE(WholeWindowDirty());
  // Lit, the stored alpha counts: 31 keeps the hover, 30 ends it.
  over_column(31);
  EXPECT_EQ(THEBALL.HOVERED, TRUE);
  over_column(30);
  EXPECT_EQ(THEBALL.HOVERED, FALSE);
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 205);
  EXPECT_EQ(THEBALL.IMAGE.PIXELALPHA(p38), 31) << "faded again from the saved alpha";
  over_column(31);
  EXPECT_EQ(THEBALL.HOVERED, FALSE) << "31 to 37 keep a hover but never start one";

  // Inside the collision box only: the box is 57 x 7 here, the picture 64 x 16.
  over_column(50);
  ASSERT_EQ(THEBALL.HOVERED, TRUE);
  PointerTo(95 + 50, 468 + 8);  // row 8 of the picture: below the box
  EXPECT_EQ(THEBALL.HOVERED, FALSE);
  PointerTo(95 + 58, 471);  // column 58: right of the box
  EXPECT_EQ(THEBALL.HOVERED, FALSE);
  PointerTo(95 + 57, 468 + 7);  // the box's far corner counts
  EXPECT_EQ(THEBALL.HOVERED, TRUE);
}

}  // namespace
