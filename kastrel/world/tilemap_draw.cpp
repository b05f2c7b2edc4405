// Tile and image layers drawn through a camera.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/graphics/detail/draw_target.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"
#include "kastrel/graphics/shapes.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/detail/tilemap_load.h"

namespace KASTREL::WORLD {

namespace {

// A 32-bit draw target opened for a view's drawing and finished on every return, with the part
// of the view (columns [kmin, kmax), rows [jmin, jmax) of a vw x vh view at `view`) inside the
// target's clip: the whole target when none is set.
class VIEW_TARGET {
 public:
  VIEW_TARGET(void* DEST, GRAPHICS::RASTEROP method, const char* caller) : caller_(caller) {
    began_ = GRAPHICS::DETAIL::begin(t, DEST, method, 0, caller);
  }
  ~VIEW_TARGET() {
    if (began_) GRAPHICS::DETAIL::finish(t);
  }
  VIEW_TARGET(const VIEW_TARGET&) = delete;
  VIEW_TARGET& operator=(const VIEW_TARGET&) = delete;
  // False (the reason in LASTERROR()) when the target could not be opened or is not 32-bit.
  bool open() const {
    if (began_ && t.bpp != 4)
      SETLASTERROR("%s: the target is not 32 bits a pixel", caller_);
    return began_ && t.bpp == 4;
  }
  // False when no pixel of the view lies inside the clip.
  bool inside(const MATH::RECT& view, int64_t vw, int64_t vh) {
    kmin = std::max<int64_t>(0, t.clip_x0 - view.X), kmax = std::min<int64_t>(vw, t.clip_x1 - view.X);
    jmin = std::max<int64_t>(0, t.clip_y0 - view.Y), jmax = std::min<int64_t>(vh, t.clip_y1 - view.Y);
    return kmin < kmax && jmin < jmax;
  }

  GRAPHICS::DETAIL::DRAWTARGET t;
  int64_t kmin = 0, kmax = 0, jmin = 0, jmax = 0;

 private:
  const char* caller_;
  bool began_ = false;
};

uint32_t multiply(uint32_t a, uint32_t b) {
  uint32_t out = 0;
  for (int c = 0; c < 32; c += 8) out |= ((((a >> c) & 255) * ((b >> c) & 255) + 127) / 255) << c;
  return out;
}

// The layer's values with its groups'.
struct EFFECT {
  bool visible = true;
  double opacity = 1, offx = 0, offy = 0, parx = 1, pary = 1;
  uint32_t tint = 0xFFFFFFFFu;
};

EFFECT effect_of(const TILEMAP& map, int32_t index) {
  EFFECT e;
  for (int32_t i = index, guard = 0; i >= 0 && i < int32_t(map.LAYERS.size()) && guard < 128;
       i = map.LAYERS[size_t(i)].PARENT, ++guard) {
    const LAYER& l = map.LAYERS[size_t(i)];
    e.visible = e.visible && l.VISIBLE;
    e.opacity *= l.OPACITY;
    e.offx += l.OFFSETX;
    e.offy += l.OFFSETY;
    e.parx *= l.PARALLAXX;
    e.pary *= l.PARALLAXY;
    e.tint = multiply(e.tint, l.TINT);
  }
  const uint32_t alpha =
      uint32_t(std::lround(double(e.tint >> 24) * std::clamp(e.opacity, 0.0, 1.0)));
  e.tint = (e.tint & 0xFFFFFFu) | alpha << 24;
  return e;
}

// A whole number of pixels or tiles from a floored value, held where int64 arithmetic is safe.
int64_t whole(double v) { return std::isnan(v) ? 0 : int64_t(std::clamp(v, -0x1p60, 0x1p60)); }

// Pixel c multiplied by tint t, channel by channel: c * (t + 1) >> 8.
inline uint32_t tinted(uint32_t c, uint32_t t) {
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) out |= ((((c >> s) & 255) * (((t >> s) & 255) + 1)) >> 8) << s;
  return out;
}

// The tile's picture and its closed source rectangle, or false when it has none loaded.
bool tile_picture(const TILESET& ts, int32_t id, const GRAPHICS::BITMAP*& image, MATH::RECT& r) {
  if (ts.IMAGEPATH.empty()) {
    const TILEINFO* info = ts.INFO(id);
    if (info == nullptr || info->IMAGE.HANDLE() == nullptr) return false;
    image = &info->IMAGE;
    r = {0, 0, int32_t(image->WIDTH()) - 1, int32_t(image->HEIGHT()) - 1};
  } else {
    image = &ts.IMAGE;
    r = ts.SOURCERECT(id);
  }
  return image->HANDLE() != nullptr && image->BPP() == 4 && r.X >= 0 && r.Y >= 0 &&
         int64_t(r.X) + r.W < int64_t(image->WIDTH()) &&
         int64_t(r.Y) + r.H < int64_t(image->HEIGHT());
}

// A table of n values on the stack when it is small (a view's columns, its rows), else on the heap.
template <typename T, size_t N>
struct SCRATCH {
  T local[N];
  std::vector<T> more;
  T* at;
  explicit SCRATCH(size_t n) : at(n <= N ? local : (more.resize(n), more.data())) {}
  SCRATCH(const SCRATCH&) = delete;
  SCRATCH& operator=(const SCRATCH&) = delete;
  T& operator[](size_t i) { return at[i]; }
  const T& operator[](size_t i) const { return at[i]; }
};

// Each cell value's tile, picture and source rectangle, found once a draw (a cell value is never
// 0 where looked up, so the empty entries match no cell).
struct LOOKUP {
  uint32_t cell = 0, gid = 0;
  const TILESET* ts = nullptr;
  const GRAPHICS::BITMAP* image = nullptr;
  MATH::RECT src;
};
struct LOOKUPS {
  std::array<LOOKUP, 256> known;
  const LOOKUP& of(const TILEMAP& map, uint32_t cell, int64_t ms);
};

const LOOKUP& LOOKUPS::of(const TILEMAP& map, uint32_t cell, int64_t ms) {
  LOOKUP& k = known[(cell ^ cell >> 20) & (known.size() - 1)];
  if (k.cell == cell) return k;
  k.cell = cell;
  uint32_t gid = cell;
  int32_t id = 0;
  const TILESET* ts = map.TILESETOF(gid, &id);
  if (ts != nullptr && !ts->TILES.empty()) {
    const TILEINFO* info = ts->INFO(id);
    if (info != nullptr && !info->ANIMATION.empty()) {
      gid = map.ANIMATEDGID(gid, ms);
      ts = map.TILESETOF(gid, &id);
    }
  }
  k.gid = gid;
  k.ts = ts != nullptr && tile_picture(*ts, id, k.image, k.src) ? ts : nullptr;
  return k;
}

bool target_ok(void* DEST, const char* call) {
  if (DEST == nullptr) return true;
  VOX_IMAGE_INFO info;
  if (!vox_hImageInfo(DEST, 4, &info) || info.bpp != 4) {
    SETLASTERROR("%s: the target is not a 32-bit image", call);
    return false;
  }
  return true;
}

bool by_rows(const TILEMAP& map, const void* DEST);

// A turned view over more cells than it has pixels (zoomed far out), pixel by pixel: each view
// pixel inside the clip shows the world pixel under its centre, so the work is the view's
// whatever the zoom. Only for tiles of the grid's size, unmoved (by_rows), where that pixel
// belongs to one cell.
BOOLEAN draw_turned_pixels(void* DEST, const TILEMAP& map, const LAYER& layer, const EFFECT& e,
                           const CAMERA& cam, int64_t ms, GRAPHICS::RASTEROP method, double shiftx,
                           double shifty) {
  VIEW_TARGET target(DEST, method, "DRAWLAYER");
  if (!target.open()) return FALSE;
  const int64_t vw = int64_t(cam.VIEW.W) + 1, vh = int64_t(cam.VIEW.H) + 1;
  if (!target.inside(cam.VIEW, vw, vh)) return TRUE;
  GRAPHICS::DETAIL::DRAWTARGET& t = target.t;
  const int64_t kmin = target.kmin, kmax = target.kmax, jmin = target.jmin, jmax = target.jmax;
  // The world point under a view pixel's centre moves by a fixed step a column and a row.
  const MATH::POINTF o = cam.TOWORLD(float(cam.VIEW.X) + 0.5f, float(cam.VIEW.Y) + 0.5f);
  const MATH::POINTF ox = cam.TOWORLD(float(cam.VIEW.X) + 1.5f, float(cam.VIEW.Y) + 0.5f);
  const MATH::POINTF oy = cam.TOWORLD(float(cam.VIEW.X) + 0.5f, float(cam.VIEW.Y) + 1.5f);
  const double ax = double(ox.X) - o.X, ay = double(ox.Y) - o.Y;
  const double bx = double(oy.X) - o.X, by = double(oy.Y) - o.Y;
  const int64_t tw = map.TILEWIDTH, th = map.TILEHEIGHT;
  const bool plain = e.tint == 0xFFFFFFFFu || method == GRAPHICS::VOXADD;
  const int32_t alpha = method == GRAPHICS::VOXADD ? int32_t(e.tint >> 24) : 255;
  std::vector<uint32_t> line(size_t(kmax - kmin));
  LOOKUPS looks;
  for (int64_t j = jmin; j < jmax; ++j) {
    uint8_t* to = t.pixels + (cam.VIEW.Y + j) * int64_t(t.pitch) + int64_t(cam.VIEW.X) * 4;
    int64_t run = -1;  // where the run of drawn pixels being gathered starts
    bool drawn = false;
    for (int64_t k = kmin; k <= kmax; ++k) {
      uint32_t p = 0;
      bool shown = false;
      if (k < kmax) {
        const double wx = std::floor(double(o.X) + double(k) * ax + double(j) * bx - shiftx);
        const double wy = std::floor(double(o.Y) + double(k) * ay + double(j) * by - shifty);
        const double cx = std::floor(wx / double(tw)), cy = std::floor(wy / double(th));
        if (cx >= layer.ORIGINX && cy >= layer.ORIGINY &&
            cx < double(layer.ORIGINX) + layer.WIDTH && cy < double(layer.ORIGINY) + layer.HEIGHT) {
          const uint32_t cell = layer.CELL(int32_t(cx), int32_t(cy));
          const LOOKUP* known = (cell & TILEGIDMASK) ? &looks.of(map, cell, ms) : nullptr;
          if (known != nullptr && known->ts != nullptr) {
            const uint32_t gid = known->gid;
            int64_t u = int64_t(wx - cx * double(tw)), v = int64_t(wy - cy * double(th));
            if (gid & TILEFLIPH) u = tw - 1 - u;
            if (gid & TILEFLIPV) v = th - 1 - v;
            int64_t su = u, sv = v;
            if (gid & TILEFLIPD) su = std::min(v, tw - 1), sv = std::min(u, th - 1);
            std::memcpy(&p,
                        static_cast<const uint8_t*>(known->image->HANDLE()) + 32 +
                            size_t(known->src.Y + sv) * known->image->PITCH() +
                            size_t(known->src.X + su) * 4,
                        4);
            shown = true;
          }
        }
      }
      if (shown) {
        if (run < 0) run = k;
        line[size_t(k - kmin)] = plain ? p : tinted(p, e.tint);
      } else if (run >= 0) {
        t.rows(reinterpret_cast<const uint8_t*>(line.data() + (run - kmin)), to + run * 4,
               int32_t(k - run), 1, int32_t((k - run) * 4), t.pitch, alpha, nullptr, nullptr);
        run = -1, drawn = true;
      }
    }
    if (drawn) {
      t.top = std::min<int64_t>(t.top, cam.VIEW.Y + j);
      t.bottom = std::max<int64_t>(t.bottom, cam.VIEW.Y + j);
    }
  }
  return TRUE;
}

// Tiles one by one through DRAWTRANSFORMED, for a turned camera.
BOOLEAN draw_turned(void* DEST, const TILEMAP& map, const LAYER& layer, const EFFECT& e,
                    const CAMERA& cam, int64_t MS, GRAPHICS::RASTEROP METHOD, double shiftx,
                    double shifty) {
  const MATH::RECTF seen = cam.VISIBLE();
  const int64_t tw = map.TILEWIDTH, th = map.TILEHEIGHT;
  int64_t reach = 1;
  for (const TILESET& ts : map.TILESETS)
    reach = std::max<int64_t>(reach, (std::max(ts.TILEWIDTH, ts.TILEHEIGHT) + std::abs(ts.OFFSETX) +
                                      std::abs(ts.OFFSETY)) /
                                             std::min(tw, th) +
                                         1);
  const int64_t c0 =
      std::max<int64_t>(layer.ORIGINX, whole(std::floor((seen.X - shiftx) / tw)) - reach);
  const int64_t c1 = std::min<int64_t>(int64_t(layer.ORIGINX) + layer.WIDTH - 1,
                                       whole(std::floor((seen.X + seen.W - shiftx) / tw)) + reach);
  const int64_t r0 =
      std::max<int64_t>(layer.ORIGINY, whole(std::floor((seen.Y - shifty) / th)) - reach);
  const int64_t r1 = std::min<int64_t>(int64_t(layer.ORIGINY) + layer.HEIGHT - 1,
                                       whole(std::floor((seen.Y + seen.H - shifty) / th)) + reach);
  const int64_t pixels = (int64_t(cam.VIEW.W) + 1) * (int64_t(cam.VIEW.H) + 1);
  if (c0 <= c1 && r0 <= r1 && double(c1 - c0 + 1) * double(r1 - r0 + 1) > double(pixels) &&
      by_rows(map, DEST))
    return draw_turned_pixels(DEST, map, layer, e, cam, MS, METHOD, shiftx, shifty);
  for (int64_t r = r0; r <= r1; ++r)
    for (int64_t c = c0; c <= c1; ++c) {
      uint32_t gid = layer.CELL(int32_t(c), int32_t(r));
      if ((gid & TILEGIDMASK) == 0) continue;
      gid = map.ANIMATEDGID(gid, MS);
      int32_t id = 0;
      const TILESET* ts = map.TILESETOF(gid, &id);
      const GRAPHICS::BITMAP* image = nullptr;
      MATH::RECT src;
      if (ts == nullptr || !tile_picture(*ts, id, image, src)) continue;
      const double w = src.W + 1.0, h = src.H + 1.0;
      const double cx = shiftx + double(c * tw + ts->OFFSETX) + w / 2;
      const double cy = shifty + double((r + 1) * th + ts->OFFSETY) - h / 2;
      GRAPHICS::TRANSFORM T;
      T.SOURCE = src;
      T.PIVOTX = float(w / 2);
      T.PIVOTY = float(h / 2);
      T.METHOD = METHOD;
      T.TINT = e.tint;
      const bool H = gid & TILEFLIPH, V = gid & TILEFLIPV;
      if (gid & TILEFLIPD) {
        // Swapping x and y is a mirror top to bottom turned a quarter clockwise; the other
        // mirrors then swap roles.
        T.ANGLE = 90;
        T.FLIP = (GRAPHICS::FLIPV ^ (H ? GRAPHICS::FLIPV : 0)) ^ (V ? GRAPHICS::FLIPH : 0);
      } else {
        T.FLIP = (H ? GRAPHICS::FLIPH : 0) | (V ? GRAPHICS::FLIPV : 0);
      }
      if (!cam.DRAWTRANSFORMED(DEST, *image, float(cx), float(cy), T)) return FALSE;
    }
  return TRUE;
}

int64_t floordiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

using SPAN = std::pair<int64_t, int64_t>;

// What an unturned camera's drawing knows of the view: the world pixel (in the layer's
// coordinates) under each view column's and row's centre, the view columns on the target, and
// the view spans of the cells in sight.
struct GRIDVIEW {
  const int64_t* cols;
  const int64_t* rows;
  int64_t kmin, kmax, jmin, jmax;  // the view columns and rows drawn: inside the target's clip
  int64_t c0, c1, r0, r1;
  const SPAN* colspan;  // by cell column, from c0
  const SPAN* rowspan;  // by cell row, from r0
};

// Whether every tile is grid-sized and unmoved, from a picture other than the target: then no
// two tiles overlap, and the layer can be drawn view row by view row.
bool by_rows(const TILEMAP& map, const void* DEST) {
  if (map.TILEWIDTH > 256) return false;
  for (const TILESET& ts : map.TILESETS)
    if (ts.IMAGEPATH.empty() || ts.TILEWIDTH != map.TILEWIDTH ||
        ts.TILEHEIGHT != map.TILEHEIGHT || ts.OFFSETX != 0 || ts.OFFSETY != 0 ||
        (DEST != nullptr && ts.IMAGE.HANDLE() == DEST))
      return false;
  return true;
}

// The layer view row by view row. A strip of cells is looked up once; each of its rows is
// picked from the tiles' rows (scaled by a table of columns, mirrored, tinted) straight onto the
// target for PSET, else into a row the row loop lays on the target in one call for each run of
// drawn cells. A zoom's repeated rows reuse what their first made. Per tile and per row calls
// cost more than the pixels here: a 16 x 16 tile is sixteen vector rows.
void draw_rows(GRAPHICS::DETAIL::DRAWTARGET& t, const GRIDVIEW& g, const TILEMAP& map,
               const LAYER& layer, const CAMERA& cam, int64_t ms, GRAPHICS::RASTEROP method,
               uint32_t tint, LOOKUPS& looks) {
  const int64_t tw = map.TILEWIDTH, th = map.TILEHEIGHT, vn = g.kmax - g.kmin;
  const bool copy = method == GRAPHICS::VOXPSET;
  const bool plain = tint == 0xFFFFFFFFu || method == GRAPHICS::VOXADD;
  const int32_t alpha = method == GRAPHICS::VOXADD ? int32_t(tint >> 24) : 255;
  const VOX_PUT_ROUTINE put = t.rows;
  const VOX_SAMPLE_LOOPS& loops = vox_hSampleLoops();
  // Each view column's pixel in its tile, as it is and mirrored.
  SCRATCH<uint8_t, 2048> picks{size_t(vn)}, mirrored{size_t(vn)};
  // At zoom 1 each view column and row shows the next world pixel: tile rows are copied whole.
  const bool unit = cam.ZOOMUSED() == 1;
  for (int64_t k = g.kmin; k < g.kmax; ++k) {
    const int64_t u = g.cols[k] - floordiv(g.cols[k], tw) * tw;
    picks[size_t(k - g.kmin)] = uint8_t(u);
    mirrored[size_t(k - g.kmin)] = uint8_t(tw - 1 - u);
  }
  SCRATCH<uint32_t, 2048> line(copy ? 0 : size_t(vn));
  auto* const row = reinterpret_cast<uint8_t*>(line.at) - g.kmin * 4;  // by view column
  struct CELL {
    const uint8_t* base;  // the tile's top-left pixel
    int64_t pitch;
    uint32_t flips;
    int64_t k0, k1;
  };
  const size_t columns = size_t(g.c1 - g.c0 + 1);
  SCRATCH<CELL, 256> cells(columns);
  SCRATCH<SPAN, 256> runs(columns);
  SCRATCH<VOX_PICK_RUN, 256> batch(columns);
  for (int64_t r = g.r0; r <= g.r1; ++r) {
    const auto [j0, j1] = g.rowspan[size_t(r - g.r0)];
    if (j0 >= j1) continue;
    size_t count = 0, joined = 0;
    bool drawn = false;
    for (int64_t col = g.c0; col <= g.c1; ++col) {
      const auto [k0, k1] = g.colspan[size_t(col - g.c0)];
      if (k0 >= k1) continue;
      const uint32_t cell =
          layer.CELLS[size_t((r - layer.ORIGINY) * layer.WIDTH + (col - layer.ORIGINX))];
      if ((cell & TILEGIDMASK) == 0) continue;
      const LOOKUP& known = looks.of(map, cell, ms);
      if (known.ts == nullptr) continue;
      const size_t pitch = known.image->PITCH();
      const CELL c{static_cast<const uint8_t*>(known.image->HANDLE()) + 32 +
                       size_t(known.src.Y) * pitch + size_t(known.src.X) * 4,
                   int64_t(pitch), known.gid & (TILEFLIPH | TILEFLIPV | TILEFLIPD), k0, k1};
      if (unit && plain && c.flips == 0) {
        // Shown as it is: the tile's rows straight through the row loop, tile by tile, which
        // measured faster than by view rows (the stride of the tile's rows is prefetched).
        uint8_t* to = t.pixels + (cam.VIEW.Y + j0) * int64_t(t.pitch) + (cam.VIEW.X + k0) * 4;
        put(c.base + (g.rows[j0] - r * th) * c.pitch + picks[size_t(k0 - g.kmin)] * 4, to,
            int32_t(k1 - k0), int32_t(j1 - j0), int32_t(c.pitch), t.pitch, alpha, nullptr,
            nullptr);
        drawn = true;
        continue;
      }
      cells[count++] = c;
      if (joined > 0 && runs[joined - 1].second == k0)
        runs[joined - 1].second = k1;
      else
        runs[joined++] = {k0, k1};
    }
    if (drawn || count > 0) {
      t.top = std::min<int64_t>(t.top, cam.VIEW.Y + j0);
      t.bottom = std::max<int64_t>(t.bottom, cam.VIEW.Y + j1 - 1);
    }
    for (int64_t j = j0, next; j < j1 && count > 0; j = next) {
      // Rows j to next - 1 show the same world row (more than one at zooms above 1).
      for (next = j + 1; next < j1 && g.rows[next] == g.rows[j];) ++next;
      uint8_t* to = t.pixels + (cam.VIEW.Y + j) * int64_t(t.pitch) + int64_t(cam.VIEW.X) * 4;
      {
        const int64_t v0 = g.rows[j] - r * th;
        size_t picked = 0;
        for (size_t i = 0; i < count; ++i) {
          const CELL& c = cells[i];
          uint8_t* out = (copy ? to : row) + c.k0 * 4;
          const int32_t n = int32_t(c.k1 - c.k0);
          const int64_t v = c.flips & TILEFLIPV ? th - 1 - v0 : v0;
          const uint8_t* at = (c.flips & TILEFLIPH ? mirrored.at : picks.at) + (c.k0 - g.kmin);
          if (c.flips & TILEFLIPD) {  // x and y swapped: the row runs down a column of the tile
            const int64_t su = std::min(v, tw - 1);
            for (int32_t x = 0; x < n; ++x)
              std::memcpy(out + x * 4, c.base + std::min<int64_t>(at[x], th - 1) * c.pitch + su * 4,
                          4);
          } else if (unit && !(c.flips & TILEFLIPH)) {
            const uint8_t* from = c.base + v * c.pitch + at[0] * 4;
            if (n == 16)
              std::memcpy(out, from, 64);  // the commonest tile, copied inline
            else
              std::memcpy(out, from, size_t(n) * 4);
          } else {
            batch[picked++] = {out, c.base + v * c.pitch, at, n};
          }
        }
        if (picked > 0) loops.pick(batch.at, int32_t(picked), int32_t(tw));
        if (!plain)
          for (size_t i = 0; i < joined; ++i)
            loops.tint((copy ? to : row) + runs[i].first * 4,
                       int32_t(runs[i].second - runs[i].first), tint);
      }
      // The repeats: copies of the row drawn, or the same picked row laid again (source pitch 0).
      for (size_t i = 0; i < joined; ++i) {
        const int64_t k = runs[i].first, n = runs[i].second - runs[i].first;
        if (copy)
          for (int64_t again = 1; again < next - j; ++again)
            std::memcpy(to + again * t.pitch + k * 4, to + k * 4, size_t(n) * 4);
        else
          put(row + k * 4, to + k * 4, int32_t(n), int32_t(next - j), 0, t.pitch, alpha, nullptr,
              nullptr);
      }
    }
  }
}

// The layer tile by tile, for tiles of any size and place: each gathered as it shows (scaled,
// mirrored, tinted) unless it shows as it is, then laid on the target by the row loop.
void draw_tiles(GRAPHICS::DETAIL::DRAWTARGET& t, const GRIDVIEW& g, int64_t viewpixels,
                const TILEMAP& map, const LAYER& layer, const CAMERA& cam, int64_t ms,
                GRAPHICS::RASTEROP method, uint32_t tint, LOOKUPS& looks) {
  const int64_t tw = map.TILEWIDTH, th = map.TILEHEIGHT;
  const int64_t c0 = g.c0, c1 = g.c1, r0 = g.r0, r1 = g.r1, kmin = g.kmin, kmax = g.kmax;
  const int64_t* cols = g.cols;
  const int64_t* rows = g.rows;
  const int64_t vw = cam.VIEW.W + int64_t(1), vh = cam.VIEW.H + int64_t(1);
  const int64_t jmin = g.jmin, jmax = g.jmax;
  const auto span = [](const int64_t* at, int64_t count, int64_t from, int64_t to, int64_t lo,
                       int64_t hi) {
    const int64_t a = std::lower_bound(at, at + count, from) - at;
    const int64_t b = std::lower_bound(at, at + count, to) - at;
    return SPAN(std::max(a, lo), std::min(b, hi));
  };
  // Columns (and rows) whose pixels sample the tile alike share a pattern number, so a tile
  // gathered once (scaled, mirrored, tinted) serves every cell showing it the same way.
  const auto patterns = [](const SPAN* spans, size_t count, const int64_t* at, int64_t first,
                           int64_t size) {
    std::map<std::vector<int64_t>, int32_t> seen;
    std::vector<int32_t> out;
    for (size_t i = 0; i < count; ++i) {
      std::vector<int64_t> picks;
      for (int64_t k = spans[i].first; k < spans[i].second; ++k)
        picks.push_back(at[size_t(k)] - (first + int64_t(i)) * size);
      out.push_back(seen.emplace(std::move(picks), int32_t(seen.size())).first->second);
    }
    return out;
  };
  const double z = cam.ZOOMUSED();
  const bool reuse = z != 1 || tint != 0xFFFFFFFFu;
  const std::vector<int32_t> colpattern =
      reuse ? patterns(g.colspan, size_t(c1 - c0 + 1), cols, c0, tw) : std::vector<int32_t>();
  const std::vector<int32_t> rowpattern =
      reuse ? patterns(g.rowspan, size_t(r1 - r0 + 1), rows, r0, th) : std::vector<int32_t>();
  std::unordered_map<uint64_t, size_t> gathered;  // where in STORE each gathered tile lies
  // Room for the gathered tiles, taken whole at the first one (left unfilled: every pixel is
  // written before it is read), so it neither moves nor refills as it fills.
  std::unique_ptr<uint32_t[]> store;
  size_t stored = 0;
  const size_t store_limit = size_t(viewpixels) * 2;  // pixels: a frame's worth, twice

  const VOX_PUT_ROUTINE put = t.rows;
  const int32_t alpha = method == GRAPHICS::VOXADD ? int32_t(tint >> 24) : 255;
  const bool plain = tint == 0xFFFFFFFFu || method == GRAPHICS::VOXADD;
  std::vector<uint32_t> scratch;
  for (int64_t r = r0; r <= r1; ++r) {
    for (int64_t col = c0; col <= c1; ++col) {
      const uint32_t cell =
          layer.CELLS[size_t((r - layer.ORIGINY) * layer.WIDTH + (col - layer.ORIGINX))];
      if ((cell & TILEGIDMASK) == 0) continue;
      const LOOKUP& known = looks.of(map, cell, ms);
      if (known.ts == nullptr) continue;
      const uint32_t gid = known.gid;
      const TILESET* ts = known.ts;
      const GRAPHICS::BITMAP* image = known.image;
      const MATH::RECT src = known.src;
      const int64_t w = int64_t(src.W) + 1, h = int64_t(src.H) + 1;
      // The tile's world box: on its cell's bottom-left corner, moved by the tileset's offset.
      const int64_t x0 = col * tw + ts->OFFSETX, y1 = (r + 1) * th + ts->OFFSETY, y0 = y1 - h;
      const bool grid = x0 == col * tw && w == tw && y0 == r * th && h == th;
      const auto [k0, k1] =
          grid ? g.colspan[size_t(col - c0)] : span(cols, vw, x0, x0 + w, kmin, kmax);
      const auto [j0, j1] =
          grid ? g.rowspan[size_t(r - r0)] : span(rows, vh, y0, y1, jmin, jmax);
      if (k0 >= k1 || j0 >= j1) continue;
      uint8_t* to = t.pixels + (cam.VIEW.Y + j0) * int64_t(t.pitch) + (cam.VIEW.X + k0) * 4;
      const auto* base = static_cast<const uint8_t*>(image->HANDLE()) + 32;
      const size_t pitch = image->PITCH();
      const int64_t n = k1 - k0;
      if (z == 1 && (gid & ~TILEGIDMASK) == 0 && plain) {
        put(base + size_t(src.Y + rows[size_t(j0)] - y0) * pitch +
                size_t(src.X + cols[size_t(k0)] - x0) * 4,
            to, int32_t(n), int32_t(j1 - j0), int32_t(pitch), t.pitch, alpha, nullptr, nullptr);
      } else {
        // Gather the tile as it shows (scaled, mirrored, tinted), then blend that.
        const size_t m = size_t(j1 - j0), pixels = size_t(n) * m;
        const bool keep = reuse && grid && colpattern[size_t(col - c0)] < 65536 &&
                          rowpattern[size_t(r - r0)] < 65536;
        const uint64_t key = !keep ? 0
                                   : uint64_t(gid) << 32 |
                                         uint64_t(colpattern[size_t(col - c0)]) << 16 |
                                         uint64_t(rowpattern[size_t(r - r0)]);
        const uint32_t* ready = nullptr;
        if (keep) {
          auto found = gathered.find(key);
          if (found != gathered.end()) ready = store.get() + found->second;
        }
        if (ready == nullptr) {
          uint32_t* out;
          if (keep && stored + pixels <= store_limit) {
            if (!store) store.reset(new uint32_t[store_limit]);
            gathered.emplace(key, stored);
            out = store.get() + stored;
            stored += pixels;
          } else {
            scratch.resize(pixels);
            out = scratch.data();
          }
          const bool H = gid & TILEFLIPH, V = gid & TILEFLIPV, D = gid & TILEFLIPD;
          for (int64_t j = j0; j < j1; ++j) {
            uint32_t* line = out + (j - j0) * n;
            if (j > j0 && rows[size_t(j)] == rows[size_t(j - 1)]) {  // a repeated row at zoom > 1
              std::memcpy(line, line - n, size_t(n) * 4);
              continue;
            }
            int64_t v = rows[size_t(j)] - y0;
            if (V) v = h - 1 - v;
            for (int64_t k = k0; k < k1; ++k) {
              int64_t u = cols[size_t(k)] - x0;
              if (H) u = w - 1 - u;
              int64_t su = u, sv = v;
              if (D) su = std::min(v, w - 1), sv = std::min(u, h - 1);
              uint32_t p;
              std::memcpy(&p, base + size_t(src.Y + sv) * pitch + size_t(src.X + su) * 4, 4);
              line[k - k0] = plain ? p : tinted(p, tint);
            }
          }
          ready = out;
        }
        put(reinterpret_cast<const uint8_t*>(ready), to, int32_t(n), int32_t(m), int32_t(n * 4),
            t.pitch, alpha, nullptr, nullptr);
      }
      t.top = std::min<int64_t>(t.top, cam.VIEW.Y + j0);
      t.bottom = std::max<int64_t>(t.bottom, cam.VIEW.Y + j1 - 1);
    }
  }
}

}  // namespace

BOOLEAN DRAWLAYER(void* DEST, const TILEMAP& MAP, int32_t LAYER, const CAMERA& CAMERA, int64_t MS,
                  GRAPHICS::RASTEROP METHOD) {
  if (MAP.MAPORIENTATION != ORTHOGONAL) {
    SETLASTERROR("DRAWLAYER: only orthogonal maps are drawn");
    return FALSE;
  }
  if (LAYER < 0 || LAYER >= int32_t(MAP.LAYERS.size()) ||
      MAP.LAYERS[size_t(LAYER)].KIND != LAYERTILES) {
    SETLASTERROR("DRAWLAYER: layer %d is not a tile layer of the map", LAYER);
    return FALSE;
  }
  if (uint32_t(METHOD) > uint32_t(GRAPHICS::VOXADD)) {
    SETLASTERROR("DRAWLAYER: raster operation %d is not one a layer draws with", int(METHOD));
    return FALSE;
  }
  if (!target_ok(DEST, "DRAWLAYER")) return FALSE;
  const WORLD::LAYER& layer = MAP.LAYERS[size_t(LAYER)];
  if (layer.WIDTH < 0 || layer.HEIGHT < 0 ||
      layer.CELLS.size() != size_t(layer.WIDTH) * size_t(layer.HEIGHT)) {
    SETLASTERROR("DRAWLAYER: layer '%s' holds %llu cells, not its %d x %d", layer.NAME.c_str(),
                 static_cast<unsigned long long>(layer.CELLS.size()), layer.WIDTH, layer.HEIGHT);
    return FALSE;
  }
  const EFFECT e = effect_of(MAP, LAYER);
  if (!e.visible || CAMERA.VIEW.W < 0 || CAMERA.VIEW.H < 0 || layer.CELLS.empty() ||
      MAP.TILEWIDTH < 1 || MAP.TILEHEIGHT < 1)
    return TRUE;
  const int64_t vw = int64_t(CAMERA.VIEW.W) + 1, vh = int64_t(CAMERA.VIEW.H) + 1;
  if (vw > 65536 || vh > 65536) {
    SETLASTERROR("DRAWLAYER: a view of %lld x %lld pixels is over 65536 on a side",
                 static_cast<long long>(vw), static_cast<long long>(vh));
    return FALSE;
  }
  // The layer's place: its offsets, and parallax moving it by part of the camera's motion.
  const double shiftx = e.offx + double(CAMERA.X) * (1 - e.parx);
  const double shifty = e.offy + double(CAMERA.Y) * (1 - e.pary);
  if (!(std::fabs(shiftx) < 1e14) || !(std::fabs(shifty) < 1e14)) return TRUE;  // far out of sight
  const double turned = std::isfinite(CAMERA.ANGLE) ? std::fmod(double(CAMERA.ANGLE), 360.0) : 0;
  if (turned != 0) return draw_turned(DEST, MAP, layer, e, CAMERA, MS, METHOD, shiftx, shifty);

  // The world pixel under each view column's and row's centre (the camera's rule), in the
  // layer's own coordinates.
  const double z = CAMERA.ZOOMUSED();
  const int64_t sx = CAMERA.SCROLLX() - whole(std::floor(shiftx * z));
  const int64_t sy = CAMERA.SCROLLY() - whole(std::floor(shifty * z));
  SCRATCH<int64_t, 2048> cols(static_cast<size_t>(vw));
  SCRATCH<int64_t, 1024> rows(static_cast<size_t>(vh));
  for (int64_t k = 0; k < vw; ++k)
    cols[size_t(k)] = whole(std::floor((double(k) + 0.5 + double(sx)) / z));
  for (int64_t k = 0; k < vh; ++k)
    rows[size_t(k)] = whole(std::floor((double(k) + 0.5 + double(sy)) / z));

  // Cells in view, widened for tiles larger than the grid or moved by their tileset.
  const int64_t tw = MAP.TILEWIDTH, th = MAP.TILEHEIGHT;
  int64_t growx = 0, growy = 0;
  for (const TILESET& ts : MAP.TILESETS) {
    int64_t w = ts.TILEWIDTH, h = ts.TILEHEIGHT;
    if (ts.IMAGEPATH.empty())
      for (const TILEINFO& t : ts.TILES)
        w = std::max<int64_t>(w, t.IMAGE.WIDTH()), h = std::max<int64_t>(h, t.IMAGE.HEIGHT());
    growx = std::max(growx, (w + std::abs(ts.OFFSETX)) / tw + 1);
    growy = std::max(growy, (h + std::abs(ts.OFFSETY)) / th + 1);
  }
  const int64_t c0 = std::max<int64_t>(layer.ORIGINX, floordiv(cols[0], tw) - growx);
  const int64_t c1 = std::min<int64_t>(int64_t(layer.ORIGINX) + layer.WIDTH - 1,
                                       floordiv(cols[size_t(vw - 1)], tw) + growx);
  const int64_t r0 = std::max<int64_t>(layer.ORIGINY, floordiv(rows[0], th) - growy);
  const int64_t r1 = std::min<int64_t>(int64_t(layer.ORIGINY) + layer.HEIGHT - 1,
                                       floordiv(rows[size_t(vh - 1)], th) + growy);

  VIEW_TARGET target(DEST, METHOD, "DRAWLAYER");
  if (!target.open()) return FALSE;
  if (!target.inside(CAMERA.VIEW, vw, vh) || c0 > c1 || r0 > r1) return TRUE;
  GRAPHICS::DETAIL::DRAWTARGET& t = target.t;
  const int64_t kmin = target.kmin, kmax = target.kmax, jmin = target.jmin, jmax = target.jmax;
  // View spans of the grid's columns and rows, for tiles of the grid's size.
  const auto span = [](const int64_t* at, int64_t count, int64_t from, int64_t to, int64_t lo,
                       int64_t hi) {
    const int64_t a = std::lower_bound(at, at + count, from) - at;
    const int64_t b = std::lower_bound(at, at + count, to) - at;
    return SPAN(std::max(a, lo), std::min(b, hi));
  };
  SCRATCH<SPAN, 256> colspan{size_t(c1 - c0 + 1)}, rowspan{size_t(r1 - r0 + 1)};
  for (int64_t col = c0; col <= c1; ++col)
    colspan[size_t(col - c0)] = span(cols.at, vw, col * tw, (col + 1) * tw, kmin, kmax);
  for (int64_t r = r0; r <= r1; ++r)
    rowspan[size_t(r - r0)] = span(rows.at, vh, r * th, (r + 1) * th, jmin, jmax);
  LOOKUPS looks;
  const GRIDVIEW g{cols.at, rows.at, kmin, kmax, jmin,       jmax,
                   c0,      c1,      r0,   r1,   colspan.at, rowspan.at};
  if (by_rows(MAP, DEST)) {
    draw_rows(t, g, MAP, layer, CAMERA, MS, METHOD, e.tint, looks);
    return TRUE;
  }
  draw_tiles(t, g, vw * vh, MAP, layer, CAMERA, MS, METHOD, e.tint, looks);
  return TRUE;
}

namespace DETAIL {

BOOLEAN draw_sprite(void* DEST, const CAMERA& CAM, const GRAPHICS::BITMAP& B, const MATH::RECT& SRC,
                    double LEFT, double TOP, bool H, bool V, uint32_t TINT,
                    GRAPHICS::RASTEROP METHOD) {
  if (!target_ok(DEST, "CAMERA")) return FALSE;
  const int64_t vw = int64_t(CAM.VIEW.W) + 1, vh = int64_t(CAM.VIEW.H) + 1;
  const int64_t w = int64_t(SRC.W) + 1, h = int64_t(SRC.H) + 1;
  if (vw <= 0 || vh <= 0 || w <= 0 || h <= 0) return TRUE;
  if (!(std::fabs(LEFT) < 1e14) || !(std::fabs(TOP) < 1e14)) return TRUE;
  VIEW_TARGET target(DEST, METHOD, "CAMERA");
  if (!target.open()) return FALSE;
  if (!target.inside(CAM.VIEW, vw, vh)) return TRUE;
  GRAPHICS::DETAIL::DRAWTARGET& t = target.t;
  const double z = CAM.ZOOMUSED();
  // The view pixels whose centres fall on the region, each with the region pixel it shows: the
  // same rule as tiles, shifted by a position that need not be whole.
  const auto picks = [z](int64_t lo, int64_t hi, int64_t scroll, double start, int64_t size,
                         bool mirror, int64_t& first, std::vector<int64_t>& out) {
    const int64_t from = std::max(lo, whole(std::floor(start * z - double(scroll))) - 2);
    const int64_t to =
        std::min(hi, whole(std::ceil((start + double(size)) * z - double(scroll))) + 2);
    first = -1;
    for (int64_t k = from; k < to; ++k) {
      const int64_t q = whole(std::floor((double(k) + 0.5 + double(scroll)) / z - start));
      if (q < 0 || q >= size) continue;
      if (first < 0) first = k;
      out.push_back(mirror ? size - 1 - q : q);
    }
  };
  std::vector<int64_t> us, vs;
  int64_t k0, j0;
  picks(target.kmin, target.kmax, CAM.SCROLLX(), LEFT, w, H, k0, us);
  picks(target.jmin, target.jmax, CAM.SCROLLY(), TOP, h, V, j0, vs);
  if (us.empty() || vs.empty()) return TRUE;
  const int64_t n = int64_t(us.size()), m = int64_t(vs.size());
  const bool tint = METHOD == GRAPHICS::VOXALPHA && TINT != 0xFFFFFFFFu;
  const auto* base = static_cast<const uint8_t*>(B.HANDLE()) + 32;
  const size_t pitch = B.PITCH();
  std::vector<uint32_t> out(size_t(n * m));
  for (int64_t j = 0; j < m; ++j)
    for (int64_t k = 0; k < n; ++k) {
      uint32_t p;
      std::memcpy(
          &p, base + size_t(SRC.Y + vs[size_t(j)]) * pitch + size_t(SRC.X + us[size_t(k)]) * 4, 4);
      out[size_t(j * n + k)] = tint ? tinted(p, TINT) : p;
    }
  t.rows(reinterpret_cast<const uint8_t*>(out.data()),
         t.pixels + (CAM.VIEW.Y + j0) * int64_t(t.pitch) + (CAM.VIEW.X + k0) * 4, int32_t(n),
         int32_t(m), int32_t(n * 4), t.pitch, METHOD == GRAPHICS::VOXADD ? 255 : 255, nullptr,
         nullptr);
  t.top = std::min<int64_t>(t.top, CAM.VIEW.Y + j0);
  t.bottom = std::max<int64_t>(t.bottom, CAM.VIEW.Y + j0 + m - 1);
  return TRUE;
}

}  // namespace DETAIL

BOOLEAN DRAWMAP(void* DEST, const TILEMAP& MAP, const CAMERA& CAMERA, int64_t MS) {
  if (MAP.MAPORIENTATION != ORTHOGONAL) {
    SETLASTERROR("DRAWMAP: only orthogonal maps are drawn");
    return FALSE;
  }
  if (!target_ok(DEST, "DRAWMAP")) return FALSE;
  // The background is the view's colour, not a veil over what was there.
  if ((MAP.BACKGROUND >> 24) != 0 &&
      !GRAPHICS::FILLRECT(DEST, CAMERA.VIEW, MAP.BACKGROUND, GRAPHICS::VOXPSET))
    return FALSE;
  for (int32_t i = 0; i < int32_t(MAP.LAYERS.size()); ++i) {
    const LAYER& layer = MAP.LAYERS[size_t(i)];
    if (layer.KIND == LAYERTILES) {
      if (!DRAWLAYER(DEST, MAP, i, CAMERA, MS)) return FALSE;
    } else if (layer.KIND == LAYERIMAGE && layer.IMAGE.HANDLE() != nullptr) {
      const EFFECT e = effect_of(MAP, i);
      if (!e.visible) continue;
      const double x = e.offx + double(CAMERA.X) * (1 - e.parx),
                   y = e.offy + double(CAMERA.Y) * (1 - e.pary);
      const double w = layer.IMAGE.WIDTH(), h = layer.IMAGE.HEIGHT();
      const MATH::RECTF seen = CAMERA.VISIBLE();
      if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(seen.X) ||
          !std::isfinite(seen.Y) || !std::isfinite(seen.W) || !std::isfinite(seen.H))
        continue;  // no place for it
      // Repeated images start from the copy at or before the view's edge. Their place is taken
      // modulo their size first (exactly), so a far offset or parallax costs what a near one
      // does and the copies' places stay exact: the count of copies is bounded by the view.
      const auto first = [](double at, bool repeat, double size, double edge) {
        if (!repeat) return at;
        double phase = std::fmod(at, size);
        if (phase < 0) phase += size;
        return phase + std::floor((edge - phase) / size) * size;
      };
      const double fx = first(x, layer.REPEATX, w, seen.X), fy = first(y, layer.REPEATY, h, seen.Y);
      const double nx = layer.REPEATX ? std::floor((seen.X + seen.W - fx) / w) + 1 : 1,
                   ny = layer.REPEATY ? std::floor((seen.Y + seen.H - fy) / h) + 1 : 1;
      if (nx * ny > 65536) {
        SETLASTERROR("DRAWMAP: image layer '%s' would repeat over 65536 times in view",
                     layer.NAME.c_str());
        return FALSE;
      }
      GRAPHICS::TRANSFORM T;
      T.TINT = e.tint;
      for (int64_t down = 0; down < int64_t(ny); ++down)
        for (int64_t across = 0; across < int64_t(nx); ++across) {
          const double px = fx + double(across) * w, py = fy + double(down) * h;
          if (!CAMERA.DRAWTRANSFORMED(DEST, layer.IMAGE, float(px), float(py), T)) return FALSE;
        }
    }
  }
  return TRUE;
}

}  // namespace KASTREL::WORLD
