#include "kastrel/graphics/sprites.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kastrel/base/error.h"

namespace KASTREL::GRAPHICS {

SPRITESHEET::SPRITESHEET(const BITMAP& SHEET, int32_t FRAMEW, int32_t FRAMEH, int32_t COUNT)
    : IMAGE(SHEET) {
  if (FRAMEW < 1 || FRAMEH < 1) return;
  const int64_t columns = SHEET.WIDTH() / uint32_t(FRAMEW),
                rows = SHEET.HEIGHT() / uint32_t(FRAMEH);
  int64_t count = columns * rows;
  if (COUNT > 0 && COUNT < count) count = COUNT;
  FRAMES.reserve(size_t(count));
  for (int64_t i = 0; i < count; ++i)
    FRAMES.push_back(
        {int32_t(i % columns) * FRAMEW, int32_t(i / columns) * FRAMEH, FRAMEW - 1, FRAMEH - 1});
}

SPRITESHEET::SPRITESHEET(const BITMAP& SHEET, std::vector<MATH::RECT> REGIONS)
    : IMAGE(SHEET), FRAMES(std::move(REGIONS)) {}

BOOLEAN SPRITESHEET::DRAW(void* DEST, int32_t N, int32_t X, int32_t Y, RASTEROP METHOD) const {
  TRANSFORM T;
  T.METHOD = METHOD;
  return DRAWTRANSFORMED(DEST, N, float(X), float(Y), T);
}

BOOLEAN SPRITESHEET::DRAW(BITMAP& DEST, int32_t N, int32_t X, int32_t Y, RASTEROP METHOD) const {
  return DRAW(DEST.HANDLE(), N, X, Y, METHOD);
}

BOOLEAN SPRITESHEET::DRAWTRANSFORMED(void* DEST, int32_t N, float X, float Y, TRANSFORM T) const {
  if (N < 0 || N >= COUNT()) {
    SETLASTERROR("SPRITESHEET: frame %d is not one of its %d", N, COUNT());
    return FALSE;
  }
  T.SOURCE = FRAMES[size_t(N)];
  return IMAGE.DRAWTRANSFORMED(DEST, X, Y, T);
}

BOOLEAN SPRITESHEET::DRAWTRANSFORMED(BITMAP& DEST, int32_t N, float X, float Y, TRANSFORM T) const {
  return DRAWTRANSFORMED(DEST.HANDLE(), N, X, Y, T);
}

ANIMATION::ANIMATION(int32_t FIRST, int32_t COUNT, float SECONDS, BOOLEAN REPEAT) : LOOP(REPEAT) {
  if (COUNT > ANIMATIONMAXFRAMES || (COUNT > 0 && FIRST > INT32_MAX - (COUNT - 1))) {
    SETLASTERROR("ANIMATION: %d frames from %d on %s", COUNT, FIRST,
                 COUNT > ANIMATIONMAXFRAMES ? "are more than an animation holds"
                                            : "run past the largest frame number");
    return;
  }
  FRAMES.reserve(size_t(std::max(COUNT, 0)));
  DURATIONS.reserve(size_t(std::max(COUNT, 0)));
  for (int32_t i = 0; i < COUNT; ++i) ADD(FIRST + i, SECONDS);
}

void ANIMATION::ADD(int32_t FRAME, float SECONDS) {
  if (FRAMES.size() >= size_t(ANIMATIONMAXFRAMES)) {
    SETLASTERROR("ANIMATION: it holds %d frames already, as many as an animation holds",
                 ANIMATIONMAXFRAMES);
    return;
  }
  FRAMES.push_back(FRAME);
  DURATIONS.push_back(std::isfinite(SECONDS) && SECONDS > 0 ? SECONDS : 0);
}

void ANIMATION::UPDATE(float ELAPSED) {
  if (!std::isfinite(ELAPSED) || ELAPSED <= 0) return;
  // Summed in double: a long-running loop keeps its place to well below a frame.
  const double total = LENGTH();
  double time = double(TIME) + ELAPSED;
  if (LOOP && total > 0) time = std::fmod(time, total);
  TIME = float(LOOP ? time : std::fmin(time, total));
}

int32_t ANIMATION::FRAME() const {
  if (FRAMES.empty()) return -1;
  double end = 0;
  for (size_t i = 0; i < FRAMES.size(); ++i) {
    end += i < DURATIONS.size() ? std::fmax(DURATIONS[i], 0.0f) : 0;
    if (TIME < end) return FRAMES[i];
  }
  return FRAMES.back();
}

BOOLEAN ANIMATION::FINISHED() const {
  if (LOOP) return FALSE;
  return TIME >= LENGTH() ? TRUE : FALSE;
}

double ANIMATION::LENGTH() const {
  double total = 0;
  for (size_t i = 0; i < FRAMES.size() && i < DURATIONS.size(); ++i)
    total += std::fmax(DURATIONS[i], 0.0f);
  return total;
}

}  // namespace KASTREL::GRAPHICS
