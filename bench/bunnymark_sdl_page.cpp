// The bunnymark drawn by SDL's own renderer in the browser, the rival of bunnymark_page.cpp
// there: the same sprites moved the same way, one SDL_RenderCopy each with alpha blending, on
// whichever renderer SDL picks for the page's canvas. A frame is finished when one of its
// pixels is read back.

#include <SDL2/SDL.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bunnymark_flock.h"
#include "bench/bunnymark_frames.h"

using namespace bench::bunny;

int main() {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::printf("{\"contender\": \"SDL\", \"sprites\": 0, \"detail\": \"SDL_Init: %s\"}\nend\n",
                SDL_GetError());
    return 1;
  }
  SDL_Window* window = SDL_CreateWindow("bunnymark", 0, 0, kWidth, kHeight, 0);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, 0) : nullptr;
  std::vector<uint32_t> argb = BunnyPixels();
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(argb.data(), kSize, kSize, 32,
                                                            kSize * 4, SDL_PIXELFORMAT_ARGB8888);
  SDL_Texture* texture =
      renderer && surface ? SDL_CreateTextureFromSurface(renderer, surface) : nullptr;
  if (!texture) {
    std::printf("{\"contender\": \"SDL\", \"sprites\": 0, \"detail\": \"%s\"}\nend\n",
                SDL_GetError());
    return 1;
  }
  SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
  SDL_RendererInfo info{};
  SDL_GetRendererInfo(renderer, &info);
  Flock flock;
  const auto frame = [&](int count) {
    SDL_SetRenderDrawColor(renderer, 0x40, 0x50, 0x60, 0xFF);
    SDL_RenderClear(renderer);
    flock.Step(count);
    for (int i = 0; i < count; ++i) {
      const SDL_Rect to{int(flock[i].x), int(flock[i].y), kSize, kSize};
      SDL_RenderCopy(renderer, texture, nullptr, &to);
    }
    const SDL_Rect one{0, 0, 1, 1};
    uint32_t pixel = 0;
    SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_ARGB8888, &pixel, 4);
  };
  WarmUp(frame);
  const FrameFit fit = FitFrame([&](int n) { return FastestFrame(frame, n); });
  const std::string detail = std::string("SDL_RenderCopy a sprite; renderer ") + info.name;
  PrintFit("SDL renderer", detail.c_str(), fit);
  std::printf("end\n");
  std::fflush(stdout);
  return 0;
}
