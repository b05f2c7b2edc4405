// Stands in for the demonstration game in tests of tools/run-demo.sh: a 640 x 480 window titled
// with the executable's file name that writes every pointer and key event it receives to the file
// named by KASTREL_STANDIN_LOG, and ends on Escape with the status KASTREL_STANDIN_STATUS.
// KASTREL_STANDIN_MODE: "exit-early" ends with status 3 before opening a window,
// "ignore-escape" never ends by itself, "exit-when-mapped" ends with status 5 once it shows.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::FILE* g_log = nullptr;

void note(const std::string& line) {
  if (g_log == nullptr) return;
  std::fprintf(g_log, "%s\n", line.c_str());
  std::fflush(g_log);
}

std::string env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

}  // namespace

int main(int, char** argv) {
  const std::string log_path = env("KASTREL_STANDIN_LOG", "");
  if (!log_path.empty()) g_log = std::fopen(log_path.c_str(), "a");
  const std::string mode = env("KASTREL_STANDIN_MODE", "normal");
  const int status = std::atoi(env("KASTREL_STANDIN_STATUS", "1").c_str());
  note("pid " + std::to_string(getpid()));
  note(std::string("images ") + (access("images/ball.png", R_OK) == 0 ? "yes" : "no"));
  note("display " + env("DISPLAY", ""));
  if (mode == "exit-early") return 3;

  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    note("no display");
    return 4;
  }
  const int screen = DefaultScreen(dpy);
  // The background: one colour, with a marker square at the top-left corner.
  const Window win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, 640, 480, 0, 0, 0);
  const Pixmap pix =
      XCreatePixmap(dpy, win, 640, 480, static_cast<unsigned>(DefaultDepth(dpy, screen)));
  const GC gc = XCreateGC(dpy, pix, 0, nullptr);
  XSetForeground(dpy, gc, 0x204060);
  XFillRectangle(dpy, pix, gc, 0, 0, 640, 480);
  XSetForeground(dpy, gc, 0xF0C020);
  XFillRectangle(dpy, pix, gc, 0, 0, 8, 8);
  XSetWindowBackgroundPixmap(dpy, win, pix);
  XFreeGC(dpy, gc);
  XFreePixmap(dpy, pix);

  std::string title = argv[0];
  title = title.substr(title.find_last_of('/') + 1);
  XStoreName(dpy, win, title.c_str());
  XChangeProperty(dpy, win, XInternAtom(dpy, "_NET_WM_NAME", False),
                  XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
  Atom close_request = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(dpy, win, &close_request, 1);
  XSelectInput(
      dpy, win,
      StructureNotifyMask | PointerMotionMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask);
  XMapWindow(dpy, win);

  int result = -1;
  while (result < 0) {
    XEvent e;
    XNextEvent(dpy, &e);
    switch (e.type) {
      case MapNotify:
        note("mapped");
        if (mode == "exit-when-mapped") result = 5;
        break;
      case MotionNotify:
        note("motion " + std::to_string(e.xmotion.x) + " " + std::to_string(e.xmotion.y) + " " +
             ((e.xmotion.state & Button1Mask) != 0 ? "held" : "free"));
        break;
      case ButtonPress:
        note("press " + std::to_string(e.xbutton.button) + " " + std::to_string(e.xbutton.x) + " " +
             std::to_string(e.xbutton.y));
        break;
      case ButtonRelease:
        note("release " + std::to_string(e.xbutton.button) + " " + std::to_string(e.xbutton.x) +
             " " + std::to_string(e.xbutton.y));
        break;
      case KeyPress: {
        const KeySym sym = XLookupKeysym(&e.xkey, 0);
        const char* name = XKeysymToString(sym);
        note(std::string("key ") + (name != nullptr ? name : "?"));
        if (sym == XK_Escape && mode != "ignore-escape") result = status;
        break;
      }
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == close_request) result = status;
        break;
      default:
        break;
    }
  }
  XCloseDisplay(dpy);
  note("exit " + std::to_string(result));
  if (g_log != nullptr) std::fclose(g_log);
  return result;
}
