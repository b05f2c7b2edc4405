#include "kastrel/world/tilecollision.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include "kastrel/base/error.h"

namespace KASTREL::WORLD {

namespace {

using CELLS = std::vector<std::vector<SOLIDBOX>>;

// The collider's boxes cell by cell, over the block (x0, y0)-(x1, y1) of tiles (exclusive ends).
CELLS expand(const TILECOLLIDER& T, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  CELLS cells(size_t((x1 - x0) * (y1 - y0)));
  for (int64_t y = 0; y < T.HEIGHT; ++y)
    for (int64_t x = 0; x < T.WIDTH; ++x) {
      const size_t i = size_t(y * T.WIDTH + x);
      auto& out = cells[size_t((y + T.ORIGINY - y0) * (x1 - x0) + (x + T.ORIGINX - x0))];
      out.assign(T.BOXES.begin() + T.FIRST[i], T.BOXES.begin() + T.FIRST[i + 1]);
    }
  return cells;
}

void compact(TILECOLLIDER& T, const CELLS& cells, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  T.ORIGINX = int32_t(x0), T.ORIGINY = int32_t(y0);
  T.WIDTH = int32_t(x1 - x0), T.HEIGHT = int32_t(y1 - y0);
  T.FIRST.assign(1, 0);
  T.BOXES.clear();
  for (const auto& c : cells) {
    T.BOXES.insert(T.BOXES.end(), c.begin(), c.end());
    T.FIRST.push_back(uint32_t(T.BOXES.size()));
  }
}

// A shape's box in its tile, mirrored as the tile is, cut to the cell; false when nothing is left.
bool shape_box(const MAPOBJECT& o, uint32_t gid, double tw, double th, SOLIDBOX& b) {
  double x0 = o.X, y0 = o.Y, x1 = o.X + o.WIDTH, y1 = o.Y + o.HEIGHT;
  if (o.SHAPE == SHAPEPOLYGON || o.SHAPE == SHAPEPOLYLINE) {
    x0 = x1 = o.X, y0 = y1 = o.Y;
    for (const MATH::POINTF& p : o.POINTS)
      x0 = std::min(x0, o.X + p.X), x1 = std::max(x1, o.X + p.X), y0 = std::min(y0, o.Y + p.Y),
      y1 = std::max(y1, o.Y + p.Y);
  }
  if (gid & TILEFLIPD) std::swap(x0, y0), std::swap(x1, y1);
  if (gid & TILEFLIPH) std::tie(x0, x1) = std::pair(tw - x1, tw - x0);
  if (gid & TILEFLIPV) std::tie(y0, y1) = std::pair(th - y1, th - y0);
  x0 = std::max(x0, 0.0), y0 = std::max(y0, 0.0), x1 = std::min(x1, tw), y1 = std::min(y1, th);
  if (!(x1 > x0 && y1 > y0)) return false;
  b = {float(x0), float(y0), float(x1), float(y1), false};
  return true;
}

bool finite_box(const MATH::RECTF& B) {
  return std::isfinite(B.X) && std::isfinite(B.Y) && std::isfinite(B.W) && std::isfinite(B.H);
}

}  // namespace

TILECOLLIDER::TILECOLLIDER(const TILEMAP& MAP, const std::vector<std::string>& LAYERS)
    : TILEWIDTH(MAP.TILEWIDTH), TILEHEIGHT(MAP.TILEHEIGHT) {
  FIRST.assign(1, 0);
  std::vector<const LAYER*> chosen;
  int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
  for (const LAYER& l : MAP.LAYERS) {
    if (l.KIND != LAYERTILES || l.CELLS.empty() || l.WIDTH < 1 ||
        l.CELLS.size() != size_t(l.WIDTH) * size_t(std::max(l.HEIGHT, 0)))
      continue;
    if (!LAYERS.empty() && std::find(LAYERS.begin(), LAYERS.end(), l.NAME) == LAYERS.end())
      continue;
    chosen.push_back(&l);
    x0 = std::min<int64_t>(x0, l.ORIGINX), y0 = std::min<int64_t>(y0, l.ORIGINY);
    x1 = std::max<int64_t>(x1, int64_t(l.ORIGINX) + l.WIDTH),
    y1 = std::max<int64_t>(y1, int64_t(l.ORIGINY) + l.HEIGHT);
  }
  if (chosen.empty() || TILEWIDTH < 1 || TILEHEIGHT < 1) return;
  CELLS cells(size_t((x1 - x0) * (y1 - y0)));
  for (const LAYER* l : chosen) {
    const bool layer_solid = l->PROPS.BOOL("solid") || l->PROPS.BOOL("collides");
    const bool layer_oneway = l->PROPS.BOOL("oneway");
    for (int64_t i = 0; i < int64_t(l->CELLS.size()); ++i) {
      const uint32_t gid = l->CELLS[size_t(i)];
      if ((gid & TILEGIDMASK) == 0) continue;
      int32_t id = 0;
      const TILESET* ts = MAP.TILESETOF(gid, &id);
      const TILEINFO* info = ts ? ts->INFO(id) : nullptr;
      auto& out = cells[size_t((l->ORIGINY + i / l->WIDTH - y0) * (x1 - x0) +
                               (l->ORIGINX + i % l->WIDTH - x0))];
      const SOLIDBOX whole{0, 0, float(TILEWIDTH), float(TILEHEIGHT), false};
      if (layer_oneway || (info && info->PROPS.BOOL("oneway"))) {
        out.push_back({0, 0, float(TILEWIDTH), float(TILEHEIGHT), true});
      } else if (info && !info->SHAPES.empty()) {
        SOLIDBOX b;
        for (const MAPOBJECT& o : info->SHAPES)
          if (shape_box(o, gid, TILEWIDTH, TILEHEIGHT, b)) out.push_back(b);
      } else if (layer_solid || (info && info->PROPS.BOOL("solid"))) {
        out.push_back(whole);
      }
    }
  }
  compact(*this, cells, x0, y0, x1, y1);
}

void TILECOLLIDER::SETSOLID(int32_t TX, int32_t TY, bool ONEWAY) {
  if (TILEWIDTH < 1 || TILEHEIGHT < 1) return;
  const bool empty = WIDTH == 0 || HEIGHT == 0;
  const int64_t x0 = empty ? TX : std::min<int64_t>(ORIGINX, TX),
                y0 = empty ? TY : std::min<int64_t>(ORIGINY, TY);
  const int64_t x1 =
      empty ? int64_t(TX) + 1 : std::max<int64_t>(int64_t(ORIGINX) + WIDTH, int64_t(TX) + 1);
  const int64_t y1 =
      empty ? int64_t(TY) + 1 : std::max<int64_t>(int64_t(ORIGINY) + HEIGHT, int64_t(TY) + 1);
  if (empty) WIDTH = HEIGHT = 0;
  CELLS cells = expand(*this, x0, y0, x1, y1);
  cells[size_t((TY - y0) * (x1 - x0) + (TX - x0))] = {
      {0, 0, float(TILEWIDTH), float(TILEHEIGHT), ONEWAY}};
  compact(*this, cells, x0, y0, x1, y1);
}

namespace {

// Calls F(x0, y0, x1, y1, one-way) in world coordinates for every part of the cells under the
// area (AX0, AY0)-(AX1, AY1), line by line (columns BY_COLUMNS, else rows) in the direction of
// STEP; stops after the first line where F said yes.
template <typename F>
bool each_part(const TILECOLLIDER& T, double ax0, double ax1, double ay0, double ay1,
               bool by_columns, int step, F f) {
  const auto cell = [](double v, double size, int64_t lo, int64_t hi) {
    return int64_t(std::clamp(std::floor(v / size), double(lo) - 1, double(hi) + 1));
  };
  const int64_t gx0 = T.ORIGINX, gx1 = int64_t(T.ORIGINX) + T.WIDTH - 1;
  const int64_t gy0 = T.ORIGINY, gy1 = int64_t(T.ORIGINY) + T.HEIGHT - 1;
  // One cell more each way: a part whose edge lies on a cell boundary belongs to the cell before.
  const int64_t cx0 = std::max(gx0, cell(ax0, T.TILEWIDTH, gx0, gx1) - 1);
  const int64_t cx1 = std::min(gx1, cell(ax1, T.TILEWIDTH, gx0, gx1) + 1);
  const int64_t cy0 = std::max(gy0, cell(ay0, T.TILEHEIGHT, gy0, gy1) - 1);
  const int64_t cy1 = std::min(gy1, cell(ay1, T.TILEHEIGHT, gy0, gy1) + 1);
  if (cx0 > cx1 || cy0 > cy1) return false;
  // Outer lines nearest first along the move, so the first line with a hit holds the nearest.
  const int64_t o0 = by_columns ? cx0 : cy0, o1 = by_columns ? cx1 : cy1;
  const int64_t i0 = by_columns ? cy0 : cx0, i1 = by_columns ? cy1 : cx1;
  for (int64_t o = step > 0 ? o0 : o1; step > 0 ? o <= o1 : o >= o0; o += step) {
    bool hit = false;
    for (int64_t i = i0; i <= i1; ++i) {
      const int64_t cx = by_columns ? o : i, cy = by_columns ? i : o;
      const size_t k = size_t((cy - T.ORIGINY) * T.WIDTH + (cx - T.ORIGINX));
      for (uint32_t b = T.FIRST[k]; b < T.FIRST[k + 1]; ++b) {
        const SOLIDBOX& s = T.BOXES[b];
        const double ox = double(cx) * T.TILEWIDTH, oy = double(cy) * T.TILEHEIGHT;
        hit |= f(ox + s.X0, oy + s.Y0, ox + s.X1, oy + s.Y1, s.ONEWAY);
      }
    }
    if (hit) return true;
  }
  return false;
}

}  // namespace

BOOLEAN TILECOLLIDER::SOLIDAT(const MATH::RECTF& BOX) const {
  if (!finite_box(BOX) || WIDTH == 0) return FALSE;
  const double x0 = BOX.X, y0 = BOX.Y, x1 = x0 + BOX.W, y1 = y0 + BOX.H;
  return TOBOOLEAN(
      each_part(*this, x0, x1, y0, y1, true, 1, [&](double a, double b, double c, double d, bool) {
        return a < x1 && c > x0 && b < y1 && d > y0;
      }));
}

MOVED TILECOLLIDER::MOVEBOX(const MATH::RECTF& BOX, float DX, float DY) const {
  MOVED m{BOX.X, BOX.Y, 0};
  if (!finite_box(BOX) || !std::isfinite(DX) || !std::isfinite(DY) || BOX.W < 0 || BOX.H < 0) {
    SETLASTERROR(
        "MOVEBOX: the box (%g, %g, %g, %g) or the move (%g, %g) is not finite and "
        "of positive size",
        double(BOX.X), double(BOX.Y), double(BOX.W), double(BOX.H), double(DX), double(DY));
    return m;
  }
  const double w = BOX.W, h = BOX.H;
  // The box's new corner coordinate as a float that never crosses the wall at EDGE.
  const auto before = [](double edge, double size) {
    float v = float(edge - size);
    while (double(v) + size > edge) v = std::nextafter(v, -INFINITY);
    return v;
  };
  const auto after = [](double edge) {
    float v = float(edge);
    while (double(v) < edge) v = std::nextafter(v, INFINITY);
    return v;
  };
  if (DX != 0 && WIDTH > 0) {
    const double x = m.X, y = m.Y, to = x + double(DX);
    double stop = DX > 0 ? INFINITY : -INFINITY;
    if (DX > 0)
      each_part(*this, x + w, to + w, y, y + h, true, 1,
                [&](double a, double b, double, double d, bool one) {
                  if (one || !(b < y + h && d > y) || a < x + w || a > to + w || a >= stop)
                    return false;
                  return stop = a, true;
                });
    else
      each_part(*this, to, x, y, y + h, true, -1,
                [&](double, double b, double c, double d, bool one) {
                  if (one || !(b < y + h && d > y) || c > x || c < to || c <= stop) return false;
                  return stop = c, true;
                });
    if (std::isfinite(stop)) {
      m.X = DX > 0 ? before(stop, w) : after(stop);
      m.TOUCHED |= DX > 0 ? TOUCHRIGHT : TOUCHLEFT;
    } else {
      m.X = float(to);
    }
  } else {
    m.X = float(double(m.X) + DX);
  }
  if (DY != 0 && WIDTH > 0) {
    const double x = m.X, y = m.Y, to = y + double(DY);
    double stop = DY > 0 ? INFINITY : -INFINITY;
    if (DY > 0)
      each_part(*this, x, x + w, y + h, to + h, false, 1,
                [&](double a, double b, double c, double, bool) {
                  if (!(a < x + w && c > x) || b < y + h || b > to + h || b >= stop) return false;
                  return stop = b, true;
                });
    else
      each_part(*this, x, x + w, to, y, false, -1,
                [&](double a, double, double c, double d, bool one) {
                  if (one || !(a < x + w && c > x) || d > y || d < to || d <= stop) return false;
                  return stop = d, true;
                });
    if (std::isfinite(stop)) {
      m.Y = DY > 0 ? before(stop, h) : after(stop);
      m.TOUCHED |= DY > 0 ? TOUCHBOTTOM : TOUCHTOP;
    } else {
      m.Y = float(to);
    }
  } else {
    m.Y = float(double(m.Y) + DY);
  }
  return m;
}

}  // namespace KASTREL::WORLD
