// kastrel_x11_screenshot against a real X server: a private Xvfb at several depths, windows
// with known contents drawn by this test, the tool's PNG read back with libpng.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>

// After the test framework: Xlib defines macros (None, Bool) that clash with its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "tests/testing/png_read.h"
#include "tests/testing/process.h"
#include "tests/testing/xvfb.h"

namespace {

using kastrel_testing::RgbaImage;
using Rgb = std::array<int, 3>;

constexpr int kScreenW = 320;
constexpr int kScreenH = 240;

// A connection that draws the scene: the root in one colour and windows whose backgrounds are
// pixmaps, so the server itself paints them whenever they show.
class Scene {
 public:
  explicit Scene(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {}
  ~Scene() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  bool ok() const { return dpy_ != nullptr; }

  // Allocates the colour nearest to `want` and returns what the server says it really is,
  // which is what a screenshot must show at this depth.
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
    const Window root = DefaultRootWindow(dpy_);
    XSetWindowBackground(dpy_, root, pixel);
    XClearWindow(dpy_, root);
    XSync(dpy_, False);
  }

  struct Fill {
    int x, y, w, h;
    unsigned long pixel;
  };

  // Creates a window at (x, y) of w x h whose picture is the fills in order.
  Window window(int x, int y, int w, int h, const std::vector<Fill>& fills, bool map = true) {
    const int screen = DefaultScreen(dpy_);
    const Window root = RootWindow(dpy_, screen);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    const Window win =
        XCreateWindow(dpy_, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
    const Pixmap pix = XCreatePixmap(dpy_, win, static_cast<unsigned>(w), static_cast<unsigned>(h),
                                     static_cast<unsigned>(DefaultDepth(dpy_, screen)));
    const GC gc = XCreateGC(dpy_, pix, 0, nullptr);
    for (const Fill& f : fills) {
      XSetForeground(dpy_, gc, f.pixel);
      XFillRectangle(dpy_, pix, gc, f.x, f.y, static_cast<unsigned>(f.w),
                     static_cast<unsigned>(f.h));
    }
    XSetWindowBackgroundPixmap(dpy_, win, pix);
    XFreeGC(dpy_, gc);
    XFreePixmap(dpy_, pix);
    if (map) XMapRaised(dpy_, win);
    XSync(dpy_, False);
    return win;
  }

  void name_classic(Window w, const char* title) {
    XStoreName(dpy_, w, title);
    XSync(dpy_, False);
  }

  // Only the UTF-8 title that current toolkits set.
  void name_utf8(Window w, const char* title) {
    XChangeProperty(dpy_, w, XInternAtom(dpy_, "_NET_WM_NAME", False),
                    XInternAtom(dpy_, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title),
                    static_cast<int>(std::strlen(title)));
    XSync(dpy_, False);
  }

 private:
  Display* dpy_;
};

struct Shot {
  kastrel_testing::RunResult run;
  RgbaImage image;
  bool read = false;
};

Shot take(const kastrel_testing::Xvfb& x, const kastrel_testing::TempDir& dir,
          std::vector<std::string> args) {
  static int count = 0;
  const std::string out = dir.file("shot" + std::to_string(++count) + ".png");
  args.insert(args.begin(), KASTREL_X11_SCREENSHOT);
  args.push_back(out);
  Shot shot;
  shot.run = kastrel_testing::run(args, {{"DISPLAY", x.display()}});
  std::string error;
  if (shot.run.exit_status == 0) {
    shot.read = kastrel_testing::read_png(out, &shot.image, &error);
    EXPECT_TRUE(shot.read) << error;
  } else {
    EXPECT_FALSE(std::filesystem::exists(out)) << "a failed capture left " << out;
  }
  return shot;
}

::testing::AssertionResult pixel_is(const RgbaImage& img, std::uint32_t x, std::uint32_t y,
                                    Rgb want) {
  if (x >= img.width || y >= img.height) {
    return ::testing::AssertionFailure()
           << "(" << x << ", " << y << ") outside " << img.width << " x " << img.height;
  }
  const std::uint8_t* p = img.at(x, y);
  for (int i = 0; i < 3; ++i) {
    // The server and the tool may round a 5- or 6-bit channel to 8 bits a step apart.
    if (std::abs(p[i] - want[static_cast<std::size_t>(i)]) > 2 || p[3] != 255) {
      return ::testing::AssertionFailure()
             << "(" << x << ", " << y << ") is " << int{p[0]} << "," << int{p[1]} << ","
             << int{p[2]} << "," << int{p[3]} << " instead of " << want[0] << "," << want[1] << ","
             << want[2];
    }
  }
  return ::testing::AssertionSuccess();
}

class X11ScreenshotAtDepth : public ::testing::TestWithParam<int> {};

TEST_P(X11ScreenshotAtDepth, CapturesScreenWindowsAndRectangles) {
  kastrel_testing::Xvfb xvfb(std::to_string(kScreenW) + "x" + std::to_string(kScreenH) + "x" +
                             std::to_string(GetParam()));
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  Scene scene(xvfb.display());
  ASSERT_TRUE(scene.ok());
  kastrel_testing::TempDir dir;

  Rgb root_rgb, red, green, blue, white, yellow, cyan;
  scene.paint_root(scene.colour({0x30, 0x60, 0x90}, &root_rgb));
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
                                     {kW - 1, kH - 1, 1, 1, c}});
  scene.name_classic(probe, "kastrel-probe");

  // The whole screen.
  Shot all = take(xvfb, dir, {});
  ASSERT_EQ(all.run.exit_status, 0) << all.run.errors;
  ASSERT_TRUE(all.read);
  EXPECT_EQ(all.image.colour_type, 2);
  ASSERT_EQ(all.image.width, static_cast<std::uint32_t>(kScreenW));
  ASSERT_EQ(all.image.height, static_cast<std::uint32_t>(kScreenH));
  EXPECT_TRUE(pixel_is(all.image, 0, 0, root_rgb));
  EXPECT_TRUE(pixel_is(all.image, kScreenW - 1, kScreenH - 1, root_rgb));
  EXPECT_TRUE(pixel_is(all.image, kX - 1, kY, root_rgb));
  EXPECT_TRUE(pixel_is(all.image, kX, kY, yellow));
  EXPECT_TRUE(pixel_is(all.image, kX + 1, kY + 1, red));
  EXPECT_TRUE(pixel_is(all.image, kX + kW - 2, kY + 1, green));
  EXPECT_TRUE(pixel_is(all.image, kX + 1, kY + kH - 2, blue));
  EXPECT_TRUE(pixel_is(all.image, kX + kW - 2, kY + kH - 2, white));
  EXPECT_TRUE(pixel_is(all.image, kX + kW - 1, kY + kH - 1, cyan));
  EXPECT_TRUE(pixel_is(all.image, kX + kW, kY + kH, root_rgb));

  // The window, by id and by name: exactly its own pixels.
  Shot by_id = take(xvfb, dir, {"--window", std::to_string(probe)});
  Shot by_name = take(xvfb, dir, {"--name", "kastrel-probe"});
  for (const Shot* s : {&by_id, &by_name}) {
    ASSERT_EQ(s->run.exit_status, 0) << s->run.errors;
    ASSERT_TRUE(s->read);
    ASSERT_EQ(s->image.width, static_cast<std::uint32_t>(kW));
    ASSERT_EQ(s->image.height, static_cast<std::uint32_t>(kH));
    EXPECT_TRUE(pixel_is(s->image, 0, 0, yellow));
    EXPECT_TRUE(pixel_is(s->image, 1, 0, red));
    EXPECT_TRUE(pixel_is(s->image, kW / 2 - 1, kH / 2 - 1, red));
    EXPECT_TRUE(pixel_is(s->image, kW / 2, kH / 2 - 1, green));
    EXPECT_TRUE(pixel_is(s->image, kW / 2 - 1, kH / 2, blue));
    EXPECT_TRUE(pixel_is(s->image, kW / 2, kH / 2, white));
    EXPECT_TRUE(pixel_is(s->image, kW - 1, kH - 1, cyan));
  }
  EXPECT_EQ(by_id.image.rgba, by_name.image.rgba);

  // A rectangle of the window, and one of the screen, in their own coordinates.
  Shot part = take(xvfb, dir, {"--window", std::to_string(probe), "--rect", "58,43,4,3"});
  ASSERT_EQ(part.run.exit_status, 0) << part.run.errors;
  ASSERT_TRUE(part.read);
  ASSERT_EQ(part.image.width, 4u);
  ASSERT_EQ(part.image.height, 3u);
  EXPECT_TRUE(pixel_is(part.image, 0, 0, red));
  EXPECT_TRUE(pixel_is(part.image, 2, 1, green));
  EXPECT_TRUE(pixel_is(part.image, 1, 2, blue));
  EXPECT_TRUE(pixel_is(part.image, 3, 2, white));
  Shot corner =
      take(xvfb, dir,
           {"--rect", std::to_string(kX + kW - 1) + "," + std::to_string(kY + kH - 1) + ",2,2"});
  ASSERT_EQ(corner.run.exit_status, 0) << corner.run.errors;
  ASSERT_TRUE(corner.read);
  EXPECT_TRUE(pixel_is(corner.image, 0, 0, cyan));
  EXPECT_TRUE(pixel_is(corner.image, 1, 1, root_rgb));

  // A window hanging over the top-left corner of the screen: only its visible part comes out,
  // found by its UTF-8 title alone.
  const Window hanging =
      scene.window(-30, -20, 80, 60, {{0, 0, 80, 60, g}, {30, 20, 1, 1, y}, {79, 59, 1, 1, c}});
  scene.name_utf8(hanging, "kastrel-hanging \xE2\x86\x96");
  Shot visible = take(xvfb, dir, {"--name", "kastrel-hanging \xE2\x86\x96"});
  ASSERT_EQ(visible.run.exit_status, 0) << visible.run.errors;
  ASSERT_TRUE(visible.read);
  ASSERT_EQ(visible.image.width, 50u);
  ASSERT_EQ(visible.image.height, 40u);
  EXPECT_TRUE(pixel_is(visible.image, 0, 0, yellow));
  EXPECT_TRUE(pixel_is(visible.image, 1, 1, green));
  EXPECT_TRUE(pixel_is(visible.image, 49, 39, cyan));
}

INSTANTIATE_TEST_SUITE_P(Depths, X11ScreenshotAtDepth, ::testing::Values(24, 16, 8),
                         [](const auto& p) { return "Depth" + std::to_string(p.param); });

TEST(X11Screenshot, FailsCleanlyOnBadTargetsAndArguments) {
  kastrel_testing::Xvfb xvfb("200x100x24");
  ASSERT_TRUE(xvfb.ok()) << xvfb.error();
  Scene scene(xvfb.display());
  ASSERT_TRUE(scene.ok());
  kastrel_testing::TempDir dir;
  Rgb shown;
  const unsigned long pixel = scene.colour({10, 20, 30}, &shown);
  const Window hidden = scene.window(10, 10, 20, 20, {{0, 0, 20, 20, pixel}}, false);
  scene.name_classic(hidden, "kastrel-hidden");
  const Window offscreen = scene.window(500, 500, 20, 20, {{0, 0, 20, 20, pixel}});

  const std::vector<std::vector<std::string>> refused = {
      {"--name", "nobody has this title"},
      {"--name", "kastrel-hidden"},
      {"--window", std::to_string(hidden)},
      {"--window", std::to_string(offscreen)},
      {"--window", "0x7ffffff0"},
      {"--rect", "0,0,201,10"},
      {"--rect", "150,50,51,1"},
      {"--rect", "0,99,1,2"},
      {"--rect", "9223372036854775807,0,1,1"},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const Shot s = take(xvfb, dir, args);
    EXPECT_EQ(s.run.exit_status, 1) << s.run.errors;
    EXPECT_NE(s.run.errors.find("kastrel_x11_screenshot:"), std::string::npos) << s.run.errors;
  }

  const std::vector<std::vector<std::string>> misused = {
      {"--rect", "1,2,3"},
      {"--rect", "1,2,0,4"},
      {"--rect", "-1,0,4,4"},
      {"--rect", "1,2,3,4,5"},
      {"--window", "zero"},
      {"--window", "0"},
      {"--window", "5", "--name", "x"},
      {"--bogus"},
  };
  for (const auto& args : misused) {
    SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
    const Shot s = take(xvfb, dir, args);
    EXPECT_EQ(s.run.exit_status, 2) << s.run.errors;
  }
  // Output file missing, or two of them.
  EXPECT_EQ(
      kastrel_testing::run({KASTREL_X11_SCREENSHOT}, {{"DISPLAY", xvfb.display()}}).exit_status, 2);
  EXPECT_EQ(kastrel_testing::run({KASTREL_X11_SCREENSHOT, dir.file("a.png"), dir.file("b.png")},
                                 {{"DISPLAY", xvfb.display()}})
                .exit_status,
            2);

  // No server there, or nowhere to write.
  const auto no_server = kastrel_testing::run(
      {KASTREL_X11_SCREENSHOT, "--display", ":59999", dir.file("x.png")}, {{"DISPLAY", ":59998"}});
  EXPECT_EQ(no_server.exit_status, 1);
  EXPECT_NE(no_server.errors.find(":59999"), std::string::npos) << no_server.errors;
  const auto unset = kastrel_testing::run({KASTREL_X11_SCREENSHOT, dir.file("y.png")},
                                          {{"DISPLAY", std::nullopt}});
  EXPECT_EQ(unset.exit_status, 1);
  const auto nowhere = kastrel_testing::run({KASTREL_X11_SCREENSHOT, dir.file("missing/z.png")},
                                            {{"DISPLAY", xvfb.display()}});
  EXPECT_EQ(nowhere.exit_status, 1);
  EXPECT_NE(nowhere.errors.find("missing/z.png"), std::string::npos) << nowhere.errors;
}

}  // namespace
