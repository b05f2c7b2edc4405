#include "bench/bunnymark_flock.h"

#include <algorithm>
#include <cmath>

namespace bench::bunny {

void Flock::Step(int n) {
  const auto uniform = [this](float lo, float hi) {
    return lo + (hi - lo) * float(rng_() % 100000) / 100000;
  };
  while (int(sprites_.size()) < n) {
    const float sign = rng_() % 2 ? 1 : -1;
    sprites_.push_back({uniform(0, kWidth - kSize), uniform(0, kHeight - kSize),
                        sign * uniform(0.5f, 4), uniform(-4, 4), uniform(0, 360),
                        sign * uniform(1, 6)});
  }
  constexpr float kRight = kWidth - kSize, kBottom = kHeight - kSize;
  for (int i = 0; i < n; ++i) {
    Sprite& s = sprites_[size_t(i)];
    s.x += s.vx;
    s.y += s.vy;
    if (s.x < 0 || s.x > kRight) {
      s.vx = -s.vx;
      s.x = s.x < 0 ? -s.x : 2 * kRight - s.x;
    }
    if (s.y < 0 || s.y > kBottom) {
      s.vy = -s.vy;
      s.y = s.y < 0 ? -s.y : 2 * kBottom - s.y;
    }
    s.angle += s.spin;
    s.angle += s.angle < 0 ? 360 : s.angle >= 360 ? -360 : 0;
  }
}

namespace {

// A disc and two long ears, drawn from their distance fields so the edge fades over 1.5
// pixels, with inner ears, eyes and a nose.
double Ellipse(double x, double y, double cx, double cy, double rx, double ry) {
  return (std::hypot((x - cx) / rx, (y - cy) / ry) - 1) * std::min(rx, ry);
}

uint32_t Mix(uint32_t a, uint32_t b, double t) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const double c = ((a >> shift) & 255) * (1 - t) + ((b >> shift) & 255) * t;
    out |= uint32_t(std::lround(c)) << shift;
  }
  return out;
}

}  // namespace

std::vector<uint32_t> BunnyPixels() {
  std::vector<uint32_t> argb;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const double ears =
          std::min(Ellipse(px, py, 11.5, 9, 3.3, 8), Ellipse(px, py, 20.5, 9, 3.3, 8));
      const double d = std::min(Ellipse(px, py, 16, 21, 10, 10), ears);
      const double alpha = std::clamp((0.75 - d) / 1.5, 0.0, 1.0);
      uint32_t colour = Mix(0xF4F0E8, 0xB8B0A8, std::clamp((py - 10) / 30, 0.0, 1.0));
      const double inner =
          std::min(Ellipse(px, py, 11.5, 9, 1.5, 5.5), Ellipse(px, py, 20.5, 9, 1.5, 5.5));
      colour = Mix(colour, 0xF0A0B4, std::clamp(0.5 - inner, 0.0, 1.0));
      const double eyes =
          std::min(Ellipse(px, py, 12.5, 19, 1.7, 1.7), Ellipse(px, py, 19.5, 19, 1.7, 1.7));
      colour = Mix(colour, 0x202028, std::clamp(0.5 - eyes, 0.0, 1.0));
      colour = Mix(colour, 0xE07890, std::clamp(0.5 - Ellipse(px, py, 16, 24, 1.4, 1.1), 0.0, 1.0));
      argb.push_back(uint32_t(std::lround(alpha * 255)) << 24 | colour);
    }
  return argb;
}

// On a shared machine a 16.7 ms frame seldom runs untouched by other work, hence the line
// through shorter frames.
FrameFit FitFrame(const std::function<double(int n)>& probe, double short_frame) {
  constexpr int kFirst = 50;
  constexpr double kMost = 2e6;
  FrameFit fit;
  fit.first = kFirst;
  const double first = probe(kFirst);
  const auto slope_to = [&](int n, double t) {
    return n > kFirst && t > first ? (t - first) / (n - kFirst) : t / n;
  };
  int n = kFirst;
  double t = first;
  for (int step = 0;
       step < 4 && first < short_frame && std::fabs(t - short_frame) > 0.25 * short_frame; ++step) {
    const int next = int(std::clamp(n + (short_frame - t) / slope_to(n, t), kFirst + 1.0, kMost));
    if (next == n) break;
    n = next;
    t = probe(n);
  }
  fit.probed = n;
  fit.slope = slope_to(n, t);
  fit.fixed = t - fit.slope * n;
  const double sprites = (kFrameSeconds - fit.fixed) / fit.slope;
  if (!(sprites >= 1)) return fit;
  fit.sprites = sprites;
  fit.check = probe(int(std::min(sprites, kMost)));
  return fit;
}

}  // namespace bench::bunny
