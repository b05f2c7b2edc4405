#pragma once
// Inside the world: the fields the XML and JSON forms name alike, read once for both. Each form
// hands in its own view of an element or object, which reads a named field its own way (with
// its own reasons for refusing it):
//   integer(NAME, DEFAULT, LO, HI)  number(NAME, DEFAULT)  boolean(NAME, DEFAULT)
//   text(NAME) ("" when absent)  has(NAME)  properties()
// The fields are read in the order the forms always read them, so a map with several faults
// is refused for the same first one.
#include <string>
#include <utility>
#include <vector>

#include "kastrel/world/detail/tilemap_load.h"

namespace KASTREL::WORLD::DETAIL {

// Beyond any real map's coordinates and picture sizes.
constexpr int64_t kBig = int64_t{1} << 30;

// One property; VALUE(prop) gives its text once NAME and TYPE are read, the class's name for a
// class property being read here.
template <typename FIELDS, typename VALUE>
void read_property(LOADER& L, const FIELDS& p, PROPERTIES& out, VALUE value) {
  L.add_items(1);
  PROPERTY prop;
  prop.NAME = p.text("name");
  prop.TYPE = property_type(p.text("type"));
  prop.TEXT = prop.TYPE == PROPCLASS ? p.text("propertytype") : value(prop);
  property_value(prop);
  out.LIST.push_back(std::move(prop));
}

template <typename FIELDS>
std::string class_of(const FIELDS& n) {
  return n.has("class") ? n.text("class") : n.text("type");  // "type" before Tiled 1.9
}

// The map's own fields, up to its tilesets.
template <typename FIELDS>
void read_map_fields(const FIELDS& m, TILEMAP& map) {
  const std::string orientation = m.text("orientation");
  if (orientation == "orthogonal" || orientation.empty())
    map.MAPORIENTATION = ORTHOGONAL;
  else if (orientation == "isometric")
    map.MAPORIENTATION = ISOMETRIC;
  else if (orientation == "staggered")
    map.MAPORIENTATION = STAGGERED;
  else if (orientation == "hexagonal")
    map.MAPORIENTATION = HEXAGONAL;
  else
    fail("orientation '%.20s' is unknown", orientation.c_str());
  map.WIDTH = int32_t(m.integer("width", 0, 0, INT32_MAX));
  map.HEIGHT = int32_t(m.integer("height", 0, 0, INT32_MAX));
  map.TILEWIDTH = int32_t(m.integer("tilewidth", 0, 0, 65536));
  map.TILEHEIGHT = int32_t(m.integer("tileheight", 0, 0, 65536));
  map.INFINITE = m.boolean("infinite", false);
  map.BACKGROUND = parse_color(m.text("backgroundcolor"), 0, "background colour");
  map.CLASS = m.text("class");
  map.PROPS = m.properties();
}

// One of the map's tilesets: READ(ts) reads the tileset's element, and an external tileset's
// file is read here.
template <typename FIELDS, typename READ>
void read_map_tileset(LOADER& L, const FIELDS& t, TILEMAP& map,
                      std::vector<std::string>& tileset_dirs, READ read) {
  if (map.TILESETS.size() >= 4096) fail("more than 4096 tilesets");
  TILESET ts;
  ts.FIRSTGID = uint32_t(t.integer("firstgid", 1, 1, TILEGIDMASK));
  read(ts);
  std::string dir;
  if (!ts.SOURCE.empty()) dir = read_tileset_file(L, "", ts.SOURCE, ts);
  tileset_dirs.push_back(dir);
  map.TILESETS.push_back(std::move(ts));
}

// A tileset's fields up to its picture; false for a reference to an external tileset, whose
// fields are in its file. OFFSET: the tile offset's element (absent: no offset).
template <typename FIELDS>
bool read_tileset_fields(const FIELDS& n, const FIELDS& offset, TILESET& TS) {
  TS.SOURCE = n.text("source");
  if (!TS.SOURCE.empty()) return false;
  TS.NAME = n.text("name");
  TS.TILEWIDTH = int32_t(n.integer("tilewidth", 0, 0, 65536));
  TS.TILEHEIGHT = int32_t(n.integer("tileheight", 0, 0, 65536));
  TS.SPACING = int32_t(n.integer("spacing", 0, 0, 65536));
  TS.MARGIN = int32_t(n.integer("margin", 0, 0, 65536));
  TS.TILECOUNT = int32_t(n.integer("tilecount", 0, 0, 1 << 24));
  TS.COLUMNS = int32_t(n.integer("columns", 0, 0, 1 << 24));
  TS.OFFSETX = int32_t(offset.integer("x", 0, -kBig, kBig));
  TS.OFFSETY = int32_t(offset.integer("y", 0, -kBig, kBig));
  TS.PROPS = n.properties();
  return true;
}

// A tile's fields before its picture, shapes and animation.
template <typename FIELDS>
void read_tile_fields(LOADER& L, const FIELDS& t, TILEINFO& info) {
  L.add_items(1);
  info.ID = int32_t(t.integer("id", 0, 0, 1 << 28));
  info.CLASS = class_of(t);
  info.PROPS = t.properties();
}

template <typename FIELDS>
void read_frame(LOADER& L, const FIELDS& f, TILEINFO& info) {
  L.add_items(1);
  info.ANIMATION.push_back({int32_t(f.integer("tileid", 0, 0, 1 << 28)),
                            int32_t(f.integer("duration", 0, 0, INT32_MAX))});
}

// The fields every layer has, up to its kind's own.
template <typename FIELDS>
void read_layer_fields(const FIELDS& n, LAYER& layer) {
  layer.ID = int32_t(n.integer("id", 0, 0, INT32_MAX));
  layer.NAME = n.text("name");
  layer.CLASS = n.text("class");
  layer.VISIBLE = n.boolean("visible", true);
  layer.OPACITY = float(n.number("opacity", 1));
  if (!(layer.OPACITY >= 0 && layer.OPACITY <= 1))
    fail("layer '%s': opacity beyond 0 to 1", layer.NAME.c_str());
  layer.TINT = parse_color(n.text("tintcolor"), 0xFFFFFFFFu, "tint colour");
  layer.OFFSETX = n.number("offsetx", 0);
  layer.OFFSETY = n.number("offsety", 0);
  layer.PARALLAXX = n.number("parallaxx", 1);
  layer.PARALLAXY = n.number("parallaxy", 1);
  layer.PROPS = n.properties();
}

// A tile layer's cells: one block of its size, or (CHUNK) a chunk of an infinite map's layer at
// its place. CELLS(count) reads the cells once they are counted against the cap.
template <typename FIELDS, typename CELLS>
void read_layer_cells(LOADER& L, const FIELDS& n, LAYER& layer, const std::string& what,
                      CELLS cells) {
  layer.WIDTH = int32_t(n.integer("width", 0, 0, INT32_MAX));
  layer.HEIGHT = int32_t(n.integer("height", 0, 0, INT32_MAX));
  const uint64_t count = uint64_t(layer.WIDTH) * uint64_t(layer.HEIGHT);
  L.add_cells(count, what);
  layer.CELLS = cells(count);
}
template <typename FIELDS, typename CELLS>
CHUNK read_chunk(LOADER& L, const FIELDS& c, const std::string& what, CELLS cells) {
  CHUNK chunk;
  chunk.x = c.integer("x", 0, -kBig, kBig);
  chunk.y = c.integer("y", 0, -kBig, kBig);
  chunk.w = c.integer("width", 0, 0, 65536);
  chunk.h = c.integer("height", 0, 0, 65536);
  L.add_cells(uint64_t(chunk.w * chunk.h), what);
  chunk.cells = cells(uint64_t(chunk.w * chunk.h));
  return chunk;
}

// An object's fields before its shape.
template <typename FIELDS>
void read_object_fields(LOADER& L, const FIELDS& n, MAPOBJECT& o) {
  L.add_items(1);
  o.ID = int32_t(n.integer("id", 0, 0, INT32_MAX));
  o.NAME = n.text("name");
  o.CLASS = class_of(n);
  o.X = n.number("x", 0);
  o.Y = n.number("y", 0);
  o.WIDTH = n.number("width", 0);
  o.HEIGHT = n.number("height", 0);
  o.ROTATION = n.number("rotation", 0);
  o.VISIBLE = n.boolean("visible", true);
  o.PROPS = n.properties();
}

}  // namespace KASTREL::WORLD::DETAIL
