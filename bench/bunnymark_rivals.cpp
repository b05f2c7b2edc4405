// The bunnymark's rivals, as a game would use each: SDL2's renderer (software, and OpenGL),
// SFML 2.5 (one sprite drawn at a time, and one vertex array of all of them), Allegro 5.2
// (onto a memory bitmap, and onto the display's back buffer with held bitmap drawing). Each runs
// in a process of its own. The OpenGL ones are timed to a finished frame (glFinish, or one
// pixel read back) and name the renderer OpenGL ran on; without a display they start a private
// X server (Xvfb, with GLX) of their own.

#include <GL/gl.h>
#include <SDL.h>
#include <allegro5/allegro.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SFML/Graphics.hpp>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "bench/bunnymark.h"

namespace bench::bunny {

// DISPLAY, or a private Xvfb started for this process and stopped as it ends (or dies).
// "" when there is a display, else why there is none.
std::string EnsureDisplay() {
  static const std::string error = []() -> std::string {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != 0) return "";
    int fds[2];
    if (pipe(fds) != 0) return "no pipe for Xvfb";
    static pid_t server = fork();
    if (server == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) dup2(quiet, 2);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "+extension", "GLX", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (server > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return "Xvfb did not start (Debian package xvfb)";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    std::atexit([] {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    });
    return "";
  }();
  return error;
}

// What OpenGL runs on, from the current context.
std::string GlRenderer() {
  const auto text = [](GLenum name) {
    const auto* s = reinterpret_cast<const char*>(glGetString(name));
    return std::string(s != nullptr ? s : "?");
  };
  return "; GL_RENDERER " + text(GL_RENDERER) + ", GL_VERSION " + text(GL_VERSION);
}

namespace {

// The sprite as bytes R, G, B, A.
std::vector<uint8_t> Rgba() {
  std::vector<uint8_t> out;
  for (uint32_t p : Bunny().argb)
    for (int shift : {16, 8, 0, 24}) out.push_back(uint8_t(p >> shift));
  return out;
}

struct Sdl {
  SDL_Window* window = nullptr;
  SDL_Surface* frame = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  std::string about;

  static bool NeedsDisplay(bool gl) { return gl; }
  explicit Sdl(bool gl) {
    SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
    if (gl) {
      SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
      if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        about = std::string("SDL2 failed: ") + SDL_GetError();
        return;
      }
      window = SDL_CreateWindow("bunnymark", 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL);
      renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED) : nullptr;
    } else {
      frame = SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_ARGB8888);
      renderer = frame ? SDL_CreateSoftwareRenderer(frame) : nullptr;
    }
    auto argb = Bunny().argb;
    SDL_Surface* sprite = SDL_CreateRGBSurfaceWithFormatFrom(argb.data(), kSize, kSize, 32,
                                                             kSize * 4, SDL_PIXELFORMAT_ARGB8888);
    texture = renderer ? SDL_CreateTextureFromSurface(renderer, sprite) : nullptr;
    SDL_FreeSurface(sprite);
    SDL_RendererInfo info;
    if (texture == nullptr || SDL_GetRendererInfo(renderer, &info) != 0) {
      about = std::string("SDL2 failed: ") + SDL_GetError();
      return;
    }
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture, SDL_ScaleModeNearest);
    about = std::string("; renderer ") + info.name + (gl ? GlRenderer() : "");
  }
  ~Sdl() {
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (frame) SDL_FreeSurface(frame);
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
  }
  bool ok() const { return texture != nullptr; }

  void Draw(Flock& flock, int n, bool turning) {
    SDL_SetRenderDrawColor(renderer, 0x40, 0x50, 0x60, 0xFF);
    SDL_RenderClear(renderer);
    flock.Step(n);
    for (int i = 0; i < n; ++i) {
      const Sprite& s = flock[i];
      const SDL_Rect place{int(s.x), int(s.y), kSize, kSize};
      if (turning)
        SDL_RenderCopyEx(renderer, texture, nullptr, &place, s.angle, nullptr, SDL_FLIP_NONE);
      else
        SDL_RenderCopy(renderer, texture, nullptr, &place);
    }
    // One pixel read back waits for the whole frame, on either driver.
    uint32_t pixel;
    const SDL_Rect one{0, 0, 1, 1};
    SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_ARGB8888, &pixel, 4);
  }
};

struct Sfml {
  sf::RenderTexture frame;
  sf::Texture texture;
  sf::Sprite sprite;
  sf::VertexArray quads{sf::Quads};
  bool batched, ready = false;
  std::string about;

  static bool NeedsDisplay(bool) { return true; }
  explicit Sfml(bool all_at_once) : batched(all_at_once) {
    if (!frame.create(kWidth, kHeight) || !texture.create(kSize, kSize)) {
      about = "SFML could not make its render texture";
      return;
    }
    texture.update(Rgba().data());
    sprite.setTexture(texture);
    sprite.setOrigin(kSize / 2.0f, kSize / 2.0f);
    if (!frame.setActive(true)) {
      about = "SFML could not make its context current";
      return;
    }
    about = GlRenderer();
    ready = true;
  }
  bool ok() const { return ready; }

  void Draw(Flock& flock, int n, bool turning) {
    frame.clear(sf::Color(0x40, 0x50, 0x60));
    flock.Step(n);
    if (!batched) {
      for (int i = 0; i < n; ++i) {
        const Sprite& s = flock[i];
        sprite.setPosition(float(int(s.x) + kSize / 2), float(int(s.y) + kSize / 2));
        sprite.setRotation(turning ? s.angle : 0);
        frame.draw(sprite);
      }
    } else {
      quads.resize(size_t(n) * 4);
      constexpr float kHalf = kSize / 2.0f, kCorner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
      for (int i = 0; i < n; ++i) {
        const Sprite& s = flock[i];
        const float cx = float(int(s.x)) + kHalf, cy = float(int(s.y)) + kHalf;
        const float a = turning ? s.angle * std::numbers::pi_v<float> / 180 : 0;
        const float c = std::cos(a) * kHalf, sn = std::sin(a) * kHalf;
        for (int k = 0; k < 4; ++k) {
          const float u = kCorner[k][0], v = kCorner[k][1];
          quads[size_t(i) * 4 + size_t(k)] = sf::Vertex({cx + u * c - v * sn, cy + u * sn + v * c},
                                                        {(u + 1) * kHalf, (v + 1) * kHalf});
        }
      }
      frame.draw(quads, &texture);
    }
    frame.display();
    glFinish();
  }
};

struct Allegro {
  ALLEGRO_DISPLAY* display = nullptr;
  ALLEGRO_BITMAP* target = nullptr;
  ALLEGRO_BITMAP* sprite = nullptr;
  bool video;
  std::string about;

  static bool NeedsDisplay(bool) { return true; }  // al_init looks for one
  explicit Allegro(bool on_display) : video(on_display) {
    if (!al_init()) {
      about = "Allegro did not start";
      return;
    }
    if (video) {
      al_set_new_display_flags(ALLEGRO_OPENGL);
      if ((display = al_create_display(kWidth, kHeight)) == nullptr) {
        about = "Allegro could not open a display";
        return;
      }
      al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
      target = al_get_backbuffer(display);
    } else {
      al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
      target = al_create_bitmap(kWidth, kHeight);
    }
    sprite = al_create_bitmap(kSize, kSize);
    ALLEGRO_LOCKED_REGION* pixels =
        sprite ? al_lock_bitmap(sprite, ALLEGRO_PIXEL_FORMAT_ARGB_8888, ALLEGRO_LOCK_WRITEONLY)
               : nullptr;
    if (target == nullptr || pixels == nullptr) {
      about = "Allegro could not make its bitmaps";
      sprite = nullptr;
      return;
    }
    // Allegro blends premultiplied colours, as its own image loader stores them.
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const uint32_t p = Bunny().argb[size_t(y * kSize + x)], a = p >> 24;
        uint32_t out = a << 24;
        for (int shift : {0, 8, 16}) out |= (((p >> shift) & 255) * a + 127) / 255 << shift;
        std::memcpy(static_cast<uint8_t*>(pixels->data) + y * pixels->pitch + x * 4, &out, 4);
      }
    al_unlock_bitmap(sprite);
    al_set_target_bitmap(target);
    about = video ? GlRenderer() : "; memory bitmap, drawn by Allegro's own software";
  }
  ~Allegro() {
    if (sprite) al_destroy_bitmap(sprite);
    if (!video && target) al_destroy_bitmap(target);
    if (display) al_destroy_display(display);
  }
  bool ok() const { return sprite != nullptr; }

  void Draw(Flock& flock, int n, bool turning) {
    al_clear_to_color(al_map_rgb(0x40, 0x50, 0x60));
    flock.Step(n);
    al_hold_bitmap_drawing(true);
    for (int i = 0; i < n; ++i) {
      const Sprite& s = flock[i];
      if (turning)
        al_draw_rotated_bitmap(sprite, kSize / 2.0f, kSize / 2.0f, float(int(s.x) + kSize / 2),
                               float(int(s.y) + kSize / 2),
                               s.angle * std::numbers::pi_v<float> / 180, 0);
      else
        al_draw_bitmap(sprite, float(int(s.x)), float(int(s.y)), 0);
    }
    al_hold_bitmap_drawing(false);
    if (video) glFinish();
  }
};

template <typename Rival>
Reading Run(bool variant, bool turning) {
  // Before the rival: SFML's members already want a display as they are made.
  if (Rival::NeedsDisplay(variant))
    if (std::string why = EnsureDisplay(); !why.empty()) return {0, why};
  Rival rival(variant);
  if (!rival.ok()) return {0, rival.about};
  Flock flock;
  return Measure([&](int n) { rival.Draw(flock, n, turning); }, rival.about);
}

}  // namespace

std::vector<std::string> RegisterRivals(const std::string& section, const std::string& moving,
                                        const std::string& turning) {
  struct Entry {
    const char* name;
    Reading (*run)(bool variant, bool turning);
    bool variant;
  };
  const Entry rivals[] = {
      {"SDL2 software", Run<Sdl>, false},
      {"SDL2 OpenGL", Run<Sdl>, true},
      {"SFML sprites", Run<Sfml>, false},
      {"SFML vertex array", Run<Sfml>, true},
      {"Allegro memory bitmap", Run<Allegro>, false},
      {"Allegro video bitmap", Run<Allegro>, true},
  };
  std::vector<std::string> names;
  for (const Entry& e : rivals) {
    for (bool turn : {false, true})
      AddMeasured(
          {section, turn ? turning : moving, e.name}, [e, turn] { return e.run(e.variant, turn); },
          true);
    names.push_back(e.name);
  }
  return names;
}

}  // namespace bench::bunny
