#include "kastrel/world/tilecollision.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <tuple>

#include "kastrel/base/error.h"

namespace KASTREL::WORLD {

namespace {

constexpr int64_t kSide = TILECOLLIDER::CHUNKSIDE;

// The square a cell lies in, along one axis.
int64_t square_of(int64_t cell) {
  return cell >= 0 ? cell / kSide : -((-cell + kSide - 1) / kSide);
}

// A shape's box in its tile, mirrored as the tile is, cut to the cell; false when nothing is left.
// A polygon's or polyline's box is its points' box: the object's own (X, Y) is only where they
// are measured from.
bool shape_box(const MAPOBJECT& o, uint32_t gid, double tw, double th, SOLIDBOX& b) {
  double x0 = o.X, y0 = o.Y, x1 = o.X + o.WIDTH, y1 = o.Y + o.HEIGHT;
  if (o.SHAPE == SHAPEPOLYGON || o.SHAPE == SHAPEPOLYLINE) {
    if (o.POINTS.empty()) return false;
    x0 = y0 = INFINITY, x1 = y1 = -INFINITY;
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
  if (TILEWIDTH < 1 || TILEHEIGHT < 1) return;
  // Calls VISIT(square, cell in it, part) for every solid part of the chosen layers.
  const auto each = [&](auto visit) {
    for (const LAYER& l : MAP.LAYERS) {
      if (l.KIND != LAYERTILES || l.CELLS.empty() || l.WIDTH < 1 ||
          l.CELLS.size() != size_t(l.WIDTH) * size_t(std::max(l.HEIGHT, 0)))
        continue;
      if (!LAYERS.empty() && std::find(LAYERS.begin(), LAYERS.end(), l.NAME) == LAYERS.end())
        continue;
      const bool layer_solid = l.PROPS.BOOL("solid") || l.PROPS.BOOL("collides");
      const bool layer_oneway = l.PROPS.BOOL("oneway");
      uint32_t last = 0;
      const TILEINFO* info = nullptr;
      bool oneway = false, shaped = false, solid = false;
      for (int64_t i = 0; i < int64_t(l.CELLS.size()); ++i) {
        const uint32_t gid = l.CELLS[size_t(i)];
        if ((gid & TILEGIDMASK) == 0) continue;
        const int64_t x = l.ORIGINX + i % l.WIDTH, y = l.ORIGINY + i / l.WIDTH;
        if (x > INT32_MAX || y > INT32_MAX) continue;
        // Runs of one tile are common: its entry is looked up once a run.
        if (gid != last) {
          int32_t id = 0;
          const TILESET* ts = MAP.TILESETOF(gid, &id);
          info = ts ? ts->INFO(id) : nullptr;
          oneway = layer_oneway || (info && info->PROPS.BOOL("oneway"));
          shaped = !oneway && info && !info->SHAPES.empty();
          solid = oneway || shaped || layer_solid || (info && info->PROPS.BOOL("solid"));
          last = gid;
        }
        if (!solid) continue;
        const int64_t sx = square_of(x), sy = square_of(y);
        const uint64_t key = KEY(sx, sy);
        const auto at = size_t((y - sy * kSide) * kSide + (x - sx * kSide));
        if (shaped) {
          SOLIDBOX b;
          for (const MAPOBJECT& o : info->SHAPES)
            if (shape_box(o, gid, TILEWIDTH, TILEHEIGHT, b)) visit(key, at, b);
        } else {
          visit(key, at, SOLIDBOX{0, 0, float(TILEWIDTH), float(TILEHEIGHT), oneway});
        }
      }
    }
  };
  // Twice over the layers, so nothing is held but the answer: the parts of each cell counted,
  // room made, then the parts laid in place. The square last used is kept: a row of cells meets
  // each square sixteen times running.
  uint64_t held = 0;
  CHUNK* chunk = nullptr;
  const auto square = [&](uint64_t key) -> CHUNK& {
    if (chunk == nullptr || key != held) chunk = &CHUNKS[key], held = key;
    return *chunk;
  };
  each([&](uint64_t key, size_t at, const SOLIDBOX&) { ++square(key).FIRST[at + 1]; });
  for (auto& [key, c] : CHUNKS) {
    for (size_t i = 1; i < std::size(c.FIRST); ++i) c.FIRST[i] += c.FIRST[i - 1];
    c.BOXES.resize(c.FIRST[kSide * kSide]);
  }
  // FIRST[i] is now where cell i's parts start; each part laid moves it on, so that it ends
  // where cell i + 1's start, and a shift puts it back.
  each([&](uint64_t key, size_t at, const SOLIDBOX& b) {
    CHUNK& c = square(key);
    c.BOXES[c.FIRST[at]++] = b;
  });
  for (auto& [key, c] : CHUNKS) {
    std::copy_backward(c.FIRST, c.FIRST + kSide * kSide, c.FIRST + kSide * kSide + 1);
    c.FIRST[0] = 0;
  }
}

void TILECOLLIDER::SETSOLID(int32_t TX, int32_t TY, bool ONEWAY) {
  if (TILEWIDTH < 1 || TILEHEIGHT < 1) return;
  const int64_t sx = square_of(TX), sy = square_of(TY);
  CHUNK& c = CHUNKS[KEY(sx, sy)];
  const size_t i = size_t((TY - sy * kSide) * kSide + (TX - sx * kSide));
  const uint32_t a = c.FIRST[i], b = c.FIRST[i + 1];
  const SOLIDBOX whole{0, 0, float(TILEWIDTH), float(TILEHEIGHT), ONEWAY};
  if (b > a) {
    c.BOXES[a] = whole;
    c.BOXES.erase(c.BOXES.begin() + a + 1, c.BOXES.begin() + b);
  } else {
    c.BOXES.insert(c.BOXES.begin() + a, whole);
  }
  // The cells after it in the square move by what it gained or lost.
  const uint32_t grown = 1 - (b - a);
  for (size_t j = i + 1; j < std::size(c.FIRST); ++j) c.FIRST[j] += grown;
}

std::vector<SOLIDBOX> TILECOLLIDER::PARTS(int32_t TX, int32_t TY) const {
  const int64_t sx = square_of(TX), sy = square_of(TY);
  const auto it = CHUNKS.find(KEY(sx, sy));
  if (it == CHUNKS.end()) return {};
  const size_t i = size_t((TY - sy * kSide) * kSide + (TX - sx * kSide));
  const CHUNK& c = it->second;
  return {c.BOXES.begin() + c.FIRST[i], c.BOXES.begin() + c.FIRST[i + 1]};
}

namespace {

// Calls F(x0, y0, x1, y1, one-way) in world coordinates for every part of the cells under the
// area (AX0, AY0)-(AX1, AY1), line by line (columns BY_COLUMNS, else rows) in the direction of
// STEP; stops after the first line where F said yes. The work goes with the squares held in the
// area, never with its size: a wide area with few squares in it visits those alone.
template <typename F>
bool each_part(const TILECOLLIDER& T, double ax0, double ax1, double ay0, double ay1,
               bool by_columns, int step, F f) {
  if (T.CHUNKS.empty()) return false;
  const auto cell = [](double v, double size) {
    return int64_t(std::clamp(std::floor(v / size), double(INT32_MIN) - 2, double(INT32_MAX) + 2));
  };
  // One cell more each way: a part whose edge lies on a cell boundary belongs to the cell before.
  const int64_t cx0 = std::max<int64_t>(INT32_MIN, cell(ax0, T.TILEWIDTH) - 1);
  const int64_t cx1 = std::min<int64_t>(INT32_MAX, cell(ax1, T.TILEWIDTH) + 1);
  const int64_t cy0 = std::max<int64_t>(INT32_MIN, cell(ay0, T.TILEHEIGHT) - 1);
  const int64_t cy1 = std::min<int64_t>(INT32_MAX, cell(ay1, T.TILEHEIGHT) + 1);
  if (cx0 > cx1 || cy0 > cy1) return false;
  const int64_t o0 = by_columns ? cx0 : cy0, o1 = by_columns ? cx1 : cy1;
  const int64_t i0 = by_columns ? cy0 : cx0, i1 = by_columns ? cy1 : cx1;
  const int64_t so0 = square_of(o0), so1 = square_of(o1), si0 = square_of(i0), si1 = square_of(i1);
  struct HELD {
    int64_t outer, inner;
    const TILECOLLIDER::CHUNK* chunk;
  };
  // One line of squares across the move: its lines of cells nearest first along the move, so the
  // first line with a hit holds the nearest.
  const auto lines = [&](const HELD* held, size_t count) {
    const int64_t so = held[0].outer;
    const int64_t lo = std::max(o0, so * kSide), hi = std::min(o1, so * kSide + kSide - 1);
    for (int64_t o = step > 0 ? lo : hi; step > 0 ? o <= hi : o >= lo; o += step) {
      bool hit = false;
      for (size_t q = 0; q < count; ++q) {
        const TILECOLLIDER::CHUNK& c = *held[q].chunk;
        const int64_t si = held[q].inner;
        for (int64_t i = std::max(i0, si * kSide); i <= std::min(i1, si * kSide + kSide - 1); ++i) {
          const int64_t cx = by_columns ? o : i, cy = by_columns ? i : o;
          const int64_t lx = cx - (by_columns ? so : si) * kSide,
                        ly = cy - (by_columns ? si : so) * kSide;
          const size_t k = size_t(ly * kSide + lx);
          const double ox = double(cx) * T.TILEWIDTH, oy = double(cy) * T.TILEHEIGHT;
          for (uint32_t b = c.FIRST[k]; b < c.FIRST[k + 1]; ++b) {
            const SOLIDBOX& s = c.BOXES[b];
            hit |= f(ox + s.X0, oy + s.Y0, ox + s.X1, oy + s.Y1, s.ONEWAY);
          }
        }
      }
      if (hit) return true;
    }
    return false;
  };
  thread_local std::vector<HELD> held;
  held.clear();
  const auto key = [&](int64_t so, int64_t si) {
    return by_columns ? TILECOLLIDER::KEY(so, si) : TILECOLLIDER::KEY(si, so);
  };
  // A small area: its squares looked up one by one; a large one: the squares held sorted.
  if (double(so1 - so0 + 1) * double(si1 - si0 + 1) <= 4 * double(T.CHUNKS.size()) + 64) {
    for (int64_t so = step > 0 ? so0 : so1; step > 0 ? so <= so1 : so >= so0; so += step) {
      held.clear();
      for (int64_t si = si0; si <= si1; ++si) {
        const auto it = T.CHUNKS.find(key(so, si));
        if (it != T.CHUNKS.end()) held.push_back({so, si, &it->second});
      }
      if (!held.empty() && lines(held.data(), held.size())) return true;
    }
    return false;
  }
  for (const auto& [k, c] : T.CHUNKS) {
    const int64_t sx = int32_t(uint32_t(k >> 32)), sy = int32_t(uint32_t(k));
    const int64_t so = by_columns ? sx : sy, si = by_columns ? sy : sx;
    if (so >= so0 && so <= so1 && si >= si0 && si <= si1) held.push_back({so, si, &c});
  }
  std::sort(held.begin(), held.end(), [step](const HELD& a, const HELD& b) {
    return step > 0 ? a.outer < b.outer : a.outer > b.outer;
  });
  for (size_t a = 0, b; a < held.size(); a = b) {
    for (b = a + 1; b < held.size() && held[b].outer == held[a].outer;) ++b;
    if (lines(held.data() + a, b - a)) return true;
  }
  return false;
}

}  // namespace

BOOLEAN TILECOLLIDER::SOLIDAT(const MATH::RECTF& BOX) const {
  if (!finite_box(BOX) || CHUNKS.empty()) return FALSE;
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
  // Where the box's corner would go unstopped bounds where it can end: within a float's range,
  // the answer is a float.
  if (!(std::fabs(double(BOX.X) + DX) <= FLT_MAX) || !(std::fabs(double(BOX.Y) + DY) <= FLT_MAX)) {
    SETLASTERROR("MOVEBOX: the box at (%g, %g) moved by (%g, %g) would leave the range of a float",
                 double(BOX.X), double(BOX.Y), double(DX), double(DY));
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
  if (DX != 0 && !CHUNKS.empty()) {
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
  if (DY != 0 && !CHUNKS.empty()) {
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
