#include "kastrel/device/sdl_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kastrel/device/driver.h"

namespace {

SDL_Event key(Uint32 type, SDL_Scancode code, SDL_Keycode sym, Uint16 mod = 0, Uint8 repeat = 0) {
  SDL_Event e{};
  e.type = type;
  e.key.keysym.scancode = code;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  e.key.repeat = repeat;
  e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
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
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  return e;
}

SDL_Event button(Uint32 type, Uint8 which, Uint8 clicks = 1) {
  SDL_Event e{};
  e.type = type;
  e.button.button = which;
  e.button.clicks = clicks;
  return e;
}

SDL_Event wheel(Sint32 x, Sint32 y, Uint32 direction = SDL_MOUSEWHEEL_NORMAL) {
  SDL_Event e{};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.x = x;
  e.wheel.y = y;
  e.wheel.direction = direction;
  return e;
}

SDL_Event window(Uint8 what, Sint32 data1 = 0, Sint32 data2 = 0, Uint32 id = 7) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = what;
  e.window.windowID = id;
  e.window.data1 = data1;
  e.window.data2 = data2;
  return e;
}

struct Ev {
  int32_t type, a, b, dx, dy;
  bool operator==(const Ev&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ev& e) {
  return os << "{" << e.type << "," << e.a << "," << e.b << "," << e.dx << "," << e.dy << "}";
}

// Runs events through the translation the way the driver's pass does,
// collecting what it posts and types and what it asks of the window.
class Translation : public ::testing::Test {
 protected:
  void SetUp() override { start(0); }

  void start(int32_t flags) {
    vox_sdl_input_start(in, flags);
    in.active = true;
    in.window_id = 7;
    in.window_x = 100;
    in.window_y = 50;
    in.window_w = 640;
    in.window_h = 480;
  }

  void feed(const std::vector<SDL_Event>& events) {
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
      repaints += out.repaint;
    }
  }

  std::vector<int32_t> types() const {
    std::vector<int32_t> t;
    for (const Ev& e : posted) t.push_back(e.type);
    return t;
  }

  VOX_SDL_INPUT in{};
  std::vector<Ev> posted;
  std::vector<int32_t> typed;
  int switches = 0, confines = 0, repaints = 0;
};

TEST_F(Translation, KeysCarryScancodeAndTheCharacterOfTheirPress) {
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE),
        key(SDL_KEYUP, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE)});
  EXPECT_EQ(posted,
            (std::vector<Ev>{{VOX::KEYPRESSED, 1, 27, 0, 0}, {VOX::KEYRELEASED, 1, 27, 0, 0}}));
  EXPECT_EQ(typed, std::vector<int32_t>{27});

  // Shift+a: the character comes from the text event right behind the press;
  // the release reports it too although Shift is up by then.
  posted.clear();
  typed.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, KMOD_RSHIFT),
        key(SDL_KEYDOWN, SDL_SCANCODE_A, SDLK_a, KMOD_RSHIFT), text("A"),
        key(SDL_KEYUP, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT), key(SDL_KEYUP, SDL_SCANCODE_A, SDLK_a)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 42, 0, 0, 0},
                                     {VOX::KEYPRESSED, 30, 'A', 0, 0},
                                     {VOX::KEYRELEASED, 42, 0, 0, 0},
                                     {VOX::KEYRELEASED, 30, 'A', 0, 0}}));
  EXPECT_EQ(typed, std::vector<int32_t>{'A'});

  // A held key: press, repeats, one release, all with the same scancode.
  posted.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_B, SDLK_b), text("b"),
        key(SDL_KEYDOWN, SDL_SCANCODE_B, SDLK_b, 0, 1), text("b"),
        key(SDL_KEYDOWN, SDL_SCANCODE_B, SDLK_b, 0, 1), text("b"),
        key(SDL_KEYUP, SDL_SCANCODE_B, SDLK_b)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 48, 'b', 0, 0},
                                     {VOX::KEYREPEATED, 48, 'b', 0, 0},
                                     {VOX::KEYREPEATED, 48, 'b', 0, 0},
                                     {VOX::KEYRELEASED, 48, 'b', 0, 0}}));

  // Keys without a character; a text event behind another event is not taken.
  posted.clear();
  typed.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_UP, SDLK_UP), key(SDL_KEYDOWN, SDL_SCANCODE_KP_8, SDLK_KP_8),
        key(SDL_KEYUP, SDL_SCANCODE_KP_8, SDLK_KP_8), text("x")});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 72, 0, 0, 0},
                                     {VOX::KEYPRESSED, 72, 0, 0, 0},
                                     {VOX::KEYRELEASED, 72, 0, 0, 0}}));
  EXPECT_EQ(typed, (std::vector<int32_t>{0x48FF, 0x48FF, 'x'}));

  // Latin-1 characters are reported as such and typed in code page 437;
  // characters beyond 255 give ASCII 0.
  posted.clear();
  typed.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_2, SDLK_2), text("\xC3\xA9"),
        key(SDL_KEYDOWN, SDL_SCANCODE_E, SDLK_e), text("\xE2\x82\xAC")});
  EXPECT_EQ(posted,
            (std::vector<Ev>{{VOX::KEYPRESSED, 3, 0xE9, 0, 0}, {VOX::KEYPRESSED, 18, 0, 0, 0}}));
  EXPECT_EQ(typed, std::vector<int32_t>{0x82});

  // A release whose press the window never saw still reports something sound.
  posted.clear();
  feed({key(SDL_KEYUP, SDL_SCANCODE_RETURN, SDLK_RETURN)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYRELEASED, 28, 13, 0, 0}}));
}

TEST_F(Translation, ModifierCombinations) {
  // Ctrl with a letter gives its control character, from the layout's symbol.
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_LCTRL, SDLK_LCTRL, KMOD_LCTRL),
        key(SDL_KEYDOWN, SDL_SCANCODE_C, SDLK_c, KMOD_LCTRL),
        key(SDL_KEYDOWN, SDL_SCANCODE_Q, SDLK_a, KMOD_LCTRL)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 29, 0, 0, 0},
                                     {VOX::KEYPRESSED, 46, 3, 0, 0},
                                     {VOX::KEYPRESSED, 16, 1, 0, 0}}));
  EXPECT_EQ(typed, (std::vector<int32_t>{3, 1}));

  // Alt with a letter: no character, the extended code is typed, the text dropped.
  posted.clear();
  typed.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_A, SDLK_a, KMOD_LALT), text("a"),
        key(SDL_KEYUP, SDL_SCANCODE_A, SDLK_a, KMOD_LALT)});
  EXPECT_EQ(posted,
            (std::vector<Ev>{{VOX::KEYPRESSED, 30, 0, 0, 0}, {VOX::KEYRELEASED, 30, 0, 0, 0}}));
  EXPECT_EQ(typed, std::vector<int32_t>{0x1EFF});

  // F10 and Alt alone post nothing, press or release; nor does Alt+F4, even
  // when Alt comes up first.
  posted.clear();
  typed.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_F10, SDLK_F10), key(SDL_KEYUP, SDL_SCANCODE_F10, SDLK_F10),
        key(SDL_KEYDOWN, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT),
        key(SDL_KEYDOWN, SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT),
        key(SDL_KEYUP, SDL_SCANCODE_LALT, SDLK_LALT), key(SDL_KEYUP, SDL_SCANCODE_F4, SDLK_F4),
        key(SDL_KEYDOWN, SDL_SCANCODE_RALT, SDLK_RALT, KMOD_RALT),
        key(SDL_KEYUP, SDL_SCANCODE_RALT, SDLK_RALT)});
  EXPECT_TRUE(posted.empty());
  EXPECT_TRUE(typed.empty());

  // AltGr layouts report a mode key, not Alt: its characters come through.
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_Q, SDLK_q, KMOD_MODE), text("@")});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 16, '@', 0, 0}}));
}

TEST_F(Translation, WindowedFullScreenSwitch) {
  // Alt+Enter: the exit goes first, no key event; held keys do not switch again.
  feed({motion(10, 10)});
  ASSERT_TRUE(in.pointer_inside);
  posted.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT),
        key(SDL_KEYDOWN, SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT, 1),
        key(SDL_KEYUP, SDL_SCANCODE_RETURN, SDLK_RETURN)});
  EXPECT_EQ(switches, 1);
  EXPECT_EQ(types(), std::vector<int32_t>{VOX::MOUSEEXITED});

  // Minimising switches too, but only a window that is up.
  posted.clear();
  feed({window(SDL_WINDOWEVENT_MINIMIZED)});
  EXPECT_EQ(switches, 2);
  in.active = false;
  feed({window(SDL_WINDOWEVENT_MINIMIZED)});
  EXPECT_EQ(switches, 2);

  // With switching disabled only the exit is posted, and the pointer counts as
  // still inside.
  start(MODE_NOSWITCH);
  in.pointer_inside = true;
  posted.clear();
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, KMOD_RALT),
        window(SDL_WINDOWEVENT_MINIMIZED)});
  EXPECT_EQ(switches, 2);
  EXPECT_EQ(types(), (std::vector<int32_t>{VOX::MOUSEEXITED, VOX::MOUSEEXITED}));
  EXPECT_TRUE(in.pointer_inside);
}

TEST_F(Translation, PointerMovesEntryAndExit) {
  // The first move enters, with no displacement; moves are measured on the desktop.
  feed({motion(10, 20), motion(15, 20), motion(15, 20), motion(14, 22)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::MOUSEENTERED, 10, 20, 0, 0},
                                     {VOX::MOUSEMOVED, 15, 20, 5, 0},
                                     {VOX::MOUSEMOVED, 14, 22, -1, 2}}));
  EXPECT_EQ(in.pointer_x, 14);
  EXPECT_TRUE(in.over_client);

  // The window moved under a still pointer: new client position, no displacement.
  posted.clear();
  feed({window(SDL_WINDOWEVENT_MOVED, 90, 50), motion(24, 22)});
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(in.pointer_x, 24);

  // Leaving posts one exit; the next move inside enters again.
  feed({window(SDL_WINDOWEVENT_LEAVE), window(SDL_WINDOWEVENT_LEAVE), motion(30, 30)});
  EXPECT_EQ(posted,
            (std::vector<Ev>{{VOX::MOUSEEXITED, 0, 0, 0, 0}, {VOX::MOUSEENTERED, 30, 30, 6, 8}}));
  EXPECT_FALSE(confines);

  // Under capture positions outside the client area arrive as they are and do
  // not count as an entry; with confinement an entry confines again.
  feed({window(SDL_WINDOWEVENT_LEAVE)});
  posted.clear();
  in.clip = true;
  feed({motion(-6, 500), motion(3, 3)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::MOUSEMOVED, -6, 500, -36, 470},
                                     {VOX::MOUSEENTERED, 3, 3, 9, -497}}));
  EXPECT_EQ(confines, 1);

  // Events of another window and moves before the window is up post nothing.
  posted.clear();
  feed({window(SDL_WINDOWEVENT_LEAVE, 0, 0, 8)});
  EXPECT_TRUE(in.pointer_inside);
  in.active = false;
  feed({motion(50, 50), window(SDL_WINDOWEVENT_LEAVE)});
  EXPECT_TRUE(posted.empty());
}

TEST_F(Translation, ButtonsWheelsAndClose) {
  feed({button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT),
        button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT)});
  EXPECT_EQ(in.buttons, 3);
  feed({button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT)});
  EXPECT_EQ(in.buttons, 0);
  feed({button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 2),
        button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_X1, 3), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_X2),
        button(SDL_MOUSEBUTTONDOWN, 9)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::BUTTONPRESSED, 1, 0, 0, 0},
                                     {VOX::BUTTONPRESSED, 2, 0, 0, 0},
                                     {VOX::BUTTONRELEASED, 1, 0, 0, 0},
                                     {VOX::BUTTONRELEASED, 2, 0, 0, 0},
                                     {VOX::BUTTONDOUBLECLICKED, 4, 0, 0, 0},
                                     {VOX::BUTTONPRESSED, 8, 0, 0, 0},
                                     {VOX::BUTTONRELEASED, 16, 0, 0, 0}}));

  // Wheels: running totals, one step per event whatever the amount.
  posted.clear();
  feed({wheel(0, 1), wheel(0, 3), wheel(0, 1), wheel(0, -2), wheel(1, 0),
        wheel(-1, 0, SDL_MOUSEWHEEL_FLIPPED)});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::WHEELMOVED, 1, 0, 0, 0},
                                     {VOX::WHEELMOVED, 2, 0, 0, 0},
                                     {VOX::WHEELMOVED, 3, 0, 0, 0},
                                     {VOX::WHEELMOVED, 2, 0, 0, 0},
                                     {VOX::HWHEELMOVED, 1, 0, 0, 0},
                                     {VOX::HWHEELMOVED, 2, 0, 0, 0}}));
  // A new start resets the vertical total and the buttons, not the horizontal total.
  in.buttons = 5;
  start(0);
  EXPECT_EQ(in.wheel, 0);
  EXPECT_EQ(in.hwheel, 2);
  EXPECT_EQ(in.buttons, 0);

  // The close box asks, types the close key and leaves the window alone.
  posted.clear();
  feed({window(SDL_WINDOWEVENT_CLOSE), window(SDL_WINDOWEVENT_EXPOSED)});
  EXPECT_EQ(types(), std::vector<int32_t>{VOX::CLOSEREQUESTED});
  EXPECT_EQ(typed, std::vector<int32_t>{0x6BFF});
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(switches, 0);
}

TEST_F(Translation, MalformedTextIsSkipped) {
  feed({key(SDL_KEYDOWN, SDL_SCANCODE_A, SDLK_a), text("\xC3"), text("\xFF\xE2\x82"),
        text("\xF0\x9F\x98\x80z")});
  EXPECT_EQ(posted, (std::vector<Ev>{{VOX::KEYPRESSED, 30, 0, 0, 0}}));
  EXPECT_EQ(typed, std::vector<int32_t>{'z'});
}

}  // namespace
