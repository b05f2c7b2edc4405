#include "kastrel/engine/regions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "kastrel/device/detail/context.h"
#include "kastrel/engine/fatal.h"
#include "kastrel/engine/resolution.h"

namespace KASTREL::ENGINE {

constinit RECTLIST DIRTYREGIONS;

namespace {

// 32-bit two's-complement difference.
int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A rectangle as [x0, x1) x [y0, y1).
struct SPAN {
  int64_t x0, y0, x1, y1;
  int64_t area() const { return (x1 - x0) * (y1 - y0); }
};

SPAN joint(const SPAN& a, const SPAN& b) {
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// The state of DIRTYREGIONS the merge index last saw. ADD and CLEAR keep it current, so that
// MARKDIRTY's rectangles are taken in one by one and an emptied list starts the index again;
// any other change (the paint step swaps the array out) shows as another array or count.
constinit const MATH::RECT* indexed_array = nullptr;
constinit int32_t indexed_count = -1;

// The rectangles MARKCHANGED may merge with, by where they lie: a grid of cells over the window,
// each holding the rectangles whose pixels reach into it, so that a mark looks only at its
// neighbours instead of the whole list. Entries are known by a number that grows in the order
// they were added, which is also their order in the list.
class MERGEINDEX {
 public:
  struct ENTRY {
    uint64_t order;
    SPAN box;
  };

  // Takes in what was added to the list since the last call, or starts again from the list
  // when it was emptied, swapped or the window changed size.
  void catch_up(const RECTLIST& list, int64_t w, int64_t h) {
    if (w != w_ || h != h_ || list.RECT != indexed_array || list.COUNT < indexed_count ||
        indexed_count < 0)
      restart(w, h);
    for (int32_t i = indexed_count; i < list.COUNT; ++i) {
      const MATH::RECT& e = list.RECT[i];
      const ENTRY entry{next_++, {e.X, e.Y, int64_t{e.X} + e.W, int64_t{e.Y} + e.H}};
      order_.push_back(entry.order);
      // Only rectangles inside the window are merged: MARKDIRTY's may reach beyond it.
      const SPAN& b = entry.box;
      if (b.x0 >= 0 && b.y0 >= 0 && b.x1 <= w && b.y1 <= h && b.x0 < b.x1 && b.y0 < b.y1)
        for_cells(b, [&](std::vector<ENTRY>& cell) { cell.push_back(entry); });
    }
    indexed_array = list.RECT;
    indexed_count = list.COUNT;
  }

  // The first entry in list order that merges with r, or nullptr. Rectangles that neither
  // overlap nor touch never merge (their joint box holds the gap too), and neither do two whose
  // joint box has more pixels than they have together.
  const ENTRY* first_merge(const SPAN& r) {
    const ENTRY* best = nullptr;
    // A touching rectangle has a pixel within one of r's.
    for_cells({r.x0 - 1, r.y0 - 1, r.x1 + 1, r.y1 + 1}, [&](std::vector<ENTRY>& cell) {
      for (const ENTRY& e : cell) {
        if (best && e.order >= best->order) continue;
        if (e.box.x0 > r.x1 || e.box.y0 > r.y1 || e.box.x1 < r.x0 || e.box.y1 < r.y0) continue;
        if (joint(r, e.box).area() <= r.area() + e.box.area()) best = &e;
      }
    });
    return best;
  }

  // Where the entry stands in the list, or -1 when the list no longer holds it there (changed
  // in place behind the index's back).
  int32_t position(const ENTRY& e, const RECTLIST& list) const {
    const auto at = std::lower_bound(order_.begin(), order_.end(), e.order);
    if (at == order_.end() || *at != e.order) return -1;
    const int32_t i = int32_t(at - order_.begin());
    const MATH::RECT& r = list.RECT[i];
    const bool same = r.X == e.box.x0 && r.Y == e.box.y0 && int64_t{r.X} + r.W == e.box.x1 &&
                      int64_t{r.Y} + r.H == e.box.y1;
    return same ? i : -1;
  }

  // Takes the entry at list position i out of the list and the index.
  void remove(ENTRY e, RECTLIST& list, int32_t i) {
    for_cells(e.box, [&](std::vector<ENTRY>& cell) {
      for (ENTRY& x : cell)
        if (x.order == e.order) {
          x = cell.back();
          cell.pop_back();
          break;
        }
    });
    order_.erase(order_.begin() + i);
    std::memmove(list.RECT + i, list.RECT + i + 1, sizeof(MATH::RECT) * size_t(list.COUNT - i - 1));
    --list.COUNT;
    indexed_count = list.COUNT;
  }

  void restart(int64_t w, int64_t h) {
    w_ = w;
    h_ = h;
    columns_ = (w + kCell - 1) / kCell;
    const size_t cells = size_t(columns_ * ((h + kCell - 1) / kCell));
    if (cells_.size() != cells) cells_.assign(cells, {});
    for (std::vector<ENTRY>& cell : cells_) cell.clear();
    order_.clear();
    indexed_count = 0;
  }

 private:
  // A bullet touches at most four cells, and a cell holds few rectangles even when the marks
  // cover the window several times over (16 measured faster than 32 or 64).
  static constexpr int64_t kCell = 16;

  // Calls f on every cell holding a pixel of box, which may reach beyond the window.
  template <typename F>
  void for_cells(const SPAN& box, F f) {
    const int64_t x0 = std::max<int64_t>(box.x0, 0), y0 = std::max<int64_t>(box.y0, 0);
    const int64_t x1 = std::min(box.x1, w_), y1 = std::min(box.y1, h_);
    if (x0 >= x1 || y0 >= y1) return;
    for (int64_t y = y0 / kCell; y <= (y1 - 1) / kCell; ++y)
      for (int64_t x = x0 / kCell; x <= (x1 - 1) / kCell; ++x) f(cells_[size_t(y * columns_ + x)]);
  }

  int64_t w_ = -1, h_ = -1, columns_ = 0;
  std::vector<std::vector<ENTRY>> cells_;
  std::vector<uint64_t> order_;  // the list's entries' numbers, position by position
  uint64_t next_ = 0;
};

// Never destroyed: exit-time code may still mark regions.
MERGEINDEX& merge_index() {
  static MERGEINDEX* index = new MERGEINDEX;
  return *index;
}

}  // namespace

RECTLIST::~RECTLIST() {
  if (ISIZE > 0) std::free(RECT);
  // Left valid and empty: exit-time code may still mark regions.
  RECT = nullptr;
  COUNT = 0;
  ISIZE = 0;
}

void RECTLIST::ADD(const MATH::RECT& RGN) {
  // RGN may be one of this list's own entries, which growing moves.
  const MATH::RECT copy = RGN;
  // The merge index follows the array when it moves; it takes the new entry in on the next mark.
  const bool indexed = this == &DIRTYREGIONS && RECT == indexed_array && COUNT == indexed_count;
  if (COUNT == ISIZE) {
    void* grown = ISIZE <= INT32_MAX - 10
                      ? RESIZEBLOCK(RECT, static_cast<size_t>(ISIZE) + 10, sizeof(MATH::RECT))
                      : nullptr;
    if (grown == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
    RECT = static_cast<MATH::RECT*>(grown);
    ISIZE += 10;
  }
  RECT[COUNT++] = copy;
  if (indexed) indexed_array = RECT;
}

void RECTLIST::CLEAR() {
  COUNT = 0;
  if (this == &DIRTYREGIONS) indexed_count = -1;
}

void MARKDIRTY(MATH::RECT& RGN) {
  // The frame loop walks the list on the thread that runs the game.
  if (!vox_hProgramThread("MARKDIRTY")) return;
  if (RGN.X == 0 && RGN.Y == 0 && RGN.W == 0 && RGN.H == 0) DIRTYREGIONS.CLEAR();
  if (RGN.W < 1) RGN.W = wrap_sub(SCREENRESOLUTION.WIDTH, RGN.X);
  if (RGN.H < 1) RGN.H = wrap_sub(SCREENRESOLUTION.HEIGHT, RGN.Y);
  DIRTYREGIONS.ADD(RGN);
}

void MARKCHANGED(const MATH::RECT& RGN) {
  if (!vox_hProgramThread("MARKCHANGED")) return;
  if (RGN.W < 0 || RGN.H < 0) return;
  const int64_t w = SCREENRESOLUTION.WIDTH, h = SCREENRESOLUTION.HEIGHT;
  SPAN r{std::max<int64_t>(RGN.X, 0), std::max<int64_t>(RGN.Y, 0),
         std::min<int64_t>(int64_t{RGN.X} + RGN.W + 1, w), std::min<int64_t>(int64_t{RGN.Y} + RGN.H + 1, h)};
  if (r.x0 >= r.x1 || r.y0 >= r.y1) return;
  RECTLIST& list = DIRTYREGIONS;
  if (list.COUNT > 0) {
    const MATH::RECT& first = list.RECT[0];
    if (first.X == 0 && first.Y == 0 && first.W == w && first.H == h) return;  // all repainted
  }
  // Merging with the first entry that qualifies, in list order, until none does. The box grows
  // with each merge, so an entry passed over before may qualify after.
  try {
    MERGEINDEX& index = merge_index();
    index.catch_up(list, w, h);
    while (const MERGEINDEX::ENTRY* e = index.first_merge(r)) {
      const int32_t i = index.position(*e, list);
      if (i < 0) {
        index.restart(w, h);
        index.catch_up(list, w, h);
        continue;
      }
      r = joint(r, e->box);
      index.remove(*e, list, i);
    }
  } catch (const std::bad_alloc&) {
    FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
  }
  list.ADD(MATH::RECT{int32_t(r.x0), int32_t(r.y0), int32_t(r.x1 - r.x0), int32_t(r.y1 - r.y0)});
}

void MARKDIRTY(int32_t X, int32_t Y, int32_t W, int32_t H) {
  MATH::RECT RGN{X, Y, W, H};
  MARKDIRTY(RGN);
}

}  // namespace KASTREL::ENGINE
