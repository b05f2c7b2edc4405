#include "tests/testing/xvfb.h"

#include <signal.h>

#include <thread>

namespace kastrel_testing {

// -displayfd 1: the server writes its display number to standard output once it listens.
Xvfb::Xvfb(const std::string& geometry)
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

void Xvfb::kill() {
  server_.signal_group(SIGKILL);
  server_.wait(std::chrono::seconds(5));
}

Xvfb::~Xvfb() {
  server_.signal_group(SIGTERM);
  server_.wait(std::chrono::seconds(5));
}

}  // namespace kastrel_testing
