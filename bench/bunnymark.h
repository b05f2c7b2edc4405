#pragma once
// The native bunnymark's shared parts (the flock and the sprite: bunnymark_flock.h). Every
// contender moves the same sprites the same way and draws them through its own API; the
// measure is how many sprites fit in a 16.7 ms frame, found by interpolating between frames
// of measured sprite counts.

#include <functional>
#include <string>
#include <vector>

#include "bench/bunnymark_flock.h"
#include "bench/table.h"

namespace bench::bunny {

// The sprite, drawn and written as a PNG by the engine, then read back by its decoder:
// 32 x 32 pixels 0xAARRGGBB, alpha not premultiplied.
struct Picture {
  std::string path;
  std::vector<uint32_t> argb;
};
const Picture& Bunny();

// How a contender draws one whole frame of n sprites: clear, move (Flock::Step), draw, and
// wait until the frame is finished.
using Frame = std::function<void(int n)>;

// The sprite count whose frame takes 16.7 ms, with the time each sprite adds and the frame's
// time besides, read as a table cell (seconds a sprite at that count) whose detail says so,
// followed by `more`.
Reading Measure(const Frame& frame, const std::string& more);
// The same for a contender that times its own frames: probe(n) is its fastest frame for n.
Reading MeasureProbe(const std::function<double(int n)>& probe, const std::string& more);

// DISPLAY, or a private Xvfb started for this process and stopped as it ends (or dies), for
// rivals that need a display: "" when there is one, else why there is none.
std::string EnsureDisplay();
// "; GL_RENDERER ..., GL_VERSION ..." of the current OpenGL context.
std::string GlRenderer();

// Registers the rivals' cells for both rows, each in a process of its own; returns their
// column names.
std::vector<std::string> RegisterRivals(const std::string& section, const std::string& moving,
                                        const std::string& turning);

}  // namespace bench::bunny
