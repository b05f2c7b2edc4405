// Boxes moving against solid tiles: a table of hostile moves, random moves against a model that
// looks at every solid part of the map, and solids gathered from the hand-written map.
#include "kastrel/world/tilecollision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "kastrel/base/error.h"

using namespace KASTREL;
using namespace KASTREL::WORLD;

namespace {

// '#' solid, '=' one-way, '.' empty; 16 x 16 tiles.
TILECOLLIDER grid(const std::vector<std::string>& rows) {
  TILECOLLIDER t;
  t.TILEWIDTH = t.TILEHEIGHT = 16;
  for (int y = 0; y < int(rows.size()); ++y)
    for (int x = 0; x < int(rows[size_t(y)].size()); ++x)
      if (rows[size_t(y)][size_t(x)] != '.') t.SETSOLID(x, y, rows[size_t(y)][size_t(x)] == '=');
  return t;
}

// One axis of the move, looking at every part: the nearest edge ahead that the box's span meets.
MOVED model(const TILECOLLIDER& t, MATH::RECTF box, float dx, float dy) {
  MOVED m{box.X, box.Y, 0};
  for (int axis = 0; axis < 2; ++axis) {
    const double d = axis ? dy : dx;
    if (d == 0) continue;
    const double lo = axis ? m.Y : m.X, size = axis ? box.H : box.W;
    const double across0 = axis ? m.X : m.Y, across1 = across0 + (axis ? box.W : box.H);
    double best = lo + d;
    bool hit = false;
    for (int cy = -2; cy < 16; ++cy)  // every cell the grids above can hold, and a rim
      for (int cx = -2; cx < 16; ++cx)
        for (const SOLIDBOX& s : t.PARTS(cx, cy)) {
          const double ox = cx * 16.0, oy = cy * 16.0;
          const double near0 = axis ? oy + s.Y0 : ox + s.X0, near1 = axis ? oy + s.Y1 : ox + s.X1;
          const double side0 = axis ? ox + s.X0 : oy + s.Y0, side1 = axis ? ox + s.X1 : oy + s.Y1;
          if (!(side0 < across1 && side1 > across0) || (s.ONEWAY && !(axis && d > 0))) continue;
          if (d > 0 && near0 >= lo + size && near0 <= best + size) best = near0 - size, hit = true;
          if (d < 0 && near1 <= lo && near1 >= best) best = near1, hit = true;
        }
    (axis ? m.Y : m.X) = float(best);
    if (hit)
      m.TOUCHED |= axis ? (d > 0 ? TOUCHBOTTOM : TOUCHTOP) : (d > 0 ? TOUCHRIGHT : TOUCHLEFT);
  }
  return m;
}

}  // namespace

TEST(TileCollision, HostileMovesStopWhereTheyMust) {
  const TILECOLLIDER t = grid({
      "..........",  // 0
      "..........",  // 1
      "......#...",  // 2: a block at x 96..112, y 32..48
      ".........#",  // 3
      "...===...#",  // 4: a one-way platform at x 48..96, top at y 64
      ".........#",  // 5
      "....#....#",  // 6: a one-tile wall at x 64..80
      "##########",  // 7: ground, top at y 112
  });
  const struct {
    MATH::RECTF box;
    float dx, dy;
    float x, y;
    int32_t touched;
  } cases[] = {
      {{10, -500, 8, 8}, 0, 1e6f, 10, 104, TOUCHBOTTOM},     // far faster than a tile a pass
      {{0, 100, 8, 8}, 1e7f, 0, 56, 100, TOUCHRIGHT},        // into the one-tile wall
      {{120, 100, 8, 8}, -1e7f, 0, 80, 100, TOUCHLEFT},      // and from the other side
      {{0, 104, 8, 8}, 50, 1, 50, 104, TOUCHBOTTOM},         // along the ground over its seams
      {{82, 104, 8, 8}, 60, 0, 136, 104, TOUCHRIGHT},        // to the wall at the right edge
      {{52, 90, 8, 8}, 0, -40, 52, 50, 0},                   // up through the one-way platform
      {{52, 40, 8, 8}, 0, 100, 52, 56, TOUCHBOTTOM},         // down onto it from above
      {{52, 58, 8, 8}, 0, 20, 52, 78, 0},                    // bottom below its top: falls through
      {{52, 56, 8, 8}, 0, 1, 52, 56, TOUCHBOTTOM},           // resting on it exactly
      {{30, 58, 8, 8}, 40, 0, 70, 58, 0},                    // sideways through it
      {{80, 16, 8, 8}, 16, 16, 96, 24, TOUCHBOTTOM},         // at a block's corner: lands on it
      {{100, 60, 8, 8}, 0, -100, 100, 48, TOUCHTOP},         // a ceiling
      {{88, 30, 8, 8}, 30, 0, 88, 30, TOUCHRIGHT},           // flush against a wall, pushing
      {{112, 32, 8, 8}, 0, -5, 112, 27, 0},                  // sliding along a wall's edge
      {{88, 24, 8, 8}, 30, 0, 118, 24, 0},                   // over a block's top edge
      {{20, 20, 40, 40}, 0, 1000, 20, 24, TOUCHBOTTOM},      // larger than a tile: the platform
      {{82, 70, 40, 30}, -100, 0, 80, 70, TOUCHLEFT},        // larger than a tile: the wall
      {{66, 98, 4, 4}, 3, 3, 69, 101, 0},                    // inside a wall: may leave
      {{-1e30f, 100, 8, 8}, 2e30f, 0, 56, 100, TOUCHRIGHT},  // from far outside the map
  };
  for (const auto& c : cases) {
    const MOVED m = t.MOVEBOX(c.box, c.dx, c.dy);
    EXPECT_EQ(m.X, c.x) << c.box.X << "," << c.box.Y << " by " << c.dx << "," << c.dy;
    EXPECT_EQ(m.Y, c.y) << c.box.X << "," << c.box.Y << " by " << c.dx << "," << c.dy;
    EXPECT_EQ(m.TOUCHED, c.touched) << c.box.X << "," << c.box.Y << " by " << c.dx << "," << c.dy;
    const MOVED e = model(t, c.box, c.dx, c.dy);
    EXPECT_EQ(e.X, m.X);
    EXPECT_EQ(e.Y, m.Y);
  }
  CLEARLASTERROR();
  EXPECT_EQ(t.MOVEBOX({1, 2, 3, 4}, NAN, 0).X, 1);
  EXPECT_NE(std::string(LASTERROR()).find("MOVEBOX"), std::string::npos);
  EXPECT_EQ(t.MOVEBOX({1, 2, -3, 4}, 1, 0).TOUCHED, 0);
  // Finite input whose answer would not be a float is refused the same way, in either axis.
  for (const auto& [box, dx, dy] : {std::tuple{MATH::RECTF{3e38f, 0, 1, 1}, 3e38f, 0.f},
                                    std::tuple{MATH::RECTF{0, -3e38f, 1, 1}, 0.f, -1e38f}}) {
    CLEARLASTERROR();
    const MOVED m = t.MOVEBOX(box, dx, dy);
    EXPECT_TRUE(m.X == box.X && m.Y == box.Y && m.TOUCHED == 0) << m.X << " " << m.Y;
    EXPECT_NE(std::string(LASTERROR()).find("MOVEBOX"), std::string::npos);
  }
  EXPECT_EQ(t.MOVEBOX({3e38f, 0, 1, 1}, 1e37f, 0).X,
            float(double(3e38f) + 1e37f));  // near the edge, still a float
}

TEST(TileCollision, RandomMovesMatchTheModel) {
  std::mt19937 rng(4);
  for (int round = 0; round < 60; ++round) {
    std::vector<std::string> rows(8, std::string(12, '.'));
    for (auto& r : rows)
      for (char& c : r) c = "..#.=."[rng() % 6];
    const TILECOLLIDER t = grid(rows);
    for (int i = 0; i < 200; ++i) {
      // Eighths keep every sum exact, so the model needs no rounding rule.
      const MATH::RECTF box{float(rng() % 1600) / 8 - 20, float(rng() % 1100) / 8 - 10,
                            float(1 + rng() % 320) / 8, float(1 + rng() % 320) / 8};
      if (t.SOLIDAT(box)) continue;  // start somewhere free
      const float dx = rng() % 3 ? float(int(rng() % 3201) - 1600) / 8 : 0;
      const float dy = rng() % 3 ? float(int(rng() % 3201) - 1600) / 8 : 0;
      const MOVED got = t.MOVEBOX(box, dx, dy), want = model(t, box, dx, dy);
      ASSERT_EQ(got.X, want.X) << round << ":" << i;
      ASSERT_EQ(got.Y, want.Y) << round << ":" << i;
      ASSERT_EQ(got.TOUCHED, want.TOUCHED) << round << ":" << i;
    }
  }
}

TEST(TileCollision, SolidsComeFromPropertiesAndShapes) {
  TILEMAP map;
  ASSERT_TRUE(map.LOADFROMFILE(KASTREL_SOURCE_DIR "/kastrel/world/testing/maps/level.tmx", false))
      << LASTERROR();
  const TILECOLLIDER t(map, {"ground"});
  const auto boxes = [&](int x, int y) { return t.PARTS(x, y); };
  EXPECT_TRUE(boxes(0, 0).empty());
  EXPECT_EQ(boxes(0, 4).size(), 1u);      // tile 1 ("solid", and the layer "collides")
  EXPECT_EQ(boxes(7, 4).at(0).Y0, 8);     // tile 2's shape: the lower half
  EXPECT_EQ(boxes(1, 3).at(0).Y1, 8);     // the same flipped top to bottom
  EXPECT_EQ(boxes(2, 3).at(0).X0, 8);     // ... and diagonally: the right half
  EXPECT_TRUE(boxes(5, 1).at(0).ONEWAY);  // tile 3 is "oneway"
  EXPECT_EQ(boxes(9, 0).size(), 1u);      // the layer's property makes the rest solid
  // A box falling on the half-height tile lands on its shape.
  EXPECT_EQ(t.MOVEBOX({113, 40, 6, 6}, 0, 100).Y, 64 + 8 - 6);
  // SETSOLID puts one whole part in place of a cell's shapes, leaving its neighbours as they were.
  TILECOLLIDER changed = t;
  changed.SETSOLID(7, 4, true);
  EXPECT_TRUE(changed.PARTS(7, 4).size() == 1 && changed.PARTS(7, 4)[0].Y0 == 0 &&
              changed.PARTS(7, 4)[0].ONEWAY);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x)
      EXPECT_EQ(changed.PARTS(x, y).size(), x == 7 && y == 4 ? 1 : t.PARTS(x, y).size());

  // A polygon's or polyline's box is its points' box: the object's (x, y) only places them.
  TILEMAP shaped;
  shaped.TILEWIDTH = shaped.TILEHEIGHT = 16;
  TILESET ts;
  ts.TILEWIDTH = ts.TILEHEIGHT = 16;
  for (const OBJECTSHAPE shape : {SHAPEPOLYGON, SHAPEPOLYLINE}) {
    TILEINFO info;
    info.ID = int32_t(ts.TILES.size());
    MAPOBJECT o;
    o.SHAPE = shape, o.X = 2, o.Y = 2, o.POINTS = {{4, 4}, {10, 4}, {10, 9}};
    info.SHAPES.push_back(o);
    ts.TILES.push_back(info);
  }
  shaped.TILESETS.push_back(ts);
  LAYER row;
  row.WIDTH = 2, row.HEIGHT = 1, row.CELLS = {1, 2};
  shaped.LAYERS.push_back(row);
  const TILECOLLIDER p(shaped);
  for (const float left : {0.f, 16.f}) {
    EXPECT_FALSE(p.SOLIDAT({left + 2, 2, 3, 3})) << left;  // the object's corner: no point there
    EXPECT_TRUE(p.SOLIDAT({left + 11, 10, 0.5f, 0.5f})) << left;
    EXPECT_EQ(p.MOVEBOX({left + 1, -10, 4, 1}, 0, 30).Y, 20) << left;  // left of the points
    EXPECT_EQ(p.MOVEBOX({left + 7, -10, 1, 1}, 0, 30).Y, 5) << left;   // onto their top, y 6
  }
}
