#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "kastrel/boolean.h"
#include "kastrel/graphics/bitmap.h"
#include "kastrel/math/math.h"

// Tile maps made in the Tiled editor, read from its XML form (.tmx, with .tsx tilesets) or its
// JSON form (.tmj / .json, with .tsj / .json tilesets). Every orientation loads; only
// orthogonal maps are drawn (the others are refused by the drawing calls, with the reason).
namespace KASTREL::WORLD {

// The type of a custom property, as the editor names it: string, int, float, bool, color,
// file, object or class.
enum PROPERTYTYPE : int32_t {
  PROPSTRING = 0,
  PROPINT = 1,
  PROPFLOAT = 2,
  PROPBOOL = 3,
  PROPCOLOR = 4,   // NUMBER holds 0xAARRGGBB (0 when the editor left it empty)
  PROPFILE = 5,    // TEXT is the path as written, relative to the file it appears in
  PROPOBJECT = 6,  // NUMBER is the object's id
  PROPCLASS = 7,   // TEXT is the class name; its members are not read
};

// One custom property: TEXT is the value as the file wrote it, NUMBER its number (bool: 1 or 0).
struct PROPERTY {
  std::string NAME;
  PROPERTYTYPE TYPE = PROPSTRING;
  std::string TEXT;
  double NUMBER = 0;
};

// The custom properties of a map, tileset, tile, layer or object, in the file's order.
struct PROPERTIES {
  std::vector<PROPERTY> LIST;
  // The property named NAME, or null.
  const PROPERTY* FIND(const std::string& NAME) const;
  // Its value, or DEFAULT when it is missing.
  bool BOOL(const std::string& NAME, bool DEFAULT = false) const;
  double NUMBER(const std::string& NAME, double DEFAULT = 0) const;
  std::string TEXT(const std::string& NAME, const std::string& DEFAULT = "") const;
};

// Tile numbers in layers are global ids: the tileset's FIRSTGID plus the tile's id within it,
// with these flags in the top bits. 0 is no tile.
enum : uint32_t {
  TILEFLIPH = 0x80000000u,
  TILEFLIPV = 0x40000000u,
  TILEFLIPD = 0x20000000u,      // diagonal: x and y swapped, before the other two
  TILEROTATE120 = 0x10000000u,  // hexagonal maps only
  TILEGIDMASK = 0x0FFFFFFFu,
};

// What an object is: a rectangle (the default), ellipse, point, polygon, polyline, tile or text.
enum OBJECTSHAPE : int32_t {
  SHAPERECT = 0,
  SHAPEELLIPSE = 1,
  SHAPEPOINT = 2,
  SHAPEPOLYGON = 3,
  SHAPEPOLYLINE = 4,
  SHAPETILE = 5,  // a tile drawn at the object: GID, and the object's box is the drawn size
  SHAPETEXT = 6,
};

// One object of an object layer, or a collision shape of a tile, as the file describes it.
struct MAPOBJECT {
  int32_t ID = 0;
  std::string NAME;
  std::string CLASS;  // "class" in newer files, "type" in older ones
  OBJECTSHAPE SHAPE = SHAPERECT;
  double X = 0, Y = 0, WIDTH = 0, HEIGHT = 0;  // pixels; a tile object's (X, Y) is its bottom left
  double ROTATION = 0;                         // degrees clockwise around (X, Y)
  bool VISIBLE = true;
  uint32_t GID = 0;                  // tile objects, flags included
  std::vector<MATH::POINTF> POINTS;  // polygons and polylines, relative to (X, Y)
  std::string TEXT;                  // text objects
  uint32_t TEXTCOLOR = 0xFF000000u;
  PROPERTIES PROPS;
};

// One frame of a tile's animation.
struct TILEFRAME {
  int32_t TILE = 0;      // id within the same tileset
  int32_t DURATION = 0;  // milliseconds
};

// What a tileset says of one of its tiles beyond its picture.
struct TILEINFO {
  int32_t ID = 0;
  std::string CLASS;
  PROPERTIES PROPS;
  std::vector<TILEFRAME> ANIMATION;
  std::vector<MAPOBJECT> SHAPES;  // collision shapes, in the tile's pixels
  GRAPHICS::BITMAP IMAGE;         // tiles of an image collection carry their own picture
  std::string IMAGEPATH;
};

// A tileset: one picture cut into a grid of tiles (TILEWIDTH x TILEHEIGHT, SPACING pixels
// between them, MARGIN around them, COLUMNS across, TILECOUNT in all), or an image collection
// whose tiles carry their own pictures (TILEINFO::IMAGE). Sizes are in pixels.
struct TILESET {
  uint32_t FIRSTGID = 1;
  std::string NAME;
  std::string SOURCE;  // the external tileset file as the map names it, "" when embedded
  int32_t TILEWIDTH = 0, TILEHEIGHT = 0;
  int32_t SPACING = 0, MARGIN = 0;
  int32_t TILECOUNT = 0, COLUMNS = 0;
  int32_t OFFSETX = 0, OFFSETY = 0;  // drawing offset of every tile
  std::string IMAGEPATH;             // as written, relative to the tileset's file
  uint32_t TRANSCOLOR = 0;           // pixels of this colour (0xFFRRGGBB) were made clear; 0: none
  int32_t IMAGEWIDTH = 0, IMAGEHEIGHT = 0;
  GRAPHICS::BITMAP IMAGE;  // empty for image collections or when images were not loaded
  PROPERTIES PROPS;
  std::vector<TILEINFO> TILES;  // only tiles the file says something about, by ascending ID

  // The entry for tile ID, or null.
  const TILEINFO* INFO(int32_t ID) const;
  // Tile ID's closed rectangle in IMAGE (from margin, spacing and columns).
  MATH::RECT SOURCERECT(int32_t ID) const;
};

// What a layer holds: tiles, objects, one picture, or other layers (a group).
enum LAYERKIND : int32_t { LAYERTILES = 0, LAYEROBJECTS = 1, LAYERIMAGE = 2, LAYERGROUP = 3 };

// Layers in drawing order; a group's children follow it, each with PARENT the group's index.
// Visibility, opacity, tint, offsets and parallax are the layer's own; drawing folds in those of
// its groups (visibility and opacity multiply, tints multiply, offsets add, parallax multiplies).
struct LAYER {
  LAYERKIND KIND = LAYERTILES;
  int32_t ID = 0;
  std::string NAME;
  std::string CLASS;
  int32_t PARENT = -1;
  bool VISIBLE = true;
  float OPACITY = 1;
  uint32_t TINT = 0xFFFFFFFFu;
  double OFFSETX = 0, OFFSETY = 0;
  double PARALLAXX = 1, PARALLAXY = 1;
  PROPERTIES PROPS;
  // Tile layers: WIDTH x HEIGHT cells row by row, the first at tile (ORIGINX, ORIGINY), which
  // is (0, 0) except for infinite maps, whose chunks are gathered into one block.
  int32_t ORIGINX = 0, ORIGINY = 0;
  int32_t WIDTH = 0, HEIGHT = 0;
  std::vector<uint32_t> CELLS;
  // Object layers.
  std::vector<MAPOBJECT> OBJECTS;
  // Image layers.
  std::string IMAGEPATH;
  GRAPHICS::BITMAP IMAGE;
  bool REPEATX = false, REPEATY = false;

  // The global id at tile (TX, TY) of the map, flags included; 0 outside the layer.
  uint32_t CELL(int32_t TX, int32_t TY) const;
};

// How the map lays its tiles out; only ORTHOGONAL maps are drawn.
enum ORIENTATION : int32_t { ORTHOGONAL = 0, ISOMETRIC = 1, STAGGERED = 2, HEXAGONAL = 3 };

// A loaded map: its tilesets and layers, with everything the file says of them. INFINITE maps
// are stored in chunks in the file; their layers hold the chunks gathered (LAYER::ORIGINX).
struct TILEMAP {
  ORIENTATION MAPORIENTATION = ORTHOGONAL;
  int32_t WIDTH = 0, HEIGHT = 0;  // in tiles (for infinite maps: as the file says)
  int32_t TILEWIDTH = 0, TILEHEIGHT = 0;
  bool INFINITE = false;
  uint32_t BACKGROUND = 0;  // 0xAARRGGBB, 0 when none
  std::string CLASS;
  PROPERTIES PROPS;
  std::vector<TILESET> TILESETS;  // by ascending FIRSTGID
  std::vector<LAYER> LAYERS;
  std::string FOLDER;  // where the map file lies, ending in '/' ("" for a map from memory)

  // Loads a map, its external tilesets and (IMAGES) every picture it names, each file read
  // and each picture decoded once. FILENAME in any form the system takes; the paths in the
  // files relative only, and none may leave the map's folder, links followed. Only regular
  // files are read: a FIFO, device or folder is refused at once. On failure returns FALSE,
  // leaves this map as it was and the reason in KASTREL::LASTERROR().
  BOOLEAN LOADFROMFILE(const std::string& FILENAME, bool IMAGES = true);
  // The same from a whole file held in memory, XML or JSON by its first character. DIRECTORY
  // (ending in '/') is where its files are found; "" refuses external tilesets and loads no
  // pictures.
  BOOLEAN LOADFROMMEMORY(const void* MEM, int32_t SIZE, const std::string& DIRECTORY = "",
                         bool IMAGES = true);

  // The tileset that global id GID (flags ignored) belongs to, or null for 0 or an id beyond
  // every tileset; ID receives the tile's id within it.
  const TILESET* TILESETOF(uint32_t GID, int32_t* ID = nullptr) const;
  // The layer named NAME (the first, searched in drawing order), or null.
  const LAYER* FINDLAYER(const std::string& NAME) const;
  LAYER* FINDLAYER(const std::string& NAME);
  // The tile a layer shows at MS milliseconds into its animation (the tile itself when it has
  // none), flags kept.
  uint32_t ANIMATEDGID(uint32_t GID, int64_t MS) const;
};

// The most tile cells a map may hold over all its layers (a layer's block of chunks counts
// whole); a larger map is refused before its data are decoded. The default, 16,777,216 cells
// (64 MiB), suits games; 0 lifts it. Any thread may set it; loads already running keep the cap
// they started with. Whatever the cap, a map keeps to 65,536 layers, groups 64 deep, 1,048,576
// objects, tile entries, properties and shape points together, files of 32 MiB and, in a JSON
// file, 2,097,152 objects and arrays (counted as it is parsed; a file is parsed whole before the
// other counts are known, passing over the members the reader has no use for).
inline constexpr uint64_t DEFAULTMAXMAPCELLS = uint64_t{1} << 24;
void SETMAXMAPCELLS(uint64_t CELLS);
uint64_t MAXMAPCELLS();

// The most bytes one load may read: the map's file, its tileset files and pictures, each file
// read once however often it is named, and the text of a tileset copied again for each further
// tileset that names its file. The default, 268,435,456 (256 MiB), suits games; 0 lifts it.
inline constexpr uint64_t DEFAULTMAXMAPBYTES = uint64_t{1} << 28;
void SETMAXMAPBYTES(uint64_t BYTES);
uint64_t MAXMAPBYTES();

// The most pixels one load may decode over all its pictures, each decoded once however often
// it is named (beside SETMAXIMAGEPIXELS, which caps each one); a picture past the cap is
// refused from its header. The default, 134,217,728 (512 MiB at 32 bits), suits games; 0 lifts
// it. Both caps, like the cell cap, are read when a load starts.
inline constexpr uint64_t DEFAULTMAXMAPPIXELS = uint64_t{1} << 27;
void SETMAXMAPPIXELS(uint64_t PIXELS);
uint64_t MAXMAPPIXELS();

}  // namespace KASTREL::WORLD
