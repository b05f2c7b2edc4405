// Draws the demonstration game's three pictures and writes them as PNG files:
//   kastrel_make_pictures OUTPUT_DIR
// writes OUTPUT_DIR/background.png, ball.png and cursor.png. The output depends on nothing but
// this file: no clocks, no random sources, only a fixed integer hash for the noise.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kastrel/png/png_save.h"
#include "kastrel/base/error.h"

namespace {

struct Rgb {
  double r = 0, g = 0, b = 0;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, double k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
Rgb mix(Rgb a, Rgb b, double t) { return a * (1.0 - t) + b * t; }

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
double smoothstep(double e0, double e1, double v) {
  const double t = clamp01((v - e0) / (e1 - e0));
  return t * t * (3.0 - 2.0 * t);
}

// A picture in premultiplied linear-free floats: colours are display values 0..1 times alpha.
struct Canvas {
  int width;
  int height;
  std::vector<double> px;  // r, g, b, a per pixel, premultiplied

  Canvas(int w, int h) : width(w), height(h), px(static_cast<std::size_t>(w) * h * 4, 0.0) {}

  double* at(int x, int y) { return &px[(static_cast<std::size_t>(y) * width + x) * 4]; }

  // Source-over with a straight-alpha colour.
  void over(int x, int y, Rgb c, double a) {
    if (x < 0 || y < 0 || x >= width || y >= height || a <= 0.0) return;
    double* p = at(x, y);
    const double k = 1.0 - a;
    p[0] = c.r * a + p[0] * k;
    p[1] = c.g * a + p[1] * k;
    p[2] = c.b * a + p[2] * k;
    p[3] = a + p[3] * k;
  }
};

// Fixed integer hash to [0, 1): the same numbers on every machine and compiler.
double hash01(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8DA6B343u ^
                    static_cast<std::uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return static_cast<double>(h) / 4294967296.0;
}

double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }

double value_noise(double x, double y, std::uint32_t seed) {
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const auto ix = static_cast<std::int32_t>(fx);
  const auto iy = static_cast<std::int32_t>(fy);
  const double tx = fade(x - fx);
  const double ty = fade(y - fy);
  const double a = hash01(ix, iy, seed);
  const double b = hash01(ix + 1, iy, seed);
  const double c = hash01(ix, iy + 1, seed);
  const double d = hash01(ix + 1, iy + 1, seed);
  return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal sum of value noise, about 0..1.
double fbm(double x, double y, int octaves, std::uint32_t seed) {
  double sum = 0.0;
  double amplitude = 0.5;
  double total = 0.0;
  for (int i = 0; i < octaves; ++i) {
    sum += value_noise(x, y, seed + static_cast<std::uint32_t>(i) * 101u) * amplitude;
    total += amplitude;
    x = x * 2.03 + 17.1;
    y = y * 2.03 - 9.7;
    amplitude *= 0.5;
  }
  return sum / total;
}

// Straight-alpha 8-bit RGBA, with a tiny fixed dither so the long sky gradient shows no bands.
std::vector<std::uint8_t> to_rgba8(Canvas& c, bool dither) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(c.width) * c.height * 4);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const double* p = c.at(x, y);
      const double a = clamp01(p[3]);
      const double d = dither ? (hash01(x, y, 77u) + hash01(x, y, 78u) - 1.0) * 0.75 : 0.0;
      std::uint8_t* o = &out[(static_cast<std::size_t>(y) * c.width + x) * 4];
      const auto alpha = static_cast<int>(std::lround(a * 255.0));
      for (int i = 0; i < 3; ++i) {
        const double v = alpha > 0 ? clamp01(p[i] / a) : 0.0;
        o[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v * 255.0 + d), 0L, 255L));
      }
      o[3] = static_cast<std::uint8_t>(alpha);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Background: a late-afternoon sky with clouds and a low sun, two hazy mountain ridges and a
// tiled floor running to the horizon.

constexpr int kBgW = 640;
constexpr int kBgH = 480;
constexpr double kHorizon = 300.0;
constexpr double kSunX = 452.0;
constexpr double kEyeHeight = 2.2;
constexpr double kSunY = 228.0;

const Rgb kHaze{0.99, 0.86, 0.70};

Rgb sky_colour(double y) {
  const double t = clamp01(y / kHorizon);
  const Rgb top{0.10, 0.26, 0.54};
  const Rgb mid{0.36, 0.58, 0.84};
  const Rgb low{0.80, 0.82, 0.84};
  if (t < 0.55) return mix(top, mid, smoothstep(0.0, 0.55, t));
  if (t < 0.85) return mix(mid, low, smoothstep(0.55, 0.85, t));
  return mix(low, kHaze, smoothstep(0.85, 1.0, t));
}

// Warm light scattered around the sun, added on top of everything near the horizon as well.
double sun_glow(double x, double y) {
  const double d = std::hypot(x - kSunX, (y - kSunY) * 1.4);
  return 0.55 * std::exp(-d / 38.0) + 0.30 * std::exp(-d / 150.0);
}

double cloud_density(double x, double y) {
  const double n = fbm(x / 150.0, y / 42.0, 6, 11u);
  // Clouds thin out towards the horizon and towards the very top.
  const double band = smoothstep(0.0, 60.0, y) * (1.0 - smoothstep(150.0, 250.0, y));
  return smoothstep(0.50, 0.72, n) * band;
}

// Rolling fbm for the range and a touch of ridged noise on top for sharper peaks.
double ridge_far(double x) {
  const double n = fbm(x / 210.0, 3.5, 5, 23u);
  const double crest = 1.0 - std::abs(2.0 * fbm(x / 70.0, 1.5, 4, 29u) - 1.0);
  return kHorizon - 44.0 - 90.0 * (n - 0.5) - 22.0 * crest * crest;
}
double ridge_near(double x) { return kHorizon - 4.0 - 40.0 * fbm(x / 95.0, 8.25, 5, 31u); }

Rgb floor_colour(double sx, double sy) {
  // A camera kEyeHeight tiles above the floor, focal length 320 pixels, looking at the horizon.
  const double depth = kEyeHeight * 320.0 / (sy - kHorizon);
  const double wx = (sx - 320.0) * depth / 320.0 + 0.5;
  const double wz = depth + 0.35;
  const double fx = wx - std::floor(wx);
  const double fz = wz - std::floor(wz);
  const bool dark =
      ((static_cast<long>(std::floor(wx)) + static_cast<long>(std::floor(wz))) & 1) != 0;
  const Rgb light_tile{0.88, 0.85, 0.78};
  const Rgb dark_tile{0.22, 0.36, 0.44};
  Rgb c = dark ? dark_tile : light_tile;
  // Thin grout lines between the tiles.
  const double grout = 0.035;
  if (fx < grout || fx > 1.0 - grout || fz < grout || fz > 1.0 - grout) c = c * 0.72;
  return c;
}

std::vector<std::uint8_t> draw_background() {
  Canvas c(kBgW, kBgH);
  for (int y = 0; y < kBgH; ++y) {
    for (int x = 0; x < kBgW; ++x) {
      const double px = x + 0.5;
      const double py = y + 0.5;
      // Sky, sun and clouds.
      Rgb sky = sky_colour(py);
      const double ds = std::hypot(px - kSunX, py - kSunY);
      sky = sky + Rgb{1.0, 0.78, 0.50} * sun_glow(px, py);
      sky = mix(sky, Rgb{1.0, 0.98, 0.90}, clamp01(16.5 - ds));
      const double density = cloud_density(px, py);
      if (density > 0.0) {
        // Lit from above: compare with the density a little higher up.
        const double above = cloud_density(px + 2.0, py - 6.0);
        const double lit = clamp01(0.55 + (density - above) * 2.2);
        const Rgb shade{0.62, 0.66, 0.78};
        const Rgb bright{1.0, 0.97, 0.92};
        Rgb cloud = mix(shade, bright, lit) + Rgb{1.0, 0.72, 0.45} * (0.6 * sun_glow(px, py));
        sky = mix(sky, cloud, density * 0.92);
      }
      c.over(x, y, sky, 1.0);

      // Mountain ridges, anti-aliased with four sub-columns.
      double far_cover = 0.0;
      double near_cover = 0.0;
      for (int s = 0; s < 4; ++s) {
        const double sx = x + (s + 0.5) / 4.0;
        far_cover += clamp01(y + 1.0 - ridge_far(sx)) / 4.0;
        near_cover += clamp01(y + 1.0 - ridge_near(sx)) / 4.0;
      }
      if (far_cover > 0.0 && y < kHorizon) {
        const double h = clamp01((kHorizon - py) / 76.0);
        Rgb far{0.52, 0.58, 0.74};
        far = mix(kHaze * Rgb{0.93, 0.90, 0.92}, far, std::pow(h, 0.6));
        far = far + Rgb{1.0, 0.75, 0.5} * (0.35 * sun_glow(px, py));
        c.over(x, y, far, far_cover);
      }
      if (near_cover > 0.0 && y < kHorizon) {
        const double h = clamp01((kHorizon - py) / 44.0);
        const double n = fbm(px / 9.0, py / 5.0, 3, 41u);
        Rgb near{0.30, 0.38, 0.48};
        near = near * (0.92 + 0.16 * n);
        near = mix(kHaze * Rgb{0.80, 0.78, 0.80}, near, std::pow(h, 0.45));
        near = near + Rgb{1.0, 0.72, 0.45} * (0.22 * sun_glow(px, py));
        c.over(x, y, near, near_cover);
      }

      // The floor, four by four samples per pixel, fading into the haze with distance.
      if (y + 1 > kHorizon) {
        Rgb sum;
        double weight = 0.0;
        const int n = y < kHorizon + 40 ? 8 : 4;
        for (int sy = 0; sy < n; ++sy) {
          const double fy = y + (sy + 0.5) / n;
          if (fy <= kHorizon + 0.05) continue;
          for (int sx = 0; sx < n; ++sx) {
            const double fx = x + (sx + 0.5) / n;
            const double depth = kEyeHeight * 320.0 / (fy - kHorizon);
            Rgb f = floor_colour(fx, fy);
            // The low sun reflects in the polished tiles as a soft vertical streak.
            const double streak =
                std::exp(-std::abs(fx - kSunX) / (18.0 + 120.0 / depth)) * std::exp(-depth / 30.0);
            f = f + Rgb{1.0, 0.80, 0.55} * (0.55 * streak);
            // Nearer tiles sit a little darker: the light comes from far away.
            f = f * (0.80 + 0.20 * smoothstep(5.0, 14.0, depth));
            const double fog = 1.0 - std::exp(-depth / 55.0);
            f = mix(f, kHaze, fog);
            sum = sum + f;
            weight += 1.0;
          }
        }
        if (weight > 0.0) c.over(x, y, sum * (1.0 / weight), weight / (n * n));
      }
    }
  }
  // A soft vignette draws the eye to the middle of the picture.
  for (int y = 0; y < kBgH; ++y) {
    for (int x = 0; x < kBgW; ++x) {
      const double u = (x + 0.5) / kBgW - 0.5;
      const double v = (y + 0.5) / kBgH - 0.5;
      const double k = 1.0 - 0.28 * std::pow(u * u + v * v, 1.2) * 2.4;
      double* p = c.at(x, y);
      for (int i = 0; i < 3; ++i) p[i] *= k;
    }
  }
  return to_rgba8(c, true);
}

// ---------------------------------------------------------------------------------------------
// Ball: a glossy sphere lit from the upper left, with a faint drop shadow in the margin that the
// game leaves below and to the right of the collision box.

constexpr int kBallW = 64;
constexpr int kBallH = 66;
constexpr double kBallR = 28.5;
constexpr double kBallCX = 28.5;
constexpr double kBallCY = 28.5;
// Stored alpha of the shadow's darkest pixel: at most 30, so the shadow never counts as ball.
constexpr double kShadowAlpha = 28.0 / 255.0;

Rgb ball_shade(double nx, double ny) {
  const double nz = std::sqrt(std::max(0.0, 1.0 - nx * nx - ny * ny));
  const double lx = -0.48, ly = -0.62, lz = 0.62;
  const double ll = std::sqrt(lx * lx + ly * ly + lz * lz);
  const double diffuse = std::max(0.0, (nx * lx + ny * ly + nz * lz) / ll);
  const Rgb base{0.86, 0.16, 0.13};
  Rgb c = base * (0.26 + 0.82 * diffuse);
  // Light bounced up from the floor warms the underside.
  c = c + Rgb{0.55, 0.30, 0.15} * (0.35 * std::max(0.0, ny) * (1.0 - nz * 0.5));
  // The sky reflects at grazing angles.
  const double fresnel = std::pow(1.0 - nz, 3.0);
  c = c + Rgb{0.45, 0.60, 0.90} * (0.55 * fresnel * std::max(0.0, 0.3 - ny));
  // The low sun behind the scene leaves a warm rim on the right.
  c = c + Rgb{1.0, 0.62, 0.35} * (0.60 * fresnel * smoothstep(0.1, 0.9, nx));
  // Blinn-Phong highlights: a tight bright spot and a broad sheen.
  const double hx = lx / ll, hy = ly / ll, hz = lz / ll + 1.0;
  const double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
  const double nh = std::max(0.0, (nx * hx + ny * hy + nz * hz) / hl);
  c = c + Rgb{1.0, 0.97, 0.92} * (0.95 * std::pow(nh, 90.0) + 0.18 * std::pow(nh, 10.0));
  return {clamp01(c.r), clamp01(c.g), clamp01(c.b)};
}

std::vector<std::uint8_t> draw_ball() {
  Canvas c(kBallW, kBallH);
  // Shadow: the disc moved down and right, blurred by a smooth falloff across its rim.
  for (int y = 0; y < kBallH; ++y) {
    for (int x = 0; x < kBallW; ++x) {
      const double d = std::hypot(x + 0.5 - (kBallCX + 3.0), y + 0.5 - (kBallCY + 5.0));
      double a = kShadowAlpha * (1.0 - smoothstep(kBallR - 5.0, kBallR + 3.0, d));
      // Fade to nothing at the picture's edge so the shadow is never cut off sharply.
      a *= smoothstep(0.0, 2.5, kBallW - (x + 0.5)) * smoothstep(0.0, 2.5, kBallH - (y + 0.5));
      c.over(x, y, Rgb{0.04, 0.06, 0.14}, a);
    }
  }
  // The ball, eight by eight samples per pixel.
  constexpr int kSamples = 8;
  for (int y = 0; y < kBallH; ++y) {
    for (int x = 0; x < kBallW; ++x) {
      Rgb sum;
      int inside = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double nx = (x + (sx + 0.5) / kSamples - kBallCX) / kBallR;
          const double ny = (y + (sy + 0.5) / kSamples - kBallCY) / kBallR;
          if (nx * nx + ny * ny >= 1.0) continue;
          sum = sum + ball_shade(nx, ny);
          ++inside;
        }
      }
      if (inside > 0) {
        c.over(x, y, sum * (1.0 / inside), static_cast<double>(inside) / (kSamples * kSamples));
      }
    }
  }
  return to_rgba8(c, false);
}

// ---------------------------------------------------------------------------------------------
// Cursor: an arrow with a dark outline and a light body, its tip filling the top-left pixel,
// with a faint shadow below and to the right.

constexpr int kCursorW = 20;
constexpr int kCursorH = 28;

struct Pt {
  double x, y;
};

// Outline of the arrow, clockwise from the tip. The tip lies a little above the picture so that
// pixel (0, 0) is nearly fully covered and the visible point is the picture's top-left corner.
const std::array<Pt, 7> kArrow = {{
    {0.0, -0.75},
    {15.6, 15.1},
    {9.9, 15.3},
    {13.6, 24.6},
    {10.1, 26.2},
    {6.1, 16.9},
    {0.0, 21.9},
}};

bool inside_arrow(double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = kArrow.size() - 1; i < kArrow.size(); j = i++) {
    const Pt a = kArrow[i];
    const Pt b = kArrow[j];
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
  }
  return in;
}

double distance_to_outline(double x, double y) {
  double best = 1e9;
  for (std::size_t i = 0, j = kArrow.size() - 1; i < kArrow.size(); j = i++) {
    const Pt a = kArrow[j];
    const Pt b = kArrow[i];
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = clamp01(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy));
    best = std::min(best, std::hypot(x - (a.x + t * dx), y - (a.y + t * dy)));
  }
  return best;
}

std::vector<std::uint8_t> draw_cursor() {
  Canvas c(kCursorW, kCursorH);
  constexpr int kSamples = 16;
  // Shadow: the arrow's coverage moved by (1.5, 2) and spread a little.
  for (int y = 0; y < kCursorH; ++y) {
    for (int x = 0; x < kCursorW; ++x) {
      double cover = 0.0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4.0 - 1.5;
          const double py = y + (sy + 0.5) / 4.0 - 2.0;
          const double d = distance_to_outline(px, py);
          const double k = inside_arrow(px, py) ? 1.0 : 1.0 - smoothstep(0.0, 1.6, d);
          cover += k / 16.0;
        }
      }
      c.over(x, y, Rgb{0.0, 0.0, 0.05}, 0.30 * cover);
    }
  }
  for (int y = 0; y < kCursorH; ++y) {
    for (int x = 0; x < kCursorW; ++x) {
      Rgb sum;
      int inside = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double px = x + (sx + 0.5) / kSamples;
          const double py = y + (sy + 0.5) / kSamples;
          if (!inside_arrow(px, py)) continue;
          const double d = distance_to_outline(px, py);
          const Rgb outline{0.07, 0.08, 0.11};
          // The body brightens slightly towards the tip, like a lit plastic arrow.
          const Rgb body = mix(Rgb{1.0, 1.0, 1.0}, Rgb{0.86, 0.88, 0.92}, clamp01(py / 26.0));
          sum = sum + (d < 1.15 ? outline : body);
          ++inside;
        }
      }
      if (inside > 0) {
        c.over(x, y, sum * (1.0 / inside), static_cast<double>(inside) / (kSamples * kSamples));
      }
    }
  }
  return to_rgba8(c, false);
}

bool save(const std::filesystem::path& dir, const char* name, const std::vector<std::uint8_t>& rgba,
          int w, int h) {
  const std::string path = (dir / name).string();
  if (png_save(path, rgba.data(), static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h),
               static_cast<std::size_t>(w) * 4, PNG_RGBA) == KASTREL::FALSE) {
    std::fprintf(stderr, "kastrel_make_pictures: %s\n", KASTREL::LASTERROR());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kastrel_make_pictures OUTPUT_DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "kastrel_make_pictures: %s: %s\n", argv[1], ec.message().c_str());
    return 1;
  }
  const bool ok = save(dir, "background.png", draw_background(), kBgW, kBgH) &&
                  save(dir, "ball.png", draw_ball(), kBallW, kBallH) &&
                  save(dir, "cursor.png", draw_cursor(), kCursorW, kCursorH);
  return ok ? 0 : 1;
}
