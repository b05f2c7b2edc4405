// Captures what an X server shows and writes it as a PNG file:
//   kastrel_x11_screenshot [--display D] [--window ID | --name TITLE] [--rect X,Y,W,H] OUT.png
// Without --window or --name it takes the whole root window. A window is captured as it appears
// on the screen (only its part inside the screen), so the picture is what a person would see.
// --rect cuts a rectangle out of the window or the screen, in its own coordinates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "kastrel/png/png_save.h"
#include "kastrel/base/error.h"

namespace {

// Xlib's default error handler ends the process; this one lets the calls report failure.
int g_x_error = 0;
int record_x_error(Display*, XErrorEvent* event) {
  g_x_error = event->error_code;
  return 0;
}

struct Options {
  std::string display;
  std::optional<Window> window;
  std::string name;
  std::optional<std::array<long, 4>> rect;
  std::string output;
};

int usage() {
  std::fprintf(stderr,
               "usage: kastrel_x11_screenshot [--display D] [--window ID | --name TITLE]\n"
               "                              [--rect X,Y,W,H] OUTPUT.png\n");
  return 2;
}

bool parse_long(const char* text, long* value) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0') return false;
  *value = v;
  return true;
}

bool parse_rect(const char* text, std::array<long, 4>* rect) {
  std::string s = text;
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = s.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    const std::string part = s.substr(start, i < 3 ? comma - start : std::string::npos);
    if (!parse_long(part.c_str(), &(*rect)[static_cast<std::size_t>(i)])) return false;
    start = comma + 1;
  }
  return (*rect)[2] > 0 && (*rect)[3] > 0 && (*rect)[0] >= 0 && (*rect)[1] >= 0;
}

std::optional<std::string> window_title(Display* dpy, Window w) {
  // The UTF-8 title that current toolkits set, else the classic WM_NAME.
  const Atom net_wm_name = XInternAtom(dpy, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, w, net_wm_name, 0, 4096, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    std::string title(reinterpret_cast<char*>(data), count);
    XFree(data);
    if (type == utf8 && format == 8) return title;
  }
  char* name = nullptr;
  if (XFetchName(dpy, w, &name) != 0 && name != nullptr) {
    std::string title = name;
    XFree(name);
    return title;
  }
  return std::nullopt;
}

// Depth-first search for a viewable window with exactly this title.
std::optional<Window> find_window(Display* dpy, Window w, const std::string& title) {
  XWindowAttributes attrs;
  if (XGetWindowAttributes(dpy, w, &attrs) != 0 && attrs.map_state == IsViewable) {
    if (const auto t = window_title(dpy, w); t && *t == title) return w;
  }
  Window root_ret = 0, parent = 0;
  Window* children = nullptr;
  unsigned int n = 0;
  if (XQueryTree(dpy, w, &root_ret, &parent, &children, &n) == 0) return std::nullopt;
  std::vector<Window> list(children, children + n);
  if (children != nullptr) XFree(children);
  // Topmost windows come last in the list; look at them first.
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (auto found = find_window(dpy, *it, title)) return found;
  }
  return std::nullopt;
}

struct Channel {
  unsigned long mask;
  int shift = 0;
  unsigned long max = 0;
};

Channel channel(unsigned long mask) {
  Channel c{mask};
  if (mask == 0) return c;
  while (((mask >> c.shift) & 1u) == 0) ++c.shift;
  c.max = mask >> c.shift;
  return c;
}

std::uint8_t scale(unsigned long pixel, const Channel& c) {
  if (c.max == 0) return 0;
  const unsigned long v = (pixel & c.mask) >> c.shift;
  return static_cast<std::uint8_t>((v * 255 + c.max / 2) / c.max);
}

int capture(const Options& opt) {
  Display* dpy = XOpenDisplay(opt.display.empty() ? nullptr : opt.display.c_str());
  if (dpy == nullptr) {
    const char* env = std::getenv("DISPLAY");
    std::fprintf(stderr, "kastrel_x11_screenshot: cannot open display '%s'\n",
                 !opt.display.empty() ? opt.display.c_str() : (env != nullptr ? env : ""));
    return 1;
  }
  XSetErrorHandler(record_x_error);
  const int screen = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, screen);
  const int screen_w = DisplayWidth(dpy, screen);
  const int screen_h = DisplayHeight(dpy, screen);

  const auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "kastrel_x11_screenshot: %s\n", why.c_str());
    XCloseDisplay(dpy);
    return 1;
  };

  // The area to take, in root coordinates, and its origin in the target's own coordinates.
  long x0 = 0, y0 = 0, w = screen_w, h = screen_h;
  if (opt.window || !opt.name.empty()) {
    Window target = 0;
    if (opt.window) {
      target = *opt.window;
    } else {
      const auto found = find_window(dpy, root, opt.name);
      if (!found) return fail("no visible window is named '" + opt.name + "'");
      target = *found;
    }
    XWindowAttributes attrs;
    g_x_error = 0;
    if (XGetWindowAttributes(dpy, target, &attrs) == 0 || g_x_error != 0) {
      return fail("no window " + std::to_string(target));
    }
    if (attrs.map_state != IsViewable) return fail("the window is not visible");
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(dpy, target, root, 0, 0, &rx, &ry, &child);
    x0 = rx;
    y0 = ry;
    w = attrs.width;
    h = attrs.height;
  }
  if (opt.rect) {
    const auto& r = *opt.rect;
    if (r[2] > w || r[0] > w - r[2] || r[3] > h || r[1] > h - r[3])
      return fail("the rectangle reaches outside the target");
    x0 += r[0];
    y0 += r[1];
    w = r[2];
    h = r[3];
  }
  // Only what lies on the screen can be read.
  const long left = std::max(x0, 0L), top = std::max(y0, 0L);
  const long right = std::min(x0 + w, static_cast<long>(screen_w));
  const long bottom = std::min(y0 + h, static_cast<long>(screen_h));
  if (right <= left || bottom <= top) return fail("nothing of the target is on the screen");

  g_x_error = 0;
  XImage* image = XGetImage(dpy, root, static_cast<int>(left), static_cast<int>(top),
                            static_cast<unsigned>(right - left),
                            static_cast<unsigned>(bottom - top), AllPlanes, ZPixmap);
  if (image == nullptr || g_x_error != 0) {
    if (image != nullptr) XDestroyImage(image);
    return fail("the server refused to hand out the picture");
  }

  XWindowAttributes root_attrs;
  XGetWindowAttributes(dpy, root, &root_attrs);
  const Visual* visual = root_attrs.visual;
  const bool true_colour = visual->c_class == TrueColor || visual->c_class == DirectColor;
  // Indexed and grey visuals: read the colour of every map entry once.
  std::vector<XColor> map;
  if (!true_colour) {
    map.resize(static_cast<std::size_t>(std::max(visual->map_entries, 1)));
    for (std::size_t i = 0; i < map.size(); ++i) {
      map[i].pixel = i;
      map[i].flags = DoRed | DoGreen | DoBlue;
    }
    XQueryColors(dpy, root_attrs.colormap, map.data(), static_cast<int>(map.size()));
  }
  const Channel red = channel(image->red_mask != 0 ? image->red_mask : visual->red_mask);
  const Channel green = channel(image->green_mask != 0 ? image->green_mask : visual->green_mask);
  const Channel blue = channel(image->blue_mask != 0 ? image->blue_mask : visual->blue_mask);

  const auto out_w = static_cast<std::uint32_t>(image->width);
  const auto out_h = static_cast<std::uint32_t>(image->height);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(out_w) * out_h * 3);
  for (std::uint32_t y = 0; y < out_h; ++y) {
    for (std::uint32_t x = 0; x < out_w; ++x) {
      const unsigned long p = XGetPixel(image, static_cast<int>(x), static_cast<int>(y));
      std::uint8_t* o = &rgb[(static_cast<std::size_t>(y) * out_w + x) * 3];
      if (true_colour) {
        o[0] = scale(p, red);
        o[1] = scale(p, green);
        o[2] = scale(p, blue);
      } else if (p < map.size()) {
        o[0] = static_cast<std::uint8_t>(map[p].red >> 8);
        o[1] = static_cast<std::uint8_t>(map[p].green >> 8);
        o[2] = static_cast<std::uint8_t>(map[p].blue >> 8);
      }
    }
  }
  XDestroyImage(image);
  XCloseDisplay(dpy);

  if (png_save(opt.output, rgb.data(), out_w, out_h, static_cast<std::size_t>(out_w) * 3,
               PNG_RGB) == KASTREL::FALSE) {
    std::fprintf(stderr, "kastrel_x11_screenshot: %s\n", KASTREL::LASTERROR());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--display" && value != nullptr) {
      opt.display = value;
      ++i;
    } else if (arg == "--window" && value != nullptr) {
      long id = 0;
      if (!parse_long(value, &id) || id <= 0) return usage();
      opt.window = static_cast<Window>(id);
      ++i;
    } else if (arg == "--name" && value != nullptr) {
      opt.name = value;
      ++i;
    } else if (arg == "--rect" && value != nullptr) {
      std::array<long, 4> r{};
      if (!parse_rect(value, &r)) return usage();
      opt.rect = r;
      ++i;
    } else if (!arg.empty() && arg[0] != '-' && opt.output.empty()) {
      opt.output = arg;
    } else {
      return usage();
    }
  }
  if (opt.output.empty() || (opt.window && !opt.name.empty())) return usage();
  return capture(opt);
}
