// Breakout on Kastrel: a title screen, a wall of bricks, a paddle and a ball, score and lives
// as text, sounds and looping music, a gamepad, a pause when the window loses the focus,
// transitions between the screens and the picture scaled to fit the desktop.
//
// It repaints only what changes: the ball's and the paddle's old and new places, a brick that
// breaks and the score bar. The game ends with exit status 0 on Escape or the close box.
#include "breakout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

using namespace KASTREL;
using ENGINE::INPUTEVENT;
using ENGINE::TRANSITIONDIRECTION;
using ENGINE::TRANSITIONEFFECT;

namespace BREAKOUT {

GAMESTATE GAME;
int32_t TITLESCREEN, PLAYSCREEN, OVERSCREEN;

namespace {

constexpr int32_t BARHEIGHT = 32;  // the score bar; the wall's top edge is below it
constexpr int32_t BRICKW = 56, BRICKH = 18, BRICKGAP = 4;
constexpr int32_t BRICKLEFT = 22, BRICKTOP = 70;
constexpr int32_t PADDLEH = 12, PADDLEY = 440, BALLSIZE = 10;
constexpr float PADDLESPEED = 520.0f, BALLSPEED = 300.0f, SERVEDELAY = 1.0f;
constexpr uint32_t BACKCOLOR = 0xFF101828, TEXTCOLOR = 0xFFF0F0F0, PADDLECOLOR = 0xFFE0E0F0;
constexpr uint32_t BALLCOLOR = 0xFFFFD040;
constexpr uint32_t ROWCOLORS[ROWS] = {0xFFE04848, 0xFFE08838, 0xFFE0C838,
                                      0xFF58C858, 0xFF4888E0, 0xFF9058D0};

GRAPHICS::FONT BIGFONT, SMALLFONT;
AUDIO::SOUND PADDLESOUND, BRICKSOUND, WALLSOUND, LOSESOUND;
AUDIO::MUSIC THEMUSIC;

// Whether the repainted region A meets the W x H area at (X, Y).
bool OVERLAPS(const MATH::RECT& A, int32_t X, int32_t Y, int32_t W, int32_t H) {
  return A.X < X + W && X < A.X + A.W && A.Y < Y + H && Y < A.Y + A.H;
}

MATH::RECT BRICKRECT(int32_t I) {
  return {BRICKLEFT + (I % COLUMNS) * (BRICKW + BRICKGAP),
          BRICKTOP + (I / COLUMNS) * (BRICKH + BRICKGAP), BRICKW, BRICKH};
}

void SERVE() {
  GAME.BALLX = GAME.PADDLEX + (PADDLEW - BALLSIZE) / 2.0f;
  GAME.BALLY = PADDLEY - BALLSIZE - 40.0f;
  const float SPEED = BALLSPEED * (1.0f + 0.15f * float(GAME.WALL));
  GAME.VX = SPEED * 0.6f;
  GAME.VY = -SPEED * 0.8f;
  GAME.SERVEWAIT = SERVEDELAY;
}

void NEWWALL() {
  std::fill(std::begin(GAME.BRICKS), std::end(GAME.BRICKS), TRUE);
  GAME.BRICKSLEFT = COLUMNS * ROWS;
  SERVE();
  ENGINE::MARKWHOLEWINDOW();
}

void STARTPLAY() { ENGINE::SHOW(PLAYSCREEN, TRANSITIONEFFECT::FADE); }

// Space, Enter, a click or the pad's Start (or A) button: the "play" input of every screen.
bool PLAYPRESSED(INPUTEVENT INPUT, const VOX::EVENT& E) {
  return (INPUT == INPUTEVENT::KEYPRESS && (E.SCANCODE == KEY::SPACE || E.SCANCODE == KEY::ENTER)) ||
         INPUT == INPUTEVENT::MOUSEBUTTONPRESS ||
         (INPUT == INPUTEVENT::PADBUTTONPRESS && (E.CONTROL == VOX::PAD_START || E.CONTROL == VOX::PAD_A));
}

void COMMONINPUT(INPUTEVENT INPUT, const VOX::EVENT& E) {
  if (INPUT == INPUTEVENT::KEYPRESS && E.SCANCODE == KEY::ESCAPE) ENGINE::SHUTDOWN(FALSE);
}

// ---- Title and game-over screens: centred text on the background. ----

void TEXTSCREEN_ONPAINT(const char* HEADING, const std::string& LINE2) {
  GRAPHICS::BITMAP SCREEN;
  GRAPHICS::FILLRECT(SCREEN, {0, 0, WIDTH - 1, HEIGHT - 1}, BACKCOLOR);
  BIGFONT.DRAW(SCREEN, WIDTH / 2, 150, HEADING, 0xFFFFD040, GRAPHICS::TEXTCENTRE);
  SMALLFONT.DRAW(SCREEN, WIDTH / 2, 260, LINE2, TEXTCOLOR, GRAPHICS::TEXTCENTRE);
  SMALLFONT.DRAW(SCREEN, WIDTH / 2, 300, "press Space / Start / click to play", TEXTCOLOR,
                 GRAPHICS::TEXTCENTRE);
}

void TITLE_ONPAINT(GRAPHICS::BITMAP&, MATH::RECT&) {
  TEXTSCREEN_ONPAINT("BREAKOUT", "arrows, mouse or left stick move the paddle");
}
void OVER_ONPAINT(GRAPHICS::BITMAP&, MATH::RECT&) {
  TEXTSCREEN_ONPAINT("GAME OVER", "score " + std::to_string(GAME.SCORE));
}
void MENU_ONFRAME(float, INPUTEVENT INPUT, VOX::EVENT& E) {
  COMMONINPUT(INPUT, E);
  if (PLAYPRESSED(INPUT, E)) STARTPLAY();
}

// ---- The play screen. ----

void PLAY_ONSHOW() {
  GAME.SCORE = 0;
  GAME.LIVES = 3;
  GAME.WALL = 0;
  GAME.PADDLEX = (WIDTH - PADDLEW) / 2.0f;
  NEWWALL();
}

void LOSELIFE() {
  LOSESOUND.PLAY();
  GAME.LIVES -= 1;
  ENGINE::MARKDIRTY(0, 0, WIDTH, BARHEIGHT);
  if (GAME.LIVES <= 0) {
    ENGINE::SHOW(OVERSCREEN, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMRIGHT);
  } else {
    SERVE();
  }
}

// Bounces the ball off the first live brick it overlaps, on the axis it overlaps least.
void HITBRICKS() {
  for (int32_t I = 0; I < COLUMNS * ROWS; ++I) {
    const MATH::RECT B = BRICKRECT(I);
    const float BX = float(B.X), BY = float(B.Y);
    if (GAME.BRICKS[I] == FALSE || GAME.BALLX + BALLSIZE <= BX || GAME.BALLX >= BX + B.W ||
        GAME.BALLY + BALLSIZE <= BY || GAME.BALLY >= BY + B.H)
      continue;
    const float OVERX = std::min(GAME.BALLX + BALLSIZE - BX, BX + B.W - GAME.BALLX);
    const float OVERY = std::min(GAME.BALLY + BALLSIZE - BY, BY + B.H - GAME.BALLY);
    if (OVERX < OVERY) {
      GAME.VX = GAME.BALLX < BX ? -std::fabs(GAME.VX) : std::fabs(GAME.VX);
    } else {
      GAME.VY = GAME.BALLY < BY ? -std::fabs(GAME.VY) : std::fabs(GAME.VY);
    }
    GAME.BRICKS[I] = FALSE;
    GAME.SCORE += 10 * (ROWS - I / COLUMNS);
    BRICKSOUND.PLAY();
    ENGINE::MARKDIRTY(B.X, B.Y, B.W, B.H);
    ENGINE::MARKDIRTY(0, 0, WIDTH, BARHEIGHT);
    if (--GAME.BRICKSLEFT == 0) {
      GAME.WALL += 1;
      NEWWALL();
    }
    return;
  }
}

void MOVEBALL(float DT) {
  GAME.BALLX += GAME.VX * DT;
  GAME.BALLY += GAME.VY * DT;
  if (GAME.BALLX < 0 || GAME.BALLX > WIDTH - BALLSIZE) {
    GAME.BALLX = std::clamp(GAME.BALLX, 0.0f, float(WIDTH - BALLSIZE));
    GAME.VX = -GAME.VX;
    WALLSOUND.PLAY();
  }
  if (GAME.BALLY < BARHEIGHT) {
    GAME.BALLY = BARHEIGHT;
    GAME.VY = std::fabs(GAME.VY);
    WALLSOUND.PLAY();
  }
  // The paddle sends the ball off at an angle set by where it hits, at the same speed.
  if (GAME.VY > 0 && GAME.BALLY + BALLSIZE >= PADDLEY && GAME.BALLY < PADDLEY + PADDLEH &&
      GAME.BALLX + BALLSIZE >= GAME.PADDLEX && GAME.BALLX <= GAME.PADDLEX + PADDLEW) {
    const float SPEED = std::hypot(GAME.VX, GAME.VY);
    const float OFFSET = (GAME.BALLX + BALLSIZE / 2.0f - GAME.PADDLEX - PADDLEW / 2.0f) / (PADDLEW / 2.0f);
    const float ANGLE = std::clamp(OFFSET, -1.0f, 1.0f) * 1.05f;  // up to 60 degrees off vertical
    GAME.VX = SPEED * std::sin(ANGLE);
    GAME.VY = -SPEED * std::cos(ANGLE);
    GAME.BALLY = PADDLEY - BALLSIZE;
    PADDLESOUND.PLAY();
  }
  HITBRICKS();
  if (GAME.BALLY > HEIGHT) LOSELIFE();
}

// The paddle's speed this pass from the keys, the D-pad or the left stick (-1 .. 1).
float STEERING() {
  float STEER = 0.0f;
  if (vox_GfxMultikey(KEY::LEFT) != 0 || vox_GfxPadButton(0, VOX::PAD_LEFT) != 0) STEER -= 1.0f;
  if (vox_GfxMultikey(KEY::RIGHT) != 0 || vox_GfxPadButton(0, VOX::PAD_RIGHT) != 0) STEER += 1.0f;
  STEER += float(vox_GfxPadAxis(0, VOX::PAD_LEFTX)) / 32767.0f;
  return std::clamp(STEER, -1.0f, 1.0f);
}

void PLAY_ONFRAME(float FELAPSED, INPUTEVENT INPUT, VOX::EVENT& E) {
  COMMONINPUT(INPUT, E);
  if (GAME.PAUSED != FALSE || ENGINE::ACTIVEGAMESCREEN != PLAYSCREEN) return;
  const float DT = std::min(FELAPSED, 0.02f);  // a stalled pass must not tunnel the ball
  const int32_t OLDPADDLE = int32_t(GAME.PADDLEX), OLDX = int32_t(GAME.BALLX), OLDY = int32_t(GAME.BALLY);
  if (INPUT == INPUTEVENT::MOUSEMOVE) GAME.PADDLEX = float(E.X - PADDLEW / 2);
  GAME.PADDLEX = std::clamp(GAME.PADDLEX + STEERING() * PADDLESPEED * DT, 0.0f, float(WIDTH - PADDLEW));
  if (GAME.SERVEWAIT > 0) {
    GAME.SERVEWAIT -= DT;
  } else {
    MOVEBALL(DT);
  }
  if (int32_t(GAME.PADDLEX) != OLDPADDLE) {
    ENGINE::MARKDIRTY(std::min(OLDPADDLE, int32_t(GAME.PADDLEX)), PADDLEY,
         PADDLEW + std::abs(int32_t(GAME.PADDLEX) - OLDPADDLE) + 1, PADDLEH + 1);
  }
  if (int32_t(GAME.BALLX) != OLDX || int32_t(GAME.BALLY) != OLDY) {
    ENGINE::MARKDIRTY(OLDX, OLDY, BALLSIZE + 1, BALLSIZE + 1);
    ENGINE::MARKDIRTY(int32_t(GAME.BALLX), int32_t(GAME.BALLY), BALLSIZE + 1, BALLSIZE + 1);
  }
}

// Repaints RGN: the background, then whatever overlaps it. The score bar is only ever marked
// whole, and nothing moving enters it, so its text is drawn on a freshly cleared bar.
void PLAY_ONPAINT(GRAPHICS::BITMAP& SCREEN, MATH::RECT& RGN) {
  GRAPHICS::FILLRECT(SCREEN, {RGN.X, RGN.Y, RGN.W - 1, RGN.H - 1}, BACKCOLOR);
  if (OVERLAPS(RGN, 0, 0, WIDTH, BARHEIGHT)) {
    GRAPHICS::FILLRECT(SCREEN, {0, 0, WIDTH - 1, BARHEIGHT - 1}, 0xFF202c44);
    const int32_t TEXTY = (BARHEIGHT - SMALLFONT.LINEHEIGHT()) / 2;  // the line centred in the bar
    SMALLFONT.DRAW(SCREEN, 12, TEXTY, "Score " + std::to_string(GAME.SCORE), TEXTCOLOR);
    SMALLFONT.DRAW(SCREEN, WIDTH - 12, TEXTY, "Lives " + std::to_string(GAME.LIVES), TEXTCOLOR,
                   GRAPHICS::TEXTRIGHT);
  }
  for (int32_t I = 0; I < COLUMNS * ROWS; ++I) {
    const MATH::RECT B = BRICKRECT(I);
    if (GAME.BRICKS[I] != FALSE && OVERLAPS(RGN, B.X, B.Y, B.W, B.H)) {
      GRAPHICS::FILLRECT(SCREEN, {B.X, B.Y, B.W - 1, B.H - 1}, ROWCOLORS[I / COLUMNS]);
    }
  }
  const int32_t PX = int32_t(GAME.PADDLEX);
  if (OVERLAPS(RGN, PX, PADDLEY, PADDLEW, PADDLEH)) {
    GRAPHICS::FILLRECT(SCREEN, {PX, PADDLEY, PADDLEW - 1, PADDLEH - 1}, PADDLECOLOR);
  }
  const int32_t BX = int32_t(GAME.BALLX), BY = int32_t(GAME.BALLY);
  if (OVERLAPS(RGN, BX, BY, BALLSIZE, BALLSIZE)) {
    GRAPHICS::FILLCIRCLE(SCREEN, BX + BALLSIZE / 2, BY + BALLSIZE / 2, BALLSIZE / 2 - 1, BALLCOLOR);
  }
  if (GAME.PAUSED != FALSE) {
    GRAPHICS::FILLRECT(SCREEN, {0, 200, WIDTH - 1, 79}, 0xC0000000, GRAPHICS::VOXALPHA);
    BIGFONT.DRAW(SCREEN, WIDTH / 2, 240 - BIGFONT.LINEHEIGHT() / 2, "paused", TEXTCOLOR, GRAPHICS::TEXTCENTRE);
  }
}

// Losing the focus pauses the game and its sound; the overlay covers a band of the window,
// so the whole window is repainted on both changes.
void ONBLUR() {
  GAME.PAUSED = TRUE;
  AUDIO::PAUSEALL();
  ENGINE::MARKWHOLEWINDOW();
}
void ONFOCUS() {
  GAME.PAUSED = FALSE;
  AUDIO::RESUMEALL();
  ENGINE::MARKWHOLEWINDOW();
}

void ATTACH(int32_t SCR, void (*PAINT)(GRAPHICS::BITMAP&, MATH::RECT&),
            void (*FRAME)(float, INPUTEVENT, VOX::EVENT&)) {
  ENGINE::GAMESCREENS[SCR].ONPAINT += PAINT;
  ENGINE::GAMESCREENS[SCR].ONFRAME += FRAME;
}

void ONINITIALIZE() {
  // A missing font or sound fails with a reason; the game goes on without it.
  if (BIGFONT.OPENDEFAULT(56) == FALSE || SMALLFONT.OPENDEFAULT(20) == FALSE) {
    std::fprintf(stderr, "breakout: %s\n", LASTERROR());
  }
  for (auto [SOUND, FILE] : {std::pair{&PADDLESOUND, "sounds/paddle.wav"}, {&BRICKSOUND, "sounds/brick.wav"},
                            {&WALLSOUND, "sounds/wall.wav"}, {&LOSESOUND, "sounds/lose.wav"}}) {
    if (!SOUND->LOADFROMFILE(PATHS::DATA() + FILE)) std::fprintf(stderr, "breakout: %s\n", LASTERROR());
  }
  // The Web page carries the music as OGG Vorbis, a tenth of the WAV's weight; elsewhere only
  // the WAV is there.
  if (THEMUSIC.LOADFROMFILE(PATHS::DATA() + "sounds/music.ogg") ||
      THEMUSIC.LOADFROMFILE(PATHS::DATA() + "sounds/music.wav")) {
    THEMUSIC.PLAY(AUDIO::FOREVER, 1.0f);
  }
  AUDIO::MUSICVOLUME(0.4f);

  TITLESCREEN = ENGINE::NEWGAMESCREEN();
  PLAYSCREEN = ENGINE::NEWGAMESCREEN();
  OVERSCREEN = ENGINE::NEWGAMESCREEN();
  ATTACH(TITLESCREEN, TITLE_ONPAINT, MENU_ONFRAME);
  ATTACH(PLAYSCREEN, PLAY_ONPAINT, PLAY_ONFRAME);
  ATTACH(OVERSCREEN, OVER_ONPAINT, MENU_ONFRAME);
  ENGINE::GAMESCREENS[PLAYSCREEN].ONSHOW += PLAY_ONSHOW;
  ENGINE::ONBLUR += ONBLUR;
  ENGINE::ONFOCUS += ONFOCUS;
  ENGINE::TRANSITIONDURATION = 0.5f;
  ENGINE::SHOW(TITLESCREEN);  // runs the whole game
}

}  // namespace

BOOLEAN RUN(int32_t FLAGS) {
  ENGINE::ONINITIALIZE += ONINITIALIZE;
  return ENGINE::INITIALIZE(WIDTH, HEIGHT, FALSE, FLAGS);
}

}  // namespace BREAKOUT
