// The tile view's rivals, as a game would draw a tile map with each: SDL2's renderer
// (SDL_RenderCopy per tile, software and OpenGL), SFML 2.5 (one vertex array a layer) and
// Allegro 5.2 (held bitmap drawing onto the display, and onto a memory bitmap). The ground
// layer is drawn without blending where the library offers it, the layer above with it. Each
// runs in a process of its own; the OpenGL ones are timed to a finished frame (glFinish, or one
// pixel read back).

#include <GL/gl.h>
#include <SDL.h>
#include <allegro5/allegro.h>

#include <SFML/Graphics.hpp>
#include <chrono>
#include <cstring>
#include <functional>

#include "bench/bunnymark.h"
#include "bench/table.h"
#include "bench/world_scene.h"

namespace bench::world {
namespace {

// The mean frame of a run of frames (after one to warm up), as seconds a frame: timed as our
// cell is (the mean of a run; the table keeps each cell's fastest run), so a busy machine
// weighs on both alike.
Reading MeanFrame(const std::function<void()>& frame, const std::string& about) {
  using Clock = std::chrono::steady_clock;
  frame();
  int frames = 0;
  const auto start = Clock::now();
  double spent = 0;
  while ((frames < 10 || spent < 0.4) && frames < 300) {
    frame();
    ++frames;
    spent = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return {spent / frames, "mean of " + std::to_string(frames) + " frames" + about};
}

Reading Sdl(bool gl, float zoom) {
  if (gl)
    if (std::string why = bunny::EnsureDisplay(); !why.empty()) return {0, why};
  SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
  SDL_Window* window = nullptr;
  SDL_Surface* frame = nullptr;
  SDL_Renderer* renderer = nullptr;
  if (gl) {
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return {0, std::string("SDL2 failed: ") + SDL_GetError()};
    window = SDL_CreateWindow("tiles", 0, 0, kViewWidth, kViewHeight, SDL_WINDOW_OPENGL);
    renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED) : nullptr;
  } else {
    frame =
        SDL_CreateRGBSurfaceWithFormat(0, kViewWidth, kViewHeight, 32, SDL_PIXELFORMAT_ARGB8888);
    renderer = frame ? SDL_CreateSoftwareRenderer(frame) : nullptr;
  }
  std::vector<uint32_t> atlas = TheScene().atlas;
  SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(atlas.data(), kAtlas, kAtlas, 32,
                                                            kAtlas * 4, SDL_PIXELFORMAT_ARGB8888);
  SDL_Texture* ground = renderer ? SDL_CreateTextureFromSurface(renderer, picture) : nullptr;
  SDL_Texture* above = renderer ? SDL_CreateTextureFromSurface(renderer, picture) : nullptr;
  SDL_FreeSurface(picture);
  SDL_RendererInfo info;
  Reading out;
  if (ground == nullptr || above == nullptr || SDL_GetRendererInfo(renderer, &info) != 0) {
    out = {0, std::string("SDL2 failed: ") + SDL_GetError()};
  } else {
    SDL_SetTextureBlendMode(ground, SDL_BLENDMODE_NONE);
    SDL_SetTextureBlendMode(above, SDL_BLENDMODE_BLEND);
    for (SDL_Texture* t : {ground, above}) SDL_SetTextureScaleMode(t, SDL_ScaleModeNearest);
    const std::vector<Placed> layers[2] = {PlaceLayer(0, zoom), PlaceLayer(1, zoom)};
    out = MeanFrame(
        [&] {
          for (int l = 0; l < 2; ++l)
            for (const Placed& p : layers[l]) {
              const SDL_Rect from{p.src_x, p.src_y, kTile, kTile}, to{p.x, p.y, p.w, p.h};
              SDL_RenderCopy(renderer, l ? above : ground, &from, &to);
            }
          uint32_t pixel;
          const SDL_Rect one{0, 0, 1, 1};
          SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_ARGB8888, &pixel, 4);
        },
        std::string("; renderer ") + info.name + (gl ? bunny::GlRenderer() : ""));
  }
  if (ground) SDL_DestroyTexture(ground);
  if (above) SDL_DestroyTexture(above);
  if (renderer) SDL_DestroyRenderer(renderer);
  if (frame) SDL_FreeSurface(frame);
  if (window) SDL_DestroyWindow(window);
  SDL_Quit();
  return out;
}

Reading Sfml(bool, float zoom) {
  if (std::string why = bunny::EnsureDisplay(); !why.empty()) return {0, why};
  sf::RenderTexture frame;
  sf::Texture atlas;
  if (!frame.create(kViewWidth, kViewHeight) || !atlas.create(kAtlas, kAtlas))
    return {0, "SFML could not make its render texture"};
  std::vector<uint8_t> rgba;
  for (uint32_t p : TheScene().atlas)
    for (int shift : {16, 8, 0, 24}) rgba.push_back(uint8_t(p >> shift));
  atlas.update(rgba.data());
  if (!frame.setActive(true)) return {0, "SFML could not make its context current"};
  sf::VertexArray layers[2] = {sf::VertexArray(sf::Quads), sf::VertexArray(sf::Quads)};
  for (int l = 0; l < 2; ++l)
    for (const Placed& p : PlaceLayer(l, zoom)) {
      const float x0 = float(p.x), y0 = float(p.y), x1 = float(p.x + p.w), y1 = float(p.y + p.h);
      const float u0 = float(p.src_x), v0 = float(p.src_y), u1 = u0 + kTile, v1 = v0 + kTile;
      layers[l].append(sf::Vertex({x0, y0}, {u0, v0}));
      layers[l].append(sf::Vertex({x1, y0}, {u1, v0}));
      layers[l].append(sf::Vertex({x1, y1}, {u1, v1}));
      layers[l].append(sf::Vertex({x0, y1}, {u0, v1}));
    }
  return MeanFrame(
      [&] {
        frame.draw(layers[0], sf::RenderStates(sf::BlendNone, sf::Transform(), &atlas, nullptr));
        frame.draw(layers[1], sf::RenderStates(sf::BlendAlpha, sf::Transform(), &atlas, nullptr));
        frame.display();
        glFinish();
      },
      bunny::GlRenderer());
}

Reading Allegro(bool video, float zoom) {
  if (std::string why = bunny::EnsureDisplay(); !why.empty()) return {0, why};
  if (!al_init()) return {0, "Allegro did not start"};
  ALLEGRO_DISPLAY* display = nullptr;
  ALLEGRO_BITMAP* target = nullptr;
  if (video) {
    al_set_new_display_flags(ALLEGRO_OPENGL);
    if ((display = al_create_display(kViewWidth, kViewHeight)) == nullptr)
      return {0, "Allegro could not open a display"};
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    target = al_get_backbuffer(display);
  } else {
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    target = al_create_bitmap(kViewWidth, kViewHeight);
  }
  ALLEGRO_BITMAP* atlas = al_create_bitmap(kAtlas, kAtlas);
  ALLEGRO_LOCKED_REGION* pixels =
      atlas ? al_lock_bitmap(atlas, ALLEGRO_PIXEL_FORMAT_ARGB_8888, ALLEGRO_LOCK_WRITEONLY)
            : nullptr;
  Reading out;
  if (target == nullptr || pixels == nullptr) {
    out = {0, "Allegro could not make its bitmaps"};
  } else {
    // Allegro blends premultiplied colours, as its own image loader stores them.
    for (int y = 0; y < kAtlas; ++y)
      for (int x = 0; x < kAtlas; ++x) {
        const uint32_t p = TheScene().atlas[size_t(y * kAtlas + x)], a = p >> 24;
        uint32_t c = a << 24;
        for (int shift : {0, 8, 16}) c |= (((p >> shift) & 255) * a + 127) / 255 << shift;
        std::memcpy(static_cast<uint8_t*>(pixels->data) + y * pixels->pitch + x * 4, &c, 4);
      }
    al_unlock_bitmap(atlas);
    al_set_target_bitmap(target);
    const std::vector<Placed> layers[2] = {PlaceLayer(0, zoom), PlaceLayer(1, zoom)};
    out = MeanFrame(
        [&] {
          for (int l = 0; l < 2; ++l) {
            if (l == 0)
              al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
            else
              al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
            al_hold_bitmap_drawing(true);
            for (const Placed& p : layers[l])
              al_draw_scaled_bitmap(atlas, float(p.src_x), float(p.src_y), kTile, kTile, float(p.x),
                                    float(p.y), float(p.w), float(p.h), 0);
            al_hold_bitmap_drawing(false);
          }
          if (video) glFinish();
        },
        video ? bunny::GlRenderer() : "; memory bitmap, drawn by Allegro's own software");
  }
  if (atlas) al_destroy_bitmap(atlas);
  if (!video && target) al_destroy_bitmap(target);
  if (display) al_destroy_display(display);
  return out;
}

}  // namespace

std::vector<std::string> RegisterWorldRivals(const std::string& section,
                                             const std::vector<std::pair<std::string, float>>& rows,
                                             double bytes) {
  struct Entry {
    const char* name;
    Reading (*run)(bool variant, float zoom);
    bool variant;
  };
  const Entry rivals[] = {
      {"SDL2 software", Sdl, false},           {"SDL2 OpenGL", Sdl, true},
      {"SFML vertex array", Sfml, false},      {"Allegro memory bitmap", Allegro, false},
      {"Allegro video bitmap", Allegro, true},
  };
  std::vector<std::string> names;
  for (const Entry& e : rivals) {
    for (const auto& [row, zoom] : rows) {
      const float z = zoom;
      AddMeasured(
          {section, row, e.name, bytes}, [e, z] { return e.run(e.variant, z); }, true);
    }
    names.push_back(e.name);
  }
  return names;
}

}  // namespace bench::world
