// The engine's parts around the frame loop: start-up through a fake driver, the dirty list,
// the cursor state, hit tests, rectangle overlap, resolutions and the screen table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "kastrel/device/testing/fake_driver.h"
#include "kastrel/engine/fatal.h"
#include "kastrel/engine/testing/game.h"

using namespace test_game;
using testing::ExitedWithCode;

namespace {
int raised = 0;
void COUNT() { ++raised; }
}  // namespace

TEST(Initialize, AsksForOne32BitPageWithTheFlagWordOnceAndFailsCleanly) {
  fake_driver::install();
  fake_driver::Record& r = fake_driver::record();
  ONINITIALIZE += COUNT;
  r.accept = [](const fake_driver::Init&) { return false; };
  EXPECT_EQ(INITIALIZE(RESOLUTION{320, 200}, TRUE, MODE_NOSWITCH), FALSE);
  ASSERT_FALSE(r.inits.empty());
  EXPECT_EQ(r.inits[0].flags, 5);
  // A screen opened by someone else stays when the request itself is refused.
  r.accept = [](const fake_driver::Init&) { return true; };
  vox_GfxScreenRes(100, 100, 32, 1, 0, 0);
  EXPECT_EQ(INITIALIZE(0, 480, FALSE, 4), FALSE);
  EXPECT_TRUE(!INITIALIZED && SCREENRESOLUTION.WIDTH == 0 && r.set_mouse.empty() && !raised);

  r.inits.clear();
  r.mouse[0] = 12;
  r.mouse[1] = 34;
  EXPECT_EQ(INITIALIZE(640, 480, FALSE, MODE_NOSWITCH), TRUE);
  ASSERT_EQ(r.inits.size(), 1u);
  const fake_driver::Init& call = r.inits[0];
  EXPECT_EQ(std::vector<int32_t>({call.width, call.height, call.depth, call.refresh_rate,
                                  call.flags, __vox_gfx->page_count}),
            std::vector<int32_t>({640, 480, 32, 0, 4, 1}));
  EXPECT_TRUE(INITIALIZED && SCREENRESOLUTION.WIDTH == 640 && SCREENRESOLUTION.HEIGHT == 480);
  EXPECT_EQ(r.set_mouse, (std::vector<int32_t>{12, 34, 0, -1}));  // pointer hidden in place
  EXPECT_TRUE(MOUSECURSORPOSITION.X == 12 && MOUSECURSORPOSITION.Y == 34 && !MOUSECURSORVISIBLE);
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(INITIALIZE(RESOLUTION{800, 600}, TRUE, 0), TRUE);  // no second anything
  EXPECT_TRUE(r.inits.size() == 1 && raised == 1 && SCREENRESOLUTION.WIDTH == 640);
}

TEST(DirtyRegions, MarkCompletesSizesAndTheZeroRectangleReplacesTheList) {
  SCREENRESOLUTION = RESOLUTION{640, 480};
  MATH::RECT a{100, 50, 0, 0}, b{-10, 5, 0, 20}, c{3, 4, 5, -7}, zero{};
  for (MATH::RECT* r : {&a, &b, &c}) MARKDIRTY(*r);
  const Rects expected{{100, 50, 540, 430}, {-10, 5, 650, 20}, {3, 4, 5, 476}};
  EXPECT_EQ(Rects(DIRTYREGIONS.RECT, DIRTYREGIONS.RECT + DIRTYREGIONS.COUNT), expected);
  EXPECT_EQ(Rects({a, b, c}), expected);  // written back
  MARKDIRTY(zero);
  EXPECT_TRUE(DIRTYREGIONS.COUNT == 1 && DIRTYREGIONS.RECT[0] == (MATH::RECT{0, 0, 640, 480}));

  RECTLIST list;
  for (int32_t i = 0; i < 11; ++i) list.ADD(MATH::RECT{i, i, 1, 1});
  EXPECT_EQ(list.ISIZE, 20);
  list.CLEAR();
  EXPECT_TRUE(list.COUNT == 0 && list.ISIZE == 20);
  for (int32_t i = 0; i < 20; ++i) list.ADD(MATH::RECT{i, i, 1, 1});
  list.ADD(list.RECT[7]);  // one of its own entries, while it grows
  EXPECT_EQ(list.RECT[20], (MATH::RECT{7, 7, 1, 1}));
}

TEST(DirtyRegions, MarkChangedTakesClosedBoundsCutsToTheWindowAndMerges) {
  SCREENRESOLUTION = RESOLUTION{640, 480};
  DIRTYREGIONS.CLEAR();
  const MATH::RECT given[] = {{0, 0, -1, -1}, {10, 10, 0, 5}, {-5, -5, 9, 9},  {630, 470, 100, 100},
                              {700, 0, 5, 5}, {0, 0, 5, -1},  {300, 300, 1, 1}, {INT32_MAX - 1, 0, INT32_MAX, 0},
                              {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}};
  for (const MATH::RECT& r : given) MARKCHANGED(r);
  EXPECT_EQ(Rects(DIRTYREGIONS.RECT, DIRTYREGIONS.RECT + DIRTYREGIONS.COUNT),
            (Rects{{10, 10, 1, 6}, {0, 0, 5, 5}, {630, 470, 10, 10}, {300, 300, 2, 2}}));
  // Overlapping boxes join when the joint box is no bigger; one inside another vanishes;
  // MARKDIRTY's own rectangles are left as marked.
  MARKDIRTY(-10, 200, 30, 30);
  for (const MATH::RECT& r : {MATH::RECT{100, 100, 9, 9}, MATH::RECT{105, 100, 9, 9}, MATH::RECT{101, 101, 2, 2},
                              MATH::RECT{0, 205, 3, 3}, MATH::RECT{9, 11, 2, 4}})
    MARKCHANGED(r);
  EXPECT_EQ(Rects(DIRTYREGIONS.RECT, DIRTYREGIONS.RECT + DIRTYREGIONS.COUNT),
            (Rects{{0, 0, 5, 5}, {630, 470, 10, 10}, {300, 300, 2, 2}, {-10, 200, 30, 30}, {100, 100, 15, 10},
                   {0, 205, 4, 4}, {9, 10, 3, 6}}));
  // 1,000 bullets: every pixel marked stays covered, and no more pixels are repainted than the
  // bullets hold together.
  DIRTYREGIONS.CLEAR();
  std::mt19937 random(7);
  std::vector<uint8_t> wanted(640 * 480), covered(640 * 480);
  int64_t sum = 0;
  for (int32_t i = 0; i < 1000; ++i) {
    const MATH::RECT r{int32_t(random() % 700) - 30, int32_t(random() % 300), int32_t(random() % 12), int32_t(random() % 12)};
    MARKCHANGED(r);
    const int32_t x0 = std::max(r.X, 0), x1 = std::min(r.X + r.W, 639), y1 = std::min(r.Y + r.H, 479);
    sum += int64_t{std::max(0, x1 - x0 + 1)} * (y1 - r.Y + 1);
    for (int32_t y = r.Y; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) wanted[size_t(y * 640 + x)] = 1;
  }
  int64_t repainted = 0;
  for (int32_t i = 0; i < DIRTYREGIONS.COUNT; ++i) {
    const MATH::RECT& r = DIRTYREGIONS.RECT[i];
    repainted += int64_t{r.W} * r.H;
    for (int32_t y = r.Y; y < r.Y + r.H; ++y)
      for (int32_t x = r.X; x < r.X + r.W; ++x) covered[size_t(y * 640 + x)] = 1;
  }
  for (size_t i = 0; i < wanted.size(); ++i) ASSERT_LE(wanted[i], covered[i]) << i;
  EXPECT_LE(repainted, sum);
  EXPECT_LT(DIRTYREGIONS.COUNT, 1000);
  DIRTYREGIONS.CLEAR();
}

namespace {
// The merge rule as a scan of the whole list, restarted after every merge.
void mark_changed_model(std::vector<MATH::RECT>& list, const MATH::RECT& g, int64_t w, int64_t h) {
  if (g.W < 0 || g.H < 0) return;
  int64_t x0 = std::max<int64_t>(g.X, 0), y0 = std::max<int64_t>(g.Y, 0);
  int64_t x1 = std::min<int64_t>(int64_t{g.X} + g.W + 1, w),
          y1 = std::min<int64_t>(int64_t{g.Y} + g.H + 1, h);
  if (x0 >= x1 || y0 >= y1 ||
      (!list.empty() && list[0] == MATH::RECT{0, 0, int32_t(w), int32_t(h)}))
    return;
  for (size_t i = 0; i < list.size(); ++i) {
    const int64_t ex0 = list[i].X, ey0 = list[i].Y, ex1 = ex0 + list[i].W, ey1 = ey0 + list[i].H;
    const int64_t jx0 = std::min(x0, ex0), jy0 = std::min(y0, ey0), jx1 = std::max(x1, ex1),
                  jy1 = std::max(y1, ey1);
    if (ex0 > x1 || ey0 > y1 || ex1 < x0 || ey1 < y0 || ex0 < 0 || ey0 < 0 || ex1 > w || ey1 > h ||
        ex0 >= ex1 || ey0 >= ey1 ||
        (jx1 - jx0) * (jy1 - jy0) > (x1 - x0) * (y1 - y0) + (ex1 - ex0) * (ey1 - ey0))
      continue;
    x0 = jx0, y0 = jy0, x1 = jx1, y1 = jy1;
    list.erase(list.begin() + std::ptrdiff_t(i));
    i = size_t(-1);
  }
  list.push_back({int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)});
}
}  // namespace

TEST(DirtyRegions, MarkChangedMergesAsAScanOfTheWholeListWould) {
  // Marks mixed with MARKDIRTY's rectangles, emptied lists, the paint step's swap and a new
  // window size: the list stays the one a scan of every entry gives.
  std::mt19937 random(11);
  std::vector<MATH::RECT> model;
  RECTLIST spare;
  DIRTYREGIONS.CLEAR();
  for (int32_t step = 0; step < 6000; ++step) {
    const int64_t w = SCREENRESOLUTION.WIDTH, h = SCREENRESOLUTION.HEIGHT;
    const uint32_t what = random() % 200, size = random() % 10 == 0 ? 120 : 14;
    MATH::RECT r{int32_t(random() % (w + 40)) - 20, int32_t(random() % (h + 40)) - 20,
                 int32_t(random() % size) - 1, int32_t(random() % size) - 1};
    if (what < 180) {
      MARKCHANGED(r);
      mark_changed_model(model, r, w, h);
    } else if (what < 196) {
      if (what == 195) r = MATH::RECT{}, model.clear();  // the whole window
      MARKDIRTY(r);
      model.push_back(r);
    } else if (what < 198) {  // as the paint step empties the list
      std::swap(DIRTYREGIONS.COUNT, spare.COUNT);
      std::swap(DIRTYREGIONS.RECT, spare.RECT);
      std::swap(DIRTYREGIONS.ISIZE, spare.ISIZE);
      spare.CLEAR();
      model.clear();
    } else if (what < 199) {
      DIRTYREGIONS.CLEAR();
      model.clear();
    } else {
      SCREENRESOLUTION = random() % 2 ? RESOLUTION{640, 480} : RESOLUTION{333, 200};
    }
    ASSERT_EQ(Rects(DIRTYREGIONS.RECT, DIRTYREGIONS.RECT + DIRTYREGIONS.COUNT), model) << step;
  }
  SCREENRESOLUTION = RESOLUTION{640, 480};
  DIRTYREGIONS.CLEAR();
}

TEST(Cursor, ShowAndHideMoveTheSystemPointerOnlyWithoutABitmap) {
  fake_driver::install();
  fake_driver::Record& r = fake_driver::record();
  vox_GfxScreenRes(64, 48, 32, 1, 0, 0);
  r.mouse[0] = 7;
  SHOWCURSOR();
  EXPECT_EQ(r.set_mouse, (std::vector<int32_t>{7, 0, 1, -1}));
  r.mouse_result = -1;  // the pointer is outside the window
  HIDECURSOR();
  EXPECT_EQ(r.set_mouse, (std::vector<int32_t>{-1, -1, 0, -1}));
  EXPECT_TRUE(!MOUSECURSORVISIBLE && MOUSECURSORPOSITION.X == -1);
  GRAPHICS::BITMAP image(4, 4, 0xFFFFFFFFu, 32);
  r.set_mouse.clear();
  SETCURSOR(&image, 5, 5);
  EXPECT_FALSE(MOUSECURSORVISIBLE);
  SHOWCURSOR();
  EXPECT_TRUE(MOUSECURSORVISIBLE && r.set_mouse.empty());
  SETCURSOR(nullptr, 9, 9);
  EXPECT_TRUE(!MOUSECURSORBITMAP && MOUSECURSORHOTSPOT.X == 5 && MOUSECURSORHOTSPOT.Y == 5);
}

TEST(MouseOverObject, TestsTheCursorCornerAgainstCountedPixelsInsideTheBitmap) {
  vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
  GRAPHICS::BITMAP obj(21, 21, 0u, 32), empty;
  obj.PIXEL(MATH::POINT{20, 20}, 0x1F123456u);  // alpha 31
  obj.PIXEL(MATH::POINT{15, 15}, 0xFF000000u);
  const MATH::RECT r{10, 10, 20, 20};
  MOUSECURSORPOSITION = MATH::POINT{30, 30};
  EXPECT_EQ(MOUSEOVEROBJECT(obj, r, TRANSCOLOR, 0x1F123456u), FALSE);
  EXPECT_EQ(MOUSEOVEROBJECT(obj, r, TRANSCOLOR, 0xFF123456u), TRUE);  // alpha byte compared
  EXPECT_EQ(MOUSEOVEROBJECT(empty, r, TRANSCOLOR, 0), FALSE);  // no image: FALSE, nothing read
  GRAPHICS::BITMAP pointer(2, 2, 0u, 32);
  SETCURSOR(&pointer, 5, 5);  // the test point becomes the cursor image's corner
  MOUSECURSORPOSITION = MATH::POINT{20, 20};
  EXPECT_EQ(MOUSEOVEROBJECT(obj, r, ALPHAVALUE, 254), TRUE);  // (25, 25) samples (15, 15)
  EXPECT_EQ(MOUSEOVEROBJECT(obj, r, ALPHAVALUE, 255), FALSE);
  SETCURSOR(nullptr, 0, 0);
  EXPECT_EQ(MOUSEOVEROBJECT(obj, r, ALPHAVALUE, 0), FALSE);  // (20, 20) samples (10, 10)

  // Against a model that maps each counted pixel forward onto the screen; inside RECT but past
  // the bitmap nothing counts.
  std::mt19937 rng(5);
  GRAPHICS::BITMAP ball(6, 5, 0u, 32);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) ball.PIXEL(MATH::POINT{x, y}, (rng() & 0xFF) << 24);
  for (const MATH::RECT place : {MATH::RECT{3, 2, 4, 3}, MATH::RECT{3, 2, 5, 4},
                                 MATH::RECT{-2, 1, 8, 9}, MATH::RECT{3, 2, -1, 3}}) {
    bool hit[20][20] = {};
    for (int32_t py = 0; py <= place.H && py < 5; ++py)
      for (int32_t px = 0; px <= place.W && px < 6; ++px)
        hit[place.Y + py + 4][place.X + px + 4] = ball.PIXELALPHA(MATH::POINT{px, py}) > 100;
    for (int32_t y = -4; y < 16; ++y) {
      for (int32_t x = -4; x < 16; ++x) {
        MOUSECURSORPOSITION = MATH::POINT{x, y};
        ASSERT_EQ(MOUSEOVEROBJECT(ball, place, ALPHAVALUE, 100) != FALSE, hit[y + 4][x + 4])
            << x << "," << y << " over " << place.X << "," << place.W;
      }
    }
  }
}

TEST(Collides, ClosedRectanglesCollideWhenTheyShareAPoint) {
  using R = MATH::RECT;
  // The far edge wraps as in HASPOINT: the first covers nothing.
  EXPECT_EQ(COLLIDES(R{INT32_MAX - 1, 0, 5, 5}, R{INT32_MAX - 1, 0, 0, 0}), FALSE);
  EXPECT_EQ(COLLIDES(R{INT32_MAX - 1, 0, 1, 5}, R{INT32_MAX, 0, 0, 0}), TRUE);
  // Against a point-by-point model built on HASPOINT.
  std::mt19937 rng(11);
  auto pick = [&rng](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
  };
  for (int i = 0; i < 3000; ++i) {
    const R a{pick(-4, 4), pick(-4, 4), pick(-2, 5), pick(-2, 5)};
    const R b{pick(-4, 4), pick(-4, 4), pick(-2, 5), pick(-2, 5)};
    bool shared = false;
    for (int32_t y = -4; y <= 9; ++y)
      for (int32_t x = -4; x <= 9; ++x) shared |= a.HASPOINT(x, y) && b.HASPOINT(x, y);
    ASSERT_EQ(COLLIDES(a, b) != FALSE, shared) << i;
  }
}

TEST(Resolutions, TextFormListAndTheDisplaysModes) {
  EXPECT_EQ(std::string(RESOLUTION{INT32_MIN, 7}), "-2147483648x7");
  fake_driver::install();
  RESOLUTIONLIST none = SUPPORTEDRESOLUTIONS();
  EXPECT_TRUE(none.COUNT == 0 && none.LIST == nullptr);
  fake_driver::record().modes[0] = {640 << 16 | 480, 800 << 16 | 600};
  fake_driver::record().modes[1] = {-1};  // 65535 x 65535, enumerated first
  RESOLUTIONLIST first = SUPPORTEDRESOLUTIONS(), second = SUPPORTEDRESOLUTIONS();
  EXPECT_EQ(fake_driver::record().modes_depth, 32);
  first.ADD(-3, 4);
  ASSERT_EQ(first.COUNT, 4);
  std::string text;
  for (int32_t i = 0; i < 4; ++i) text += std::string(first.LIST[i]) + " ";
  EXPECT_EQ(text, "65535x65535 640x480 800x600 -3x4 ");
  first.RELEASE();
  EXPECT_TRUE(first.COUNT == 0 && first.LIST == nullptr);
  ASSERT_EQ(second.COUNT, 3);  // an independent list
  EXPECT_EQ(std::string(second.LIST[2]), "800x600");
  second.RELEASE();
}

TEST(ScreenTable, GrowsKeepingHandlersAndRefusesUnknownIndices) {
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(NEWGAMESCREEN(), i);
  GAMESCREENS[0].ONSHOW += COUNT;
  GAMESCREENS[2].ONSHOW += COUNT;
  for (int32_t i = 3; i < 40; ++i) EXPECT_EQ(NEWGAMESCREEN(), i);
  for (int32_t i : {0, 2, 39}) GAMESCREENS[i].ONSHOW.RAISE();
  EXPECT_TRUE(raised == 2 && SCREENCOUNT == 40 && ACTIVEGAMESCREEN == -1);
  EXPECT_EXIT(GAMESCREENS[40], ExitedWithCode(1), "runtime error 1 \\(illegal function call\\)");
  EXPECT_EXIT(GAMESCREENS[-1], ExitedWithCode(1), "runtime error 1 \\(illegal function call\\)");
}

TEST(Growth, FailedGrowthOfAnEngineListEndsWithOutOfMemory) {
  // The one line of the report, line number included (a predicate: Windows' death tests have
  // only a simple regular expression language).
  const testing::Matcher<const std::string&> report = testing::Truly([](const std::string& s) {
    const std::string head = "Aborting due to runtime error 4 (out of memory) at line ",
                      tail = " of engine\n";
    return s.size() > head.size() + tail.size() && s.starts_with(head) && s.ends_with(tail) &&
           s.find_first_not_of("0123456789", head.size()) == s.size() - tail.size();
  });
  EXPECT_EXIT(
      {
        FAILNEXTRESIZE(1);  // ten rectangles fit, the eleventh needs more
        for (int i = 0; i < 11; ++i) DIRTYREGIONS.ADD(MATH::RECT{});
      },
      ExitedWithCode(4), report);
  EXPECT_EXIT(
      {
        RESOLUTIONLIST list;
        FAILNEXTRESIZE(2);
        for (int i = 0; i < 3; ++i) list.ADD(1, 1);
      },
      ExitedWithCode(4), report);
  for (int32_t skip : {0, 1}) {  // the table, then the record
    EXPECT_EXIT(
        {
          FAILNEXTRESIZE(skip);
          NEWGAMESCREEN();
        },
        ExitedWithCode(4), report);
  }
}
