// A private X server for end-to-end tests: Xvfb on a display number it picks itself.
#pragma once

#include <string>

#include "tests/testing/process.h"

namespace kastrel_testing {

class Xvfb {
 public:
  // Starts Xvfb with one screen of `geometry` (WIDTHxHEIGHTxDEPTH) and waits until it accepts
  // connections. ok() says whether that worked; error() says why not.
  explicit Xvfb(const std::string& geometry = "800x600x24");
  // Stops the server gently, so it removes its socket and lock file.
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // Kills the server at once, as a crash would.
  void kill();

  bool ok() const { return !display_.empty(); }
  // ":N", for $DISPLAY.
  const std::string& display() const { return display_; }
  const std::string& error() const { return error_; }

 private:
  ChildProcess server_;
  std::string display_;
  std::string error_;
};

}  // namespace kastrel_testing
