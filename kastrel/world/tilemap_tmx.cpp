// The XML forms: maps (.tmx) and tilesets (.tsx).
#include <cstring>
#include <pugixml.hpp>

#include "kastrel/world/detail/tilemap_fields.h"

namespace KASTREL::WORLD::DETAIL {

namespace {

int64_t int_attr(const pugi::xml_node& n, const char* name, int64_t dflt, int64_t lo, int64_t hi) {
  const pugi::xml_attribute a = n.attribute(name);
  if (!a) return dflt;
  const std::string what = std::string(n.name()) + " attribute " + name;
  return parse_int(a.value(), lo, hi, what.c_str());
}

double num_attr(const pugi::xml_node& n, const char* name, double dflt) {
  const pugi::xml_attribute a = n.attribute(name);
  if (!a) return dflt;
  const std::string what = std::string(n.name()) + " attribute " + name;
  return parse_number(a.value(), what.c_str());
}

bool bool_attr(const pugi::xml_node& n, const char* name, bool dflt) {
  const pugi::xml_attribute a = n.attribute(name);
  if (!a) return dflt;
  const std::string what = std::string(n.name()) + " attribute " + name;
  return parse_bool(a.value(), what.c_str());
}

pugi::xml_document parse(const std::string& TEXT, const char* root_name, const char* what) {
  pugi::xml_document doc;
  const pugi::xml_parse_result r =
      doc.load_buffer(TEXT.data(), TEXT.size(), pugi::parse_default | pugi::parse_doctype);
  if (!r)
    fail("%s: XML error at byte %lld: %s", what, static_cast<long long>(r.offset), r.description());
  // Entity declarations are where XML bombs live: a map has no use for them.
  for (pugi::xml_node n : doc.children())
    if (n.type() == pugi::node_doctype) fail("%s: XML document types are refused", what);
  if (std::strcmp(doc.document_element().name(), root_name) != 0)
    fail("%s: the XML holds <%s>, not <%s>", what, doc.document_element().name(), root_name);
  return doc;
}

PROPERTIES read_properties(LOADER& L, const pugi::xml_node& owner);

// An element's attributes, for the fields both forms share.
struct XMLFIELDS {
  LOADER& L;
  pugi::xml_node n;
  int64_t integer(const char* name, int64_t dflt, int64_t lo, int64_t hi) const {
    return int_attr(n, name, dflt, lo, hi);
  }
  double number(const char* name, double dflt) const { return num_attr(n, name, dflt); }
  bool boolean(const char* name, bool dflt) const { return bool_attr(n, name, dflt); }
  std::string text(const char* name) const { return n.attribute(name).value(); }
  bool has(const char* name) const { return bool(n.attribute(name)); }
  PROPERTIES properties() const { return read_properties(L, n); }
};

PROPERTIES read_properties(LOADER& L, const pugi::xml_node& owner) {
  PROPERTIES out;
  for (pugi::xml_node p : owner.child("properties").children("property")) {
    read_property(L, XMLFIELDS{L, p}, out, [&](const PROPERTY&) -> std::string {
      if (p.attribute("value")) return p.attribute("value").value();
      return p.text().get();  // multi-line strings
    });
  }
  return out;
}

std::vector<MATH::POINTF> read_points(LOADER& L, const char* text) {
  std::vector<MATH::POINTF> points;
  const char* p = text;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    char* end = nullptr;
    const double x = std::strtod(p, &end);
    if (end == p || *end != ',') fail("polygon points '%.40s' are not x,y pairs", text);
    p = end + 1;
    const double y = std::strtod(p, &end);
    if (end == p || (*end != ' ' && *end != '\0'))
      fail("polygon points '%.40s' are not x,y pairs", text);
    p = end;
    L.add_items(1);
    points.push_back({float(x), float(y)});
  }
  return points;
}

MAPOBJECT read_object(LOADER& L, const pugi::xml_node& n) {
  MAPOBJECT o;
  read_object_fields(L, XMLFIELDS{L, n}, o);
  if (n.attribute("gid")) {
    o.SHAPE = SHAPETILE;
    o.GID = uint32_t(int_attr(n, "gid", 0, 0, UINT32_MAX));
  } else if (n.child("ellipse")) {
    o.SHAPE = SHAPEELLIPSE;
  } else if (n.child("point")) {
    o.SHAPE = SHAPEPOINT;
  } else if (n.child("polygon")) {
    o.SHAPE = SHAPEPOLYGON;
    o.POINTS = read_points(L, n.child("polygon").attribute("points").value());
  } else if (n.child("polyline")) {
    o.SHAPE = SHAPEPOLYLINE;
    o.POINTS = read_points(L, n.child("polyline").attribute("points").value());
  } else if (n.child("text")) {
    o.SHAPE = SHAPETEXT;
    o.TEXT = n.child("text").text().get();
    o.TEXTCOLOR =
        parse_color(n.child("text").attribute("color").value(), 0xFF000000u, "text colour");
  }
  return o;
}

std::vector<MAPOBJECT> read_objects(LOADER& L, const pugi::xml_node& group) {
  std::vector<MAPOBJECT> out;
  // Held whole from the start: each is far larger than its element.
  size_t count = 0;
  for (pugi::xml_node o : group.children("object")) (void)o, ++count;
  L.expect_items(count);
  out.reserve(count);
  for (pugi::xml_node o : group.children("object")) out.push_back(read_object(L, o));
  return out;
}

// The tile data of a layer or chunk: encoded text, or one <tile gid> element per cell.
std::vector<uint32_t> read_data(const pugi::xml_node& data, const pugi::xml_node& holder,
                                uint64_t count, const std::string& what) {
  const std::string encoding = data.attribute("encoding").value();
  if (!encoding.empty())
    return decode_cells(holder.text().get(), encoding, data.attribute("compression").value(), count,
                        what);
  std::vector<uint32_t> cells;
  cells.reserve(size_t(count));
  for (pugi::xml_node t : holder.children("tile")) {
    if (cells.size() == count) fail("%s: more <tile> elements than cells", what.c_str());
    cells.push_back(uint32_t(int_attr(t, "gid", 0, 0, UINT32_MAX)));
  }
  if (cells.size() != count)
    fail("%s: %llu <tile> elements for %llu cells", what.c_str(),
         static_cast<unsigned long long>(cells.size()), static_cast<unsigned long long>(count));
  return cells;
}

void read_layers(LOADER& L, const pugi::xml_node& parent, TILEMAP& map, int32_t parent_index,
                 int depth) {
  if (depth > 64) fail("groups nest more than 64 deep");
  for (pugi::xml_node n : parent.children()) {
    const std::string kind = n.name();
    if (kind != "layer" && kind != "objectgroup" && kind != "imagelayer" && kind != "group")
      continue;
    L.add_layer();
    LAYER layer;
    layer.PARENT = parent_index;
    read_layer_fields(XMLFIELDS{L, n}, layer);
    const std::string what = "layer '" + layer.NAME + "'";
    if (kind == "layer") {
      layer.KIND = LAYERTILES;
      const pugi::xml_node data = n.child("data");
      if (!data) {
        // A layer without data is empty.
      } else if (data.child("chunk")) {
        std::vector<CHUNK> chunks;
        for (pugi::xml_node c : data.children("chunk"))
          chunks.push_back(read_chunk(L, XMLFIELDS{L, c}, what, [&](uint64_t count) {
            return read_data(data, c, count, what);
          }));
        gather_chunks(L, layer, chunks);
      } else {
        read_layer_cells(L, XMLFIELDS{L, n}, layer, what,
                         [&](uint64_t count) { return read_data(data, data, count, what); });
      }
      map.LAYERS.push_back(std::move(layer));
    } else if (kind == "objectgroup") {
      layer.KIND = LAYEROBJECTS;
      layer.OBJECTS = read_objects(L, n);
      map.LAYERS.push_back(std::move(layer));
    } else if (kind == "imagelayer") {
      layer.KIND = LAYERIMAGE;
      layer.IMAGEPATH = n.child("image").attribute("source").value();
      layer.REPEATX = bool_attr(n, "repeatx", false);
      layer.REPEATY = bool_attr(n, "repeaty", false);
      map.LAYERS.push_back(std::move(layer));
    } else {
      layer.KIND = LAYERGROUP;
      map.LAYERS.push_back(std::move(layer));
      read_layers(L, n, map, int32_t(map.LAYERS.size() - 1), depth + 1);
    }
  }
}

void read_tileset_node(LOADER& L, const pugi::xml_node& n, TILESET& TS) {
  if (!read_tileset_fields(XMLFIELDS{L, n}, XMLFIELDS{L, n.child("tileoffset")}, TS)) return;
  if (pugi::xml_node image = n.child("image")) {
    TS.IMAGEPATH = image.attribute("source").value();
    TS.IMAGEWIDTH = int32_t(int_attr(image, "width", 0, 0, kBig));
    TS.IMAGEHEIGHT = int32_t(int_attr(image, "height", 0, 0, kBig));
    TS.TRANSCOLOR = parse_color(image.attribute("trans").value(), 0, "transparent colour");
  }
  for (pugi::xml_node t : n.children("tile")) {
    TILEINFO info;
    read_tile_fields(L, XMLFIELDS{L, t}, info);
    info.IMAGEPATH = t.child("image").attribute("source").value();
    info.SHAPES = read_objects(L, t.child("objectgroup"));
    for (pugi::xml_node f : t.child("animation").children("frame"))
      read_frame(L, XMLFIELDS{L, f}, info);
    TS.TILES.push_back(std::move(info));
  }
  check_tileset(TS);
}

}  // namespace

void read_tsx(LOADER& L, const std::string& TEXT, const std::string& DIR, TILESET& TS) {
  (void)DIR;
  const pugi::xml_document doc = parse(TEXT, "tileset", "tileset file");
  read_tileset_node(L, doc.document_element(), TS);
}

void read_tmx(LOADER& L, const std::string& TEXT, TILEMAP& map,
              std::vector<std::string>& tileset_dirs) {
  const pugi::xml_document doc = parse(TEXT, "map", "map");
  const pugi::xml_node m = doc.document_element();
  read_map_fields(XMLFIELDS{L, m}, map);
  for (pugi::xml_node t : m.children("tileset"))
    read_map_tileset(L, XMLFIELDS{L, t}, map, tileset_dirs,
                     [&](TILESET& ts) { read_tileset_node(L, t, ts); });
  read_layers(L, m, map, -1, 0);
}

}  // namespace KASTREL::WORLD::DETAIL
