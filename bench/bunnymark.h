#pragma once
// The bunnymark's shared parts: N 32 x 32 sprites with a soft alpha rim, each with its own place,
// speed and spin, bouncing inside an 800 x 450 frame that is cleared every frame. Every
// contender moves the same sprites the same way and draws them through its own API; the
// measure is how many sprites fit in a 16.7 ms frame, found by interpolating between frames
// of measured sprite counts.

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/table.h"

namespace bench::bunny {

constexpr int kWidth = 800, kHeight = 450, kSize = 32;
constexpr uint32_t kBackground = 0xFF405060;  // 0xAARRGGBB
constexpr double kFrameSeconds = 0.0167;

// A sprite's top-left corner, its speed in pixels a frame, and its angle and turn in degrees
// (clockwise, around its centre).
struct Sprite {
  float x, y, vx, vy, angle, spin;
};

// The first n of a fixed, seeded flock of sprites: every flock holds the same ones.
class Flock {
 public:
  // Moves the first n sprites a frame on (making them first when there are fewer), bouncing off
  // the frame's edges.
  void Step(int n);
  const Sprite& operator[](int i) const { return sprites_[size_t(i)]; }

 private:
  std::vector<Sprite> sprites_;
  std::mt19937 rng_{31};
};

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
