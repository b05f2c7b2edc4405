#pragma once
#include <cstdint>

#include "kastrel/device/event.h"

// Device events and input state. The presentation driver queues events from its own thread
// (vox_hPostEvent, screen.h); the program polls them here.
//
// Threads: vox_GfxEvent, vox_GetKey, vox_GfxMultikey, vox_GetMouse / vox_GfxGetMouse and the
// vox_GfxPad* calls only read state and are safe from any thread (a reader thread must not
// outlive the screen it reads): none of them waits for the screen lock, which the frame loop
// holds for a whole pass (the pointer is read from a copy the presentation thread keeps up to
// date). vox_SetMouse / vox_GfxSetMouse, vox_SleepEx and every call of display.h belong to the
// program thread: the thread that opened the screen. From another thread vox_SetMouse does
// nothing but set vox_GetError() to 1 and say why in KASTREL::LASTERROR().

// Takes the oldest queued event into *event and returns -1, or returns 0 (event untouched)
// when none is waiting or no screen is open. With a null event it only reports whether one
// is waiting and removes nothing. Safe whether or not the program holds the screen lock.
int32_t vox_GfxEvent(VOX::EVENT* event);

// Pointer position in client pixels, wheel total, button mask (1 left, 2 right, 4 middle,
// 8 and 16 extra), clip flag. Every output is -1 (and vox_GetError() 1) without a screen,
// without a driver that reads the mouse, or while the pointer is outside the window. Outputs
// may be null.
void vox_GetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
// Places the pointer (x < 0: leave it), shows (1) or hides (0) the cursor, confines (1) or
// frees (0) it; negative cursor or clip values change nothing. vox_GetError() 1 without a
// screen or a driver that moves the mouse.
void vox_SetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
// The screen's versions of the two above; they return the error number they set.
int32_t vox_GfxGetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t vox_GfxSetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);

// -1 while the key with this scancode (0..127) is held, otherwise 0, as the program has seen
// it: while the program takes events (it called vox_GfxEvent with a record in the last
// second), a key with events still in the queue reads as the last of its events taken left
// it, so the poll agrees with every KEYPRESSED, KEYREPEATED and KEYRELEASED at the moment the
// program takes it, even for a tap shorter than a pass. Other keys, and every key of a
// program that does not take events, read as the keyboard stood at the last pass. When the
// window loses the focus every key reads as released (and its release is posted).
int32_t vox_GfxMultikey(int32_t scancode);

// Text input: while on, every character typed also posts a TEXTTYPED event (event.h) carrying
// it in UTF-8, including characters the key events cannot carry (a euro sign, CJK text) and
// those composed from several keys. The key events stay as they are. Off at start.
void vox_GfxTextInput(int32_t on);
int32_t vox_GfxTextInputOn();

// Gamepads: numbering, the PAD_* names and the events are in event.h. Without a screen, or
// with a driver that reads no pads, there are none. While the window lacks the focus, pads
// read as released and centred and post no presses or moves; when it gains the focus again
// (after FOCUSGAINED), buttons and sticks held then post their presses and moves and read
// held, as keys do.
// How many pads are connected now (their numbers need not be consecutive).
int32_t vox_GfxPadCount();
// -1 while pad number `pad` is connected, otherwise 0.
int32_t vox_GfxPadConnected(int32_t pad);
// -1 while the PAD_* button is held on pad `pad`, otherwise 0 (also for no such pad or button).
int32_t vox_GfxPadButton(int32_t pad, int32_t button);
// The PAD_* axis's value as of the last pass (about 25 ms old at most), with the dead zone
// applied: values from -dead zone to +dead zone read 0. 0 for no such pad or axis.
int32_t vox_GfxPadAxis(int32_t pad, int32_t axis);
// Sets the dead zone (0..32767, default 8000) and returns the one before; -1 only returns it.
// It centres resting sticks: values within it read 0. Other values change nothing, return
// -1 and set vox_GetError() to 1.
int32_t vox_GfxPadDeadZone(int32_t dead_zone);
// Sets the axis step (0..32767, default 1024, 1/64 of the travel) and returns the one before;
// -1 only returns it. An axis posts PADAXISMOVED once its value moved by the step or more
// since the last one posted (0: on every change), and always when it comes to rest (0) or
// reaches an end, so sticks cannot flood the queue. Bad values as for the dead zone.
int32_t vox_GfxPadAxisStep(int32_t step);

// Takes the oldest key from the typed-key buffer (characters, extended codes such as 0x3BFF
// for F1, 0x6BFF for a close request), or 0 when it is empty.
int32_t vox_GetKey();

// kind 1: waits milliseconds (the frame loop's pause). kind 0: a pause that typed keys cut
// short: -1 waits until a key is typed, above 99 returns early once a key is typed, 1..99
// waits plainly. Other kinds set vox_GetError() to 1 and do not wait.
void vox_SleepEx(int32_t milliseconds, int32_t kind);

namespace KASTREL {

// The input-state readings above (vox_GfxMultikey: scancode and result; vox_GfxGetMouse and
// vox_GetMouse: X, Y, wheel, buttons, clip and 0 for a reading or 1 for none; vox_GetKey: the
// key; the vox_GfxPad* polls: which call (0 count, 1 connected, 2 button, 3 axis), pad,
// button or axis, and result), and the display's own readings (which call: 0
// vox_GfxPresentCount, 1 vox_GfxFullscreen, 2 vox_GfxShownCount, 3 vox_GfxScreenList; and
// result) pass through FILTER when one is set,
// which sees the values read and may replace them. Session recording keeps them and replay
// answers them from the recording. FILTER runs on the thread that reads.
enum INPUTREADING : int32_t {
  READMULTIKEY = 1,
  READMOUSE = 2,
  READKEY = 3,
  READPAD = 4,
  READDISPLAY = 5,
  READAUDIO = 6  // the sound device's answers (call, answer), through outside_readings.h
};
using INPUTFILTER = void (*)(INPUTREADING KIND, int32_t* VALUES, int32_t COUNT);
void SETINPUTFILTER(INPUTFILTER FILTER);
// Passes a reading through the filter; the display's calls use it too.
void FILTERREADING(INPUTREADING KIND, int32_t* VALUES, int32_t COUNT);

}  // namespace KASTREL
