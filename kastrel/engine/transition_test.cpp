// Animated SHOW on the null driver with a driven clock, against a reference model of every
// effect written here pixel by pixel from the rules in transition.h.
#include "kastrel/base/detail/platform.h"
#include "kastrel/engine/transition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "kastrel/base/error.h"
#include "kastrel/base/timer.h"
#include "kastrel/engine/testing/game.h"

using namespace test_game;
using Pic = std::function<uint32_t(int, int)>;

namespace {

Pic pattern(uint32_t id) {  // distinct in every byte from a pattern of another id
  return [id](int x, int y) {
    return 0xFF000000u | ((x * 7 + id) & 255) << 16 | ((y * 5 + id * 3) & 255) << 8 | id;
  };
}

uint32_t model(int e, int d, double p, int W, int H, int x, int y, const Pic& O, const Pic& I) {
  static const int HX[8] = {-1, 1, 0, 0, -1, 1, -1, 1}, VY[8] = {0, 0, -1, 1, -1, -1, 1, 1};
  const int hx = HX[d], vy = VY[d];
  auto k = [p](int L) { return int(std::floor(p * L)); };
  auto in = [&](int u, int v) { return u >= 0 && u < W && v >= 0 && v < H; };
  if (e == 1) {
    uint32_t out = 0, a = uint32_t(k(256));
    for (int s = 0; s < 32; s += 8)
      out |= (((O(x, y) >> s & 255) * (256 - a) + (I(x, y) >> s & 255) * a) >> 8) << s;
    return out;
  }
  if (e == 2 || e == 3) {
    const int ox = e == 2 ? hx * (W - k(W)) : -hx * k(W),
              oy = e == 2 ? vy * (H - k(H)) : -vy * k(H);
    const Pic& top = e == 2 ? I : O;
    return in(x - ox, y - oy) ? top(x - ox, y - oy) : (e == 2 ? O : I)(x, y);
  }
  if (e == 4 || e == 5) {
    const int w = hx == 0  ? W
                  : e == 4 ? k(W)
                           : W - k(W),
              h = vy == 0  ? H
                  : e == 4 ? k(H)
                           : H - k(H);
    const int x0 = hx > 0 ? W - w : 0, y0 = vy > 0 ? H - h : 0;
    if (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h)
      return (e == 4 ? I : O)((x - x0) * W / w, (y - y0) * H / h);
    return (e == 4 ? O : I)(x, y);
  }
  // Stripes: the band of the pixel across them, then whether it is revealed yet.
  const int across = e == 6 ? y : x, size = e == 6 ? H : W;
  int b = 0;
  while ((b + 1) * size / 8 <= across) ++b;
  const int lo = b * size / 8, hi = (b + 1) * size / 8;
  const int along_side = e == 6 ? hx : vy, other = e == 6 ? vy : hx;
  const int along = e == 6 ? x : y, length = e == 6 ? W : H;
  bool shown;
  if (along_side != 0) {
    const bool near = (along_side < 0) == ((other > 0 ? 7 - b : b) % 2 == 0);
    shown = near ? along < k(length) : along >= length - k(length);
  } else {
    const bool near = (other < 0) == (b % 2 == 0);
    shown = near ? across < lo + k(hi - lo) : across >= hi - k(hi - lo);
  }
  return (shown ? I : O)(x, y);
}

double now_s = 100;
double clock_now() { return now_s; }
uint32_t ids[2] = {0x11, 0x99};
std::vector<std::function<void(int)>> steps;  // one per pass, given the screen framed
std::string framed;                           // screen of every ONFRAME raise
bool refuse = false;

void expect_frame(const Pic& want, const std::string& what) {
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (pixel(x, y) != want(x, y)) {
        ADD_FAILURE() << what << " at " << x << "," << y << std::hex << " " << pixel(x, y) << " "
                      << want(x, y);
        return;
      }
}
Pic on_screen() {
  std::vector<uint32_t> copy(vox_GfxScreenPtr() ? 64 * 48 : 0);
  for (int i = 0; i < int(copy.size()); ++i) copy[i] = pixel(i % 64, i / 64);
  return [copy](int x, int y) { return copy[y * 64 + x]; };
}
template <int S>
void PAINT(GRAPHICS::BITMAP&, MATH::RECT&) {  // the whole picture, whatever the rectangle
  for (int i = 0; i < 64 * 48; ++i) pixel(i % 64, i / 64) = pattern(ids[S])(i % 64, i / 64);
}
template <int S>
void FRAME(float, INPUTEVENT input, VOX::EVENT&) {
  framed += char('0' + S);
  if (input == INPUTEVENT::KEYPRESS) framed += 'k';
  const size_t pass = framed.size() - std::count(framed.begin(), framed.end(), 'k');
  if (pass <= steps.size())
    steps[pass - 1](S);
  else
    SHUTDOWN(TRUE);
}
void INIT() {
  for (int s = 0; s < 2; ++s) NEWGAMESCREEN();
  GAMESCREENS[0].ONPAINT += PAINT<0>, GAMESCREENS[0].ONFRAME += FRAME<0>;
  GAMESCREENS[1].ONPAINT += PAINT<1>, GAMESCREENS[1].ONFRAME += FRAME<1>;
  for (int s = 0; s < 2; ++s)
    GAMESCREENS[s].ONHIDE += [](int32_t, BOOLEAN& CANCEL) { CANCEL = refuse ? TRUE : FALSE; };
  SHOW(0, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMLEFT);  // the first: immediate
}

}  // namespace

TEST(Transition, EveryEffectAndDirectionMatchesTheModelThroughTheFrameLoop) {
  SETTIMERSOURCE(clock_now);
  steps.push_back([](int) {
    EXPECT_FALSE(TRANSITIONRUNNING());
    expect_frame(pattern(0x11), "first");
  });
  for (int c = 0; c < 56; ++c) {
    const int e = 1 + c / 8, d = c % 8, to = c % 2 == 0 ? 1 : 0;
    steps.push_back([=](int) { SHOW(to, TRANSITIONEFFECT(e), TRANSITIONDIRECTION(d)); });
    for (int s = 0; s <= 4; ++s)
      steps.push_back([=](int S) {
        EXPECT_TRUE(S == to && TRANSITIONRUNNING() == (s < 4 ? TRUE : FALSE));  // only the new one
        expect_frame(
            [=](int x, int y) {
              return model(e, d, s / 4.0, 64, 48, x, y, pattern(ids[1 - to]), pattern(ids[to]));
            },
            "effect, direction, step " + std::to_string(e * 100 + d * 10 + s));
        if (s == 1) post(VOX::KEYPRESSED);
        now_s += 0.125;
      });
  }
  // SHOW during a transition starts from what is on screen; a refused one changes nothing.
  static Pic shown;
  steps.push_back([](int) {
    ids[1] = 0x55, SHOW(1, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMTOP), now_s += 0.25;
  });
  steps.push_back([](int) {
    shown = on_screen(), ids[0] = 0x66, SHOW(0, TRANSITIONEFFECT::FADE), now_s += 0.25;
  });
  steps.push_back([](int) {
    expect_frame([](int x, int y) { return model(1, 0, 0.5, 64, 48, x, y, shown, pattern(0x66)); },
                 "again");
    refuse = true, SHOW(1, TRANSITIONEFFECT::FADE), refuse = false;
    EXPECT_TRUE(TRANSITIONRUNNING() && ACTIVEGAMESCREEN == 0);
    now_s += 1;
  });
  // The active screen again, with an effect: from what is on screen to its new picture; the
  // outgoing picture leaves the bitmap cursor out, which moves on alone.
  static GRAPHICS::BITMAP* cursor;
  static auto but_cursor = [](const Pic& want) {
    return [want](int x, int y) { return x / 2 == 15 && y / 2 == 10 ? pixel(x, y) : want(x, y); };
  };
  steps.push_back([](int) {
    cursor = new GRAPHICS::BITMAP(2, 2, 0xFFFFFFFFu, 32);
    SETCURSOR(cursor, 0, 0), SHOWCURSOR(), MOUSECURSORPOSITION = MATH::POINT{10, 10};
    MATH::RECT whole{};
    MARKDIRTY(whole);
  });
  steps.push_back([](int) {
    ids[0] = 0x77, SHOW(0, TRANSITIONEFFECT::ZOOMOUT, TRANSITIONDIRECTION::FROMTOPRIGHT);
    post(VOX::MOUSEMOVED, 30, 20);
  });
  steps.push_back([](int) {
    expect_frame(but_cursor(pattern(0x66)), "cursor"), now_s += 0.25;
    EXPECT_NE(pixel(31, 21), pattern(0x66)(31, 21));
  });
  steps.push_back([](int) {
    expect_frame(but_cursor([](int x, int y) {
                   return model(5, 5, 0.5, 64, 48, x, y, pattern(0x66), pattern(0x77));
                 }),
                 "same");
    HIDECURSOR(), SETCURSOR(nullptr, 0, 0), now_s += 1;
    delete cursor;
  });
  // A 16-bit screen switches at once; a shutdown ends a transition on its incoming picture.
  steps.push_back([](int) {
    vox_GfxScreenRes(64, 48, 16, 1, MODE_NULL, 0);
    SHOW(1, TRANSITIONEFFECT::FADE);
    EXPECT_FALSE(TRANSITIONRUNNING());
    vox_GfxScreenRes(64, 48, 32, 1, MODE_NULL, 0);
    SHOW(0, TRANSITIONEFFECT::HORISONTALSTRIPES, TRANSITIONDIRECTION::FROMBOTTOM);
    EXPECT_TRUE(TRANSITIONRUNNING());
    now_s += 0.1;
  });
  steps.push_back([](int) {
    SHUTDOWN(TRUE);
    EXPECT_FALSE(TRANSITIONRUNNING());
    expect_frame(pattern(0x77), "shut down");
  });
  KASTREL::PLATFORM::SETENVIRONMENT("VOXGFX", "null");
  ONINITIALIZE += INIT;
  INITIALIZE(64, 48, FALSE, MODE_NOSWITCH);
  EXPECT_EQ(framed.size(), steps.size() + 56);  // one key reached each incoming screen
  EXPECT_EQ(framed.substr(0, 13), "00111k111000k");
}

TEST(Transition, DrawTransitionMatchesTheModelAtEverySizeAndRefusesBadArguments) {
  for (auto [W, H] : {std::pair{1, 1}, {5, 3}, {9, 17}, {3, 12}})
    for (int e = 0; e < 56 * 5; ++e) {
      std::vector<uint32_t> o(W * H), i(W * H), d(W * H);
      for (int n = 0; n < W * H; ++n)
        o[n] = pattern(1)(n % W, n / W), i[n] = pattern(2)(n % W, n / W);
      const double p = e % 5 / 4.0;
      ASSERT_TRUE(DRAWTRANSITION(d.data(), o.data(), i.data(), W, H, W * 4,
                                 TRANSITIONEFFECT(1 + e / 40), TRANSITIONDIRECTION(e / 5 % 8), p));
      for (int n = 0; n < W * H; ++n)
        ASSERT_EQ(d[n], model(1 + e / 40, e / 5 % 8, p, W, H, n % W, n / W, pattern(1), pattern(2)))
            << W << "x" << H << " " << e;
    }
  uint32_t px = 0;
  CLEARLASTERROR();
  EXPECT_FALSE(DRAWTRANSITION(&px, nullptr, &px, 1, 1, 4, TRANSITIONEFFECT::FADE,
                              TRANSITIONDIRECTION::FROMLEFT, 0));
  EXPECT_FALSE(DRAWTRANSITION(&px, &px, &px, 1, 1, 3, TRANSITIONEFFECT(9),
                              TRANSITIONDIRECTION::FROMLEFT, 0));
  EXPECT_STRNE(LASTERROR(), "");
}
