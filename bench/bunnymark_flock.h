#pragma once
// What every bunnymark shares, native or in the browser: N 32 x 32 sprites with a soft alpha
// rim, each with its own place, speed and spin, bouncing inside an 800 x 450 frame that is
// cleared every frame; and how a sprite count for a 16.7 ms frame is read from frames of fewer
// sprites. Nothing here depends on the engine, so a rival's page uses it too.

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

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

// The sprite, a rabbit's head: 32 x 32 pixels 0xAARRGGBB, alpha not premultiplied.
std::vector<uint32_t> BunnyPixels();

// A frame's time is close to a line in the sprite count (the sprites' cost, plus the frame's
// own: clearing, finishing). probe(n) is the fastest frame of n sprites in seconds; a frame of a
// few sprites and one of about `short_frame` seconds fix the line, which gives the count at
// 16.7 ms; a frame of that count is measured too (check).
struct FrameFit {
  double sprites = 0;  // 0: not one fits
  double slope = 0, fixed = 0, check = 0;
  int first = 0, probed = 0;
};
FrameFit FitFrame(const std::function<double(int n)>& probe, double short_frame = 0.002);

}  // namespace bench::bunny
