#include "game.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace KASTREL;
using ENGINE::INPUTEVENT;

int32_t MAINSCREEN = 0;
GRAPHICS::BITMAP BMPCURSOR;
GRAPHICS::BITMAP BMPBACKGROUND;
BALL THEBALL;
float GRAVITY = 20.0f;
float RESTITUTION = 0.7f;
float FRICTION = 0.8f;

namespace {

// The escape key's scancode and the left mouse button.
constexpr int32_t KEYESCAPE = 1;
constexpr int32_t LEFTBUTTON = 1;
// Alpha of the ball at rest and under the cursor, and the alpha a pixel needs to count as
// part of the ball for the hover test.
constexpr uint8_t FADEDALPHA = 205;
constexpr uint8_t LITALPHA = 255;
constexpr uint32_t HOVERALPHA = 30;

void MARKWHOLEWINDOW() {
  MATH::RECT WHOLE{0, 0, 0, 0};
  ENGINE::MARKDIRTY(WHOLE);
}

// POS + FELAPSED * SPEED to the nearest pixel, halves to even. A result beyond the int32 range
// (a stalled pass of many seconds) stops at its end instead of wrapping to the other side.
int32_t MOVED(int32_t POS, float FELAPSED, float SPEED) {
  const double TARGET = double(POS) + double(FELAPSED) * double(SPEED);
  if (TARGET != TARGET) return POS;
  return MATH::ROUNDTOINT(std::clamp(TARGET, double(INT32_MIN), double(INT32_MAX)));
}

// Keeps a coordinate of the ball inside [0, LIMIT - SIZE], testing the low edge first. The sum
// is taken in 64 bits, so a position far off the window cannot wrap back into it.
int32_t CLAMPED(int64_t POS, int32_t SIZE, int32_t LIMIT) {
  if (POS < 0) return 0;
  if (POS + SIZE > LIMIT) return LIMIT - SIZE;
  return int32_t(POS);
}

// Twice a pointer motion as int32 (wrapping), then as float32: the speed of a throw.
float THROWSPEED(int32_t MOTION) { return float(int32_t(uint32_t(MOTION) * 2u)); }

void INPUTSTEP(INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA) {
  switch (EINPUTEVENT) {
    case INPUTEVENT::KEYPRESS:
      if (EVENTDATA.SCANCODE == KEYESCAPE) ENGINE::SHUTDOWN(FALSE);
      break;
    case INPUTEVENT::MOUSEMOVE:
      if (THEBALL.DRAGGING != FALSE) {
        // The ball follows the pointer's motion, even once the pointer has left it.
        const int64_t X = int64_t(THEBALL.RECT.X) + EVENTDATA.DX;
        const int64_t Y = int64_t(THEBALL.RECT.Y) + EVENTDATA.DY;
        THEBALL.VELOCITY.X = THROWSPEED(EVENTDATA.DX);
        THEBALL.VELOCITY.Y = THROWSPEED(EVENTDATA.DY);
        THEBALL.RECT.X = CLAMPED(X, THEBALL.RECT.W, ENGINE::SCREENRESOLUTION.WIDTH);
        THEBALL.RECT.Y = CLAMPED(Y, THEBALL.RECT.H, ENGINE::SCREENRESOLUTION.HEIGHT);
        MARKWHOLEWINDOW();
      } else {
        const BOOLEAN OVER =
            ENGINE::MOUSEOVEROBJECT(THEBALL.IMAGE, THEBALL.RECT, ENGINE::ALPHAVALUE, HOVERALPHA);
        if (OVER != FALSE && THEBALL.HOVERED != TRUE) {
          THEBALL.HOVERED = TRUE;
          THEBALL.IMAGE.ALPHA(LITALPHA);
          MARKWHOLEWINDOW();
        } else if (OVER == FALSE && THEBALL.HOVERED != FALSE) {
          THEBALL.HOVERED = FALSE;
          THEBALL.IMAGE.ALPHA(FADEDALPHA);
          MARKWHOLEWINDOW();
        }
      }
      break;
    case INPUTEVENT::MOUSEBUTTONPRESS:
      if (EVENTDATA.BUTTON == LEFTBUTTON && THEBALL.HOVERED != FALSE) THEBALL.DRAGGING = TRUE;
      break;
    case INPUTEVENT::MOUSEBUTTONRELEASE:
      // The ball keeps the speed of the last drag move: releasing while moving throws it.
      if (EVENTDATA.BUTTON == LEFTBUTTON) THEBALL.DRAGGING = FALSE;
      break;
    default:
      break;
  }
}

// Gravity is added once per pass, whatever the pass's length; there is no top edge.
void PHYSICSSTEP(float FELAPSED) {
  BALL& B = THEBALL;
  const int32_t WIDTH = ENGINE::SCREENRESOLUTION.WIDTH;
  const int32_t HEIGHT = ENGINE::SCREENRESOLUTION.HEIGHT;
  B.VELOCITY.Y = GRAVITY + B.VELOCITY.Y;
  B.RECT.Y = MOVED(B.RECT.Y, FELAPSED, B.VELOCITY.Y);
  B.RECT.X = MOVED(B.RECT.X, FELAPSED, B.VELOCITY.X);
  // The bottom first, so a bounce in a corner applies both.
  if (int64_t(B.RECT.Y) + B.RECT.H > HEIGHT) {
    B.RECT.Y = HEIGHT - B.RECT.H;
    B.VELOCITY.Y = -RESTITUTION * B.VELOCITY.Y;
    B.VELOCITY.X = FRICTION * B.VELOCITY.X;
  }
  if (B.RECT.X < 0) {
    B.RECT.X = 0;
    B.VELOCITY.X = -RESTITUTION * B.VELOCITY.X;
  } else if (int64_t(B.RECT.X) + B.RECT.W > WIDTH) {
    B.RECT.X = WIDTH - B.RECT.W;
    B.VELOCITY.X = -RESTITUTION * B.VELOCITY.X;
  }
  MARKWHOLEWINDOW();
}

// Attaches the game during program start-up, once the globals above are constructed.
struct STARTUP {
  STARTUP() { GAME(); }
} GAMESTARTUP;

}  // namespace

void GAME() { ENGINE::ONINITIALIZE += GAME_ONINITIALIZE; }

void GAME_ONINITIALIZE() {
  MAINSCREEN = ENGINE::NEWGAMESCREEN();
  ENGINE::GAMESCREENS[MAINSCREEN].ONSHOW += MAINSCREEN_ONSHOW;
  ENGINE::GAMESCREENS[MAINSCREEN].ONFRAME += MAINSCREEN_ONFRAME;
  ENGINE::GAMESCREENS[MAINSCREEN].ONPAINT += MAINSCREEN_ONPAINT;
  // The first screen shown runs the frame loop: the whole game happens inside this call.
  ENGINE::SHOW(MAINSCREEN, ENGINE::TRANSITIONEFFECT::NONE, ENGINE::TRANSITIONDIRECTION::FROMLEFT);
}

void MAINSCREEN_ONSHOW() {
  // A missing picture leaves its bitmap empty and the game goes on without it.
  // Beside the installed program, or in the working directory.
  const std::string IMAGES = PATHS::DATA() + "images/";
  BMPCURSOR.LOADFROMFILE(IMAGES + "cursor.png", 0, 0, 0, 0);
  BMPBACKGROUND.LOADFROMFILE(IMAGES + "background.png", 0, 0, 0, 0);
  THEBALL.IMAGE.LOADFROMFILE(IMAGES + "ball.png", 0, 0, 0, 0);
  // Fades work from the saved alpha bytes, so lighting up and fading again never compound.
  THEBALL.IMAGE.PRESERVEALPHACHANNEL();
  THEBALL.IMAGE.ALPHA(FADEDALPHA);

  const int32_t IMAGEW = int32_t(THEBALL.IMAGE.WIDTH());
  const int32_t IMAGEH = int32_t(THEBALL.IMAGE.HEIGHT());
  THEBALL.RECT.X = MATH::ROUNDTOINT((ENGINE::SCREENRESOLUTION.WIDTH - IMAGEW) / 2.0);
  THEBALL.RECT.Y = 0;
  THEBALL.RECT.W = IMAGEW - 7;
  THEBALL.RECT.H = IMAGEH - 9;

  // The cursor picture hangs 5 pixels right of and below the pointer; its corner is the point
  // the hover test uses.
  ENGINE::SETCURSOR(&BMPCURSOR, 5, 5);
  ENGINE::SHOWCURSOR();
}

void MAINSCREEN_ONFRAME(float FELAPSED, INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA) {
  INPUTSTEP(EINPUTEVENT, EVENTDATA);
  if (THEBALL.DRAGGING != TRUE) PHYSICSSTEP(FELAPSED);
}

// Every repaint covers the whole window, so the handler draws everything whatever RGN is.
void MAINSCREEN_ONPAINT(GRAPHICS::BITMAP& DEST, MATH::RECT& /*RGN*/) {
  BMPBACKGROUND.DRAWTO(DEST, 0, 0, 0, 0, 0, 0, GRAPHICS::VOXALPHA, nullptr, nullptr);
  THEBALL.IMAGE.DRAWTO(DEST, THEBALL.RECT.X, THEBALL.RECT.Y, 0, 0, 0, 0, GRAPHICS::VOXALPHA,
                       nullptr, nullptr);
}
