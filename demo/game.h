#pragma once
// The bouncing-ball game: one screen with a background picture and a translucent ball that
// falls, bounces off the bottom and side edges, lights up under the pointer and can be picked
// up with the left button, dragged and thrown. Escape or the close box ends it.
#include <kastrel/kastrel.h>

#include <cstdint>

struct BALL {
  // Top-left corner of the ball's picture, and its collision size: the picture less 7 pixels
  // across and 9 down, so the picture overlaps the right and bottom edges when it rests there.
  KASTREL::MATH::RECT RECT;
  KASTREL::GRAPHICS::BITMAP IMAGE;
  KASTREL::BOOLEAN HOVERED = KASTREL::FALSE;   // the cursor is over a visible pixel of the ball
  KASTREL::BOOLEAN DRAGGING = KASTREL::FALSE;  // held by the left button
  KASTREL::MATH::POINTF VELOCITY;              // pixels per second, positive Y downwards
};

extern int32_t MAINSCREEN;
extern KASTREL::GRAPHICS::BITMAP BMPCURSOR;
extern KASTREL::GRAPHICS::BITMAP BMPBACKGROUND;
extern BALL THEBALL;
extern float GRAVITY;      // added to VELOCITY.Y on every frame-loop pass
extern float RESTITUTION;  // share of the speed kept, reversed, on a bounce
extern float FRICTION;     // applied to VELOCITY.X on every bounce off the bottom

// Attaches GAME_ONINITIALIZE to the engine's ONINITIALIZE; runs during program start-up.
void GAME();
void GAME_ONINITIALIZE();
void MAINSCREEN_ONSHOW();
void MAINSCREEN_ONFRAME(float FELAPSED, KASTREL::ENGINE::INPUTEVENT EINPUTEVENT,
                        VOX::EVENT& EVENTDATA);
void MAINSCREEN_ONPAINT(KASTREL::GRAPHICS::BITMAP& DEST, KASTREL::MATH::RECT& RGN);
