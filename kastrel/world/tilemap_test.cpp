// Maps: a hand-written map, the same map as the real editor exports it in every form, and bad maps.
#include "kastrel/world/tilemap.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/base/testing/temp_dir.h"
#include "kastrel/device/display.h"
#include "kastrel/device/driver.h"
#include "kastrel/graphics/image.h"
#include "kastrel/world/camera.h"
#include "kastrel/world/testing/tiled.h"

using namespace KASTREL;
using namespace KASTREL::WORLD;
using kastrel_testing::run_tiled;

namespace {

const std::string kMaps = KASTREL_SOURCE_DIR "/kastrel/world/testing/maps/";

void write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Everything a game reads from a map, as text, so two loads compare in one line.
std::string describe(const TILEMAP& m) {
  std::ostringstream o;
  auto props = [&](const PROPERTIES& p) {
    std::vector<PROPERTY> list = p.LIST;  // the editor writes them sorted by name
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.NAME < b.NAME; });
    for (const PROPERTY& q : list)
      o << " {" << q.NAME << ' ' << q.TYPE << ' ' << q.TEXT << ' ' << q.NUMBER << '}';
    o << '\n';
  };
  auto object = [&](const MAPOBJECT& b) {
    o << "  obj " << b.ID << ' ' << b.NAME << ' ' << b.CLASS << ' ' << b.SHAPE << ' ' << b.X << ','
      << b.Y << ' ' << b.WIDTH << 'x' << b.HEIGHT << " r" << b.ROTATION << ' ' << b.VISIBLE << ' '
      << b.GID << ' ' << b.TEXT << ' ' << std::hex << b.TEXTCOLOR << std::dec;
    for (auto& p : b.POINTS) o << ' ' << p.X << ':' << p.Y;
    props(b.PROPS);
  };
  o << m.MAPORIENTATION << ' ' << m.TILEWIDTH << 'x' << m.TILEHEIGHT << ' ' << std::hex
    << m.BACKGROUND << std::dec;
  props(m.PROPS);
  for (const TILESET& t : m.TILESETS) {
    o << "tileset " << t.FIRSTGID << ' ' << t.NAME << ' ' << t.TILEWIDTH << 'x' << t.TILEHEIGHT
      << ' ' << t.SPACING << ' ' << t.MARGIN << ' ' << t.TILECOUNT << ' ' << t.COLUMNS << ' '
      << t.IMAGE.WIDTH() << 'x' << t.IMAGE.HEIGHT();
    props(t.PROPS);
    for (const TILEINFO& i : t.TILES) {
      o << " tile " << i.ID << ' ' << i.CLASS << ' ' << i.IMAGE.WIDTH();
      for (auto& f : i.ANIMATION) o << ' ' << f.TILE << '/' << f.DURATION;
      props(i.PROPS);
      for (auto& s : i.SHAPES) object(s);
    }
  }
  for (const LAYER& l : m.LAYERS) {
    o << "layer " << l.KIND << ' ' << l.ID << ' ' << l.NAME << ' ' << l.PARENT << ' ' << l.VISIBLE
      << ' ' << l.OPACITY << ' ' << std::hex << l.TINT << std::dec << ' ' << l.OFFSETX << ','
      << l.OFFSETY << ' ' << l.PARALLAXX << ',' << l.PARALLAXY << ' ' << l.IMAGEPATH << ' '
      << l.IMAGE.WIDTH();
    props(l.PROPS);
    for (int y = -1; y <= 6 && l.KIND == LAYERTILES; ++y)  // the test map's area and around
      for (int x = -1; x <= 10; ++x) o << l.CELL(x, y) << (x < 10 ? ',' : '\n');
    for (const MAPOBJECT& b : l.OBJECTS) object(b);
  }
  return o.str();
}

std::string base64(const std::string& in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = uint8_t(in[i]) << 16 | (i + 1 < in.size() ? uint8_t(in[i + 1]) << 8 : 0) |
                 (i + 2 < in.size() ? uint8_t(in[i + 2]) : 0);
    for (size_t k = 0; k < 4; ++k) out += i + k <= in.size() ? a[v >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

std::string compress(const std::string& raw, const std::string& how) {
  std::string out(raw.size() + 1024, '\0');
  if (how == "zstd") {
    out.resize(ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 3));
  } else if (!how.empty()) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, how == "gzip" ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = uInt(raw.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
  } else {
    out = raw;
  }
  return out;
}

// The hand-written map with every layer's CSV data in another encoding; CHUNKED makes it an
// infinite map whose one chunk holds the map's area.
std::string reencode(std::string tmx, const std::string& how, bool chunked) {
  std::regex data("<data encoding=\"csv\">([^<]*)</data>");
  std::smatch m;
  std::string out;
  while (std::regex_search(tmx, m, data)) {
    std::vector<uint32_t> cells;
    std::stringstream s(m[1].str());
    for (std::string n; std::getline(s, n, ',');) cells.push_back(uint32_t(std::stoul(n)));
    std::string raw(reinterpret_cast<const char*>(cells.data()), cells.size() * 4);
    if (chunked) {  // the map's 10 x 6 tiles in the chunk's bottom rows
      raw.assign(16 * 16 * 4, '\0');
      for (size_t i = 0; i < 60; ++i)
        std::memcpy(&raw[((i / 10 + 10) * 16 + i % 10) * 4], &cells[i], 4);
    }
    std::string body = base64(compress(raw, how == "base64" ? "" : how));
    std::string attrs =
        " encoding=\"base64\"" + (how == "base64" ? std::string() : " compression=\"" + how + "\"");
    if (chunked)
      body = "<chunk x=\"-16\" y=\"-16\" width=\"16\" height=\"16\">" + body + "</chunk>";
    out += m.prefix().str() + "<data" + attrs + ">" + body + "</data>";
    tmx = m.suffix().str();
  }
  out += tmx;
  if (chunked) out = std::regex_replace(out, std::regex("infinite=\"0\""), "infinite=\"1\"");
  return out;
}

// The map drawn whole (and a little around), turned a quarter and zoomed, as bytes.
std::string picture(const TILEMAP& m) {
  std::string out;
  for (float angle : {0.0f, 90.0f}) {
    void* image = vox_GfxImageCreate(200, 130, 0xFF000000u, 32, 0);
    CAMERA cam(200, 130);
    cam.X = 80, cam.Y = 48, cam.ZOOM = angle ? 1.5f : 1, cam.ANGLE = angle;
    EXPECT_TRUE(DRAWMAP(image, m, cam, 120)) << LASTERROR();
    out.append(static_cast<const char*>(image) + 32, 200 * 130 * 4);
    vox_GfxImageDestroy(image);
  }
  return out;
}

}  // namespace

TEST(Tilemap, HandWrittenMapReadsAsWritten) {
  TILEMAP map;
  ASSERT_TRUE(map.LOADFROMFILE(kMaps + "level.tmx")) << LASTERROR();
  EXPECT_EQ(map.BACKGROUND, 0xFF203040u);
  EXPECT_EQ(map.PROPS.NUMBER("gravity"), 9.5);
  EXPECT_EQ(map.PROPS.NUMBER("lives"), 3);
  EXPECT_FALSE(map.PROPS.BOOL("night", true));
  EXPECT_EQ(map.PROPS.NUMBER("fog"), double(0x80112233u));
  EXPECT_EQ(map.PROPS.TEXT("music"), "sounds/cave.ogg");
  ASSERT_EQ(map.TILESETS.size(), 3u);
  const TILESET& terrain = map.TILESETS[0];
  EXPECT_EQ(terrain.SOURCE, "terrain.tsx");  // as the map names it
  EXPECT_EQ(map.TILESETS[1].SOURCE, "");
  EXPECT_EQ(terrain.IMAGE.WIDTH(), 72u);
  // Margin 1, spacing 2: tile 5 starts at (1 + 18, 1 + 18).
  EXPECT_EQ(terrain.SOURCERECT(5).X, 19);
  EXPECT_EQ(terrain.SOURCERECT(5).Y, 19);
  EXPECT_EQ(terrain.IMAGE.PIXEL({19, 19}) >> 24, 0u);  // tile 5's first pixel is clear
  EXPECT_EQ(terrain.IMAGE.PIXEL({0, 0}), 0xFFFF00FFu);
  EXPECT_TRUE(terrain.INFO(0)->PROPS.BOOL("solid"));
  EXPECT_EQ(terrain.INFO(1)->SHAPES.at(0).Y, 8);
  EXPECT_EQ(map.ANIMATEDGID(TILEFLIPH | 7, 50), (TILEFLIPH | 7));
  EXPECT_EQ(map.ANIMATEDGID(TILEFLIPH | 7, 449), (TILEFLIPH | 7));
  EXPECT_EQ(map.ANIMATEDGID(TILEFLIPH | 7, 150), (TILEFLIPH | 8));
  EXPECT_EQ(map.ANIMATEDGID(7, 351), 7u);
  int32_t id = -1;
  EXPECT_EQ(map.TILESETOF(TILEFLIPV | 10, &id), &map.TILESETS[1]);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(map.TILESETOF(12), nullptr);
  EXPECT_EQ(map.TILESETOF(11)->INFO(0)->IMAGE.WIDTH(), 8u);  // an image collection
  const LAYER* ground = map.FINDLAYER("ground");
  ASSERT_NE(ground, nullptr);
  EXPECT_EQ(map.LAYERS[size_t(ground->PARENT)].NAME, "world");
  EXPECT_EQ(ground->CELL(0, 3), TILEFLIPH | 2);
  EXPECT_EQ(ground->CELL(3, 3), (TILEFLIPH | TILEFLIPV | TILEFLIPD | 2));
  EXPECT_EQ(ground->CELL(9, 0), 7u);
  EXPECT_EQ(ground->CELL(10, 0), 0u);
  EXPECT_EQ(ground->TINT, 0xFF80C0FFu);
  EXPECT_FALSE(map.FINDLAYER("deco")->VISIBLE);
  const auto& things = map.FINDLAYER("things")->OBJECTS;
  ASSERT_EQ(things.size(), 8u);
  EXPECT_EQ(things[0].SHAPE, SHAPEPOINT);
  EXPECT_EQ(things[0].PROPS.TEXT("facing"), "left");
  EXPECT_EQ(things[1].ROTATION, 15);
  EXPECT_EQ(things[4].POINTS.at(2).Y, 40);
  EXPECT_EQ(things[6].GID, TILEFLIPH | 9);
  EXPECT_EQ(things[7].TEXT, "Go right");
  EXPECT_EQ(map.FINDLAYER("sky")->IMAGE.WIDTH(), 8u);
}

TEST(Tilemap, EveryExportOfTheEditorLoadsTheSame) {
  kastrel_testing::TempDir dir;
  for (const char* f : {"terrain.tsx", "terrain.png", "props.png", "sky.png"})
    write(dir.file(f), kastrel_testing::read_file(kMaps + f));
  const std::string source = kastrel_testing::read_file(kMaps + "level.tmx");
  write(dir.file("csv.tmx"), source);
  if (!run_tiled({"--export-tileset", "json", "terrain.tsx", "terrain.tsj"}, dir.path()))
    GTEST_SKIP() << "the Tiled editor cannot run here (on Linux, tools/install-deps.sh test "
                     "installs it)";
  vox_GfxScreenRes(8, 8, 32, 1, MODE_NULL, 0);  // pictures need a screen (the null one)
  TILEMAP reference;
  ASSERT_TRUE(reference.LOADFROMFILE(kMaps + "level.tmx")) << LASTERROR();
  const std::string expected = describe(reference), pixels = picture(reference);
  ASSERT_NE(pixels, picture(TILEMAP()));  // the map shows
  for (const char* how : {"csv", "base64", "zlib", "gzip", "zstd", "zstd-chunks"}) {
    const std::string name = how;
    const bool chunked = name == "zstd-chunks";
    if (name != "csv")
      write(dir.file(name + ".tmx"), reencode(source, chunked ? "zstd" : name, chunked));
    for (const std::string& out :
         {"out-" + name + ".tmx", "out-" + name + ".tmj", "emb-" + name + ".tmj"}) {
      std::vector<std::string> args{
          "--export-map", out.substr(out.size() - 3) == "tmx" ? "tmx" : "json", name + ".tmx", out};
      if (out[0] == 'e') args.insert(args.begin(), "--embed-tilesets");
      ASSERT_TRUE(run_tiled(args, dir.path())) << out;
      std::string text = kastrel_testing::read_file(dir.file(out));
      if (name == "csv" && out.substr(out.size() - 3) == "tmj") {
        // JSON writes CSV as arrays.
      } else if (name == "csv" || name == "base64") {
        // The editor's layer form really changed.
        EXPECT_NE(text.find(name == "csv" ? "csv" : "base64"), std::string::npos) << out;
      } else {
        EXPECT_NE(text.find(chunked ? "zstd" : name), std::string::npos) << out;
      }
      if (out.substr(out.size() - 3) == "tmj" && out[0] == 'o')  // a JSON map with a JSON tileset
        write(dir.file(out), std::regex_replace(text, std::regex("terrain\\.tsx"), "terrain.tsj"));
      TILEMAP map;
      ASSERT_TRUE(map.LOADFROMFILE(dir.file(out))) << out << ": " << LASTERROR();
      if (chunked) {
        EXPECT_TRUE(map.INFINITE);
        // The map's tiles sit at (-16, -6) onwards.
        for (LAYER& l : map.LAYERS) l.ORIGINX += 16, l.ORIGINY += 6;
      }
      EXPECT_EQ(describe(map), expected) << out;
      EXPECT_TRUE(picture(map) == pixels) << out << " draws other pixels";
    }
  }
}

TEST(Tilemap, BadMapsFailWithTheirReason) {
  kastrel_testing::TempDir dir;
  write(dir.file("t.png"), kastrel_testing::read_file(kMaps + "props.png"));
  const std::string tileset =
      R"(<tileset firstgid="1" name="t" tilewidth="16" tileheight="16" tilecount="2" columns="2"><image source="t.png" width="32" height="16"/></tileset>)";
  auto tmx = [&](const std::string& head, const std::string& data, const std::string& attrs = "") {
    return "<map orientation=\"orthogonal\" width=\"2\" height=\"1\" tilewidth=\"16\" "
           "tileheight=\"16\">" +
           head + "<layer name=\"l\" width=\"2\" height=\"1\"><data" + attrs + ">" + data +
           "</data></layer></map>";
  };
  auto csv = [&](const std::string& data) { return tmx(tileset, data, " encoding=\"csv\""); };
  auto b64 = [&](const std::string& how, const std::string& data) {
    return tmx(tileset, base64(compress(data, how)),
               " encoding=\"base64\" compression=\"" + how + "\"");
  };
  write(dir.file("a.tsx"), R"(<tileset source="b.tsx"/>)");
  write(dir.file("b.tsx"), R"(<tileset source="a.tsx"/>)");
  std::string layers = "<map width=\"1\" height=\"1\" tilewidth=\"1\" tileheight=\"1\">";
  for (int i = 0; i < 1000000; ++i) layers += "<group/>";
  layers += "</map>";
  std::string deep_json = "{\"a\":" + std::string(100000, '[');
  std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE map [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
      "\"&a;&a;&a;&a;&a;&a;&a;&a;\">]><map>&b;</map>";
  const struct {
    std::string map, reason;
  } cases[] = {
      {csv("1,2"), ""},
      {tmx("<tileset firstgid=\"1\" source=\"missing.tsx\"/>", "0,0", " encoding=\"csv\""),
       "cannot be opened"},
      {tmx("<tileset firstgid=\"1\" source=\"a.tsx\"/>", "0,0", " encoding=\"csv\""), "loop"},
      {tmx("<tileset firstgid=\"1\" source=\"../../etc/passwd\"/>", "0,0", " encoding=\"csv\""),
       "climbs out"},
      {tmx("<tileset firstgid=\"1\" source=\"/etc/passwd\"/>", "0,0", " encoding=\"csv\""),
       "not a path relative"},
      {csv("1,3"), "tile 3 belongs to no tileset"},
      {csv("1,2,1"), "more than 2 cells"},
      {csv("1,99999999999"), "beyond 32 bits"},
      {std::regex_replace(csv("1,2"), std::regex("width=\"2\" height=\"1\">"),
                          "width=\"2000000\" height=\"2000000\">"),
       "cap"},
      {std::regex_replace(csv("1,2"), std::regex("width=\"2\" height=\"1\">"),
                          "width=\"4294967296\" height=\"1\">"),
       "not a whole number"},
      {layers, "more than 65536 layers"},
      {tmx(tileset, base64("not zlib"), " encoding=\"base64\" compression=\"zlib\""),
       "zlib data are broken"},
      {b64("gzip", std::string(1 << 24, '\0')), "more cells"},  // a bomb: 16 MiB into 8 bytes
      {b64("zstd", std::string(1 << 24, '\0')), "more cells"},
      {b64("zstd", "1234"), "zstd"},
      {tmx(tileset, "AAAAA", " encoding=\"base64\""), "whole groups"},
      {tmx(tileset, "AAAAAAAA", " encoding=\"base64\""), "hold 6 bytes"},
      {tmx(tileset, " AQ AA\n\tAAIA AAA= ", " encoding=\"base64\""), ""},  // groups split
      {tmx(tileset, "AQAAAA!AAAA=", " encoding=\"base64\""), "not a base64 character"},
      {bomb, "document types are refused"},
      {deep_json, "nested"},
      {R"({"width":1,"height":1,"tilewidth":1,"tileheight":1,"layers":[{"type":"tilelayer","width":1,"height":1,"data":"AAAA","encoding":"base64","compression":"lz4"}]})",
       "compression 'lz4'"},
      {R"({"width":1,"height":1,"tilewidth":1,"tileheight":1,"layers":[{"type":"tilelayer","width":70000,"height":70000,"data":[]}]})",
       "cap"},
      {"<map><layer/>", "XML error"},
      {"{\"width\": 1, ", "not well-formed"},
      {"\x89PNG", "neither XML nor JSON"},
  };
  for (const auto& c : cases) {
    write(dir.file("m.tmx"), c.map);
    TILEMAP map;
    map.CLASS = "kept";
    CLEARLASTERROR();
    const bool loaded = map.LOADFROMFILE(dir.file("m.tmx"));
    EXPECT_EQ(loaded, c.reason.empty()) << c.map.substr(0, 200) << ": " << LASTERROR();
    if (!c.reason.empty()) {
      EXPECT_NE(std::string(LASTERROR()).find(c.reason), std::string::npos) << LASTERROR();
      EXPECT_EQ(map.CLASS, "kept");  // a failed load leaves the map as it was
    }
  }
  // From memory without a folder, files are not read.
  const std::string external =
      tmx("<tileset firstgid=\"1\" source=\"a.tsx\"/>", "0,0", " encoding=\"csv\"");
  TILEMAP map;
  EXPECT_FALSE(map.LOADFROMMEMORY(external.data(), int32_t(external.size())));
  EXPECT_NE(std::string(LASTERROR()).find("without a folder"), std::string::npos) << LASTERROR();
  SETMAXMAPCELLS(1);
  write(dir.file("m.tmx"), csv("1,2"));
  EXPECT_FALSE(map.LOADFROMFILE(dir.file("m.tmx")));
  EXPECT_NE(std::string(LASTERROR()).find("SETMAXMAPCELLS"), std::string::npos) << LASTERROR();
  SETMAXMAPCELLS(DEFAULTMAXMAPCELLS);
}

// A map loads from any path the system takes: a folder not in ASCII, and on Windows either
// separator and a drive; a folder given as the map, and Windows' device names as tilesets, are
// refused at once with the reason.
TEST(Tilemap, MapsLoadFromEveryPathTheSystemTakes) {
  kastrel_testing::TempDir dir;
  std::string reason;
  const std::string folder = dir.file("Zo\xC3\xAB-games");
  ASSERT_TRUE(PLATFORM::MAKEFOLDER(folder, false, &reason)) << reason;
  // Written through the platform layer: the C++ library's streams take no UTF-8 names there.
  auto put = [&](const std::string& path, const std::string& text) {
    ASSERT_TRUE(PLATFORM::REPLACEFILE(path, folder + "/part", text.data(), text.size(), false,
                                      false, &reason))
        << reason;
  };
  for (const char* f : {"level.tmx", "terrain.tsx", "terrain.png", "props.png", "sky.png"})
    put(folder + "/" + f, kastrel_testing::read_file(kMaps + f));
  std::vector<std::string> paths{folder + "/level.tmx"};
  const bool windows = PLATFORM::ISSEPARATOR('\\');
  if (windows) {
    paths.push_back(std::regex_replace(paths[0], std::regex("/"), "\\\\"));
    paths.push_back(std::regex_replace(paths[0], std::regex("/([^/]*)$"), "\\$1"));
  }
  for (const std::string& path : paths) {
    TILEMAP map;
    EXPECT_TRUE(map.LOADFROMFILE(path)) << path << ": " << LASTERROR();
    EXPECT_EQ(map.TILESETS.size(), 3u) << path;
    EXPECT_EQ(map.TILESETS[0].IMAGE.WIDTH(), 72u) << path;
  }
  TILEMAP map;
  EXPECT_FALSE(map.LOADFROMFILE(folder));
  EXPECT_NE(std::string(LASTERROR()).find("it is a folder"), std::string::npos) << LASTERROR();
  for (const char* device : {"COM1", "AUX.tsx", "NUL", "con.tsx"}) {
    put(folder + "/m.tmx",
        "<map width=\"1\" height=\"1\" tilewidth=\"1\" tileheight=\"1\">"
        "<tileset firstgid=\"1\" source=\"" +
            std::string(device) + "\"/></map>");
    EXPECT_FALSE(map.LOADFROMFILE(folder + "/m.tmx")) << device;
    const std::string said = LASTERROR();
    EXPECT_TRUE(!windows || said.find("it is a device") != std::string::npos) << said;
  }
}
