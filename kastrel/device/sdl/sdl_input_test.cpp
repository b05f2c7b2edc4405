#include "kastrel/device/sdl/sdl_input.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "kastrel/device/driver.h"

namespace {

using VOX::BUTTONDOUBLECLICKED, VOX::BUTTONPRESSED, VOX::BUTTONRELEASED, VOX::HWHEELMOVED,
    VOX::KEYPRESSED, VOX::KEYRELEASED, VOX::MOUSEENTERED, VOX::MOUSEEXITED, VOX::MOUSEMOVED,
    VOX::WHEELMOVED;

// A key event; the key symbol only matters with Ctrl.
SDL_Event key(Uint32 type, SDL_Scancode code, Uint16 mod = 0, Uint8 repeat = 0,
              SDL_Keycode sym = 0) {
  SDL_Event e{};
  e.type = type, e.key.keysym.scancode = code, e.key.keysym.sym = sym, e.key.keysym.mod = mod;
  e.key.repeat = repeat, e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
  return e;
}

SDL_Event text(const char* utf8) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
  return e;
}

SDL_Event motion(Sint32 x, Sint32 y) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION, e.motion.x = x, e.motion.y = y;
  return e;
}

SDL_Event button(Uint32 type, Uint8 which, Uint8 clicks = 1) {
  SDL_Event e{};
  e.type = type, e.button.button = which, e.button.clicks = clicks;
  return e;
}

SDL_Event wheel(Sint32 x, Sint32 y, Uint32 direction = SDL_MOUSEWHEEL_NORMAL) {
  SDL_Event e{};
  e.type = SDL_MOUSEWHEEL, e.wheel.x = x, e.wheel.y = y, e.wheel.direction = direction;
  return e;
}

SDL_Event window(Uint8 what, Sint32 data1 = 0, Sint32 data2 = 0, Uint32 id = 7) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT, e.window.event = what, e.window.windowID = id;
  e.window.data1 = data1, e.window.data2 = data2;
  return e;
}

constexpr Uint32 kDown = SDL_KEYDOWN, kUp = SDL_KEYUP;
using Ev = std::array<int32_t, 5>;  // type, X, Y, DX, DY (left out: 0)
using Evs = std::vector<Ev>;
using Ints = std::vector<int32_t>;

// Runs events through the translation the way the driver's pass does,
// collecting what it posts and types and what it asks of the window.
class Translation : public ::testing::Test {
 protected:
  void SetUp() override { start(0); }

  void start(int32_t flags) {
    vox_sdl_input_start(in, flags);
    in.active = true, in.window_id = 7;
    in.window_x = 100, in.window_y = 50, in.window_w = 640, in.window_h = 480;
  }

  // The events posted by this batch; `typed` holds what it typed.
  const Evs& feed(const std::vector<SDL_Event>& events) {
    posted.clear();
    typed.clear();
    for (size_t i = 0; i < events.size(); ++i) {
      const SDL_Event* next = i + 1 < events.size() ? &events[i + 1] : nullptr;
      VOX_SDL_OUTPUT out;
      out.event_count = 99;  // the translation starts from a clean output
      if (vox_sdl_translate(events[i], next, in, out)) ++i;
      for (int k = 0; k < out.event_count; ++k) {
        const VOX::EVENT& e = out.events[k];
        posted.push_back({e.TYPE, e.X, e.Y, e.DX, e.DY});
      }
      typed.insert(typed.end(), out.typed, out.typed + out.typed_count);
      switches += out.switch_mode;
      confines += out.confine;
    }
    return posted;
  }

  VOX_SDL_INPUT in{};
  Evs posted;
  Ints typed;
  int switches = 0, confines = 0;
};

TEST_F(Translation, KeysCarryScancodeAndTheCharacterOfTheirPress) {
  // Right Shift+a: the character comes from the text event right behind the
  // press; the release reports it too although Shift is up by then.
  EXPECT_EQ(
      feed({key(kDown, SDL_SCANCODE_RSHIFT, KMOD_RSHIFT), key(kDown, SDL_SCANCODE_A, KMOD_RSHIFT),
            text("A"), key(kUp, SDL_SCANCODE_RSHIFT), key(kUp, SDL_SCANCODE_A)}),
      (Evs{{KEYPRESSED, 42}, {KEYPRESSED, 30, 'A'}, {KEYRELEASED, 42}, {KEYRELEASED, 30, 'A'}}));
  EXPECT_EQ(typed, Ints{'A'});

  // Keys without a character (a keypad key doubles the arrow); a text event
  // behind another event is not taken.
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_UP), key(kDown, SDL_SCANCODE_KP_8),
                  key(kUp, SDL_SCANCODE_KP_8), text("x")}),
            (Evs{{KEYPRESSED, 72}, {KEYPRESSED, 72}, {KEYRELEASED, 72}}));
  EXPECT_EQ(typed, (Ints{0x48FF, 0x48FF, 'x'}));

  // Latin-1 characters are reported as such and typed in code page 437;
  // characters beyond 255 give ASCII 0; malformed text is skipped.
  EXPECT_EQ(
      feed({key(kDown, SDL_SCANCODE_2), text("\xC3\xA9"), key(kDown, SDL_SCANCODE_E),
            text("\xE2\x82\xAC"), text("\xC3"), text("\xFF\xE2\x82"), text("\xF0\x9F\x98\x80z")}),
      (Evs{{KEYPRESSED, 3, 0xE9}, {KEYPRESSED, 18}}));
  EXPECT_EQ(typed, (Ints{0x82, 'z'}));

  // A release whose press the window never saw still reports something sound.
  EXPECT_EQ(feed({key(kUp, SDL_SCANCODE_RETURN)}), (Evs{{KEYRELEASED, 28, 13}}));
}

TEST_F(Translation, ModifierCombinations) {
  // Ctrl with a letter gives its control character, from the layout's symbol.
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_LCTRL, KMOD_LCTRL),
                  key(kDown, SDL_SCANCODE_C, KMOD_LCTRL, 0, SDLK_c),
                  key(kDown, SDL_SCANCODE_Q, KMOD_LCTRL, 0, SDLK_a)}),
            (Evs{{KEYPRESSED, 29}, {KEYPRESSED, 46, 3}, {KEYPRESSED, 16, 1}}));
  EXPECT_EQ(typed, (Ints{3, 1}));

  // Alt with a letter: no character, the extended code is typed, the text dropped.
  EXPECT_EQ(
      feed({key(kDown, SDL_SCANCODE_A, KMOD_LALT), text("a"), key(kUp, SDL_SCANCODE_A, KMOD_LALT)}),
      (Evs{{KEYPRESSED, 30}, {KEYRELEASED, 30}}));
  EXPECT_EQ(typed, Ints{0x1EFF});

  // F10 and Alt alone post nothing, press or release; nor does Alt+F4, even
  // when Alt comes up first.
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_F10), key(kUp, SDL_SCANCODE_F10),
                  key(kDown, SDL_SCANCODE_LALT, KMOD_LALT), key(kDown, SDL_SCANCODE_F4, KMOD_LALT),
                  key(kUp, SDL_SCANCODE_LALT), key(kUp, SDL_SCANCODE_F4),
                  key(kDown, SDL_SCANCODE_RALT, KMOD_RALT), key(kUp, SDL_SCANCODE_RALT)}),
            Evs{});
  EXPECT_TRUE(typed.empty());

  // AltGr layouts report a mode key, not Alt: its characters come through.
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_Q, KMOD_MODE), text("@")}), (Evs{{KEYPRESSED, 16, '@'}}));
}

TEST_F(Translation, WindowedFullScreenSwitch) {
  // Alt+Enter: the exit goes first, no key event; held keys do not switch again.
  feed({motion(10, 10)});
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_RETURN, KMOD_LALT),
                  key(kDown, SDL_SCANCODE_RETURN, KMOD_LALT, 1), key(kUp, SDL_SCANCODE_RETURN)}),
            (Evs{{MOUSEEXITED}}));
  EXPECT_EQ(switches, 1);

  // Minimising switches too, but only a window that is up.
  feed({window(SDL_WINDOWEVENT_MINIMIZED)});
  EXPECT_EQ(switches, 2);
  in.active = false;
  feed({window(SDL_WINDOWEVENT_MINIMIZED)});
  EXPECT_EQ(switches, 2);

  // With switching disabled only the exit is posted, and the pointer counts as
  // still inside.
  start(MODE_NOSWITCH);
  in.pointer_inside = true;
  EXPECT_EQ(feed({key(kDown, SDL_SCANCODE_KP_ENTER, KMOD_RALT), window(SDL_WINDOWEVENT_MINIMIZED)}),
            (Evs{{MOUSEEXITED}, {MOUSEEXITED}}));
  EXPECT_EQ(switches, 2);
  EXPECT_TRUE(in.pointer_inside);
}

TEST_F(Translation, PointerMovesEntryAndExit) {
  // The first move enters, with no displacement; moves are measured on the desktop.
  EXPECT_EQ(
      feed({motion(10, 20), motion(15, 20), motion(15, 20), motion(14, 22)}),
      (Evs{{MOUSEENTERED, 10, 20, 0, 0}, {MOUSEMOVED, 15, 20, 5, 0}, {MOUSEMOVED, 14, 22, -1, 2}}));

  // The window moved under a still pointer: new client position, no displacement.
  EXPECT_EQ(feed({window(SDL_WINDOWEVENT_MOVED, 90, 50), motion(24, 22)}), Evs{});
  EXPECT_EQ(in.pointer_x, 24);

  // Leaving posts one exit; the next move inside enters again.
  EXPECT_EQ(feed({window(SDL_WINDOWEVENT_LEAVE), window(SDL_WINDOWEVENT_LEAVE), motion(30, 30)}),
            (Evs{{MOUSEEXITED}, {MOUSEENTERED, 30, 30, 6, 8}}));
  EXPECT_EQ(confines, 0);

  // Leaving without capture, SDL's move to the edge is not the pointer's; a
  // move to the edge that stays is.
  EXPECT_EQ(feed({motion(639, 40), window(SDL_WINDOWEVENT_LEAVE), motion(30, 0), motion(0, 0),
                  motion(30, 30)}),
            (Evs{{MOUSEEXITED}, {MOUSEENTERED, 30, 0, 0, -30}, {MOUSEMOVED, 0, 0, -30, 0},
                 {MOUSEMOVED, 30, 30, 30, 30}}));

  // Under capture positions outside the client area arrive as they are and do
  // not count as an entry; with confinement an entry confines again.
  feed({window(SDL_WINDOWEVENT_LEAVE)});
  in.clip = true;
  EXPECT_EQ(feed({motion(-6, 500), motion(3, 3)}),
            (Evs{{MOUSEMOVED, -6, 500, -36, 470}, {MOUSEENTERED, 3, 3, 9, -497}}));
  EXPECT_EQ(confines, 1);

  // Events of another window and moves before the window is up post nothing.
  feed({window(SDL_WINDOWEVENT_LEAVE, 0, 0, 8)});
  EXPECT_TRUE(in.pointer_inside);
  in.active = false;
  EXPECT_EQ(feed({motion(50, 50), window(SDL_WINDOWEVENT_LEAVE)}), Evs{});
}

TEST_F(Translation, ButtonsAndWheels) {
  const auto down = [](Uint8 which, Uint8 clicks = 1) {
    return button(SDL_MOUSEBUTTONDOWN, which, clicks);
  };
  // Left and right are 1 and 2 (xdotool shows those); double clicks, the extra
  // buttons and releases here; unknown buttons are ignored.
  EXPECT_EQ(feed({down(SDL_BUTTON_LEFT), down(SDL_BUTTON_MIDDLE), down(SDL_BUTTON_MIDDLE, 2),
                  down(SDL_BUTTON_X1, 3), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_X2), down(9),
                  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT)}),
            (Evs{{BUTTONPRESSED, 1}, {BUTTONPRESSED, 4}, {BUTTONDOUBLECLICKED, 4},
                 {BUTTONPRESSED, 8}, {BUTTONRELEASED, 16}, {BUTTONRELEASED, 1}}));
  EXPECT_EQ(in.buttons, 4 | 8);
  // SDL counts per button: a click of another button between two breaks the pair.
  EXPECT_EQ(feed({down(SDL_BUTTON_LEFT), down(SDL_BUTTON_RIGHT), down(SDL_BUTTON_LEFT, 2),
                  down(SDL_BUTTON_LEFT, 3), down(SDL_BUTTON_LEFT, 4)}),
            (Evs{{BUTTONPRESSED, 1}, {BUTTONPRESSED, 2}, {BUTTONPRESSED, 1},
                 {BUTTONDOUBLECLICKED, 1}, {BUTTONPRESSED, 1}}));

  // Wheels: running totals, one step per event whatever the amount.
  EXPECT_EQ(feed({wheel(0, 1), wheel(0, 3), wheel(0, 1), wheel(0, -2), wheel(1, 0),
                  wheel(-1, 0, SDL_MOUSEWHEEL_FLIPPED)}),
            (Evs{{WHEELMOVED, 1}, {WHEELMOVED, 2}, {WHEELMOVED, 3}, {WHEELMOVED, 2},
                 {HWHEELMOVED, 1}, {HWHEELMOVED, 2}}));
  // A new start resets the vertical total and the buttons, not the horizontal total.
  in.buttons = 5;
  start(0);
  EXPECT_EQ((Ints{in.wheel, in.hwheel, in.buttons}), (Ints{0, 2, 0}));
}

}  // namespace
