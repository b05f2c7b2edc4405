// @NAME@: a ten-second round of catching a bouncing ball with a bat. The arrow keys or the
// pointer move the bat, Escape ends early. Start here: every part of the engine a game needs
// is in use (a picture from data/, text, keys, the pointer, the frame loop, a saved best).
#include <kastrel/kastrel.h>

#include <cstdio>
#include <string>

using namespace KASTREL;
using namespace KASTREL::GRAPHICS;

namespace {

constexpr int32_t WIDTH = 480, HEIGHT = 320, BATW = 80;
constexpr float ROUND = 10;  // seconds

struct GAME {
  BITMAP BALL;
  FONT TEXT;
  float X = 40, Y = 40, VX = 190, VY = 150, LEFT = ROUND;
  int32_t BAT = (WIDTH - BATW) / 2, CAUGHT = 0, BEST = 0;
};

void FRAME(GAME& G, float ELAPSED, ENGINE::INPUTEVENT INPUT, VOX::EVENT& EVENT) {
  if (INPUT == ENGINE::INPUTEVENT::KEYPRESS && EVENT.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(TRUE);
  if (INPUT == ENGINE::INPUTEVENT::MOUSEMOVE) G.BAT = EVENT.X - BATW / 2;
  if (vox_GfxMultikey(KEY::LEFT)) G.BAT -= 6;
  if (vox_GfxMultikey(KEY::RIGHT)) G.BAT += 6;
  G.BAT = G.BAT < 0 ? 0 : G.BAT > WIDTH - BATW ? WIDTH - BATW : G.BAT;
  G.X += G.VX * ELAPSED;
  G.Y += G.VY * ELAPSED;
  const float SIZE = float(G.BALL.WIDTH());
  if (G.X < 0 || G.X > WIDTH - SIZE) G.VX = -G.VX, G.X = G.X < 0 ? 0 : WIDTH - SIZE;
  if (G.Y < 0) G.VY = -G.VY, G.Y = 0;
  if (G.VY > 0 && G.Y + SIZE >= HEIGHT - 20 && G.X + SIZE > float(G.BAT) && G.X < float(G.BAT + BATW)) {
    G.VY = -G.VY;  // caught on the bat
    G.Y = HEIGHT - 20 - SIZE;
    ++G.CAUGHT;
  }
  if (G.Y > HEIGHT) G.Y = 0;  // missed: it drops in from the top again
  G.LEFT -= ELAPSED;
  if (G.LEFT <= 0) ENGINE::SHUTDOWN(TRUE);
  MATH::RECT WHOLE{0, 0, 0, 0};  // the zero rectangle: repaint the whole window
  ENGINE::MARKDIRTY(WHOLE);
}

void PAINT(GAME& G, BITMAP& DEST) {
  FILLRECT(DEST, {0, 0, WIDTH - 1, HEIGHT - 1}, 0xFF1C2433);
  FILLRECT(DEST, {G.BAT, HEIGHT - 20, BATW - 1, 7}, 0xFFE8E8E8);
  G.BALL.DRAWTO(DEST, int32_t(G.X), int32_t(G.Y), 0, 0, 0, 0, VOXALPHA);
  const std::string LINE = "Caught " + std::to_string(G.CAUGHT) + "   Best " +
                           std::to_string(G.BEST) + "   " + std::to_string(int(G.LEFT + 0.99f)) + " s";
  G.TEXT.DRAW(DEST, 8, 6, LINE.c_str(), 0xFFFFD040, TEXTLEFT);
}

}  // namespace

int main() {
  GAME G;
  SETTINGS SAVED(PATHS::SAVES("kastrel-games", "@NAME@") + "best.txt");
  G.BEST = SAVED.GETINT("best", 0);
  bool LOADED = false;
  ENGINE::ONINITIALIZE += [&G, &LOADED] {
    if (!G.BALL.LOADFROMFILE(PATHS::DATA() + "ball.png") || !G.TEXT.OPENDEFAULT(16)) {
      std::fprintf(stderr, "@NAME@: %s\n", LASTERROR());
      return;  // the engine ends with nothing shown
    }
    LOADED = true;
    const int32_t PLAY = ENGINE::NEWGAMESCREEN();
    ENGINE::GAMESCREENS[PLAY].ONFRAME += [&G](float ELAPSED, ENGINE::INPUTEVENT INPUT,
                                              VOX::EVENT& EVENT) { FRAME(G, ELAPSED, INPUT, EVENT); };
    ENGINE::GAMESCREENS[PLAY].ONPAINT += [&G](BITMAP& DEST, MATH::RECT&) { PAINT(G, DEST); };
    ENGINE::SHOW(PLAY);  // runs the frame loop until the round ends
  };
  if (!ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, MODE_NOSWITCH | MODE_VSYNC)) {
    std::fprintf(stderr, "@NAME@: %s\n", LASTERROR());
    return 2;
  }
  if (!LOADED) return 2;
  if (G.CAUGHT > G.BEST) {
    SAVED.SETINT("best", G.CAUGHT);
    if (!SAVED.SAVE()) std::fprintf(stderr, "@NAME@: %s\n", LASTERROR());
  }
  std::printf("caught %d, best %d\n", G.CAUGHT, G.CAUGHT > G.BEST ? G.CAUGHT : G.BEST);
  return 0;
}
