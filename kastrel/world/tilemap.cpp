#include "kastrel/world/tilemap.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/world/detail/tilemap_load.h"

namespace KASTREL::WORLD {

namespace {
std::atomic<uint64_t> max_map_cells{DEFAULTMAXMAPCELLS};
constexpr uint64_t kMaxItems = uint64_t{1} << 20;
constexpr int32_t kMaxLayers = 65536;
}  // namespace

void SETMAXMAPCELLS(uint64_t CELLS) { max_map_cells = CELLS; }
uint64_t MAXMAPCELLS() { return max_map_cells; }

const PROPERTY* PROPERTIES::FIND(const std::string& NAME) const {
  for (const PROPERTY& p : LIST)
    if (p.NAME == NAME) return &p;
  return nullptr;
}

bool PROPERTIES::BOOL(const std::string& NAME, bool DEFAULT) const {
  const PROPERTY* p = FIND(NAME);
  return p ? p->NUMBER != 0 : DEFAULT;
}

double PROPERTIES::NUMBER(const std::string& NAME, double DEFAULT) const {
  const PROPERTY* p = FIND(NAME);
  return p ? p->NUMBER : DEFAULT;
}

std::string PROPERTIES::TEXT(const std::string& NAME, const std::string& DEFAULT) const {
  const PROPERTY* p = FIND(NAME);
  return p ? p->TEXT : DEFAULT;
}

const TILEINFO* TILESET::INFO(int32_t ID) const {
  auto it = std::lower_bound(TILES.begin(), TILES.end(), ID,
                             [](const TILEINFO& t, int32_t id) { return t.ID < id; });
  return it != TILES.end() && it->ID == ID ? &*it : nullptr;
}

MATH::RECT TILESET::SOURCERECT(int32_t ID) const {
  const int32_t columns = std::max(COLUMNS, 1);
  return {MARGIN + (ID % columns) * (TILEWIDTH + SPACING),
          MARGIN + (ID / columns) * (TILEHEIGHT + SPACING), TILEWIDTH - 1, TILEHEIGHT - 1};
}

uint32_t LAYER::CELL(int32_t TX, int32_t TY) const {
  const int64_t x = int64_t(TX) - ORIGINX, y = int64_t(TY) - ORIGINY;
  if (x < 0 || y < 0 || x >= WIDTH || y >= HEIGHT || size_t(y * WIDTH + x) >= CELLS.size())
    return 0;
  return CELLS[size_t(y * WIDTH + x)];
}

const TILESET* TILEMAP::TILESETOF(uint32_t GID, int32_t* ID) const {
  GID &= TILEGIDMASK;
  if (GID == 0) return nullptr;
  // The last tileset starting at or before GID; ids past its tiles belong to none.
  auto it = std::upper_bound(TILESETS.begin(), TILESETS.end(), GID,
                             [](uint32_t g, const TILESET& t) { return g < t.FIRSTGID; });
  if (it == TILESETS.begin()) return nullptr;
  --it;
  const int32_t id = int32_t(GID - it->FIRSTGID);
  if (it->IMAGEPATH.empty() ? it->INFO(id) == nullptr : id >= it->TILECOUNT) return nullptr;
  if (ID) *ID = id;
  return &*it;
}

const LAYER* TILEMAP::FINDLAYER(const std::string& NAME) const {
  for (const LAYER& l : LAYERS)
    if (l.NAME == NAME) return &l;
  return nullptr;
}

LAYER* TILEMAP::FINDLAYER(const std::string& NAME) {
  return const_cast<LAYER*>(static_cast<const TILEMAP*>(this)->FINDLAYER(NAME));
}

uint32_t TILEMAP::ANIMATEDGID(uint32_t GID, int64_t MS) const {
  int32_t id = 0;
  const TILESET* ts = TILESETOF(GID, &id);
  const TILEINFO* info = ts ? ts->INFO(id) : nullptr;
  if (info == nullptr || info->ANIMATION.empty()) return GID;
  int64_t length = 0;
  for (const TILEFRAME& f : info->ANIMATION) length += f.DURATION;
  if (length <= 0) return GID;
  int64_t t = MS % length;
  if (t < 0) t += length;
  for (const TILEFRAME& f : info->ANIMATION) {
    if (t < f.DURATION) return (GID & ~TILEGIDMASK) | (ts->FIRSTGID + uint32_t(f.TILE));
    t -= f.DURATION;
  }
  return GID;
}

namespace DETAIL {

void fail(const char* FORMAT, ...) {
  char text[512];
  va_list args;
  va_start(args, FORMAT);
  std::vsnprintf(text, sizeof text, FORMAT, args);
  va_end(args);
  throw MAPERROR(text);
}

void LOADER::add_cells(uint64_t n, const std::string& what) {
  if (n > (uint64_t{1} << 40) || (max_cells != 0 && cells + n > max_cells))
    fail("%s: %llu more tile cells go past the cap of %llu (SETMAXMAPCELLS)", what.c_str(),
         static_cast<unsigned long long>(n), static_cast<unsigned long long>(max_cells));
  cells += n;
}

void LOADER::add_items(uint64_t n) {
  items += n;
  if (items > kMaxItems)
    fail("more than %llu objects, tile entries, properties and points",
         static_cast<unsigned long long>(kMaxItems));
}

void LOADER::expect_items(uint64_t n) const {
  if (n > kMaxItems - std::min(items, kMaxItems))
    fail("more than %llu objects, tile entries, properties and points",
         static_cast<unsigned long long>(kMaxItems));
}

void LOADER::add_layer() {
  if (++layers > kMaxLayers) fail("more than %d layers", kMaxLayers);
}

uint32_t parse_color(const std::string& TEXT, uint32_t EMPTY, const char* WHAT) {
  if (TEXT.empty()) return EMPTY;
  const std::string hex = TEXT[0] == '#' ? TEXT.substr(1) : TEXT;
  if ((hex.size() != 6 && hex.size() != 8) ||
      hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    fail("%s: '%.40s' is not a colour", WHAT, TEXT.c_str());
  const uint32_t v = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
  return hex.size() == 6 ? 0xFF000000u | v : v;
}

int64_t parse_int(const std::string& TEXT, int64_t MIN, int64_t MAX, const char* WHAT) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(TEXT.c_str(), &end, 10);
  if (TEXT.empty() || *end != '\0' || errno != 0 || v < MIN || v > MAX)
    fail("%s: '%.40s' is not a whole number from %lld to %lld", WHAT, TEXT.c_str(),
         static_cast<long long>(MIN), static_cast<long long>(MAX));
  return v;
}

double parse_number(const std::string& TEXT, const char* WHAT) {
  char* end = nullptr;
  const double v = std::strtod(TEXT.c_str(), &end);
  if (TEXT.empty() || *end != '\0' || !std::isfinite(v))
    fail("%s: '%.40s' is not a number", WHAT, TEXT.c_str());
  return v;
}

bool parse_bool(const std::string& TEXT, const char* WHAT) {
  if (TEXT == "true" || TEXT == "1") return true;
  if (TEXT == "false" || TEXT == "0") return false;
  fail("%s: '%.40s' is not true or false", WHAT, TEXT.c_str());
}

PROPERTYTYPE property_type(const std::string& NAME) {
  static const char* const names[] = {"string", "int",  "float",  "bool",
                                      "color",  "file", "object", "class"};
  if (NAME.empty()) return PROPSTRING;
  for (int i = 0; i < 8; ++i)
    if (NAME == names[i]) return PROPERTYTYPE(i);
  fail("property type '%.40s' is unknown", NAME.c_str());
}

void property_value(PROPERTY& P) {
  const std::string what = "property '" + P.NAME + "'";
  switch (P.TYPE) {
    case PROPINT:
    case PROPOBJECT:
      P.NUMBER = double(parse_int(P.TEXT, INT64_MIN / 2, INT64_MAX / 2, what.c_str()));
      break;
    case PROPFLOAT:
      P.NUMBER = parse_number(P.TEXT, what.c_str());
      break;
    case PROPBOOL:
      P.NUMBER = parse_bool(P.TEXT, what.c_str()) ? 1 : 0;
      break;
    case PROPCOLOR:
      P.NUMBER = parse_color(P.TEXT, 0, what.c_str());
      break;
    default:
      break;
  }
}

namespace {

// Each character's 6 bits; 64 for whitespace, 255 for anything else.
struct BASE64TABLE {
  uint8_t v[256];
  constexpr BASE64TABLE() : v() {
    for (int i = 0; i < 256; ++i) v[i] = 255;
    const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) v[uint8_t(a[i])] = uint8_t(i);
    for (char c : {' ', '\n', '\r', '\t'}) v[uint8_t(c)] = 64;
  }
};
constexpr BASE64TABLE kBase64;

// Layers from this size on have their memory taken in one call.
constexpr size_t kPrepareBytes = size_t(1) << 18;

std::vector<uint8_t> base64(const std::string& TEXT, const std::string& WHAT) {
  std::vector<uint8_t> out(TEXT.size() / 4 * 3 + 3);
  size_t n = 0, chars = 0, pad = 0;
  uint32_t acc = 0;
  const auto* text = reinterpret_cast<const uint8_t*>(TEXT.data());
  for (size_t i = 0, size = TEXT.size(); i < size; ++i) {
    // Groups of four plain characters, the bulk of a layer's text, go by the group; whitespace,
    // padding and anything wrong by the character.
    if (chars % 4 == 0 && pad == 0) {
      for (; i + 4 <= size; i += 4, chars += 4) {
        const uint32_t a = kBase64.v[text[i]], b = kBase64.v[text[i + 1]],
                       c = kBase64.v[text[i + 2]], d = kBase64.v[text[i + 3]];
        if ((a | b | c | d) >= 64) break;
        acc = a << 18 | b << 12 | c << 6 | d;
        out[n++] = uint8_t(acc >> 16);
        out[n++] = uint8_t(acc >> 8);
        out[n++] = uint8_t(acc);
      }
      if (i == size) break;
    }
    const char ch = char(text[i]);
    const uint8_t v = kBase64.v[uint8_t(ch)];
    if (v == 64) continue;
    if (ch == '=' && pad < 2) {
      ++pad, ++chars;
      continue;
    }
    if (v == 255 || pad != 0) fail("%s: '%c' is not a base64 character here", WHAT.c_str(), ch);
    acc = acc << 6 | v;
    if (++chars % 4 == 0) {
      out[n++] = uint8_t(acc >> 16);
      out[n++] = uint8_t(acc >> 8);
      out[n++] = uint8_t(acc);
    }
  }
  if (chars % 4 != 0)
    fail("%s: base64 of %llu characters is not whole groups of 4", WHAT.c_str(),
         static_cast<unsigned long long>(chars));
  if (pad == 1) {
    out[n++] = uint8_t(acc >> 10);
    out[n++] = uint8_t(acc >> 2);
  } else if (pad == 2) {
    out[n++] = uint8_t(acc >> 4);
  }
  out.resize(n);
  return out;
}

// Inflates zlib (GZIP false) or gzip data into exactly SIZE bytes at OUT, which has room for
// SIZE + 4: more or fewer is refused.
void inflate_exact(const std::vector<uint8_t>& IN, uint8_t* OUT, size_t SIZE, bool GZIP,
                   const std::string& WHAT) {
  z_stream z{};
  if (inflateInit2(&z, GZIP ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) fail("zlib cannot start");
  z.next_in = const_cast<Bytef*>(IN.data());
  z.avail_in = uInt(IN.size());
  z.next_out = OUT;
  z.avail_out = uInt(SIZE + 1);
  const int status = inflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  inflateEnd(&z);
  if (produced > SIZE)
    fail("%s: the %s data hold more cells than the layer", WHAT.c_str(), GZIP ? "gzip" : "zlib");
  if (status != Z_STREAM_END)
    fail("%s: the %s data are broken or cut short", WHAT.c_str(), GZIP ? "gzip" : "zlib");
  if (produced != SIZE)
    fail("%s: the %s data hold fewer cells than the layer", WHAT.c_str(), GZIP ? "gzip" : "zlib");
}

void unzstd_exact(const std::vector<uint8_t>& IN, uint8_t* OUT, size_t SIZE,
                  const std::string& WHAT) {
  // In one call, straight into the layer: the frames can write no further than the room given
  // (one byte past the layer shows data running long), and the streaming decoder's own window
  // and copy are not needed.
  const size_t status = ZSTD_decompress(OUT, SIZE + 1, IN.data(), IN.size());
  if (ZSTD_isError(status)) {
    if (ZSTD_getErrorCode(status) == ZSTD_error_dstSize_tooSmall)
      fail("%s: the zstd data hold more cells than the layer", WHAT.c_str());
    fail("%s: the zstd data are broken: %s", WHAT.c_str(), ZSTD_getErrorName(status));
  }
  if (status != SIZE)
    fail("%s: the zstd data %s", WHAT.c_str(),
         status > SIZE ? "hold more cells than the layer"
                       : "are cut short or hold another number of cells");
}

}  // namespace

std::vector<uint32_t> decode_cells(const std::string& TEXT, const std::string& ENCODING,
                                   const std::string& COMPRESSION, uint64_t COUNT,
                                   const std::string& WHAT) {
  std::vector<uint32_t> cells;
  if (ENCODING == "csv") {
    if (!COMPRESSION.empty()) fail("%s: CSV data cannot be compressed", WHAT.c_str());
    cells.reserve(size_t(COUNT));
    const char* p = TEXT.c_str();
    while (true) {
      while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
      if (*p == '\0') break;
      if (*p < '0' || *p > '9') fail("%s: '%c' in CSV data", WHAT.c_str(), *p);
      uint64_t v = 0;
      while (*p >= '0' && *p <= '9' && v <= UINT32_MAX) v = v * 10 + uint64_t(*p++ - '0');
      if (v > UINT32_MAX) fail("%s: a CSV number beyond 32 bits", WHAT.c_str());
      if (cells.size() == COUNT)
        fail("%s: the CSV data hold more than %llu cells", WHAT.c_str(),
             static_cast<unsigned long long>(COUNT));
      cells.push_back(uint32_t(v));
      while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
      if (*p == ',')
        ++p;
      else if (*p != '\0')
        fail("%s: '%c' in CSV data", WHAT.c_str(), *p);
    }
    if (cells.size() != COUNT)
      fail("%s: the CSV data hold %llu cells, not %llu", WHAT.c_str(),
           static_cast<unsigned long long>(cells.size()), static_cast<unsigned long long>(COUNT));
    return cells;
  }
  if (ENCODING != "base64") fail("%s: encoding '%.20s' is unknown", WHAT.c_str(), ENCODING.c_str());
  std::vector<uint8_t> bytes = base64(TEXT, WHAT);
  const size_t size = size_t(COUNT) * 4;
  if (!COMPRESSION.empty() && COMPRESSION != "zlib" && COMPRESSION != "gzip" &&
      COMPRESSION != "zstd")
    fail("%s: compression '%.20s' is unknown", WHAT.c_str(), COMPRESSION.c_str());
  if (COMPRESSION.empty() && bytes.size() != size)
    fail("%s: the base64 data hold %llu bytes, not the %llu of %llu cells", WHAT.c_str(),
         static_cast<unsigned long long>(bytes.size()), static_cast<unsigned long long>(size),
         static_cast<unsigned long long>(COUNT));
  // One cell of room past the end shows data running long. A large layer's memory is taken in
  // one call rather than a page fault at a time as it is zeroed.
  cells.reserve(size_t(COUNT) + 1);
  if (size >= kPrepareBytes) PLATFORM::PREPAREMEMORY(cells.data(), size + 4);
  cells.resize(size_t(COUNT) + 1);
  auto* out = reinterpret_cast<uint8_t*>(cells.data());
  if (COMPRESSION == "zstd")
    unzstd_exact(bytes, out, size, WHAT);
  else if (!COMPRESSION.empty())
    inflate_exact(bytes, out, size, COMPRESSION == "gzip", WHAT);
  else
    std::memcpy(out, bytes.data(), size);
  cells.resize(size_t(COUNT));
  if constexpr (std::endian::native != std::endian::little)
    for (uint32_t& c : cells) c = __builtin_bswap32(c);
  return cells;
}

void gather_chunks(LOADER& L, LAYER& layer, std::vector<CHUNK>& chunks) {
  if (chunks.empty()) return;
  int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
  for (const CHUNK& c : chunks) {
    x0 = std::min(x0, c.x);
    y0 = std::min(y0, c.y);
    x1 = std::max(x1, c.x + c.w);
    y1 = std::max(y1, c.y + c.h);
  }
  const int64_t w = x1 - x0, h = y1 - y0;
  if (w > INT32_MAX || h > INT32_MAX || x0 < INT32_MIN || y0 < INT32_MIN)
    fail("layer '%s': its chunks span more than 2^31 tiles", layer.NAME.c_str());
  L.add_cells(uint64_t(w) * uint64_t(h), "layer '" + layer.NAME + "'");
  layer.ORIGINX = int32_t(x0);
  layer.ORIGINY = int32_t(y0);
  layer.WIDTH = int32_t(w);
  layer.HEIGHT = int32_t(h);
  layer.CELLS.assign(size_t(w * h), 0);
  for (const CHUNK& c : chunks)
    for (int64_t y = 0; y < c.h; ++y)
      std::copy_n(c.cells.begin() + y * c.w, c.w,
                  layer.CELLS.begin() + (c.y - y0 + y) * w + (c.x - x0));
  chunks.clear();
}

void check_tileset(TILESET& TS) {
  const char* name = TS.NAME.c_str();
  if (TS.TILEWIDTH < 1 || TS.TILEHEIGHT < 1 || TS.TILEWIDTH > 65536 || TS.TILEHEIGHT > 65536)
    fail("tileset '%s': tile size %d x %d is not 1 to 65536", name, TS.TILEWIDTH, TS.TILEHEIGHT);
  if (TS.SPACING < 0 || TS.MARGIN < 0 || TS.SPACING > 65536 || TS.MARGIN > 65536)
    fail("tileset '%s': spacing and margin must be 0 to 65536", name);
  if (TS.TILECOUNT < 0 || TS.COLUMNS < 0 || TS.TILECOUNT > (1 << 24))
    fail("tileset '%s': %d tiles in %d columns", name, TS.TILECOUNT, TS.COLUMNS);
  if (!TS.IMAGEPATH.empty()) {
    // Every tile must lie inside the picture the file says it has.
    const int64_t columns = std::max(TS.COLUMNS, 1);
    const int64_t rows = (int64_t(TS.TILECOUNT) + columns - 1) / columns;
    const int64_t right = TS.MARGIN + columns * (TS.TILEWIDTH + TS.SPACING) - TS.SPACING;
    const int64_t bottom = TS.MARGIN + rows * (TS.TILEHEIGHT + TS.SPACING) - TS.SPACING;
    if (TS.TILECOUNT > 0 && (right > (int64_t{1} << 30) || bottom > (int64_t{1} << 30)))
      fail("tileset '%s': its tiles reach beyond 2^30 pixels", name);
  }
  std::sort(TS.TILES.begin(), TS.TILES.end(),
            [](const TILEINFO& a, const TILEINFO& b) { return a.ID < b.ID; });
  for (size_t i = 0; i < TS.TILES.size(); ++i) {
    const TILEINFO& t = TS.TILES[i];
    if (t.ID < 0 || (i > 0 && TS.TILES[i - 1].ID == t.ID))
      fail("tileset '%s': tile %d given twice or negative", name, t.ID);
    if (!TS.IMAGEPATH.empty() && t.ID >= TS.TILECOUNT)
      fail("tileset '%s': tile %d beyond its %d tiles", name, t.ID, TS.TILECOUNT);
  }
  for (const TILEINFO& t : TS.TILES)
    for (const TILEFRAME& f : t.ANIMATION)
      if (f.TILE < 0 || f.DURATION < 0 ||
          (TS.IMAGEPATH.empty() ? TS.INFO(f.TILE) == nullptr : f.TILE >= TS.TILECOUNT))
        fail("tileset '%s': tile %d's animation shows tile %d, which it lacks", name, t.ID, f.TILE);
}

namespace {

void check_gid(const TILEMAP& map, uint32_t gid, const std::string& where) {
  if ((gid & TILEGIDMASK) != 0 && map.TILESETOF(gid) == nullptr)
    fail("%s: tile %u belongs to no tileset", where.c_str(), gid & TILEGIDMASK);
}

}  // namespace

void finish_map(LOADER& L, TILEMAP& map, const std::vector<std::string>& TILESET_DIRS) {
  if (map.TILEWIDTH < 1 || map.TILEHEIGHT < 1 || map.TILEWIDTH > 65536 || map.TILEHEIGHT > 65536)
    fail("tile size %d x %d is not 1 to 65536", map.TILEWIDTH, map.TILEHEIGHT);
  if (map.WIDTH < 0 || map.HEIGHT < 0) fail("map size %d x %d", map.WIDTH, map.HEIGHT);
  for (size_t i = 0; i < map.TILESETS.size(); ++i) {
    TILESET& ts = map.TILESETS[i];
    if (ts.FIRSTGID < 1 || ts.FIRSTGID > TILEGIDMASK)
      fail("tileset '%s': first id %u is not 1 to 2^28 - 1", ts.NAME.c_str(), ts.FIRSTGID);
    if (!ts.IMAGEPATH.empty())
      load_picture(L, ts.IMAGE, TILESET_DIRS[i], ts.IMAGEPATH, ts.TRANSCOLOR);
    for (TILEINFO& t : ts.TILES)
      if (!t.IMAGEPATH.empty())
        load_picture(L, t.IMAGE, TILESET_DIRS[i], t.IMAGEPATH, ts.TRANSCOLOR);
  }
  // Ascending first ids, and no tileset's tiles running into the next one's.
  std::vector<size_t> order(map.TILESETS.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return map.TILESETS[a].FIRSTGID < map.TILESETS[b].FIRSTGID;
  });
  std::vector<TILESET> sorted;
  for (size_t i : order) sorted.push_back(std::move(map.TILESETS[i]));
  map.TILESETS = std::move(sorted);
  for (size_t i = 1; i < map.TILESETS.size(); ++i) {
    const TILESET& a = map.TILESETS[i - 1];
    const uint64_t end =
        a.FIRSTGID +
        uint64_t(a.IMAGEPATH.empty() ? (a.TILES.empty() ? 0 : a.TILES.back().ID + 1) : a.TILECOUNT);
    if (end > map.TILESETS[i].FIRSTGID)
      fail("tilesets '%s' and '%s' share tile ids", a.NAME.c_str(), map.TILESETS[i].NAME.c_str());
  }
  for (LAYER& layer : map.LAYERS) {
    const int64_t w = std::max(layer.WIDTH, 1);
    // Most layers draw from one tileset: when the least and greatest ids are of the same
    // picture tileset, every id between is too.
    uint32_t below, most;
    vox_gfxIdRange(layer.CELLS.data(), layer.CELLS.size(), TILEGIDMASK, &below, &most);
    const uint32_t least = below + 1;  // used only when most != 0
    const TILESET* first = most != 0 ? map.TILESETOF(least) : nullptr;
    const bool one = most == 0 || (first != nullptr && !first->IMAGEPATH.empty() &&
                                   map.TILESETOF(most) == first);
    // Otherwise neighbouring cells mostly share a tileset: its range of ids is tried first.
    uint32_t lo = 1, hi = 1;
    for (size_t i = 0; i < layer.CELLS.size() && !one; ++i) {
      const uint32_t gid = layer.CELLS[i] & TILEGIDMASK;
      if (gid == 0 || (gid >= lo && gid < hi)) continue;
      int32_t id = 0;
      const TILESET* ts = map.TILESETOF(gid, &id);
      if (ts != nullptr && !ts->IMAGEPATH.empty())
        lo = ts->FIRSTGID, hi = ts->FIRSTGID + uint32_t(ts->TILECOUNT);
      if (ts == nullptr)
        check_gid(map, layer.CELLS[i],
                  "layer '" + layer.NAME + "' at (" +
                      std::to_string(layer.ORIGINX + int64_t(i) % w) + ", " +
                      std::to_string(layer.ORIGINY + int64_t(i) / w) + ")");
    }
    for (const MAPOBJECT& o : layer.OBJECTS)
      if (o.SHAPE == SHAPETILE)
        check_gid(map, o.GID, "object " + std::to_string(o.ID) + " '" + o.NAME + "'");
    if (layer.KIND == LAYERIMAGE && !layer.IMAGEPATH.empty())
      load_picture(L, layer.IMAGE, "", layer.IMAGEPATH, 0);
  }
}

}  // namespace DETAIL

namespace {

// Reads the map (from its file NAME under ROOT when TEXT is null) and everything it names. No
// exception leaves: running out of memory is a failure like any other, with its reason.
BOOLEAN load(TILEMAP& out, const std::string* TEXT, const std::string& NAME,
             const std::string& root, bool images) {
  try {
    DETAIL::LOADER L;
    L.root = root;
    L.images = images;
    L.max_cells = MAXMAPCELLS();
    L.max_bytes = MAXMAPBYTES();
    L.max_pixels = MAXMAPPIXELS();
    std::string read;
    if (TEXT == nullptr) {
      read = DETAIL::read_file(L, NAME, true);
    } else {
      if (TEXT->size() > DETAIL::kMaxFileBytes)
        DETAIL::fail("the map is larger than %llu bytes",
                     static_cast<unsigned long long>(DETAIL::kMaxFileBytes));
      L.add_bytes(TEXT->size(), "the map");
    }
    const std::string& text = TEXT == nullptr ? read : *TEXT;
    TILEMAP map;
    map.FOLDER = root;
    std::vector<std::string> dirs;
    const size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first == std::string::npos) DETAIL::fail("the map is empty");
    if (text[first] == '{')
      DETAIL::read_json(L, text, map, dirs);
    else if (text[first] == '<')
      DETAIL::read_tmx(L, text, map, dirs);
    else
      DETAIL::fail("the map is neither XML nor JSON");
    std::string().swap(read);
    DETAIL::finish_map(L, map, dirs);
    out = std::move(map);
    return TRUE;
  } catch (const DETAIL::MAPERROR& e) {
    SETLASTERROR("TILEMAP: %s", e.what());
  } catch (const std::bad_alloc&) {
    SETLASTERROR("TILEMAP: out of memory");
  } catch (const std::exception& e) {
    SETLASTERROR("TILEMAP: %s", e.what());
  } catch (...) {
    SETLASTERROR("TILEMAP: the map cannot be read");
  }
  return FALSE;
}

}  // namespace

BOOLEAN TILEMAP::LOADFROMFILE(const std::string& FILENAME, bool IMAGES) {
  // Either separator (and on Windows a drive) splits the folder from the name, which keeps the
  // form it was given in: the system takes the folder as it is.
  std::string root = PLATFORM::FOLDEROF(FILENAME);
  const std::string name = FILENAME.substr(root.size());
  if (name.empty()) {
    SETLASTERROR("TILEMAP: '%s' names no file", FILENAME.c_str());
    return FALSE;
  }
  if (root.empty()) root = "./";
  return load(*this, nullptr, name, root, IMAGES);
}

BOOLEAN TILEMAP::LOADFROMMEMORY(const void* MEM, int32_t SIZE, const std::string& DIRECTORY,
                                bool IMAGES) {
  if (MEM == nullptr || SIZE <= 0) {
    SETLASTERROR("TILEMAP: no data (%d bytes)", SIZE);
    return FALSE;
  }
  std::string root = DIRECTORY;
  if (!root.empty() && !PLATFORM::ISSEPARATOR(root.back())) root += '/';
  try {
    const std::string text(static_cast<const char*>(MEM), size_t(SIZE));
    return load(*this, &text, "", root, IMAGES);
  } catch (const std::bad_alloc&) {
    SETLASTERROR("TILEMAP: out of memory for the map's %d bytes", SIZE);
    return FALSE;
  }
}

}  // namespace KASTREL::WORLD
