// Shapes and text at 32 bits, against what a game would do without them:
//  - a filled 640 x 480 rectangle with VOXPSET against memcpy of the same bytes, and with
//    VOXALPHA against the VOXALPHA blit of a ready 640 x 480 bitmap in the colour; SDL2's
//    SDL_FillRect and pixman's fill shown beside them;
//  - 40 characters of text at 24 px with a warm glyph cache against the VOXALPHA blit of a
//    ready bitmap of the same area, and against SDL2_ttf rendering the line and blitting it.

#include <SDL.h>
#include <SDL_ttf.h>
#include <pixman.h>

#include <cstring>
#include <string>

#include "bench/table.h"
#include "kastrel/device/display.h"
#include "kastrel/graphics/font.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"
#include "kastrel/graphics/shapes.h"

namespace bench {
namespace {

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

constexpr int kWidth = 640, kHeight = 480;
constexpr const char* kLine = "Score 0012345   Lives 3   Level 7 - Go!";  // 40 characters
constexpr uint32_t kInk = 0xFFF0E0C0, kGlass = 0x8040A0FF;

struct Setup {
  void* target;   // 640 x 480 image the contenders draw on
  void* glass;    // 640 x 480 in kGlass, for the VOXALPHA blit
  void* source;   // 640 x 480 copied by memcpy
  void* text;     // the line rendered once, for the blit of the same area
  FONT font;
  TEXTSIZE size;
};

uint8_t* Pixels(void* image) { return static_cast<uint8_t*>(image) + 32; }
int Pitch(void* image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image, sizeof h);
  return int(h.pitch);
}

Setup& Data() {
  static Setup* s = [] {
    vox_GfxScreenRes(kWidth, kHeight, 32, 1, MODE_NULL, 0);
    auto* d = new Setup;
    d->target = vox_GfxImageCreate(kWidth, kHeight, 0xFF203040, 32, 0);
    d->glass = vox_GfxImageCreate(kWidth, kHeight, kGlass, 32, 0);
    d->source = vox_GfxImageCreate(kWidth, kHeight, 0xFF102030, 32, 0);
    d->font.OPENDEFAULT(24);
    d->size = d->font.MEASURE(kLine);
    const BITMAP rendered = d->font.RENDER(kLine, kInk);
    d->text = vox_GfxImageCreate(d->size.W, d->size.H, 0, 32, 0);
    vox_GfxPut(d->text, 0, 0, rendered.HANDLE(), PUT_WHOLE_SOURCE, 0, 0, 0, PUT_ABSOLUTE, PUT_PSET,
               vox_hPutPSet, -1, nullptr, nullptr);
    return d;
  }();
  return *s;
}

SDL_Surface* SurfaceOf(void* image) {
  VOX_IMAGE_HEADER h;
  std::memcpy(&h, image, sizeof h);
  return SDL_CreateRGBSurfaceWithFormatFrom(Pixels(image), int(h.width), int(h.height), 32,
                                            int(h.pitch), SDL_PIXELFORMAT_ARGB8888);
}

}  // namespace

void RegisterDraw() {
  const std::string section = "shapes and text, 32 bits";
  Columns(section, {"kastrel", "blit", "memcpy", "SDL2", "pixman"}, {"blit", "memcpy"});
  const double frame = double(kWidth) * kHeight * 4;
  const MATH::RECT all{0, 0, kWidth - 1, kHeight - 1};

  Add({section, "FILLRECT PSET 640x480", "kastrel", frame}, [all](benchmark::State& state) {
    void* target = Data().target;
    for (auto _ : state) {
      FILLRECT(target, all, 0xFF336699);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "FILLRECT PSET 640x480", "memcpy", frame}, [](benchmark::State& state) {
    Setup& d = Data();
    const int pitch = Pitch(d.target), from = Pitch(d.source);
    for (auto _ : state) {
      for (int y = 0; y < kHeight; ++y)
        std::memcpy(Pixels(d.target) + y * pitch, Pixels(d.source) + y * from, kWidth * 4);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "FILLRECT PSET 640x480", "SDL2", frame}, [](benchmark::State& state) {
    SDL_Surface* dst = SurfaceOf(Data().target);
    for (auto _ : state) {
      SDL_FillRect(dst, nullptr, 0xFF336699);
      benchmark::ClobberMemory();
    }
    SDL_FreeSurface(dst);
  });
  Add({section, "FILLRECT PSET 640x480", "pixman", frame}, [](benchmark::State& state) {
    Setup& d = Data();
    for (auto _ : state) {
      pixman_fill(reinterpret_cast<uint32_t*>(Pixels(d.target)), Pitch(d.target) / 4, 32, 0, 0,
                  kWidth, kHeight, 0xFF336699);
      benchmark::ClobberMemory();
    }
  });

  Add({section, "FILLRECT ALPHA 640x480", "kastrel", frame}, [all](benchmark::State& state) {
    void* target = Data().target;
    for (auto _ : state) {
      FILLRECT(target, all, kGlass, VOXALPHA);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "FILLRECT ALPHA 640x480", "blit", frame}, [](benchmark::State& state) {
    Setup& d = Data();
    for (auto _ : state) {
      vox_GfxPut(d.target, 0, 0, d.glass, PUT_WHOLE_SOURCE, 0, 0, 0, PUT_ABSOLUTE, PUT_ALPHA,
                 vox_hPutAlpha, -1, nullptr, nullptr);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "FILLRECT ALPHA 640x480", "SDL2", frame}, [](benchmark::State& state) {
    SDL_Surface* dst = SurfaceOf(Data().target);
    SDL_Surface* glass = SurfaceOf(Data().glass);
    SDL_SetSurfaceBlendMode(glass, SDL_BLENDMODE_BLEND);
    for (auto _ : state) {
      SDL_BlitSurface(glass, nullptr, dst, nullptr);
      benchmark::ClobberMemory();
    }
    SDL_FreeSurface(glass);
    SDL_FreeSurface(dst);
  });

  const double text_bytes = double(Data().size.W) * Data().size.H * 4;
  Add({section, "text 40 chars 24px", "kastrel", text_bytes}, [](benchmark::State& state) {
    Setup& d = Data();
    d.font.DRAW(d.target, 20, 200, kLine, kInk);  // warm the cache
    for (auto _ : state) {
      d.font.DRAW(d.target, 20, 200, kLine, kInk);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "text 40 chars 24px", "blit", text_bytes}, [](benchmark::State& state) {
    Setup& d = Data();
    for (auto _ : state) {
      vox_GfxPut(d.target, 20, 200, d.text, PUT_WHOLE_SOURCE, 0, 0, 0, PUT_ABSOLUTE, PUT_ALPHA,
                 vox_hPutAlpha, -1, nullptr, nullptr);
      benchmark::ClobberMemory();
    }
  });
  Add({section, "text 40 chars 24px", "SDL2", text_bytes}, [](benchmark::State& state) {
    TTF_Init();
    TTF_Font* font = TTF_OpenFont(DEFAULTFONTPATH(), 24);
    SDL_Surface* dst = SurfaceOf(Data().target);
    for (auto _ : state) {
      SDL_Surface* line = font ? TTF_RenderUTF8_Blended(font, kLine, SDL_Color{240, 224, 192, 255}) : nullptr;
      SDL_Rect place{20, 200, 0, 0};
      if (line) SDL_BlitSurface(line, nullptr, dst, &place);
      SDL_FreeSurface(line);
      benchmark::ClobberMemory();
    }
    SDL_FreeSurface(dst);
    if (font) TTF_CloseFont(font);
    TTF_Quit();
  });

  AddTarget({"FILLRECT PSET vs memcpy (>= 0.8x)", section, {"FILLRECT PSET 640x480"}, "kastrel",
             "memcpy", 1 / 0.8});
  AddTarget({"FILLRECT ALPHA vs the ALPHA blit (>= 0.8x)", section, {"FILLRECT ALPHA 640x480"},
             "kastrel", "blit", 1 / 0.8});
  AddTarget({"text, warm cache, vs the ALPHA blit of its area (<= 3x the time)", section,
             {"text 40 chars 24px"}, "kastrel", "blit", 3.0});
}

}  // namespace bench
