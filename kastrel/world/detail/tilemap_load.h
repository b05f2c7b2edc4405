#pragma once
// Inside the world: what the XML and JSON readers share, and the camera's exact drawing. Readers
// throw MAPERROR with the reason; the entry points catch it and hand it to LASTERROR().
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "kastrel/graphics/bitmap.h"
#include "kastrel/world/tilemap.h"

namespace KASTREL::WORLD {
struct CAMERA;
}

namespace KASTREL::WORLD::DETAIL {

// Draws the closed region SRC (inside B, a 32-bit bitmap) with its top-left corner at world
// (LEFT, TOP) through the unturned camera CAM by the camera's pixel rule, as tiles are drawn:
// mirrored (H, V), TINT multiplying each pixel for VOXALPHA. PSET to ADD only.
BOOLEAN draw_sprite(void* DEST, const CAMERA& CAM, const GRAPHICS::BITMAP& B, const MATH::RECT& SRC,
                    double LEFT, double TOP, bool H, bool V, uint32_t TINT,
                    GRAPHICS::RASTEROP METHOD);

// The most one map or tileset file may hold: it is parsed whole, at a few times its size.
constexpr uint64_t kMaxFileBytes = uint64_t{32} << 20;

struct MAPERROR : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const char* FORMAT, ...) __attribute__((format(printf, 1, 2)));

// A tileset file as read once in a load, for every further tileset that names it.
struct TILESETFILE {
  TILESET ts;          // as read, FIRSTGID and SOURCE aside
  std::string dir;     // the folder its pictures are found from, when it named another file
  uint64_t items = 0;  // what reading it counted, counted again for each copy
  uint64_t text = 0;   // the bytes of text it holds, counted as read for each copy
};

// One load: the map's folder, its limits and what it has used of them, and every file and
// picture it has read, by the file's real path, so that none is read or decoded twice.
struct LOADER {
  std::string root;       // the map's folder as given, ending in a separator, or "" for memory
  std::string real_root;  // the same with links followed, ending in '/', once known
  bool images = true;
  uint64_t max_cells = 0;  // 0: no cap
  uint64_t max_bytes = 0;
  uint64_t max_pixels = 0;
  uint64_t cells = 0;
  uint64_t items = 0;
  uint64_t bytes = 0;
  uint64_t pixels = 0;
  int32_t layers = 0;
  std::vector<std::string>
      tileset_chain;  // real paths of tileset files being read, outermost first
  std::map<std::string, TILESETFILE> tilesets;
  std::map<std::string, GRAPHICS::BITMAP> pictures;  // by real path, and '#' the clear colour

  void add_cells(uint64_t n, const std::string& what);
  void add_items(uint64_t n);
  // Refuses as add_items(N) would, counting nothing: room is then taken for N at once.
  void expect_items(uint64_t n) const;
  void add_layer();
  void add_bytes(uint64_t n, const std::string& what);
  void add_pixels(uint64_t n, const std::string& what);
};

// PATH (as written in the file in folder DIR, both relative to the root) made plain: refused
// when absolute or climbing out of the root.
std::string resolve(const std::string& DIR, const std::string& PATH);
// The folder part of a resolved path, ending in '/', or "".
std::string folder_of(const std::string& PATH);
// The file PATH (resolved, relative to the root) with its links followed, refused when it lies
// outside the map's folder (unless ANYWHERE: the map's own file, which the game names): its
// real path.
std::string real_inside(LOADER& L, const std::string& PATH, bool ANYWHERE = false);
// The whole of the file at REAL (from real_inside), at most MAX bytes, counted against the
// load's bytes; NAME names it in reasons.
std::string read_real(LOADER& L, const std::string& REAL, const std::string& NAME, uint64_t MAX);
// The whole file PATH, within the size limits.
std::string read_file(LOADER& L, const std::string& PATH, bool ANYWHERE = false);
// The picture PATH in folder DIR into B, decoded once a load; TRANS colours become clear.
void load_picture(LOADER& L, GRAPHICS::BITMAP& B, const std::string& DIR, const std::string& PATH,
                  uint32_t TRANS);

// "#RRGGBB" or "#AARRGGBB" (the '#' optional) as 0xAARRGGBB; "" gives EMPTY.
uint32_t parse_color(const std::string& TEXT, uint32_t EMPTY, const char* WHAT);
// A whole number in range, refusing anything else.
int64_t parse_int(const std::string& TEXT, int64_t MIN, int64_t MAX, const char* WHAT);
double parse_number(const std::string& TEXT, const char* WHAT);
// "true", "false", "1", "0".
bool parse_bool(const std::string& TEXT, const char* WHAT);
PROPERTYTYPE property_type(const std::string& NAME);
// Fills NUMBER from TEXT for the type.
void property_value(PROPERTY& P);

// COUNT cells of a layer or chunk from TEXT: "csv", "base64" (COMPRESSION "", "zlib", "gzip" or
// "zstd"); the cells must have been counted with add_cells first.
std::vector<uint32_t> decode_cells(const std::string& TEXT, const std::string& ENCODING,
                                   const std::string& COMPRESSION, uint64_t COUNT,
                                   const std::string& WHAT);

// A chunk of an infinite map's layer, before the chunks are gathered.
struct CHUNK {
  int64_t x = 0, y = 0, w = 0, h = 0;
  std::vector<uint32_t> cells;
};
// Gathers chunks into the layer's one block (the cells were counted chunk by chunk; the block is
// counted again against the cap).
void gather_chunks(LOADER& L, LAYER& layer, std::vector<CHUNK>& chunks);

// After reading: loads the pictures (TILESET_DIRS: each tileset's folder), sorts and checks the
// tilesets and checks every global id.
void finish_map(LOADER& L, TILEMAP& map, const std::vector<std::string>& TILESET_DIRS);

// The readers of a whole map file, which lies in the root; each tileset's folder is appended to
// tileset_dirs.
void read_tmx(LOADER& L, const std::string& TEXT, TILEMAP& map,
              std::vector<std::string>& tileset_dirs);
void read_json(LOADER& L, const std::string& TEXT, TILEMAP& map,
               std::vector<std::string>& tileset_dirs);
// An external tileset file (either form, by its first character) into TS, keeping FIRSTGID.
// Returns the tileset's folder.
std::string read_tileset_file(LOADER& L, const std::string& DIR, const std::string& SOURCE,
                              TILESET& TS);
void read_tsx(LOADER& L, const std::string& TEXT, const std::string& DIR, TILESET& TS);
void read_tsj(LOADER& L, const std::string& TEXT, const std::string& DIR, TILESET& TS);
// A tileset's sizes made sane once read.
void check_tileset(TILESET& TS);

}  // namespace KASTREL::WORLD::DETAIL
