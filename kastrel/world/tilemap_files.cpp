// The files of one load: every one through the platform layer (so a FIFO, a device or a folder
// is refused at once), found inside the map's folder with links followed, read once and, for
// pictures, decoded once, within the load's caps.
#include <atomic>
#include <cstring>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/world/detail/tilemap_load.h"

namespace KASTREL::WORLD {

namespace {
std::atomic<uint64_t> max_map_bytes{DEFAULTMAXMAPBYTES};
std::atomic<uint64_t> max_map_pixels{DEFAULTMAXMAPPIXELS};
}  // namespace

void SETMAXMAPBYTES(uint64_t BYTES) { max_map_bytes = BYTES; }
uint64_t MAXMAPBYTES() { return max_map_bytes; }
void SETMAXMAPPIXELS(uint64_t PIXELS) { max_map_pixels = PIXELS; }
uint64_t MAXMAPPIXELS() { return max_map_pixels; }

namespace DETAIL {

namespace {

using ull = unsigned long long;

// The bytes of text a tileset holds, which a copy of it copies.
uint64_t text_of(const PROPERTIES& P) {
  uint64_t n = 0;
  for (const PROPERTY& p : P.LIST) n += p.NAME.size() + p.TEXT.size() + sizeof p;
  return n;
}

uint64_t text_of(const TILESET& TS) {
  uint64_t n = TS.NAME.size() + TS.SOURCE.size() + TS.IMAGEPATH.size() + text_of(TS.PROPS);
  for (const TILEINFO& t : TS.TILES) {
    n += sizeof t + t.CLASS.size() + t.IMAGEPATH.size() + text_of(t.PROPS);
    for (const MAPOBJECT& o : t.SHAPES)
      n += sizeof o + o.NAME.size() + o.CLASS.size() + o.TEXT.size() + text_of(o.PROPS) +
           o.POINTS.size() * sizeof(MATH::POINTF);
  }
  return n;
}

// Width times height from a PNG's header, or 0 when BYTES do not start as a PNG (the decoder
// then says what is wrong).
uint64_t png_pixels(const std::string& BYTES) {
  static const char signature[] = "\x89PNG\r\n\x1a\n";
  if (BYTES.size() < 24 || std::memcmp(BYTES.data(), signature, 8) != 0 ||
      std::memcmp(BYTES.data() + 12, "IHDR", 4) != 0)
    return 0;
  auto be32 = [&](size_t at) {
    const auto* b = reinterpret_cast<const uint8_t*>(BYTES.data()) + at;
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  };
  return uint64_t(be32(16)) * be32(20);
}

}  // namespace

void LOADER::add_bytes(uint64_t n, const std::string& what) {
  if (max_bytes != 0 && (n > max_bytes || bytes > max_bytes - n))
    fail("%s: %llu more bytes go past the cap of %llu bytes a load reads (SETMAXMAPBYTES)",
         what.c_str(), ull(n), ull(max_bytes));
  bytes += n;
}

void LOADER::add_pixels(uint64_t n, const std::string& what) {
  if (max_pixels != 0 && (n > max_pixels || pixels > max_pixels - n))
    fail("%s: %llu more pixels go past the cap of %llu pixels a load decodes (SETMAXMAPPIXELS)",
         what.c_str(), ull(n), ull(max_pixels));
  pixels += n;
}

std::string resolve(const std::string& DIR, const std::string& PATH) {
  if (PATH.empty()) fail("an empty file name");
  if (PATH[0] == '/' || PATH[0] == '\\' || PATH.find(':') != std::string::npos)
    fail("'%s' is not a path relative to the map's folder", PATH.c_str());
  std::vector<std::string> parts;
  const std::string whole = DIR + PATH;
  size_t start = 0;
  while (start <= whole.size()) {
    size_t end = whole.find_first_of("/\\", start);
    if (end == std::string::npos) end = whole.size();
    const std::string part = whole.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) fail("'%s' climbs out of the map's folder", PATH.c_str());
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (parts.empty()) fail("'%s' names no file", PATH.c_str());
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string folder_of(const std::string& PATH) {
  const size_t slash = PATH.rfind('/');
  return slash == std::string::npos ? "" : PATH.substr(0, slash + 1);
}

std::string real_inside(LOADER& L, const std::string& PATH, bool ANYWHERE) {
  if (L.root.empty()) fail("'%s': a map from memory without a folder reads no files", PATH.c_str());
  std::string reason;
  if (L.real_root.empty()) {
    L.real_root = PLATFORM::REALPATH(L.root, &reason);
    if (L.real_root.empty()) fail("the map's folder '%s': %s", L.root.c_str(), reason.c_str());
    if (L.real_root.back() != '/') L.real_root += '/';
  }
  const std::string name = L.root + PATH;
  // Links may lead anywhere: what lies outside the folder is not opened, nor described, not
  // even whether it is there.
  // (A file must lie below the folder; the folder a missing file would be in may be it.)
  auto outside = [&](const std::string& real, size_t least) {
    return !ANYWHERE &&
           (real.size() < least || real.compare(0, L.real_root.size(), L.real_root) != 0);
  };
  const std::string real = PLATFORM::REALPATH(name, &reason);
  if (real.empty()) {
    std::string why;
    const std::string folder = PLATFORM::REALPATH(PLATFORM::FOLDEROF(name), &why);
    if (!folder.empty() && outside(folder + "/", L.real_root.size()))
      fail("'%s' leads out of the map's folder", name.c_str());
    fail("'%s' cannot be opened: %s", name.c_str(), reason.c_str());
  }
  if (outside(real, L.real_root.size() + 1))
    fail("'%s' leads out of the map's folder", name.c_str());
  return real;
}

std::string read_real(LOADER& L, const std::string& REAL, const std::string& NAME, uint64_t MAX) {
  PLATFORM::READFILE file;
  if (!file.OPEN(REAL)) fail("'%s' cannot be read: %s", NAME.c_str(), file.REASON().c_str());
  if (file.SIZE() > MAX)
    fail("'%s' is %llu bytes, larger than %llu", NAME.c_str(), ull(file.SIZE()), ull(MAX));
  L.add_bytes(file.SIZE(), "'" + NAME + "'");
  std::string text(size_t(file.SIZE()), '\0');
  const int64_t got = file.READ(text.data(), text.size());
  if (got < 0) fail("'%s' cannot be read: %s", NAME.c_str(), file.REASON().c_str());
  if (uint64_t(got) != text.size()) fail("'%s' shrank while it was read", NAME.c_str());
  return text;
}

std::string read_file(LOADER& L, const std::string& PATH, bool ANYWHERE) {
  return read_real(L, real_inside(L, PATH, ANYWHERE), L.root + PATH, kMaxFileBytes);
}

std::string read_tileset_file(LOADER& L, const std::string& DIR, const std::string& SOURCE,
                              TILESET& TS) {
  // SOURCE may be TS.SOURCE itself, which the resets below empty: the name is kept apart.
  const std::string named = SOURCE;
  const std::string path = resolve(DIR, named);
  const std::string real = real_inside(L, path);
  const uint32_t firstgid = TS.FIRSTGID;
  // A file read before is copied, its items and text counted again, as a copy takes them.
  if (auto it = L.tilesets.find(real); it != L.tilesets.end()) {
    L.add_items(it->second.items);
    L.add_bytes(it->second.text, "tileset '" + path + "' named again");
    TS = it->second.ts;
    TS.FIRSTGID = firstgid;
    TS.SOURCE = named;
    return it->second.dir.empty() ? folder_of(path) : it->second.dir;
  }
  for (const std::string& p : L.tileset_chain)
    if (p == real) fail("tileset files loop: '%s' names itself through others", path.c_str());
  if (L.tileset_chain.size() >= 8) fail("tileset files nest more than 8 deep");
  L.tileset_chain.push_back(real);
  const uint64_t items = L.items;
  std::string text = read_real(L, real, L.root + path, kMaxFileBytes);
  const size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  TS = TILESET();
  std::string dir = folder_of(path), inner_dir;
  if (first != std::string::npos && text[first] == '{')
    read_tsj(L, text, dir, TS);
  else
    read_tsx(L, text, dir, TS);
  std::string().swap(text);
  // A tileset file may itself point at another.
  if (!TS.SOURCE.empty()) {
    const std::string inner = TS.SOURCE;
    dir = inner_dir = read_tileset_file(L, dir, inner, TS);
  }
  TS.FIRSTGID = firstgid;
  TS.SOURCE = named;
  L.tileset_chain.pop_back();
  L.tilesets[real] = TILESETFILE{TS, inner_dir, L.items - items, text_of(TS)};
  return dir;
}

void load_picture(LOADER& L, GRAPHICS::BITMAP& B, const std::string& DIR, const std::string& PATH,
                  uint32_t TRANS) {
  const std::string path = resolve(DIR, PATH);
  if (!L.images || L.root.empty()) return;
  const std::string real = real_inside(L, path);
  const std::string what = "picture '" + path + "'";
  auto decoded = L.pictures.find(real);
  if (decoded == L.pictures.end()) {
    const std::string bytes = read_real(L, real, L.root + path, INT32_MAX);
    L.add_pixels(png_pixels(bytes), what);
    GRAPHICS::BITMAP b;
    if (!b.LOADFROMMEMORY(bytes.data(), int32_t(bytes.size())))
      fail("%s: %s", what.c_str(), LASTERROR());
    decoded = L.pictures.emplace(real, std::move(b)).first;
  }
  if (TRANS == 0) {
    B = decoded->second;  // shared, not copied
    return;
  }
  // A clear colour changes the pixels: a copy of its own, made once for each colour.
  char colour[16];
  std::snprintf(colour, sizeof colour, "#%08x", TRANS);
  auto made = L.pictures.find(real + colour);
  if (made == L.pictures.end()) {
    const GRAPHICS::BITMAP& from = decoded->second;
    L.add_pixels(uint64_t(from.WIDTH()) * from.HEIGHT(), what);
    GRAPHICS::BITMAP b;
    if (!b.COPYFROMHANDLE(from.HANDLE(), 0, 0, 0, 0)) fail("%s: %s", what.c_str(), LASTERROR());
    for (uint32_t y = 0; y < b.HEIGHT(); ++y)
      for (uint32_t x = 0; x < b.WIDTH(); ++x) {
        const MATH::POINT pt{int32_t(x), int32_t(y)};
        if ((b.PIXEL(pt) & 0xFFFFFF) == (TRANS & 0xFFFFFF)) b.PIXEL(pt, 0);
      }
    made = L.pictures.emplace(real + colour, std::move(b)).first;
  }
  B = made->second;
}

}  // namespace DETAIL

}  // namespace KASTREL::WORLD
