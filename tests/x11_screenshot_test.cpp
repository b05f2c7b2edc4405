// kastrel_x11_screenshot against a real X server: a private Xvfb at several depths, windows
// with known contents drawn by this test, the tool's PNG read back with libpng.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "tests/testing/png_read.h"
#include "kastrel/base/testing/process.h"
#include "kastrel/device/testing/x_desktop.h"

// After the test framework: Xlib defines macros (None, Bool) that clash with its names.
#include <X11/Xlib.h>

namespace {

using kastrel_testing::RgbaImage;
using Rgb = std::array<int, 3>;

// A private server and a connection that draws the scene: the root in one colour and windows
// whose backgrounds are pixmaps, so the server itself paints them whenever they show.
class Scene {
 public:
  explicit Scene(const std::string& geometry)
      : xvfb_(geometry), dpy_(xvfb_.ok() ? XOpenDisplay(xvfb_.display().c_str()) : nullptr) {}
  ~Scene() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  bool ok() const { return dpy_ != nullptr; }

  // Allocates the colour nearest to `want`; `shown` is what the server really makes of it at
  // this depth, which is what a screenshot must show.
  unsigned long colour(Rgb want, Rgb* shown) {
    XColor c{};
    c.red = static_cast<unsigned short>(want[0] * 257);
    c.green = static_cast<unsigned short>(want[1] * 257);
    c.blue = static_cast<unsigned short>(want[2] * 257);
    const Colormap map = DefaultColormap(dpy_, DefaultScreen(dpy_));
    EXPECT_NE(XAllocColor(dpy_, map, &c), 0);
    XQueryColor(dpy_, map, &c);
    *shown = {c.red >> 8, c.green >> 8, c.blue >> 8};
    return c.pixel;
  }

  void paint_root(unsigned long pixel) {
    XSetWindowBackground(dpy_, DefaultRootWindow(dpy_), pixel);
    XClearWindow(dpy_, DefaultRootWindow(dpy_));
    XSync(dpy_, False);
  }

  struct Fill {
    int x, y, w, h;
    unsigned long pixel;
  };

  // A window at (x, y) of w x h whose picture is the fills in order, with the classic title or
  // only the UTF-8 one that current toolkits set.
  Window window(int x, int y, int w, int h, const std::vector<Fill>& fills, const char* title,
                bool utf8 = false, bool map = true) {
    const int screen = DefaultScreen(dpy_);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    const Window win =
        XCreateWindow(dpy_, RootWindow(dpy_, screen), x, y, unsigned(w), unsigned(h), 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
    const Pixmap pix =
        XCreatePixmap(dpy_, win, unsigned(w), unsigned(h), unsigned(DefaultDepth(dpy_, screen)));
    const GC gc = XCreateGC(dpy_, pix, 0, nullptr);
    for (const Fill& f : fills) {
      XSetForeground(dpy_, gc, f.pixel);
      XFillRectangle(dpy_, pix, gc, f.x, f.y, unsigned(f.w), unsigned(f.h));
    }
    XSetWindowBackgroundPixmap(dpy_, win, pix);
    XFreeGC(dpy_, gc);
    XFreePixmap(dpy_, pix);
    if (!utf8) XStoreName(dpy_, win, title);
    if (utf8) {
      XChangeProperty(dpy_, win, XInternAtom(dpy_, "_NET_WM_NAME", False),
                      XInternAtom(dpy_, "UTF8_STRING", False), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
    }
    if (map) XMapRaised(dpy_, win);
    XSync(dpy_, False);
    return win;
  }

  // Runs the tool against this server with `args` and an output file. On success reads its
  // picture back; on failure checks that it said why and left no file.
  RgbaImage shoot(std::vector<std::string> args, int status = 0) {
    const std::string out = dir_.file("shot" + std::to_string(++shots_) + ".png");
    args.insert(args.begin(), KASTREL_X11_SCREENSHOT);
    args.push_back(out);
    const auto r = kastrel_testing::run(args, {{"DISPLAY", xvfb_.display()}});
    EXPECT_EQ(r.exit_status, status) << r.errors;
    RgbaImage img;
    std::string error;
    if (status == 0) {
      EXPECT_TRUE(kastrel_testing::read_png(out, &img, &error)) << error;
    } else {
      EXPECT_FALSE(std::filesystem::exists(out) || r.errors.empty()) << r.errors;
    }
    return img;
  }

 private:
  x_desktop::Server xvfb_;
  Display* dpy_;
  kastrel_testing::TempDir dir_;
  int shots_ = 0;
};

::testing::AssertionResult pixel_is(const RgbaImage& img, int x, int y, Rgb want) {
  if (x < 0 || y < 0 || std::uint32_t(x) >= img.width || std::uint32_t(y) >= img.height) {
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") outside the picture";
  }
  const std::uint8_t* p = img.at(std::uint32_t(x), std::uint32_t(y));
  // The server and the tool may round a 5- or 6-bit channel to 8 bits a step apart.
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::abs(p[i] - want[i]) > 2 || p[3] != 255) {
      return ::testing::AssertionFailure()
             << "(" << x << ", " << y << ") is " << int{p[0]} << "," << int{p[1]} << ","
             << int{p[2]} << "," << int{p[3]} << " instead of " << want[0] << "," << want[1] << ","
             << want[2];
    }
  }
  return ::testing::AssertionSuccess();
}

// Whether `part` is exactly the rectangle of `whole` at (x0, y0).
bool cut_from(const RgbaImage& part, const RgbaImage& whole, std::uint32_t x0, std::uint32_t y0) {
  if (part.width == 0 || x0 + part.width > whole.width || y0 + part.height > whole.height) {
    return false;
  }
  for (std::uint32_t y = 0; y < part.height; ++y) {
    if (std::memcmp(part.at(0, y), whole.at(x0, y0 + y), part.width * 4) != 0) return false;
  }
  return true;
}

class X11ScreenshotAtDepth : public ::testing::TestWithParam<int> {};

TEST_P(X11ScreenshotAtDepth, CapturesScreenWindowsAndRectangles) {
  Scene scene("320x240x" + std::to_string(GetParam()));
  ASSERT_TRUE(scene.ok());
  Rgb root, red, green, blue, white, yellow, cyan;
  scene.paint_root(scene.colour({0x30, 0x60, 0x90}, &root));
  const unsigned long r = scene.colour({255, 0, 0}, &red);
  const unsigned long g = scene.colour({0, 255, 0}, &green);
  const unsigned long b = scene.colour({0, 0, 255}, &blue);
  const unsigned long w = scene.colour({255, 255, 255}, &white);
  const unsigned long y = scene.colour({255, 255, 0}, &yellow);
  const unsigned long c = scene.colour({0, 255, 255}, &cyan);
  // Quadrants red, green / blue, white, with one-pixel markers in two corners.
  constexpr int kX = 40, kY = 30, kW = 120, kH = 90;
  const Window probe = scene.window(kX, kY, kW, kH,
                                    {{0, 0, kW / 2, kH / 2, r},
                                     {kW / 2, 0, kW / 2, kH / 2, g},
                                     {0, kH / 2, kW / 2, kH / 2, b},
                                     {kW / 2, kH / 2, kW / 2, kH / 2, w},
                                     {0, 0, 1, 1, y},
                                     {kW - 1, kH - 1, 1, 1, c}},
                                    "kastrel-probe");

  // The whole screen, in RGB.
  const RgbaImage all = scene.shoot({});
  EXPECT_EQ(all.colour_type, 2);
  ASSERT_EQ(all.width, 320u);
  ASSERT_EQ(all.height, 240u);
  const struct {
    int x, y;
    Rgb want;
  } expected[] = {{0, 0, root},
                  {319, 239, root},
                  {kX - 1, kY, root},
                  {kX, kY, yellow},
                  {kX + 1, kY + 1, red},
                  {kX + kW - 2, kY + 1, green},
                  {kX + 1, kY + kH - 2, blue},
                  {kX + kW / 2, kY + kH / 2, white},
                  {kX + kW - 1, kY + kH - 1, cyan},
                  {kX + kW, kY + kH, root}};
  for (const auto& e : expected) EXPECT_TRUE(pixel_is(all, e.x, e.y, e.want));

  // The window by name, and a rectangle of it by id: exactly their own pixels.
  const RgbaImage by_name = scene.shoot({"--name", "kastrel-probe"});
  EXPECT_EQ(by_name.width, unsigned(kW));
  EXPECT_TRUE(cut_from(by_name, all, kX, kY));
  const RgbaImage part = scene.shoot({"--window", std::to_string(probe), "--rect", "58,43,4,3"});
  EXPECT_EQ(part.width, 4u);
  EXPECT_TRUE(cut_from(part, all, kX + 58, kY + 43));

  // A window hanging over the top-left corner of the screen: only its visible part comes out,
  // found by its UTF-8 title alone.
  scene.window(-30, -20, 80, 60, {{0, 0, 80, 60, g}, {30, 20, 1, 1, y}, {79, 59, 1, 1, c}},
               "kastrel-hanging \xE2\x86\x96", true);
  const RgbaImage visible = scene.shoot({"--name", "kastrel-hanging \xE2\x86\x96"});
  EXPECT_EQ(visible.width, 50u);
  EXPECT_EQ(visible.height, 40u);
  EXPECT_TRUE(pixel_is(visible, 0, 0, yellow));
  EXPECT_TRUE(pixel_is(visible, 1, 1, green));
  EXPECT_TRUE(pixel_is(visible, 49, 39, cyan));
}

INSTANTIATE_TEST_SUITE_P(Depths, X11ScreenshotAtDepth, ::testing::Values(24, 16, 8),
                         [](const auto& p) { return "Depth" + std::to_string(p.param); });

// Targets it cannot take end with status 1, misuse with status 2; never a picture.
TEST(X11Screenshot, FailsCleanlyOnBadTargetsAndArguments) {
  Scene scene("200x100x24");
  ASSERT_TRUE(scene.ok());
  Rgb shown;
  const unsigned long pixel = scene.colour({10, 20, 30}, &shown);
  scene.window(10, 10, 20, 20, {{0, 0, 20, 20, pixel}}, "kastrel-hidden", false, false);
  const Window offscreen = scene.window(500, 500, 20, 20, {{0, 0, 20, 20, pixel}}, "off");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--name", "nobody has this title"}, 1},
      {{"--name", "kastrel-hidden"}, 1},
      {{"--window", std::to_string(offscreen)}, 1},
      {{"--window", "0x7ffffff0"}, 1},
      {{"--rect", "150,50,51,1"}, 1},
      {{"--rect", "9223372036854775807,0,1,1"}, 1},
      {{"--display", ":59999"}, 1},
      {{"--rect", "1,2,3"}, 2},
      {{"--rect", "1,2,0,4"}, 2},
      {{"--window", "zero"}, 2},
      {{"--bogus"}, 2},
      {{"one.png"}, 2},
  };
  for (const auto& [args, status] : cases) {
    SCOPED_TRACE(args.back());
    scene.shoot(args, status);
  }
}

}  // namespace
