#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/engine/screens.h"

// Animated screen switches. SHOW(SCR, EFFECT, DIR) with an EFFECT other than NONE switches at
// once as ever (the outgoing screen may refuse, ACTIVEGAMESCREEN changes, ONSHOW runs, the new
// screen gets every ONPAINT and ONFRAME and all input from the next pass on), but for
// TRANSITIONDURATION seconds each pass shows a composition of two pictures instead:
//   outgoing: the frame buffer as it was when SHOW was called, with the bitmap cursor taken out;
//   incoming: what the new screen paints. It starts as a copy of the outgoing picture and
//             takes every repaint of the new screen, so it keeps animating.
// The bitmap cursor is drawn on every composed frame, whatever the pass's input. The pass's
// progress is P = (vox_Timer() at the paint step - vox_Timer() at SHOW) / duration; the pass
// that reaches P >= 1 shows the incoming picture and painting goes on as before. What the new
// screen draws into the frame buffer outside its paint handlers is lost during a transition.
//
//   TRANSITIONDURATION = 0.3;  // once, at start-up (0.5 s unless set)
//   SHOW(GAMESCREEN, TRANSITIONEFFECT::SLIDEIN, TRANSITIONDIRECTION::FROMRIGHT);
//
// Rules:
//  - The switch is immediate (no picture composed) for the first SHOW, for SHOW while the frame
//    loop is not running (before START, in ONSTART, after SHUTDOWN), for EFFECT NONE or an
//    effect out of range, for a duration that is not above 0, for screens that are not 32 bits
//    a pixel, and when the two pictures cannot be allocated (LASTERROR() then says so).
//  - A refused SHOW changes nothing; a running transition goes on.
//  - SHOW during a transition starts a new one whose outgoing picture is what is on screen now
//    (the composition of the last pass); SHOW with NONE ends the running one at once.
//  - SHOW of the active screen with an effect animates from what is on screen to the screen's
//    fresh repaint.
//  - A SHUTDOWN that goes ahead ends a running transition at once: the frame buffer gets the
//    incoming picture (and the cursor), which is what stays on screen after the loop.
//  - A display mode set during a transition (another size or depth) ends it without drawing.
//
// The effects, for a W x H frame, outgoing picture O, incoming picture I and progress P (the
// easing is linear). Every length that moves is k(L) = floor(P * L), computed in double
// precision, for the length L it moves across. (x, y) is a frame pixel; a picture read
// outside 0 <= x < W, 0 <= y < H never happens.
//   The direction names a side, or a corner as its horizontal and vertical sides:
//   sx = -1 for FROMLEFT, FROMTOPLEFT, FROMBOTTOMLEFT; +1 for FROMRIGHT, FROMTOPRIGHT,
//   FROMBOTTOMRIGHT; 0 for FROMTOP, FROMBOTTOM. sy = -1 for FROMTOP, FROMTOPLEFT,
//   FROMTOPRIGHT; +1 for FROMBOTTOM, FROMBOTTOMLEFT, FROMBOTTOMRIGHT; 0 for FROMLEFT, FROMRIGHT.
//  FADE (direction ignored): each of the four bytes of a pixel,
//    (O * (256 - a) + I * a) >> 8 with a = k(256).
//  SLIDEIN: I moves in from the direction over O, which stays. I's corner is at
//    (dx, dy) = (sx * (W - k(W)), sy * (H - k(H))); the frame is I(x - dx, y - dy) where that
//    lies in the picture, else O(x, y).
//  SLIDEOUT: O moves out towards the opposite side, uncovering I, which stays. O's corner is
//    at (dx, dy) = (-sx * k(W), -sy * k(H)); the frame is O(x - dx, y - dy) where that lies in
//    the picture, else I(x, y).
//  ZOOMIN: I, scaled to a rectangle that grows out of the direction's side or corner, over O.
//    Across a side the rectangle grows from the whole edge (the other length stays full): its
//    width is w = k(W) when sx != 0, else W; its height h = k(H) when sy != 0, else H. It sits
//    at the direction's side: left x0 = 0 for sx <= 0, W - w for sx > 0; top y0 = 0 for
//    sy <= 0, H - h for sy > 0. Inside it the frame is I(floor((x - x0) * W / w),
//    floor((y - y0) * H / h)) (nearest pixel, in integers); outside it, O(x, y).
//  ZOOMOUT: O, scaled to a rectangle that shrinks into the direction's side or corner, over I:
//    the same as ZOOMIN with w = W - k(W) (sx != 0), h = H - k(H) (sy != 0), O inside, I outside.
//  HORISONTALSTRIPES: TRANSITIONSTRIPES (8) bands of rows; band b holds rows
//    floor(b * H / 8) to floor((b + 1) * H / 8) - 1 (some are empty below 8 rows). Each band
//    shows I over a growing part of it and O elsewhere. With sx != 0 the bands sweep along
//    their length: n = k(W) columns show I, at the side sx names (x < n for sx < 0, x >= W - n
//    for sx > 0) in bands of even number and at the other side in odd ones, bands counted
//    from the top, or from the bottom (8 - 1 - b) when sy > 0. With sx = 0 they open across
//    their height: n = k(band height) rows show I, at the band's top (sy < 0) or bottom
//    (sy > 0) in even bands and at the other edge in odd ones, counted from the top.
//  VERTICALSTRIPES: the same with rows and columns swapped: 8 bands of columns, sweeping along
//    their length (rows) with sy != 0, bands counted from the left, or from the right when
//    sx > 0; opening across their width with sy = 0.
// At P = 0 every effect shows O and at P = 1 it shows I.
namespace KASTREL::ENGINE {

// Length of an animated switch in seconds, read by SHOW; not above 0: every switch immediate.
extern constinit double TRANSITIONDURATION;

// Number of stripes of HORISONTALSTRIPES and VERTICALSTRIPES.
inline constexpr int32_t TRANSITIONSTRIPES = 8;

// TRUE from an animated SHOW until the pass that shows its incoming picture.
BOOLEAN TRANSITIONRUNNING();

// Composes one frame of EFFECT at PROGRESS (clamped to 0..1) by the rules above: DEST, OUTGOING
// and INCOMING are WIDTH x HEIGHT pictures of 32-bit pixels, rows PITCH bytes apart. DEST may
// not share memory with the others. FALSE (with LASTERROR()) for null pictures, sizes below 1,
// a PITCH below WIDTH * 4, an unknown effect or direction, or a PROGRESS that is not a number.
// NONE shows INCOMING.
BOOLEAN DRAWTRANSITION(void* DEST, const void* OUTGOING, const void* INCOMING, int32_t WIDTH,
                       int32_t HEIGHT, int32_t PITCH, TRANSITIONEFFECT EFFECT,
                       TRANSITIONDIRECTION DIR, double PROGRESS);

// The frame loop's side of a transition; games do not call these.
namespace TRANSITIONSTEP {
// SHOW, after ONSHOW: starts, restarts or ends a transition.
void SHOWN(TRANSITIONEFFECT EFFECT, TRANSITIONDIRECTION DIR);
// The paint step of a pass during a transition: the frame buffer gets the incoming picture
// back before any repaint (BEFOREPAINT), the repaint is kept, and the pass's composition is
// drawn (AFTERPAINT).
void BEFOREPAINT();
void AFTERPAINT(bool REPAINTED);
// SHUTDOWN: the incoming picture stays on screen. False when no transition was running.
bool FINISH();
// The bitmap cursor is about to be drawn at (X, Y, W, H) on the frame buffer, and was drawn:
// what lay beneath it is kept so that SHOW can take it out of the outgoing picture.
void CURSORDRAWING(int32_t X, int32_t Y, int32_t W, int32_t H);
void CURSORDRAWN();
}  // namespace TRANSITIONSTEP

}  // namespace KASTREL::ENGINE
