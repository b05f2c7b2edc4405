// The camera and tile drawing against a reference model of the drawing rule, zoom and position
// sweeps against a zoom-1 picture of the map, and a turned camera against the unturned one.
#include "kastrel/world/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "kastrel/base/error.h"
#include "kastrel/device/display.h"
#include "kastrel/device/driver.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/testing/pixel_model.h"

using namespace KASTREL;
using namespace KASTREL::WORLD;

namespace {

// Pictures need an open screen; the null driver shows nothing.
void open_screen() { vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0); }

// A map of one tile layer over two tilesets of random pixels (some clear, some half).
TILEMAP random_map(std::mt19937& rng, int tw, int th, int w, int h, bool flips, bool opaque) {
  TILEMAP map;
  map.TILEWIDTH = tw, map.TILEHEIGHT = th, map.WIDTH = w, map.HEIGHT = h;
  uint32_t first = 1;
  for (int t = 0; t < 2; ++t) {
    TILESET ts;
    ts.FIRSTGID = first;
    ts.TILEWIDTH = tw, ts.TILEHEIGHT = th;
    ts.MARGIN = int(rng() % 3), ts.SPACING = int(rng() % 3), ts.COLUMNS = 3, ts.TILECOUNT = 6;
    ts.IMAGEPATH = "made";
    const int iw = 2 * ts.MARGIN + 3 * tw + 2 * ts.SPACING,
              ih = 2 * ts.MARGIN + 2 * th + ts.SPACING;
    ts.IMAGE.HANDLE(pixel_model::make_image(iw, ih, 4, 0).release());
    for (int y = 0; y < ih; ++y)
      for (int x = 0; x < iw; ++x) {
        uint32_t p = rng();
        if (opaque)
          p |= 0xFF000000u;
        else if (p % 5 == 0)
          p &= 0xFFFFFF;
        ts.IMAGE.PIXEL({x, y}, p);
      }
    first += 6;
    map.TILESETS.push_back(std::move(ts));
  }
  LAYER layer;
  layer.WIDTH = w, layer.HEIGHT = h;
  for (int i = 0; i < w * h; ++i) {
    uint32_t gid = rng() % 14;  // 0 and 13 leave cells empty
    if (gid == 13) gid = 0;
    if (gid && flips) gid |= rng() & (tw == th ? 0xE0000000u : 0xC0000000u);
    layer.CELLS.push_back(gid);
  }
  map.LAYERS.push_back(std::move(layer));
  return map;
}

// The drawing rule, pixel by pixel: the world pixel under each view pixel's centre, its tile,
// the tile's mirrors, the tint, and the blend.
void model_layer(pixel_model::Picture out, const TILEMAP& map, const CAMERA& cam) {
  const LAYER& l = map.LAYERS[0];
  const double z = cam.ZOOM;
  const int64_t vw = cam.VIEW.W + 1, vh = cam.VIEW.H + 1;
  const int64_t sx = int64_t(std::floor(double(cam.X) * z)) - vw / 2 -
                     int64_t(std::floor((l.OFFSETX + double(cam.X) * (1 - l.PARALLAXX)) * z));
  const int64_t sy = int64_t(std::floor(double(cam.Y) * z)) - vh / 2 -
                     int64_t(std::floor((l.OFFSETY + double(cam.Y) * (1 - l.PARALLAXY)) * z));
  const uint32_t tint = (l.TINT & 0xFFFFFF) | uint32_t(std::lround(255 * double(l.OPACITY))) << 24;
  for (int py = std::max(0, cam.VIEW.Y); py < std::min<int64_t>(out.height, cam.VIEW.Y + vh); ++py)
    for (int px = std::max(0, cam.VIEW.X); px < std::min<int64_t>(out.width, cam.VIEW.X + vw);
         ++px) {
      const int64_t wx = int64_t(std::floor((px - cam.VIEW.X + 0.5 + double(sx)) / z));
      const int64_t wy = int64_t(std::floor((py - cam.VIEW.Y + 0.5 + double(sy)) / z));
      const int64_t cx = wx >= 0 ? wx / map.TILEWIDTH : -1, cy = wy >= 0 ? wy / map.TILEHEIGHT : -1;
      if (cx < 0 || cy < 0 || cx >= l.WIDTH || cy >= l.HEIGHT) continue;
      const uint32_t gid = l.CELLS[size_t(cy * l.WIDTH + cx)];
      if (gid == 0) continue;
      const TILESET& ts = map.TILESETS[(gid & 0xFFFFFFF) > 6];
      const int id = int((gid & 0xFFFFFFF) - ts.FIRSTGID);
      int64_t u = wx % map.TILEWIDTH, v = wy % map.TILEHEIGHT;
      if (gid & 0x80000000u) u = map.TILEWIDTH - 1 - u;
      if (gid & 0x40000000u) v = map.TILEHEIGHT - 1 - v;
      if (gid & 0x20000000u) std::swap(u, v);
      const int sxp = ts.MARGIN + (id % 3) * (ts.TILEWIDTH + ts.SPACING) + int(u);
      const int syp = ts.MARGIN + (id / 3) * (ts.TILEHEIGHT + ts.SPACING) + int(v);
      uint32_t s = ts.IMAGE.PIXEL({sxp, syp}), t = 0;
      for (int c = 0; c < 32; c += 8) t |= ((s >> c & 255) * ((tint >> c & 255) + 1) >> 8) << c;
      out.set(
          px, py,
          *pixel_model::model_pixel(4, PUT_ALPHA, false, t, out.get(px, py), -1, nullptr, nullptr));
    }
}

bool same(void* a, void* b) {
  const auto pa = pixel_model::picture_of(a), pb = pixel_model::picture_of(b);
  for (int y = 0; y < pa.height; ++y)
    for (int x = 0; x < pa.width; ++x)
      if (pa.get(x, y) != pb.get(x, y)) {
        ADD_FAILURE() << "first difference at (" << x << ", " << y << "): " << std::hex
                      << pa.get(x, y) << " vs " << pb.get(x, y);
        return false;
      }
  return true;
}

}  // namespace

TEST(Camera, RandomCamerasAndMapsDrawAsTheModel) {
  open_screen();
  std::mt19937 rng(38);
  const float zooms[] = {1, 2, 3, 0.5f, 1.5f, 1.25f, 0.75f, 2.6f};
  for (int round = 0; round < 120 * (vox_hRowPathBest() + 1); ++round) {
    vox_hRowPathForce(round / 120);  // every loop set
    const int tw = 4 + int(rng() % 13), th = round % 3 ? tw : 3 + int(rng() % 14);
    TILEMAP map =
        random_map(rng, tw, th, 3 + int(rng() % 12), 3 + int(rng() % 12), round % 5 != 0, false);
    LAYER& l = map.LAYERS[0];
    if (round % 2) l.OPACITY = float(rng() % 256) / 255, l.TINT = rng() | 0xFF000000u;
    if (round % 4 == 1)
      l.OFFSETX = int(rng() % 9) - 4, l.OFFSETY = int(rng() % 9) - 4, l.PARALLAXX = 0.5;
    CAMERA cam;
    cam.VIEW = {int(rng() % 40) - 10, int(rng() % 40) - 10, int(rng() % 90), int(rng() % 70)};
    cam.ZOOM = zooms[round % 8];
    cam.X = float(rng() % 4000) / 20 - 40, cam.Y = float(rng() % 4000) / 20 - 40;
    auto got = pixel_model::make_image(80, 64, 4, 0x80402010),
         want = pixel_model::make_image(80, 64, 4, 0x80402010);
    ASSERT_TRUE(DRAWLAYER(got.get(), map, 0, cam)) << LASTERROR();
    model_layer(pixel_model::picture_of(want.get()), map, cam);
    ASSERT_TRUE(same(got.get(), want.get())) << "round " << round << " zoom " << cam.ZOOM;
  }
  vox_hRowPathForce(vox_hRowPathBest());
  // A view wider than the tables kept on the stack, over more cells than they hold; views one
  // pixel wide, zoomed.
  TILEMAP wide = random_map(rng, 4, 4, 1200, 2, false, false);
  const std::tuple<MATH::RECT, float, float> views[] = {
      {{0, 0, 2099, 1}, 0.5f, 2400}, {{3, 0, 0, 1}, 2, 40}, {{5, 0, 0, 1}, 3, 41.5f}};
  for (const auto& [view, zoom, x] : views) {
    CAMERA cam;
    cam.VIEW = view, cam.ZOOM = zoom, cam.X = x, cam.Y = 4.5f;
    auto got = pixel_model::make_image(2100, 2, 4, 0x80402010),
         want = pixel_model::make_image(2100, 2, 4, 0x80402010);
    ASSERT_TRUE(DRAWLAYER(got.get(), wide, 0, cam)) << LASTERROR();
    model_layer(pixel_model::picture_of(want.get()), wide, cam);
    EXPECT_TRUE(same(got.get(), want.get())) << "zoom " << zoom;
  }
}

TEST(Camera, ZoomAndPositionSweepsShowNoSeams) {
  open_screen();
  std::mt19937 rng(7);
  TILEMAP map = random_map(rng, 16, 16, 12, 9, true, true);
  // The whole map at zoom 1, then every zoom and position against it.
  auto whole = pixel_model::make_image(192, 144, 4, 0);
  CAMERA full(192, 144);
  full.X = 96, full.Y = 72;
  ASSERT_TRUE(DRAWLAYER(whole.get(), map, 0, full, 0, GRAPHICS::VOXPSET));
  const auto w = pixel_model::picture_of(whole.get());
  const MATH::RECT frame = map.TILESETS[1].SOURCERECT(4);
  const GRAPHICS::SPRITESHEET sheet(map.TILESETS[1].IMAGE, std::vector<MATH::RECT>{frame});
  for (float zoom : {1.0f, 2.0f, 3.0f, 4.0f, 1.5f, 1.25f, 0.75f})
    for (float x = 20; x < 60; x += 2.37f) {
      CAMERA cam(61, 47);
      cam.ZOOM = zoom, cam.X = x, cam.Y = x * 0.7f;
      auto out = pixel_model::make_image(61, 47, 4, 0x00ABCDEF);
      ASSERT_TRUE(DRAWLAYER(out.get(), map, 0, cam, 0, GRAPHICS::VOXPSET));
      // A sprite-sheet frame at a world point lines up with the tiles under the same rule.
      ASSERT_TRUE(cam.DRAW(out.get(), sheet, 0, 37, 29, GRAPHICS::VOXPSET)) << LASTERROR();
      ASSERT_TRUE(cam.DRAW(out.get(), sheet, 0, -999, 29, GRAPHICS::VOXPSET));  // out of view
      const auto o = pixel_model::picture_of(out.get());
      const int64_t sx = cam.SCROLLX(), sy = cam.SCROLLY();
      for (int py = 0; py < 47; ++py)
        for (int px = 0; px < 61; ++px) {
          const MATH::POINTF at = cam.TOWORLD(px + 0.5f, py + 0.5f);  // where a click lands
          const int64_t wx = int64_t(std::floor((px + 0.5 + double(sx)) / zoom));
          const int64_t wy = int64_t(std::floor((py + 0.5 + double(sy)) / zoom));
          ASSERT_EQ(int64_t(std::floor(at.X)), wx);
          ASSERT_EQ(int64_t(std::floor(at.Y)), wy);
          const bool inside = wx >= 0 && wy >= 0 && wx < 192 && wy < 144;
          uint32_t drawn = inside ? w.get(int(wx), int(wy)) : 0;  // 0: no tile there
          if (wx >= 37 && wx < 53 && wy >= 29 && wy < 45)
            drawn = sheet.IMAGE.PIXEL({frame.X + int(wx - 37), frame.Y + int(wy - 29)});
          ASSERT_EQ(o.get(px, py), drawn ? drawn : 0x00ABCDEFu)
              << "zoom " << zoom << " x " << x << " at " << px << "," << py;
        }
    }
}

TEST(Camera, TurnedCameraTurnsThePicture) {
  open_screen();
  std::mt19937 rng(3);
  TILEMAP map = random_map(rng, 8, 8, 10, 10, true, true);
  CAMERA cam(40, 40);
  cam.X = 41, cam.Y = 37;
  auto straight = pixel_model::make_image(40, 40, 4, 0);
  ASSERT_TRUE(DRAWLAYER(straight.get(), map, 0, cam, 0, GRAPHICS::VOXPSET));
  const auto s = pixel_model::picture_of(straight.get());
  for (float angle : {90.0f, 180.0f, -90.0f}) {
    cam.ANGLE = angle;
    auto turned = pixel_model::make_image(40, 40, 4, 0);
    ASSERT_TRUE(DRAWLAYER(turned.get(), map, 0, cam, 0, GRAPHICS::VOXPSET)) << LASTERROR();
    const auto t = pixel_model::picture_of(turned.get());
    // Offset (a, b) from the centre shows, turned a quarter anticlockwise, at (b, -1 - a).
    for (int b = -20; b < 20; ++b)
      for (int a = -20; a < 20; ++a) {
        int x = a, y = b;
        for (int q = 0; q < (angle == 180 ? 2 : angle == 90 ? 1 : 3); ++q)
          std::tie(x, y) = std::pair(y, -1 - x);
        ASSERT_EQ(t.get(20 + x, 20 + y), s.get(20 + a, 20 + b)) << angle << ": " << a << "," << b;
      }
    EXPECT_TRUE(DRAWLAYER(nullptr, map, 0, cam)) << LASTERROR();  // the screen takes it too
    const MATH::POINTF v = cam.TOVIEW(13.25f, 50.5f), back = cam.TOWORLD(v.X, v.Y);
    EXPECT_NEAR(back.X, 13.25f, 1e-3);
    EXPECT_NEAR(back.Y, 50.5f, 1e-3);
  }
}

TEST(Camera, MirroredTintedSpritesDrawAsTheTransformedDrawing) {
  open_screen();
  std::mt19937 rng(5);
  const TILEMAP map = random_map(rng, 8, 8, 2, 2, false, false);
  const GRAPHICS::BITMAP& sprite = map.TILESETS[0].IMAGE;
  GRAPHICS::TRANSFORM T;
  T.PIVOTX = 3, T.PIVOTY = 2, T.TINT = 0x80C0FFFF;
  T.SOURCE = {1, 1, 9, 6};
  for (float zoom : {1.0f, 2.0f, 0.5f}) {  // whole and halving zooms: the transform is exact
    // Below zoom 1 a pixel centre can fall on the region's edge; mirrored, the transformed
    // drawing keeps the other edge of such a tie, so mirrors are compared at the other zooms.
    T.FLIP = zoom < 1 ? GRAPHICS::FLIPNONE : GRAPHICS::FLIPH | GRAPHICS::FLIPV;
    CAMERA cam(40, 30);
    cam.X = 17, cam.Y = 13, cam.ZOOM = zoom;
    auto ours = pixel_model::make_image(40, 30, 4, 0x40302010),
         theirs = pixel_model::make_image(40, 30, 4, 0x40302010);
    ASSERT_TRUE(cam.DRAWTRANSFORMED(ours.get(), sprite, 21, 16, T));
    GRAPHICS::TRANSFORM scaled = T;
    scaled.SCALEX = scaled.SCALEY = zoom;
    const MATH::POINTF at = cam.TOVIEW(21, 16);
    ASSERT_TRUE(sprite.DRAWTRANSFORMED(theirs.get(), at.X, at.Y, scaled));
    ASSERT_TRUE(same(ours.get(), theirs.get())) << "zoom " << zoom;
  }
}

TEST(Camera, FollowsWithDeadZoneAndKeepsToTheWorld) {
  CAMERA cam(100, 80);
  cam.X = 500, cam.Y = 300;
  cam.DEADZONEW = 40, cam.DEADZONEH = 20;
  cam.FOLLOW(515, 305, 0.1f);  // inside the dead zone
  EXPECT_EQ(cam.X, 500);
  EXPECT_EQ(cam.Y, 300);
  cam.FOLLOW(530, 280, 0.1f);  // 10 right of and 10 above the zone's edges
  EXPECT_EQ(cam.X, 510);
  EXPECT_EQ(cam.Y, 290);
  cam.LAG = 0.5f;
  cam.FOLLOW(630, 290, 0.5f);  // closes 1 - 1/e of the way in one lag
  EXPECT_NEAR(cam.X, 510 + 100 * (1 - std::exp(-1.0)), 1e-3);
  cam.BOUNDS = {0, 0, 560, 1000};
  cam.ZOOM = 2;
  cam.FOLLOW(5000, -50, 1000);
  EXPECT_EQ(cam.X, 560 - 25);
  EXPECT_EQ(cam.Y, 20);
  EXPECT_EQ(cam.VISIBLE().X + cam.VISIBLE().W, 560);
  cam.BOUNDS = {0, 0, 30, 1000};  // narrower than the view: centred
  cam.CLAMP();
  EXPECT_EQ(cam.X, 15);
  // Culling: a box just left of the view is out, one overlapping it is in.
  cam.X = 100, cam.Y = 100, cam.ZOOM = 1, cam.BOUNDS = {0, 0, -1, -1};
  EXPECT_FALSE(cam.INVIEW({40, 90, 9.9f, 5}));
  EXPECT_TRUE(cam.INVIEW({40, 90, 10.5f, 5}));
  TILEMAP iso;
  iso.MAPORIENTATION = ISOMETRIC;
  EXPECT_FALSE(DRAWMAP(nullptr, iso, cam));
  EXPECT_NE(std::string(LASTERROR()).find("orthogonal"), std::string::npos);
  // A map's background fills its view as it is, whatever was there, and nothing else.
  open_screen();
  TILEMAP empty;
  empty.TILEWIDTH = empty.TILEHEIGHT = 8;
  for (const uint32_t back : {0xFF808080u, 0x40102030u}) {
    empty.BACKGROUND = back;
    auto out = pixel_model::make_image(6, 5, 4, 0xFF000000u);
    ASSERT_TRUE(DRAWMAP(out.get(), empty, CAMERA(4, 3))) << LASTERROR();
    const auto pic = pixel_model::picture_of(out.get());
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x)
        ASSERT_EQ(pic.get(x, y), x < 4 && y < 3 ? back : 0xFF000000u) << x << "," << y;
  }
}
