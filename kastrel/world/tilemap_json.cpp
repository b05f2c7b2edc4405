// The JSON forms: maps (.tmj / .json) and tilesets (.tsj / .json).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "kastrel/world/detail/tilemap_fields.h"

namespace KASTREL::WORLD::DETAIL {

namespace {

// Objects as vectors of members (the reader looks a few keys up in small objects): a third of
// the memory of the default tree's.
using json = nlohmann::ordered_json;

// Every key the reader reads, sorted: the parser keeps no other member, nor anything under it.
constexpr const char* kKeys[] = {"animation",
                                 "backgroundcolor",
                                 "chunks",
                                 "class",
                                 "color",
                                 "columns",
                                 "compression",
                                 "data",
                                 "duration",
                                 "ellipse",
                                 "encoding",
                                 "firstgid",
                                 "gid",
                                 "height",
                                 "id",
                                 "image",
                                 "imageheight",
                                 "imagewidth",
                                 "infinite",
                                 "layers",
                                 "margin",
                                 "name",
                                 "objectgroup",
                                 "objects",
                                 "offsetx",
                                 "offsety",
                                 "opacity",
                                 "orientation",
                                 "parallaxx",
                                 "parallaxy",
                                 "point",
                                 "polygon",
                                 "polyline",
                                 "properties",
                                 "propertytype",
                                 "repeatx",
                                 "repeaty",
                                 "rotation",
                                 "source",
                                 "spacing",
                                 "text",
                                 "tilecount",
                                 "tileheight",
                                 "tileid",
                                 "tileoffset",
                                 "tiles",
                                 "tilesets",
                                 "tilewidth",
                                 "tintcolor",
                                 "transparentcolor",
                                 "type",
                                 "value",
                                 "visible",
                                 "width",
                                 "x",
                                 "y"};

// Objects and arrays a file may hold: each of a map's objects, tiles, properties, points and
// layers is one, with a few around it; past this the file is refused as it is parsed, before
// its tree grows further.
constexpr uint64_t kMaxContainers = uint64_t{2} << 20;

bool known_key(const std::string& KEY) {
  return std::binary_search(
      std::begin(kKeys), std::end(kKeys), KEY,
      [](const auto& x, const auto& y) { return std::string_view(x) < std::string_view(y); });
}

// Builds the tree as the parser reads (it is fed events, not asked for a tree): members the
// reader has no use for are passed over with everything under them, nesting and the number of
// objects and arrays are bounded as they come, and each value is placed in constant time.
struct TREEBUILDER {
  const char* what;
  json root;
  std::vector<json*> open;  // the objects and arrays being filled, innermost last
  std::string member;       // the member the next value is for
  int skipping = 0;         // > 0: inside a value being passed over, this many levels deep
  bool skip_next = false;   // the next value is an unknown member's
  int depth = 0;
  uint64_t containers = 0;
  json::binary_t* cells = nullptr;  // the cells being read, inside a layer's "data" array

  json* put(json&& value) {
    if (skip_next) {
      skip_next = false;
      if (value.is_structured()) skipping = 1;
      return nullptr;
    }
    if (open.empty()) return &(root = std::move(value));
    json& parent = *open.back();
    if (parent.is_array()) {
      json::array_t& array = parent.get_ref<json::array_t&>();
      array.push_back(std::move(value));
      return &array.back();
    }
    return &(parent[member] = std::move(value));
  }
  bool scalar(json&& value) {
    if (cells != nullptr) {
      if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX)
        fail("%s: a layer's data hold a cell that is not a 32-bit tile number", what);
      const uint32_t cell = uint32_t(value.get<uint64_t>());
      const auto* bytes = reinterpret_cast<const uint8_t*>(&cell);
      cells->insert(cells->end(), bytes, bytes + 4);
    } else if (skipping == 0) {
      put(std::move(value));
    }
    return true;
  }
  bool start(json&& empty) {
    if (++depth > 200) fail("%s: JSON nested more than 200 deep", what);
    if (cells != nullptr)
      fail("%s: a layer's data hold a cell that is not a 32-bit tile number", what);
    if (skipping > 0) return ++skipping, true;
    // A layer's cells, the one long array a map has, are kept as 4 bytes each, not as values
    // of 16 bytes.
    if (empty.is_array() && !skip_next && !open.empty() && open.back()->is_object() &&
        member == "data") {
      json* placed = put(json::binary({}));
      cells = &placed->get_binary();
      open.push_back(placed);
      return true;
    }
    if (++containers > kMaxContainers)
      fail("%s: more than %llu JSON objects and arrays", what,
           static_cast<unsigned long long>(kMaxContainers));
    if (json* placed = put(std::move(empty))) open.push_back(placed);
    return true;
  }
  bool end() {
    --depth;
    cells = nullptr;
    if (skipping > 0) return --skipping, true;
    open.pop_back();
    return true;
  }

  bool null() { return scalar(nullptr); }
  bool boolean(bool v) { return scalar(v); }
  bool number_integer(json::number_integer_t v) { return scalar(v); }
  bool number_unsigned(json::number_unsigned_t v) { return scalar(v); }
  bool number_float(json::number_float_t v, const std::string&) { return scalar(v); }
  bool string(std::string& v) { return scalar(std::move(v)); }
  bool binary(json::binary_t&) { return true; }  // not in JSON text
  bool start_object(std::size_t) { return start(json::object()); }
  bool end_object() { return end(); }
  bool start_array(std::size_t) { return start(json::array()); }
  bool end_array() { return end(); }
  bool key(std::string& k) {
    if (skipping == 0) {
      skip_next = !known_key(k);
      if (!skip_next) member = std::move(k);
    }
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }
};

json parse(const std::string& TEXT, const char* what) {
  TREEBUILDER builder{what, {}, {}, {}, 0, false, 0, 0, nullptr};
  if (!json::sax_parse(TEXT.begin(), TEXT.end(), &builder)) fail("%s: not well-formed JSON", what);
  if (!builder.root.is_object()) fail("%s: the JSON is not an object", what);
  return std::move(builder.root);
}

const json* member(const json& o, const char* key) {
  if (!o.is_object()) return nullptr;
  auto it = o.find(key);
  return it == o.end() || it->is_null() ? nullptr : &*it;
}

int64_t get_int(const json& o, const char* key, int64_t dflt, int64_t lo, int64_t hi) {
  const json* v = member(o, key);
  if (v == nullptr) return dflt;
  int64_t n = 0;
  if (v->is_number_unsigned() && v->get<uint64_t>() <= uint64_t(INT64_MAX))
    n = v->get<int64_t>();
  else if (v->is_number_integer())
    n = v->get<int64_t>();
  else if (v->is_number_float() && v->get<double>() == std::floor(v->get<double>()) &&
           std::fabs(v->get<double>()) < 9e18)
    n = int64_t(v->get<double>());
  else
    fail("'%s' is not a whole number", key);
  if (n < lo || n > hi)
    fail("'%s' %lld is not from %lld to %lld", key, static_cast<long long>(n),
         static_cast<long long>(lo), static_cast<long long>(hi));
  return n;
}

double get_num(const json& o, const char* key, double dflt) {
  const json* v = member(o, key);
  if (v == nullptr) return dflt;
  if (!v->is_number()) fail("'%s' is not a number", key);
  return v->get<double>();
}

bool get_bool(const json& o, const char* key, bool dflt) {
  const json* v = member(o, key);
  if (v == nullptr) return dflt;
  if (!v->is_boolean()) fail("'%s' is not true or false", key);
  return v->get<bool>();
}

std::string get_str(const json& o, const char* key) {
  const json* v = member(o, key);
  if (v == nullptr) return "";
  if (!v->is_string()) fail("'%s' is not a string", key);
  return v->get<std::string>();
}

const json& get_array(const json& o, const char* key) {
  static const json empty = json::array();
  const json* v = member(o, key);
  if (v == nullptr) return empty;
  if (!v->is_array()) fail("'%s' is not an array", key);
  return *v;
}

PROPERTIES read_properties(LOADER& L, const json& owner);

// An object's members, for the fields both forms share.
struct JSONFIELDS {
  LOADER& L;
  const json& n;
  int64_t integer(const char* name, int64_t dflt, int64_t lo, int64_t hi) const {
    return get_int(n, name, dflt, lo, hi);
  }
  double number(const char* name, double dflt) const { return get_num(n, name, dflt); }
  bool boolean(const char* name, bool dflt) const { return get_bool(n, name, dflt); }
  std::string text(const char* name) const { return get_str(n, name); }
  bool has(const char* name) const { return member(n, name) != nullptr; }
  PROPERTIES properties() const { return read_properties(L, n); }
};

PROPERTIES read_properties(LOADER& L, const json& owner) {
  PROPERTIES out;
  for (const json& p : get_array(owner, "properties")) {
    read_property(L, JSONFIELDS{L, p}, out, [&](const PROPERTY& prop) {
      const json* v = member(p, "value");
      std::string text;
      if (v == nullptr)
        text = "";
      else if (v->is_string())
        text = v->get<std::string>();
      else if (v->is_boolean() || v->is_number())
        text = v->dump();
      else
        fail("property '%s' has a value of no known kind", prop.NAME.c_str());
      if (prop.TYPE == PROPSTRING && v != nullptr && !v->is_string())
        fail("property '%s' is a string but its value is not", prop.NAME.c_str());
      return text;
    });
  }
  return out;
}

std::vector<MATH::POINTF> read_points(LOADER& L, const json& a) {
  std::vector<MATH::POINTF> out;
  for (const json& p : a) {
    L.add_items(1);
    out.push_back({float(get_num(p, "x", 0)), float(get_num(p, "y", 0))});
  }
  return out;
}

MAPOBJECT read_object(LOADER& L, const json& n) {
  MAPOBJECT o;
  read_object_fields(L, JSONFIELDS{L, n}, o);
  if (member(n, "gid")) {
    o.SHAPE = SHAPETILE;
    o.GID = uint32_t(get_int(n, "gid", 0, 0, UINT32_MAX));
  } else if (get_bool(n, "ellipse", false)) {
    o.SHAPE = SHAPEELLIPSE;
  } else if (get_bool(n, "point", false)) {
    o.SHAPE = SHAPEPOINT;
  } else if (member(n, "polygon")) {
    o.SHAPE = SHAPEPOLYGON;
    o.POINTS = read_points(L, get_array(n, "polygon"));
  } else if (member(n, "polyline")) {
    o.SHAPE = SHAPEPOLYLINE;
    o.POINTS = read_points(L, get_array(n, "polyline"));
  } else if (const json* t = member(n, "text")) {
    o.SHAPE = SHAPETEXT;
    o.TEXT = get_str(*t, "text");
    o.TEXTCOLOR = parse_color(get_str(*t, "color"), 0xFF000000u, "text colour");
  }
  return o;
}

std::vector<MAPOBJECT> read_objects(LOADER& L, const json& group) {
  std::vector<MAPOBJECT> out;
  L.expect_items(get_array(group, "objects").size());
  out.reserve(get_array(group, "objects").size());
  for (const json& o : get_array(group, "objects")) out.push_back(read_object(L, o));
  return out;
}

// A layer's or chunk's "data": an array of numbers, or a string under the layer's encoding.
std::vector<uint32_t> read_data(const json& holder, const json& layer, uint64_t count,
                                const std::string& what) {
  const json* data = member(holder, "data");
  if (data == nullptr) fail("%s: no data", what.c_str());
  if (data->is_string())
    return decode_cells(data->get<std::string>(), get_str(layer, "encoding"),
                        get_str(layer, "compression"), count, what);
  if (!data->is_binary()) fail("%s: data are neither an array nor a string", what.c_str());
  const json::binary_t& bytes = data->get_binary();
  if (bytes.size() / 4 != count)
    fail("%s: %llu cells, not %llu", what.c_str(),
         static_cast<unsigned long long>(bytes.size() / 4), static_cast<unsigned long long>(count));
  std::vector<uint32_t> cells(static_cast<size_t>(count), 0);
  if (count != 0) std::memcpy(cells.data(), bytes.data(), bytes.size());
  return cells;
}

void read_layers(LOADER& L, const json& parent, TILEMAP& map, int32_t parent_index, int depth) {
  if (depth > 64) fail("groups nest more than 64 deep");
  for (const json& n : get_array(parent, "layers")) {
    L.add_layer();
    LAYER layer;
    layer.PARENT = parent_index;
    read_layer_fields(JSONFIELDS{L, n}, layer);
    const std::string kind = get_str(n, "type");
    const std::string what = "layer '" + layer.NAME + "'";
    if (kind == "tilelayer") {
      if (member(n, "chunks")) {
        std::vector<CHUNK> chunks;
        for (const json& c : get_array(n, "chunks"))
          chunks.push_back(read_chunk(L, JSONFIELDS{L, c}, what, [&](uint64_t count) {
            return read_data(c, n, count, what);
          }));
        gather_chunks(L, layer, chunks);
      } else if (member(n, "data")) {
        read_layer_cells(L, JSONFIELDS{L, n}, layer, what,
                         [&](uint64_t count) { return read_data(n, n, count, what); });
      }
      map.LAYERS.push_back(std::move(layer));
    } else if (kind == "objectgroup") {
      layer.KIND = LAYEROBJECTS;
      layer.OBJECTS = read_objects(L, n);
      map.LAYERS.push_back(std::move(layer));
    } else if (kind == "imagelayer") {
      layer.KIND = LAYERIMAGE;
      layer.IMAGEPATH = get_str(n, "image");
      layer.REPEATX = get_bool(n, "repeatx", false);
      layer.REPEATY = get_bool(n, "repeaty", false);
      map.LAYERS.push_back(std::move(layer));
    } else if (kind == "group") {
      layer.KIND = LAYERGROUP;
      map.LAYERS.push_back(std::move(layer));
      read_layers(L, n, map, int32_t(map.LAYERS.size() - 1), depth + 1);
    } else {
      fail("%s: layer type '%.20s' is unknown", what.c_str(), kind.c_str());
    }
  }
}

void read_tileset_object(LOADER& L, const json& n, TILESET& TS) {
  static const json none;
  const json* offset = member(n, "tileoffset");
  if (!read_tileset_fields(JSONFIELDS{L, n}, JSONFIELDS{L, offset ? *offset : none}, TS)) return;
  TS.IMAGEPATH = get_str(n, "image");
  TS.IMAGEWIDTH = int32_t(get_int(n, "imagewidth", 0, 0, kBig));
  TS.IMAGEHEIGHT = int32_t(get_int(n, "imageheight", 0, 0, kBig));
  TS.TRANSCOLOR = parse_color(get_str(n, "transparentcolor"), 0, "transparent colour");
  for (const json& t : get_array(n, "tiles")) {
    TILEINFO info;
    read_tile_fields(L, JSONFIELDS{L, t}, info);
    info.IMAGEPATH = get_str(t, "image");
    if (const json* group = member(t, "objectgroup")) info.SHAPES = read_objects(L, *group);
    for (const json& f : get_array(t, "animation")) read_frame(L, JSONFIELDS{L, f}, info);
    TS.TILES.push_back(std::move(info));
  }
  check_tileset(TS);
}

}  // namespace

void read_tsj(LOADER& L, const std::string& TEXT, const std::string& DIR, TILESET& TS) {
  (void)DIR;
  read_tileset_object(L, parse(TEXT, "tileset file"), TS);
}

void read_json(LOADER& L, const std::string& TEXT, TILEMAP& map,
               std::vector<std::string>& tileset_dirs) {
  const json m = parse(TEXT, "map");
  read_map_fields(JSONFIELDS{L, m}, map);
  for (const json& t : get_array(m, "tilesets"))
    read_map_tileset(L, JSONFIELDS{L, t}, map, tileset_dirs,
                     [&](TILESET& ts) { read_tileset_object(L, t, ts); });
  read_layers(L, m, map, -1, 0);
}

}  // namespace KASTREL::WORLD::DETAIL
