// Draws the platformer example's pictures and writes them as PNG files:
//   kastrel_make_platformer_art OUTPUT_DIR
// writes OUTPUT_DIR/maps/tiles.png (the map's tileset, 8 x 2 tiles of 16 x 16) and
// OUTPUT_DIR/images/player.png (the player's sheet: 7 frames facing right over the same 7
// facing left: standing, four running, rising, falling). Pixel art from integer arithmetic and
// a fixed hash: the same bytes on every run and machine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/png/png_save.h"

namespace {

constexpr int kTile = 16;

struct Picture {
  int width, height;
  std::vector<uint8_t> rgba;
  Picture(int w, int h) : width(w), height(h), rgba(size_t(w) * size_t(h) * 4, 0) {}
  // An opaque 0xRRGGBB pixel (outside the picture: nothing).
  void set(int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
    p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb), p[3] = 255;
  }
  void fill(int x0, int y0, int w, int h, uint32_t rgb) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) set(x, y, rgb);
  }
};

uint32_t hash(int x, int y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  return h ^ (h >> 15);
}

// Earth: dark specks on brown, the same speckle in every dirt tile so rows of them tile.
void dirt(Picture& p, int ox, int y0) {
  for (int y = y0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x)
      p.set(ox + x, y,
            hash(x, y, 1) % 7 == 0    ? 0x6B4226
            : hash(x, y, 2) % 11 == 0 ? 0xA0703C
                                      : 0x8A5A30);
}

void grass_top(Picture& p, int ox) {
  dirt(p, ox, 0);
  for (int x = 0; x < kTile; ++x) {
    const int depth = 4 + int(hash(x, 0, 3) % 3);
    for (int y = 0; y < depth; ++y) p.set(ox + x, y, y == 0 ? 0x8CE05A : 0x4CAF3C);
  }
}

void stone(Picture& p, int ox) {
  p.fill(ox, 0, kTile, kTile, 0x8A8F9C);
  for (int x = 0; x < kTile; ++x) p.set(ox + x, 7, 0x50545E), p.set(ox + x, 15, 0x50545E);
  for (int y = 0; y < 7; ++y) p.set(ox + 7, y, 0x50545E), p.set(ox + 15, y + 8, 0x50545E);
  for (int x = 0; x < kTile - 1; ++x) p.set(ox + x, 0, 0xB4B9C6), p.set(ox + x, 8, 0xB4B9C6);
}

// A plank on two brackets; below it the tile is clear, the sky showing through.
void plank(Picture& p, int ox) {
  p.fill(ox, 0, kTile, 5, 0xC08A48);
  for (int x = 0; x < kTile; ++x) p.set(ox + x, 0, 0xE0B070), p.set(ox + x, 4, 0x7A5028);
  for (int x : {3, 12}) p.set(ox + x, 2, 0x5A3A1C);
  for (int y = 5; y < 9; ++y)
    p.set(ox + 2 + (y - 5), y, 0x7A5028), p.set(ox + 13 - (y - 5), y, 0x7A5028);
}

// A coin turning: HALF is its half-width in pixels (6, 4, 1).
void coin(Picture& p, int ox, int half) {
  for (int y = 2; y < 14; ++y)
    for (int x = 8 - half; x < 8 + half; ++x) {
      const int dx = 2 * x + 1 - 16, dy = 2 * y + 1 - 16;
      if (dx * dx * 36 / (half * half) + dy * dy > 144) continue;
      const bool rim = dx * dx * 36 / (half * half) + dy * dy > 90;
      p.set(ox + x, y, rim ? 0xC88A10 : x < 8 ? 0xFFE060 : 0xF0C030);
    }
}

void flag(Picture& p, int ox) {
  p.fill(ox + 3, 1, 2, 15, 0xE8E8E8);
  p.fill(ox + 5, 2, 9, 6, 0xE03C3C);
  for (int y = 2; y < 8; ++y) p.set(ox + 13 - (y % 2), y, 0xB02020);
  p.fill(ox + 2, 0, 4, 2, 0xFFD040);
}

void cloud(Picture& p, int ox) {
  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      const int a = (x - 5) * (x - 5) + (y - 9) * (y - 9),
                b = (x - 10) * (x - 10) + (y - 7) * (y - 7);
      if ((a < 20 || b < 26) && y < 13) p.set(ox + x, y, y > 10 ? 0xD8E4F0 : 0xFFFFFF);
    }
}

void bush(Picture& p, int ox) {
  for (int y = 6; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      const int a = (x - 5) * (x - 5) + (y - 12) * (y - 12),
                b = (x - 10) * (x - 10) + (y - 10) * (y - 10);
      if (a < 22 || b < 20) p.set(ox + x, y, (x + y) % 5 == 0 ? 0x2E8A2E : 0x3FA53F);
    }
}

void flowers(Picture& p, int ox) {
  for (int k = 0; k < 3; ++k) {
    const int x = 3 + 5 * k, top = 9 + int(hash(k, 0, 9) % 3);
    for (int y = top; y < kTile; ++y) p.set(ox + x, y, 0x3A9A32);
    p.set(ox + x, top - 1, k == 1 ? 0xFF80C0 : 0xFFF060);
    p.set(ox + x - 1, top, 0xFFFFFF), p.set(ox + x + 1, top, 0xFFFFFF);
  }
}

Picture tiles() {
  Picture p(8 * kTile, 2 * kTile);
  Picture row1(8 * kTile, kTile);
  grass_top(p, 0);
  dirt(p, kTile, 0);
  stone(p, 2 * kTile);
  plank(p, 3 * kTile);
  coin(p, 4 * kTile, 6);
  coin(p, 5 * kTile, 4);
  coin(p, 6 * kTile, 1);
  flag(p, 7 * kTile);
  cloud(row1, 0);
  bush(row1, kTile);
  flowers(row1, 2 * kTile);
  std::copy(row1.rgba.begin(), row1.rgba.end(), p.rgba.begin() + ptrdiff_t(row1.rgba.size()));
  return p;
}

// The player, 16 x 16 facing right: a round-headed runner in a blue suit. PHASE 0 stands,
// 1-4 run, 5 rises, 6 falls; legs and arms swing with the phase.
void runner(Picture& p, int ox, int oy, int phase, bool left) {
  Picture f(kTile, kTile);
  constexpr uint32_t skin = 0xF2C49A, suit = 0x3A6AE0, dark = 0x22408A, hair = 0x5A3018;
  f.fill(5, 2, 7, 6, skin);  // head
  f.fill(5, 1, 7, 2, hair);  // hair
  f.set(4, 3, hair);
  f.set(10, 4, 0x101010);     // eye
  f.fill(5, 8, 6, 4, suit);   // body
  f.fill(5, 11, 6, 1, dark);  // belt
  static constexpr int kLegs[7][4] = {{6, 9, 0, 0}, {4, 10, 0, 1}, {6, 9, 1, 0}, {8, 7, 0, 1},
                                      {6, 9, 1, 0}, {5, 10, 2, 0}, {6, 10, 0, 0}};
  const int* l = kLegs[phase];
  for (int y = 12; y < 16 - l[2]; ++y) f.set(l[0], y, dark), f.set(l[0] + 1, y, dark);
  for (int y = 12; y < 16 - l[3]; ++y) f.set(l[1], y, dark), f.set(l[1] + 1, y, dark);
  f.fill(l[0] - 1, 15 - l[2], 3, 1, 0x202020);
  f.fill(l[1], 15 - l[3], 3, 1, 0x202020);
  const int arm = phase == 5 ? -3 : (phase == 1 || phase == 3) ? 1 : phase == 0 ? 0 : -1;
  f.fill(11, 8 + std::max(arm, -2), 2, 3, skin);
  f.fill(3, 9 - std::min(arm, 1), 2, 3, skin);
  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      const uint8_t* q = &f.rgba[size_t(y * kTile + x) * 4];
      if (q[3] != 0)
        p.set(ox + (left ? kTile - 1 - x : x), oy + y, uint32_t(q[0]) << 16 | q[1] << 8 | q[2]);
    }
}

Picture player() {
  Picture p(7 * kTile, 2 * kTile);
  for (int row = 0; row < 2; ++row)
    for (int phase = 0; phase < 7; ++phase) runner(p, phase * kTile, row * kTile, phase, row == 1);
  return p;
}

bool save(const std::filesystem::path& path, const Picture& p) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (png_save(path.string(), p.rgba.data(), uint32_t(p.width), uint32_t(p.height),
               size_t(p.width) * 4, PNG_RGBA) == KASTREL::FALSE) {
    std::fprintf(stderr, "kastrel_make_platformer_art: %s\n", KASTREL::LASTERROR());
    return false;
  }
  std::printf("%s\n", path.string().c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kastrel_make_platformer_art OUTPUT_DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  return save(dir / "maps/tiles.png", tiles()) && save(dir / "images/player.png", player()) ? 0 : 1;
}
