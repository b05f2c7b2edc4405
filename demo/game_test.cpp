// The game's routines driven directly, as the frame loop calls them. Each test runs in its own
// process, so the game's globals start fresh.
#include "game.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "kastrel/png/png_save.h"
#include "kastrel/base/testing/process.h"

namespace {

using namespace KASTREL;
using ENGINE::INPUTEVENT;

constexpr float kSixtieth = 1.0f / 60.0f;

// An event of `type` whose first field (scancode, button) is `code`.
void Send(INPUTEVENT input, int32_t type, int32_t code, int32_t dx = 0, int32_t dy = 0,
          float elapsed = kSixtieth) {
  VOX::EVENT e{type, {code}, {0}, dx, dy};
  MAINSCREEN_ONFRAME(elapsed, input, e);
}
void Pass(float elapsed = kSixtieth) { Send(INPUTEVENT::NONE, 0, 0, 0, 0, elapsed); }
void Press(int32_t button) { Send(INPUTEVENT::MOUSEBUTTONPRESS, VOX::BUTTONPRESSED, button); }
void Motion(int32_t dx, int32_t dy) { Send(INPUTEVENT::MOUSEMOVE, VOX::MOUSEMOVED, 0, dx, dy); }

// Moves the engine's pointer and hands the game the move, as the frame loop does.
void PointerTo(int32_t x, int32_t y) {
  const MATH::POINT from = ENGINE::MOUSECURSORPOSITION;
  ENGINE::MOUSECURSORPOSITION = {x, y};
  VOX::EVENT e{VOX::MOUSEMOVED, {x}, {y}, x - from.X, y - from.Y};
  MAINSCREEN_ONFRAME(kSixtieth, INPUTEVENT::MOUSEMOVE, e);
}

// Where the ball is and how fast it goes: x, y, vx, vy.
std::vector<float> Ball() {
  return {float(THEBALL.RECT.X), float(THEBALL.RECT.Y), THEBALL.VELOCITY.X, THEBALL.VELOCITY.Y};
}
using F = std::vector<float>;

void PlaceBall(int32_t x, int32_t y, int32_t w, int32_t h, float vx, float vy) {
  THEBALL.RECT = {x, y, w, h};
  THEBALL.VELOCITY = {vx, vy};
}

// Opens the screen on the windowless driver without starting the game.
void OpenScreenWithoutGame() {
  ENGINE::ONINITIALIZE -= GAME_ONINITIALIZE;
  setenv("VOXGFX", "null", 1);
  ASSERT_EQ(ENGINE::INITIALIZE(640, 480, FALSE, MODE_NOSWITCH), TRUE);
}

// A working folder holding only images/ball.png of w x h mid-grey pixels with the given alphas;
// the current directory moves there.
class BallFolder {
 public:
  BallFolder(uint32_t w, uint32_t h, const std::vector<uint8_t>& alpha) {
    std::filesystem::create_directory(dir_.file("images"));
    std::vector<uint8_t> rgba(size_t{w} * h * 4, 0x80);
    for (size_t i = 0; i < size_t{w} * h; ++i) rgba[i * 4 + 3] = alpha[i];
    EXPECT_EQ(png_save(dir_.file("images/ball.png"), rgba.data(), w, h, w * 4, PNG_RGBA),
              KASTREL::TRUE)
        << KASTREL::LASTERROR();
    EXPECT_EQ(chdir(dir_.path().c_str()), 0);
  }

 private:
  kastrel_testing::TempDir dir_;
};

TEST(DemoGame, ShowLoadsThePicturesCentresTheBallAndSetsTheCursor) {
  // GAME ran during start-up: its handler is the one on ONINITIALIZE.
  ASSERT_EQ(ENGINE::ONINITIALIZE.ICOUNT, 1);
  EXPECT_EQ(ENGINE::ONINITIALIZE.HANDLER[0], &GAME_ONINITIALIZE);
  OpenScreenWithoutGame();
  ASSERT_EQ(chdir(KASTREL_SOURCE_DIR "/demo"), 0);
  MAINSCREEN_ONSHOW();
  EXPECT_EQ(BMPBACKGROUND.WIDTH(), 640u);
  EXPECT_EQ(THEBALL.RECT.Y, 0);
  EXPECT_EQ(THEBALL.RECT.W, int32_t(THEBALL.IMAGE.WIDTH()) - 7);
  EXPECT_EQ(THEBALL.RECT.H, int32_t(THEBALL.IMAGE.HEIGHT()) - 9);
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 205);
  EXPECT_EQ(ENGINE::MOUSECURSORBITMAP, &BMPCURSOR);
  EXPECT_EQ(ENGINE::MOUSECURSORHOTSPOT.X, 5);
  EXPECT_EQ(ENGINE::MOUSECURSORHOTSPOT.Y, 5);

  // Half a pixel of room on each side rounds to the even column.
  for (const auto& [width, column] : {std::pair{61u, 290}, std::pair{63u, 288}}) {
    BallFolder folder(width, 20, std::vector<uint8_t>(width * 20, 255));
    MAINSCREEN_ONSHOW();
    EXPECT_EQ(THEBALL.RECT.X, column) << width;
  }
  // Without pictures the game goes on, and the ball sinks until its top is 9 pixels below the
  // bottom edge.
  kastrel_testing::TempDir empty;
  ASSERT_EQ(chdir(empty.path().c_str()), 0);
  THEBALL.IMAGE = GRAPHICS::BITMAP();
  MAINSCREEN_ONSHOW();
  EXPECT_EQ(THEBALL.RECT.X, 320);
  for (int i = 0; i < 400; ++i) Pass();
  EXPECT_EQ(THEBALL.RECT.Y, 489);
}

TEST(DemoGame, PhysicsStepFollowsTheWorkedCases) {
  ENGINE::SCREENRESOLUTION = {640, 480};
  // At 60 passes a second from rest at the top: 0.333, then 0.667.
  PlaceBall(288, 0, 57, 57, 0, 0);
  Pass();
  EXPECT_EQ(Ball(), (F{288, 0, 0, 20}));
  Pass();
  EXPECT_EQ(Ball(), (F{288, 1, 0, 40}));

  // A bounce off the bottom: gravity first, then -0.7 and 0.8 in float32.
  PlaceBall(100, 420, 57, 57, 100, 280);
  Pass();
  EXPECT_EQ(Ball(), (F{102, 423, 80, -0.7f * 300.0f}));  // x: 100 + 1.667

  // Gravity once per pass whatever its length; moves of exactly half a pixel round to even.
  PlaceBall(10, 10, 57, 57, 0, -20);
  Pass(0.0f);
  EXPECT_EQ(Ball(), (F{10, 10, 0, 0}));
  for (const int32_t start : {10, 11}) {
    PlaceBall(start, start, 57, 57, 0.5f, -19.5f);
    Pass(1.0f);
    EXPECT_EQ(Ball()[0] + Ball()[1], 20 + 4 * (start - 10));
  }

  // The side edges, measured with the collision size; no bottom bounce away from the bottom.
  PlaceBall(3, 100, 57, 57, -600, 0);
  Pass(0.01f);
  EXPECT_EQ(Ball(), (F{0, 100, 420, 20}));
  // A corner: the bottom first, then the side with the reduced speed. In float32 the order
  // shows: -0.7 * (0.8 * 3) is -1.68000007, 0.8 * (-0.7 * 3) -1.67999995.
  PlaceBall(590, 420, 57, 57, 3, 400);
  Pass(0.01f);
  EXPECT_EQ(Ball(), (F{583, 423, -0.7f * (0.8f * 3.0f), -0.7f * 420.0f}));
  EXPECT_NE(THEBALL.VELOCITY.X, 0.8f * (-0.7f * 3.0f));

  // No top edge: thrown upwards it leaves the window.
  PlaceBall(200, 10, 57, 57, 0, -1200);
  for (int i = 0; i < 10; ++i) Pass();
  EXPECT_LT(THEBALL.RECT.Y, -100);
  // A stalled pass of hours neither wraps nor loses the ball.
  PlaceBall(200, 100, 57, 57, 3e5f, 3e5f);
  Pass(3600.0f * 24);
  EXPECT_EQ(std::pair(THEBALL.RECT.X, THEBALL.RECT.Y), std::pair(583, 423));
}

TEST(DemoGame, FallsBouncesLowerEachTimeAndComesToRest) {
  ENGINE::SCREENRESOLUTION = {640, 480};
  for (const float elapsed : {1.0f / 60, 1.0f / 1000}) {
    SCOPED_TRACE(elapsed);
    // The top rows the ball turns round at.
    PlaceBall(288, 0, 57, 57, 0, 0);
    std::vector<int32_t> apexes{0};
    int32_t last = 0;
    bool rising = false;
    for (int i = 0; i < 20000; ++i) {
      Pass(elapsed);
      rising = rising || THEBALL.RECT.Y < last;
      if (rising && THEBALL.RECT.Y > last) {
        apexes.push_back(last);
        rising = false;
      }
      last = THEBALL.RECT.Y;
    }
    ASSERT_GE(apexes.size(), 4u);
    for (size_t i = 1; i < apexes.size(); ++i) EXPECT_GT(apexes[i], apexes[i - 1]) << i;
    // At rest the collision box stays on the bottom edge, the picture 9 pixels past it.
    for (int i = 0; i < 1000; ++i) {
      Pass(elapsed);
      ASSERT_EQ(THEBALL.RECT.Y, 423);
      ASSERT_EQ(THEBALL.RECT.X, 288);
    }
  }
}

TEST(DemoGame, OnlyALeftPressOverTheBallDragsItAndItsReleaseThrows) {
  OpenScreenWithoutGame();
  BallFolder folder(64, 66, std::vector<uint8_t>(64 * 66, 255));
  MAINSCREEN_ONSHOW();
  PlaceBall(288, 423, 57, 57, 0, 0);
  ENGINE::MOUSECURSORPOSITION = {0, 0};
  Press(1);
  EXPECT_EQ(THEBALL.DRAGGING, FALSE) << "not over the ball";
  PointerTo(310, 440);  // test point (315, 445): over the ball
  ASSERT_EQ(THEBALL.HOVERED, TRUE);
  Press(3);
  Press(2);
  Send(INPUTEVENT::MOUSEBUTTONDOUBLECLICK, VOX::BUTTONDOUBLECLICKED, 1);
  EXPECT_EQ(THEBALL.DRAGGING, FALSE);
  PointerTo(250, 300);
  EXPECT_EQ(THEBALL.RECT.X, 288) << "the ball stays after a right press";
  PointerTo(310, 440);
  Press(1);
  ASSERT_EQ(THEBALL.DRAGGING, TRUE);

  // Held: the ball follows the motion with the speed of the last move, and no gravity.
  PointerTo(210, 390);
  for (int i = 0; i < 50; ++i) Pass();
  EXPECT_EQ(Ball(), (F{188, 373, -200, -100}));
  // The edges, measured with the collision size; the speed is the motion's, not the clamped one.
  Motion(-500, -900);
  EXPECT_EQ(Ball(), (F{0, 0, -1000, -1800}));
  Motion(2000, 3000);
  EXPECT_EQ(Ball(), (F{583, 423, 4000, 6000}));
  Motion(INT32_MAX, INT32_MIN);
  EXPECT_EQ(Ball(), (F{583, 0, -2, 0})) << "doubled as int32";

  // A right release keeps it; a left release throws it, and the release pass already moves it.
  Motion(-30, 100);
  Send(INPUTEVENT::MOUSEBUTTONRELEASE, VOX::BUTTONRELEASED, 3);
  EXPECT_EQ(THEBALL.DRAGGING, TRUE);
  Send(INPUTEVENT::MOUSEBUTTONRELEASE, VOX::BUTTONRELEASED, 1, 0, 0, 0.1f);
  EXPECT_EQ(THEBALL.DRAGGING, FALSE);
  EXPECT_EQ(Ball(), (F{547, 122, -60, 220}));
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
  const auto hovered_over = [](int32_t c, int32_t row = 3) {
    PointerTo(95 + c, 468 + row);
    return THEBALL.HOVERED == TRUE;
  };
  EXPECT_FALSE(hovered_over(37));  // 37 * 205 / 255 is 30
  EXPECT_TRUE(hovered_over(38));   // 31
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 255);
  EXPECT_EQ(THEBALL.IMAGE.PIXELALPHA({38, 3}), 38);
  // Lit, the stored alpha counts: 31 keeps the hover, 30 ends it and fades the ball again.
  EXPECT_TRUE(hovered_over(31));
  EXPECT_FALSE(hovered_over(30));
  EXPECT_EQ(THEBALL.IMAGE.ALPHA(), 205);
  EXPECT_EQ(THEBALL.IMAGE.PIXELALPHA({38, 3}), 31) << "faded from the saved alpha";
  EXPECT_FALSE(hovered_over(31)) << "31 to 37 keep a hover but never start one";
  // Inside the collision box only: it is 57 x 7 here, the picture 64 x 16.
  EXPECT_TRUE(hovered_over(50));
  EXPECT_FALSE(hovered_over(50, 8));
  EXPECT_FALSE(hovered_over(58));
  EXPECT_TRUE(hovered_over(57, 7)) << "the box's far corner counts";
}

}  // namespace
