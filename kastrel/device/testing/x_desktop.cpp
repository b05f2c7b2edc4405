#include "kastrel/device/testing/x_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "kastrel/base/detail/platform.h"

// The leak checker reads its suppressions (third-party libraries only) from the
// file beside this one; the binaries of the window tests carry this hook.
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() {
  return "suppressions=" KASTREL_SOURCE_DIR "/kastrel/device/testing/lsan.supp";
}

namespace x_desktop {

namespace {

Display* dpy(void* d) { return static_cast<Display*>(d); }

// Swallows X errors (a window that went away between two requests).
int ignore_errors(Display*, XErrorEvent*) { return 0; }

}  // namespace

// -displayfd 1: the server writes its display number to standard output once it listens.
Server::Server(const std::string& geometry)
    : server_(
          {"Xvfb", "-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"}) {
  // The bound only keeps a broken installation from hanging the test run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string out;
  while ((out = server_.output()).find('\n') == std::string::npos) {
    if (!server_.running()) {
      error_ = "Xvfb did not start (Debian package xvfb): " + server_.errors();
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "Xvfb did not report its display in time";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  display_ = ":" + out.substr(0, out.find('\n'));
}

void Server::kill() {
  server_.signal_group(SIGKILL);
  server_.wait(std::chrono::seconds(5));
}

Server::~Server() {
  server_.signal_group(SIGTERM);
  server_.wait(std::chrono::seconds(5));
}

bool use_test_server(std::string* why) {
  const char* state = std::getenv("KASTREL_XVFB_STATE");
  if (state == nullptr) {
    *why = "KASTREL_XVFB_STATE is not set: run the window tests through CTest";
    return false;
  }
  std::ifstream in(std::string(state) + "/display");
  std::string number;
  if (!(in >> number)) {
    *why = std::string("no test X server: ") + state + "/display is missing";
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  unsetenv("VOXGFX");
  return true;
}

kastrel_testing::EnvChanges game_env(const std::string& display) {
  kastrel_testing::EnvChanges env = kastrel_testing::sanitizer_env();
  env.insert({{"DISPLAY", display}, {"WAYLAND_DISPLAY", std::nullopt},
              {"VOXGFX", std::nullopt}, {"SDL_VIDEODRIVER", "x11"}});
  return env;
}

bool wait_for(const std::function<bool()>& done, double seconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    // The platform's wait, as a game's: where the game's thread serves the window, it does so here.
    KASTREL::PLATFORM::SLEEPUNTIL(std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
  }
}

bool xdotool(const std::string& args) {
  std::vector<std::string> words;
  std::istringstream in(args);
  for (std::string word; in >> word;) words.push_back(word);
  const char* display = std::getenv("DISPLAY");
  return xdotool(std::move(words), display != nullptr ? display : "").exit_status == 0;
}

kastrel_testing::RunResult xdotool(std::vector<std::string> args, const std::string& display) {
  args.insert(args.begin(), "xdotool");
  return kastrel_testing::run(args, {{"DISPLAY", display}}, std::chrono::seconds(60));
}

Connection::Connection(const std::string& display)
    : display_(XOpenDisplay(display.empty() ? nullptr : display.c_str())) {
  XSetErrorHandler(ignore_errors);
}

Connection::~Connection() {
  if (display_ != nullptr) XCloseDisplay(dpy(display_));
}

void Connection::sync() { XSync(dpy(display_), False); }

std::string Connection::title(unsigned long window) {
  char* name = nullptr;
  std::string out;
  if (XFetchName(dpy(display_), window, &name) && name != nullptr) {
    out = name;
    XFree(name);
  }
  return out;
}

unsigned long Connection::find_window(const std::string& title_wanted) {
  Display* d = dpy(display_);
  Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
  unsigned count = 0;
  unsigned long found = 0;
  if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
    if (title(children[i]) == title_wanted) found = children[i];
  }
  if (children != nullptr) XFree(children);
  return found;
}

unsigned long Connection::wait_for_window(const std::string& title_wanted) {
  unsigned long w = 0;
  wait_for([&] { return (w = find_window(title_wanted)) != 0; });
  return w;
}

Geometry Connection::geometry(unsigned long window) {
  Display* d = dpy(display_);
  XWindowAttributes a{};
  Geometry g{0, 0, 0, 0};
  if (!XGetWindowAttributes(d, window, &a)) return g;
  Window child;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &g.x, &g.y, &child);
  g.width = a.width;
  g.height = a.height;
  return g;
}

uint32_t Connection::pixel(unsigned long window, int x, int y) {
  const std::vector<uint32_t> one = grab(window, x, y, 1, 1);
  return one.empty() ? 0xFFFFFFFFu : one[0];
}

std::vector<uint32_t> Connection::grab(unsigned long window, int x, int y, int width,
                                       int height) {
  std::vector<uint32_t> out;
  XImage* image = XGetImage(dpy(display_), window, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return out;
  out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col)
      out.push_back(static_cast<uint32_t>(XGetPixel(image, col, row)) & 0xFFFFFFu);
  XDestroyImage(image);
  return out;
}

// A property of 32-bit items (Xlib hands them over as longs).
std::vector<long> Connection::property(unsigned long window, const char* name) {
  Display* d = dpy(display_);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<long> out;
  if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, 64, False, AnyPropertyType,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    out.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
  }
  if (data != nullptr) XFree(data);
  return out;
}

bool Connection::has_state(unsigned long window, const char* state) {
  std::vector<long> atoms = property(window, "_NET_WM_STATE");
  auto wanted = static_cast<long>(XInternAtom(dpy(display_), state, False));
  return std::find(atoms.begin(), atoms.end(), wanted) != atoms.end();
}

long Connection::motif_decorations(unsigned long window) {
  std::vector<long> fields = property(window, "_MOTIF_WM_HINTS");
  // Flag 2: the decorations field is in use.
  return fields.size() >= 3 && (fields[0] & 2) ? fields[2] : -1;
}

std::vector<int> Connection::size_hints(unsigned long window) {
  XSizeHints h{};
  long supplied = 0;
  XGetWMNormalHints(dpy(display_), window, &h, &supplied);
  const bool min = h.flags & PMinSize, max = h.flags & PMaxSize;
  return {min ? h.min_width : 0, min ? h.min_height : 0, max ? h.max_width : 0,
          max ? h.max_height : 0};
}

std::pair<int, int> Connection::pointer() {
  Display* d = dpy(display_);
  Window root, child;
  int x = 0, y = 0, wx, wy;
  unsigned mask;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
  return {x, y};
}

int Connection::visible_cursor_pixels() {
  XFixesCursorImage* image = XFixesGetCursorImage(dpy(display_));
  if (image == nullptr) return -1;
  int visible = 0;
  for (int i = 0; i < image->width * image->height; ++i) visible += (image->pixels[i] >> 24) != 0;
  XFree(image);
  return visible;
}

std::vector<Geometry> Connection::shape(unsigned long window) {
  std::vector<Geometry> out;
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(dpy(display_), window, ShapeBounding, &count, &ordering);
  for (int i = 0; i < count; ++i)
    out.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
  if (rects != nullptr) XFree(rects);
  return out;
}

bool Connection::cover_briefly(int x, int y, int width, int height) {
  Display* d = dpy(display_);
  XSetWindowAttributes a{};
  a.override_redirect = True;
  a.background_pixel = WhitePixel(d, DefaultScreen(d));
  Window w = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
  XMapRaised(d, w);
  XSync(d, False);
  const bool shown = wait_for([&] { return pixel(w, 1, 1) == 0xFFFFFFu; });
  XDestroyWindow(d, w);
  XSync(d, False);
  return shown;
}

void Connection::focus_other_window() {
  Display* d = dpy(display_);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 40, 40, 0, 0, 0);
  XMapRaised(d, w);
  XSync(d, False);
  XSetInputFocus(d, w, RevertToParent, CurrentTime);
  XSync(d, False);
}

void Connection::mark_minimised(unsigned long window) {
  Display* d = dpy(display_);
  Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
  XChangeProperty(d, window, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&hidden), 1);
  XSync(d, False);
}

void Connection::send_close_request(unsigned long window) {
  Display* d = dpy(display_);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &e);
  XFlush(d);
}

}  // namespace x_desktop
