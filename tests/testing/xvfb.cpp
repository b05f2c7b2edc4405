#include "tests/testing/xvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>

namespace kastrel_testing {

std::vector<uint32_t> grab(Display* dpy, unsigned long window, int x, int y, int w, int h) {
  std::vector<uint32_t> out;
  XImage* image = XGetImage(dpy, window, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
  for (int i = 0; image != nullptr && i < w * h; ++i)
    out.push_back(uint32_t(XGetPixel(image, i % w, i / w)) & 0xFFFFFF);
  if (image != nullptr) XDestroyImage(image);
  return out;
}

// -displayfd 1: the server writes its display number to standard output once it listens.
Xvfb::Xvfb(const std::string& geometry)
    : server_(
          {"Xvfb", "-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"}) {
  // The bound only keeps a broken installation from hanging the test run.
  std::string out;
  const auto said = [&] { return (out = server_.output()).find('\n') != std::string::npos; };
  if (eventually([&] { return said() || !server_.running(); }, std::chrono::seconds(30)) &&
      said()) {
    display_ = ":" + out.substr(0, out.find('\n'));
  } else {
    error_ = server_.running() ? "Xvfb did not report its display in time"
                               : "Xvfb did not start (Debian package xvfb): " + server_.errors();
  }
}

void Xvfb::kill() {
  server_.signal_group(SIGKILL);
  server_.wait(std::chrono::seconds(5));
}

Xvfb::~Xvfb() {
  server_.signal_group(SIGTERM);
  server_.wait(std::chrono::seconds(5));
}

}  // namespace kastrel_testing
