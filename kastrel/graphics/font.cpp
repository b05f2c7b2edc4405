#include "kastrel/graphics/font.h"

#include <SDL2/SDL_ttf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "kastrel/base/detail/platform.h"
#include "kastrel/base/error.h"
#include "kastrel/device/detail/context.h"
#include "kastrel/device/sdl/file_stream.h"
#include "kastrel/graphics/detail/draw_target.h"
#include "kastrel/graphics/detail/rows.h"
#include "kastrel/graphics/image.h"

#ifndef KASTREL_DEFAULT_FONT
#define KASTREL_DEFAULT_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace KASTREL::GRAPHICS {
namespace {

constexpr int32_t MAX_SIZE = 1024;
// Glyphs (and coloured glyphs) kept before starting over; checked before each layout, never
// during one, since the layout holds pointers into the cache.
constexpr size_t CACHE_LIMIT = 4096;
constexpr int16_t KERN_UNKNOWN = INT16_MIN;

// The ink of one glyph, cropped: coverage bytes, placed relative to the pen and the line's top.
struct GLYPH {
  int32_t advance = 0;
  int32_t x = 0, y = 0, w = 0, h = 0;
  std::vector<uint8_t> coverage;
};

// A glyph in one colour at one target depth, ready for the row loops.
struct PAINTED {
  std::vector<uint8_t> pixels;  // w * h pixels of bpp bytes
};

// One line of the layout: its ink's extent, x from the line's first pen position and y from
// the line's top (empty while x1 <= x0), its advance, and where alignment starts its pen.
struct LINE {
  int64_t x0 = INT64_MAX, x1 = INT64_MIN, y0 = INT64_MAX, y1 = INT64_MIN;
  int64_t advance = 0;
  int64_t shift = 0;
  size_t first = 0;  // its first glyph in the placed list
};

// One glyph placed by the layout.
struct PLACED {
  const GLYPH* glyph;
  uint32_t code;
  int32_t line;
  int64_t pen;
};

// Decodes UTF-8 into code points; false at the first invalid sequence.
bool decode(const char* text, std::vector<uint32_t>& out) {
  out.clear();
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  while (*p) {
    uint32_t c = *p++;
    int more = 0;
    uint32_t least = 0;
    if (c < 0x80) {
    } else if ((c & 0xE0) == 0xC0) {
      more = 1, least = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2, least = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3, least = 0x10000, c &= 0x07;
    } else {
      return false;
    }
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;  // also stops at the terminating zero
      c = (c << 6) | (*p & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out.push_back(c);
  }
  return true;
}

// Unicode's default-ignorable code points (the soft hyphen, zero-width spaces and joiners,
// direction marks and isolates, invisible operators, variation selectors, tags...): formatting
// that never shows by itself. They are left out before the font library sees them, since it
// draws them differently from build to build (a soft hyphen is a hyphen where it lays text out
// on its own and nothing where it shapes text first, and a font without the character gives its
// missing-glyph box), and text must look the same wherever the game runs.
bool invisible(uint32_t c) {
  constexpr uint32_t RANGES[][2] = {
      {0x00AD, 0x00AD},   {0x034F, 0x034F},  {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
      {0x180B, 0x180F},   {0x200B, 0x200F},  {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
      {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},  {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
      {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};
  if (c < 0xAD) return false;
  for (const auto& r : RANGES)
    if (c >= r[0] && c <= r[1]) return true;
  return false;
}

// CJK fonts Debian installs, tried for glyphs a font lacks.
constexpr const char* SYSTEM_FALLBACKS[] = {
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
};

// A font file opened through the platform layer, which refuses FIFOs, devices and folders at
// once instead of waiting on them. Null with *REASON set.
TTF_Font* open_font_file(const std::string& path, int size, std::string* reason) {
  SDL_RWops* rw = vox_sdl_open_file(path, reason);
  if (rw == nullptr) return nullptr;
  TTF_Font* font = TTF_OpenFontRW(rw, 1, size);
  if (font == nullptr) *reason = std::string("not a font the font library opens: ") + TTF_GetError();
  return font;
}

}  // namespace

struct FONT::STATE {
  TTF_Font* font = nullptr;
  // Fonts at the same size for glyphs this one lacks: the game's, in the order added, then the
  // system's (opened at the first glyph missing).
  std::vector<TTF_Font*> fallbacks;
  size_t game_fallbacks = 0;
  bool system_fallbacks_opened = false;
  std::vector<uint8_t> memory;  // the font file, for fonts opened from memory
  int32_t size = 0, ascent = 0, line_height = 0;
  std::unordered_map<uint32_t, GLYPH> glyphs;
  std::unordered_map<uint64_t, int32_t> kerning;
  std::vector<int16_t> ascii_kerning;  // 128 x 128 pairs, KERN_UNKNOWN until asked
  std::unordered_map<uint64_t, PAINTED> painted;
  // The last colour and depth drawn, with its printable ASCII glyphs at hand.
  uint64_t ascii_key = ~uint64_t{0};
  const PAINTED* ascii_painted[128] = {};
  const GLYPH* ascii_glyphs[128] = {};
  std::vector<uint32_t> codes;
  std::vector<PLACED> placed;
  std::vector<LINE> lines;
  std::vector<int64_t> drawn;  // where DRAW put each placed glyph: x, y pairs
  int64_t widest = 0;          // the widest glyph placed

  ~STATE() {
    for (TTF_Font* f : fallbacks) TTF_CloseFont(f);
    if (font) {
      TTF_CloseFont(font);
      TTF_Quit();
    }
  }

  // The font that draws code: this one when it has the glyph, else the first fallback that has.
  TTF_Font* font_for(uint32_t code) {
    if (code < 0x80 || TTF_GlyphIsProvided32(font, code)) return font;
    if (!system_fallbacks_opened) {
      system_fallbacks_opened = true;
      std::string ignored;
      for (const char* path : SYSTEM_FALLBACKS)
        if (TTF_Font* f = open_font_file(path, size, &ignored)) fallbacks.push_back(f);
    }
    for (TTF_Font* f : fallbacks)
      if (TTF_GlyphIsProvided32(f, code)) return f;
    return font;  // its missing-glyph box
  }

  const GLYPH& glyph(uint32_t code) {
    if (code < 128 && ascii_glyphs[code]) return *ascii_glyphs[code];
    auto found = glyphs.find(code);
    if (found != glyphs.end()) return found->second;
    GLYPH& g = glyphs[code];
    rasterise(code, g);
    if (code < 128) ascii_glyphs[code] = &g;
    return g;
  }

  void forget() {
    glyphs.clear();
    painted.clear();
    kerning.clear();
    std::fill(std::begin(ascii_glyphs), std::end(ascii_glyphs), nullptr);
    std::fill(std::begin(ascii_painted), std::end(ascii_painted), nullptr);
  }

  void rasterise(uint32_t code, GLYPH& g) {
    TTF_Font* from = font_for(code);
    // A fallback's glyph stands on this font's baseline.
    const int from_ascent = from == font ? ascent : TTF_FontAscent(from);
    int minx = 0, maxx = 0, miny = 0, maxy = 0, advance = 0;
    if (TTF_GlyphMetrics32(from, code, &minx, &maxx, &miny, &maxy, &advance) == 0) {
      g.advance = advance;
    }
    SDL_Surface* s = TTF_RenderGlyph32_Blended(from, code, SDL_Color{255, 255, 255, 255});
    if (!s) return;  // nothing to draw (a space)
    if (SDL_LockSurface(s) == 0) {
      // The pen sits where the surface starts, unless ink reaches left of it or above the
      // ascent: then the surface starts that much earlier.
      const int xstart = std::max(0, -minx), ystart = std::max(0, maxy - from_ascent) + from_ascent - ascent;
      int x0 = s->w, y0 = s->h, x1 = -1, y1 = -1;
      auto alpha = [s](int x, int y) {
        const auto* row = static_cast<const uint8_t*>(s->pixels) + y * s->pitch;
        return static_cast<uint8_t>(reinterpret_cast<const uint32_t*>(row)[x] >> 24);
      };
      for (int y = 0; y < s->h; ++y) {
        for (int x = 0; x < s->w; ++x) {
          if (!alpha(x, y)) continue;
          x0 = std::min(x0, x), x1 = std::max(x1, x);
          y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
      }
      if (x1 >= 0) {
        g.x = x0 - xstart;
        g.y = y0 - ystart;
        g.w = x1 - x0 + 1;
        g.h = y1 - y0 + 1;
        g.coverage.resize(static_cast<size_t>(g.w) * g.h);
        for (int y = 0; y < g.h; ++y) {
          for (int x = 0; x < g.w; ++x) g.coverage[size_t(y) * g.w + x] = alpha(x0 + x, y0 + y);
        }
      }
      SDL_UnlockSurface(s);
    }
    SDL_FreeSurface(s);
  }

  int32_t kern(uint32_t previous, uint32_t code) {
    if (!previous || !TTF_GetFontKerning(font)) return 0;
    if (previous < 128 && code < 128) {
      if (ascii_kerning.empty()) ascii_kerning.assign(128 * 128, KERN_UNKNOWN);
      int16_t& k = ascii_kerning[previous * 128 + code];
      if (k == KERN_UNKNOWN) {
        k = static_cast<int16_t>(std::clamp(TTF_GetFontKerningSizeGlyphs32(font, previous, code), -32767, 32767));
      }
      return k;
    }
    const uint64_t key = (uint64_t{previous} << 32) | code;
    auto found = kerning.find(key);
    if (found != kerning.end()) return found->second;
    const int32_t k = TTF_GetFontKerningSizeGlyphs32(font, previous, code);
    kerning.emplace(key, k);
    return k;
  }

  // Places every glyph of the decoded text; fills placed and lines.
  void layout() {
    placed.clear();
    lines.assign(1, LINE{});
    widest = 0;
    int64_t pen = 0;
    uint32_t previous = 0;
    for (uint32_t code : codes) {
      if (code == '\r' || invisible(code)) continue;
      if (code == '\n') {
        lines.back().advance = pen;
        lines.push_back(LINE{});
        lines.back().first = placed.size();
        pen = 0;
        previous = 0;
        continue;
      }
      const GLYPH& g = glyph(code);
      pen += kern(previous, code);
      if (g.w > 0) {
        LINE& l = lines.back();
        placed.push_back({&g, code, static_cast<int32_t>(lines.size() - 1), pen});
        l.x0 = std::min(l.x0, pen + g.x), l.x1 = std::max(l.x1, pen + g.x + g.w);
        l.y0 = std::min<int64_t>(l.y0, g.y), l.y1 = std::max<int64_t>(l.y1, g.y + g.h);
        widest = std::max<int64_t>(widest, g.w);
      }
      pen += g.advance;
      previous = code;
    }
    lines.back().advance = pen;
  }

  // The layout box and the ink's box relative to the point drawn at; sets each line's pen
  // start from that point.
  TEXTSIZE box(TEXTALIGN align) {
    int64_t x0 = INT64_MAX, x1 = INT64_MIN, y0 = INT64_MAX, y1 = INT64_MIN, widest_line = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      LINE& l = lines[i];
      l.shift = align == TEXTLEFT ? 0 : align == TEXTCENTRE ? -(l.advance / 2) : -l.advance;
      widest_line = std::max(widest_line, l.advance);
      if (l.x1 <= l.x0) continue;  // no ink
      const int64_t line_top = static_cast<int64_t>(i) * line_height;
      x0 = std::min(x0, l.x0 + l.shift), x1 = std::max(x1, l.x1 + l.shift);
      y0 = std::min(y0, line_top + l.y0), y1 = std::max(y1, line_top + l.y1);
    }
    auto to32 = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    TEXTSIZE out;
    out.W = to32(widest_line);
    out.H = to32(static_cast<int64_t>(lines.size()) * line_height);
    out.ASCENT = ascent;
    out.LINEHEIGHT = line_height;
    out.LINES = to32(static_cast<int64_t>(lines.size()));
    if (x1 > x0) out.INK = {to32(x0), to32(y0), to32(x1 - x0 - 1), to32(y1 - y0 - 1)};
    return out;
  }

  // Whether f(j) holds for an earlier glyph j of the same drawing that may reach column x0 or
  // right of it: only glyphs of the same line and the line above can, and along a line the
  // pen only moves right (give or take kerning).
  template <class F>
  bool any_earlier(size_t i, int64_t x0, F&& f) const {
    const size_t line = static_cast<size_t>(placed[i].line);
    for (size_t l = line + 1; l-- > 0 && l + 1 >= line;) {
      for (size_t j = l == line ? i : lines[l + 1].first; j-- > lines[l].first;) {
        if (drawn[2 * j] + 2 * widest <= x0) break;
        if (f(j)) return true;
      }
    }
    return false;
  }
  bool overlaps(size_t i, int64_t x0, int64_t y0, int64_t x1, int64_t y1) const {
    return any_earlier(i, x0, [&](size_t j) { return covers(j, x0, y0, x1, y1); });
  }
  // Whether glyph j's box, as drawn, meets [x0, x1) x [y0, y1).
  bool covers(size_t j, int64_t x0, int64_t y0, int64_t x1, int64_t y1) const {
    const GLYPH& g = *placed[j].glyph;
    const int64_t gx = drawn[2 * j], gy = drawn[2 * j + 1];
    return gx < x1 && gx + g.w > x0 && gy < y1 && gy + g.h > y0;
  }
  // Glyph j's coverage at target pixel (x, y); 0 outside it.
  uint8_t coverage_at(size_t j, int64_t x, int64_t y) const {
    if (!covers(j, x, y, x + 1, y + 1)) return 0;
    const GLYPH& g = *placed[j].glyph;
    return g.coverage[size_t(y - drawn[2 * j + 1]) * size_t(g.w) + size_t(x - drawn[2 * j])];
  }

  // The glyph in the colour at the target's depth: 32 bits carry the coverage in the alpha
  // byte; lower depths the colour where coverage reaches half and the mask colour elsewhere.
  const PAINTED& paint(const PLACED& p, uint32_t color, int32_t bpp, uint64_t colour_key) {
    if (p.code < 128 && colour_key == ascii_key && ascii_painted[p.code]) {
      return *ascii_painted[p.code];
    }
    const uint64_t key = (colour_key << 24) | p.code;
    auto found = painted.find(key);
    if (found == painted.end()) {
      PAINTED& out = painted[key];
      const GLYPH& g = *p.glyph;
      out.pixels.resize(g.coverage.size() * bpp);
      const uint32_t alpha = color >> 24, narrow = DETAIL::narrow(color, bpp);
      const uint32_t mask = bpp == 2 ? 0xF81Fu : 0u;
      for (size_t i = 0; i < g.coverage.size(); ++i) {
        uint32_t v;
        if (bpp == 4) {
          v = (color & 0xFFFFFFu) | (((g.coverage[i] * alpha + 127) / 255) << 24);
        } else {
          v = g.coverage[i] >= 128 ? narrow : mask;
        }
        std::memcpy(out.pixels.data() + i * bpp, &v, static_cast<size_t>(bpp));
      }
      found = painted.find(key);
    }
    if (p.code < 128) {
      if (colour_key != ascii_key) {
        std::fill(std::begin(ascii_painted), std::end(ascii_painted), nullptr);
        ascii_key = colour_key;
      }
      ascii_painted[p.code] = &found->second;
    }
    return found->second;
  }
};

namespace {

// Checks the font and the text and lays it out; false (with a reason) when either is bad.
bool prepare(FONT::STATE* s, const char* text, const char* call) {
  if (!s || !s->font) {
    SETLASTERROR("%s: the FONT holds no font", call);
    return false;
  }
  if (!text) {
    SETLASTERROR("%s: the text is a null pointer", call);
    return false;
  }
  if (!decode(text, s->codes)) {
    SETLASTERROR("%s: the text is not valid UTF-8", call);
    return false;
  }
  if (s->glyphs.size() + s->codes.size() > CACHE_LIMIT || s->painted.size() > CACHE_LIMIT) {
    s->forget();
  }
  s->layout();
  return true;
}

bool check_align(TEXTALIGN align, const char* call) {
  if (align >= TEXTLEFT && align <= TEXTRIGHT) return true;
  SETLASTERROR("%s: alignment %d is not TEXTLEFT, TEXTCENTRE or TEXTRIGHT", call, static_cast<int>(align));
  return false;
}

bool check_size(int32_t size, const char* call) {
  if (size >= 1 && size <= MAX_SIZE) return true;
  SETLASTERROR("%s: font size %d is outside 1 to %d pixels", call, static_cast<int>(size),
               static_cast<int>(MAX_SIZE));
  return false;
}

}  // namespace

FONT::FONT() = default;
FONT::FONT(const std::string& FILENAME, int32_t SIZE) { OPEN(FILENAME, SIZE); }
FONT::FONT(FONT&& OTHER) noexcept = default;
FONT& FONT::operator=(FONT&& OTHER) noexcept = default;
FONT::~FONT() = default;

namespace {

// Opens the font from rw (taken over) into a new state, or reports why not.
std::unique_ptr<FONT::STATE> open_state(SDL_RWops* rw, std::vector<uint8_t> memory, int32_t size,
                                        const char* call, const char* what) {
  if (!rw) {
    SETLASTERROR("%s: cannot read %s: %s", call, what, SDL_GetError());
    return nullptr;
  }
  if (TTF_Init() != 0) {
    SDL_RWclose(rw);
    SETLASTERROR("%s: the font library did not start: %s", call, TTF_GetError());
    return nullptr;
  }
  TTF_Font* font = TTF_OpenFontRW(rw, 1, size);
  if (!font) {
    SETLASTERROR("%s: %s is not a font the font library reads: %s", call, what, TTF_GetError());
    TTF_Quit();
    return nullptr;
  }
  auto state = std::make_unique<FONT::STATE>();
  state->font = font;
  state->memory = std::move(memory);
  state->size = size;
  state->ascent = TTF_FontAscent(font);
  state->line_height = TTF_FontLineSkip(font);
  return state;
}

}  // namespace

BOOLEAN FONT::OPEN(const std::string& FILENAME, int32_t SIZE) {
  CLOSE();
  if (!check_size(SIZE, "FONT::OPEN")) return FALSE;
  std::string reason;
  SDL_RWops* rw = vox_sdl_open_file(FILENAME, &reason);
  if (!rw) {
    SETLASTERROR("FONT::OPEN: cannot open the font file %s: %s", FILENAME.c_str(), reason.c_str());
    return FALSE;
  }
  const std::string what = "the font file " + FILENAME;
  S = open_state(rw, {}, SIZE, "FONT::OPEN", what.c_str());
  return S ? TRUE : FALSE;
}

BOOLEAN FONT::OPENMEMORY(const void* MEM, int32_t BYTES, int32_t SIZE) {
  CLOSE();
  if (!check_size(SIZE, "FONT::OPENMEMORY")) return FALSE;
  if (!MEM || BYTES <= 0) {
    SETLASTERROR("FONT::OPENMEMORY: no font data (%d bytes at %p)", static_cast<int>(BYTES), MEM);
    return FALSE;
  }
  const auto* bytes = static_cast<const uint8_t*>(MEM);
  std::vector<uint8_t> memory(bytes, bytes + BYTES);
  SDL_RWops* rw = SDL_RWFromConstMem(memory.data(), BYTES);
  S = open_state(rw, std::move(memory), SIZE, "FONT::OPENMEMORY", "the font data");
  return S ? TRUE : FALSE;
}

BOOLEAN FONT::OPENDEFAULT(int32_t SIZE) {
  if (OPEN(DEFAULTFONTPATH(), SIZE)) return TRUE;
  if (SIZE >= 1 && SIZE <= MAX_SIZE) {
    const std::string why = LASTERROR();
    if (KASTREL_DEFAULT_FONT[0] == '\0')
      SETLASTERROR("FONT::OPENDEFAULT: the default font %s cannot be opened (ship DejaVuSans.ttf "
                   "and its licence in data/fonts/ beside the program, as a package of "
                   "kastrel_add_game does): %s",
                   DEFAULTFONTPATH(), why.c_str());
    else
      SETLASTERROR("FONT::OPENDEFAULT: the default font %s cannot be opened (ship DejaVuSans.ttf "
                   "in data/fonts/ beside the program, or install Debian's fonts-dejavu-core): %s",
                   DEFAULTFONTPATH(), why.c_str());
  }
  return FALSE;
}

void FONT::CLOSE() { S.reset(); }

BOOLEAN FONT::ADDFALLBACK(const std::string& FILENAME) {
  if (!S) {
    SETLASTERROR("FONT::ADDFALLBACK: the FONT holds no font");
    return FALSE;
  }
  std::string reason;
  TTF_Font* f = open_font_file(FILENAME, S->size, &reason);
  if (!f) {
    SETLASTERROR("FONT::ADDFALLBACK: %s: %s", FILENAME.c_str(), reason.c_str());
    return FALSE;
  }
  S->fallbacks.insert(S->fallbacks.begin() + std::ptrdiff_t(S->game_fallbacks++), f);
  S->forget();  // glyphs drawn before may come from it now
  return TRUE;
}
BOOLEAN FONT::ISOPEN() const { return S ? TRUE : FALSE; }
int32_t FONT::SIZE() const { return S ? S->size : 0; }
int32_t FONT::ASCENT() const { return S ? S->ascent : 0; }
int32_t FONT::LINEHEIGHT() const { return S ? S->line_height : 0; }

TEXTSIZE FONT::MEASURE(const char* TEXT, TEXTALIGN ALIGN) const {
  if (!check_align(ALIGN, "FONT::MEASURE") || !prepare(S.get(), TEXT, "FONT::MEASURE")) return {};
  return S->box(ALIGN);
}

namespace {

// VOXPSET where glyph i meets earlier glyphs of the same text (close pairs, small sizes): on
// a pixel an earlier glyph inked, the coverages join as blending would join them (a + b - ab),
// so touching letters lose no ink and drawing again still changes nothing.
void pset_overlapping(const FONT::STATE& S, size_t i, uint32_t alpha, int64_t x0, int64_t y0,
                      int32_t w, int32_t h, const uint8_t* src, int64_t pitch, uint8_t* dst,
                      int32_t dst_pitch) {
  for (int32_t y = 0; y < h; ++y, src += pitch, dst += dst_pitch) {
    const auto* s = reinterpret_cast<const uint32_t*>(src);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v = s[x];
      if (!(v >> 24)) continue;
      const bool inked = S.any_earlier(i, x0 + x, [&](size_t j) {
        return (S.coverage_at(j, x0 + x, y0 + y) * alpha + 127) / 255 != 0;  // as painted
      });
      if (inked) {
        uint32_t d;
        std::memcpy(&d, dst + size_t(x) * 4, 4);
        const uint32_t a = v >> 24, b = d >> 24;
        v = (v & 0xFFFFFFu) | ((a + b - (a * b + 127) / 255) << 24);
      }
      std::memcpy(dst + size_t(x) * 4, &v, 4);
    }
  }
}

BOOLEAN draw_text(FONT::STATE* S, void* DEST, int32_t X, int32_t Y, const char* TEXT,
                  uint32_t COLOR, TEXTALIGN ALIGN, RASTEROP METHOD) {
  if (METHOD != VOXALPHA && METHOD != VOXPSET) {
    SETLASTERROR("FONT::DRAW: text draws with VOXALPHA or VOXPSET, not raster operation %d",
                 static_cast<int>(METHOD));
    return FALSE;
  }
  if (!check_align(ALIGN, "FONT::DRAW") || !prepare(S, TEXT, "FONT::DRAW")) return FALSE;
  DETAIL::DRAWTARGET t;
  if (!DETAIL::begin(t, DEST, METHOD, COLOR, "FONT::DRAW")) return FALSE;

  S->box(ALIGN);
  const bool pset = METHOD == VOXPSET && t.bpp == 4;
  const VOX_PUT_ROUTINE rows = vox_hRowTable()[t.bpp == 4 ? PUT_ALPHA : PUT_TRANS][t.bpp == 1 ? 0 : t.bpp == 2 ? 1 : 2];
  const uint64_t colour_key = (uint64_t{COLOR} << 8) | uint64_t(t.bpp);

  S->drawn.clear();
  for (size_t i = 0; i < S->placed.size(); ++i) {
    const PLACED& p = S->placed[i];
    const GLYPH& g = *p.glyph;
    const int64_t gx = int64_t{X} + S->lines[static_cast<size_t>(p.line)].shift + p.pen + g.x;
    const int64_t gy = int64_t{Y} + int64_t{p.line} * S->line_height + g.y;
    S->drawn.insert(S->drawn.end(), {gx, gy});
    // Only the target's edges and clip cut a glyph.
    const int64_t x0 = std::max(gx, t.clip_x0), y0 = std::max(gy, t.clip_y0);
    const int64_t x1 = std::min<int64_t>(gx + g.w, t.clip_x1), y1 = std::min<int64_t>(gy + g.h, t.clip_y1);
    if (x0 >= x1 || y0 >= y1) continue;
    const PAINTED& painted = S->paint(p, COLOR, t.bpp, colour_key);
    const int64_t pitch = int64_t{g.w} * t.bpp;
    const uint8_t* src = painted.pixels.data() + (y0 - gy) * pitch + (x0 - gx) * t.bpp;
    uint8_t* dst = t.pixels + y0 * t.pitch + x0 * t.bpp;
    const auto w = static_cast<int32_t>(x1 - x0), h = static_cast<int32_t>(y1 - y0);
    if (pset && S->overlaps(i, x0, y0, x1, y1)) {
      pset_overlapping(*S, i, COLOR >> 24, x0, y0, w, h, src, pitch, dst, t.pitch);
    } else if (pset) {
      // Every touched pixel takes the glyph's pixel, so a second drawing changes nothing.
      for (int32_t y = 0; y < h; ++y, src += pitch, dst += t.pitch) {
        const auto* s = reinterpret_cast<const uint32_t*>(src);
        for (int32_t x = 0; x < w; ++x) {
          if (s[x] >> 24) std::memcpy(dst + size_t(x) * 4, &s[x], 4);
        }
      }
    } else {
      rows(src, dst, w, h, static_cast<int32_t>(pitch), t.pitch, -1, nullptr, nullptr);
    }
    if (t.screen) {
      t.top = std::min(t.top, y0);
      t.bottom = std::max(t.bottom, y1 - 1);
    }
  }
  DETAIL::finish(t);
  return TRUE;
}

}  // namespace

BOOLEAN FONT::DRAW(void* DEST, int32_t X, int32_t Y, const char* TEXT, uint32_t COLOR,
                   TEXTALIGN ALIGN, RASTEROP METHOD) {
  return draw_text(S.get(), DEST, X, Y, TEXT, COLOR, ALIGN, METHOD);
}

BOOLEAN FONT::DRAW(BITMAP& DEST, int32_t X, int32_t Y, const char* TEXT, uint32_t COLOR,
                   TEXTALIGN ALIGN, RASTEROP METHOD) {
  return DRAW(DEST.HANDLE(), X, Y, TEXT, COLOR, ALIGN, METHOD);
}

BITMAP FONT::RENDER(const char* TEXT, uint32_t COLOR, TEXTALIGN ALIGN) const {
  const TEXTSIZE size = MEASURE(TEXT, ALIGN);
  if (size.LINES == 0) return BITMAP();
  const int64_t w = std::max<int64_t>(int64_t{size.INK.W} + 1, 1), h = std::max<int64_t>(int64_t{size.INK.H} + 1, 1);
  if (w > (int64_t{1} << 29) || h > (int64_t{1} << 29) || size.INK.X == INT32_MIN || size.INK.Y == INT32_MIN ||
      32 + ((w * 4 + 15) & ~int64_t{15}) * h > (int64_t{1} << 31)) {
    SETLASTERROR("FONT::RENDER: a %d x %d picture is too large", static_cast<int>(w), static_cast<int>(h));
    return BITMAP();
  }
  const uint32_t pitch = (uint32_t(w) * 4 + 15) & ~15u;
  const size_t bytes = 32 + size_t(pitch) * uint32_t(h);
  auto* image = static_cast<uint8_t*>(std::malloc(bytes));
  if (!image) {
    SETLASTERROR("FONT::RENDER: out of memory for a %d x %d picture", static_cast<int>(w), static_cast<int>(h));
    return BITMAP();
  }
  const VOX_IMAGE_HEADER header{VOX_IMAGE_TYPE, 4, uint32_t(w), uint32_t(h), pitch, {}};
  std::memcpy(image, &header, sizeof header);
  vox_hFillPixels(image + 32, bytes - 32, 4, COLOR & 0xFFFFFFu);
  BITMAP out;
  out.HANDLE(image);
  draw_text(S.get(), image, -size.INK.X, -size.INK.Y, TEXT, COLOR, ALIGN, VOXPSET);
  return out;
}

const char* DEFAULTFONTPATH() {
  thread_local std::string found;
  if (PLATFORM::GETENVIRONMENT("KASTREL_DEFAULT_FONT", &found) && !found.empty())
    return found.c_str();
  // The copy the game ships (a zip's data/fonts/, an installed PREFIX/share/kastrel/fonts/)
  // before the system's, so that text looks the same wherever the game runs.
  const std::string dir = PLATFORM::PROGRAMFOLDER();
  const size_t up = dir.size() < 2 ? std::string::npos : dir.rfind('/', dir.size() - 2);
  for (const std::string& candidate :
       {dir + "data/fonts/DejaVuSans.ttf",
        up == std::string::npos ? "" : dir.substr(0, up) + "/share/kastrel/fonts/DejaVuSans.ttf"}) {
    PLATFORM::READFILE probe;
    if (!dir.empty() && !candidate.empty() && probe.OPEN(candidate)) {
      found = candidate;
      return found.c_str();
    }
  }
  // Where the system keeps none (Windows), the copy beside the program is the one to ship, and
  // the failure names it.
  if (KASTREL_DEFAULT_FONT[0] == '\0') {
    found = (dir.empty() ? std::string("./") : dir) + "data/fonts/DejaVuSans.ttf";
    return found.c_str();
  }
  return KASTREL_DEFAULT_FONT;
}

}  // namespace KASTREL::GRAPHICS
