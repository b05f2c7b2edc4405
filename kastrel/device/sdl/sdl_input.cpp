#include "kastrel/device/sdl/sdl_input.h"

#include <cstring>

#include "kastrel/device/driver.h"
#include "kastrel/device/input.h"
#include "kastrel/device/keys.h"
#include "kastrel/device/sdl/sdl_keys.h"

namespace {

void post(VOX_SDL_OUTPUT& out, int32_t type, int32_t a = 0, int32_t b = 0, int32_t dx = 0,
          int32_t dy = 0) {
  if (out.event_count >= static_cast<int>(std::size(out.events))) return;
  VOX::EVENT& e = out.events[out.event_count++];
  e.TYPE = type;
  e.X = a;
  e.Y = b;
  e.DX = dx;
  e.DY = dy;
}

void type_key(VOX_SDL_OUTPUT& out, int32_t key) {
  if (out.typed_count < static_cast<int>(std::size(out.typed))) out.typed[out.typed_count++] = key;
}

// Decodes UTF-8 text into code points; malformed bytes are skipped.
int decode_utf8(const char* text, uint32_t* points, int max_points) {
  int count = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s != 0 && count < max_points) {
    uint32_t cp = *s;
    int extra = 0;
    if (cp < 0x80) {
    } else if ((cp & 0xE0) == 0xC0) {
      cp &= 0x1F;
      extra = 1;
    } else if ((cp & 0xF0) == 0xE0) {
      cp &= 0x0F;
      extra = 2;
    } else if ((cp & 0xF8) == 0xF0) {
      cp &= 0x07;
      extra = 3;
    } else {
      ++s;
      continue;
    }
    ++s;
    bool ok = true;
    for (int i = 0; i < extra; ++i) {
      if ((s[i] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (!ok) continue;
    s += extra;
    points[count++] = cp;
  }
  return count;
}

void type_text(VOX_SDL_OUTPUT& out, const uint32_t* points, int count) {
  for (int i = 0; i < count; ++i) {
    int32_t c = vox_sdl_to_cp437(points[i]);
    if (c > 0) type_key(out, c);
  }
}

// One TEXTTYPED event a character while the game asked for text; invalid bytes typed nothing.
void post_text(VOX_SDL_OUTPUT& out, const char* utf8) {
  if (!vox_GfxTextInputOn()) return;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8);
  for (; *p != 0 && out.text_count < SDL_TEXTINPUTEVENT_TEXT_SIZE;) {
    const int length = *p < 0x80 ? 1 : *p < 0xE0 ? 2 : *p < 0xF0 ? 3 : 4;
    char one[5] = {};
    for (int i = 0; i < length && p[i] != 0; ++i) one[i] = static_cast<char>(p[i]);
    uint32_t point = 0;
    if (decode_utf8(one, &point, 1) != 1 || std::strlen(one) != size_t(length)) return;
    VOX::EVENT& e = out.text[out.text_count++];
    e = VOX::EVENT{};
    e.TYPE = VOX::TEXTTYPED;
    e.CODEPOINT = static_cast<int32_t>(point);
    std::memcpy(e.TEXT, p, static_cast<size_t>(length));
    p += length;
  }
}

// Alt+Enter and minimising: the exit is reported first; the switch itself
// belongs to the driver, unless switching is disabled.
void request_switch(VOX_SDL_INPUT& in, VOX_SDL_OUTPUT& out) {
  if (in.pointer_inside) post(out, VOX::MOUSEEXITED);
  if (in.mode_flags & MODE_NOSWITCH) return;
  out.switch_mode = true;
}

bool is_silent_key(SDL_Scancode key) {
  return key == SDL_SCANCODE_F10 || key == SDL_SCANCODE_LALT || key == SDL_SCANCODE_RALT;
}

VOX_SDL_MODS mods_of(uint16_t mod) {
  return {(mod & KMOD_SHIFT) != 0, (mod & KMOD_CTRL) != 0, (mod & KMOD_ALT) != 0};
}

bool key_down(const SDL_KeyboardEvent& k, const SDL_Event* next, VOX_SDL_INPUT& in,
              VOX_SDL_OUTPUT& out) {
  SDL_Scancode key = k.keysym.scancode;
  if (key < 0 || key >= SDL_NUM_SCANCODES) return false;
  VOX_SDL_MODS mods = mods_of(k.keysym.mod);

  uint32_t points[SDL_TEXTINPUTEVENT_TEXT_SIZE];
  int point_count = 0;
  bool used_next = false;
  if (next != nullptr && next->type == SDL_TEXTINPUT) {
    point_count = decode_utf8(next->text.text, points, SDL_TEXTINPUTEVENT_TEXT_SIZE);
    used_next = true;
  }

  if ((key == SDL_SCANCODE_RETURN || key == SDL_SCANCODE_KP_ENTER) && mods.alt && in.active) {
    in.key_silent[key] = true;
    if (!k.repeat)
      request_switch(in, out);  // holding the keys must not flip the display over and over
    return used_next;
  }

  int32_t character = 0;
  if (mods.ctrl) {
    // Ctrl combinations type no text; the layout's key symbol names the letter.
    if (k.keysym.sym > 0 && k.keysym.sym < 128) character = k.keysym.sym;
  } else if (point_count == 1 && points[0] <= 255) {
    character = static_cast<int32_t>(points[0]);
  }
  int32_t set1 = vox_sdl_set1_code(key);
  int32_t code = vox_sdl_key_code(set1, character, mods);
  bool silent = is_silent_key(key) || code == VOX_CLOSE_KEY;
  in.key_silent[key] = silent;
  if (silent) return used_next;

  int32_t ascii = code >= 0 && code <= 255 ? code : 0;
  in.key_ascii[key] = static_cast<int16_t>(ascii);
  post(out, k.repeat ? VOX::KEYREPEATED : VOX::KEYPRESSED, set1, ascii);

  if (code > 255 || mods.ctrl || mods.alt || point_count == 0) {
    if (code > 0) type_key(out, code);
  } else {
    type_text(out, points, point_count);
  }
  if (used_next) post_text(out, next->text.text);
  return used_next;
}

void key_up(const SDL_KeyboardEvent& k, VOX_SDL_INPUT& in, VOX_SDL_OUTPUT& out) {
  SDL_Scancode key = k.keysym.scancode;
  if (key < 0 || key >= SDL_NUM_SCANCODES) return;
  int32_t set1 = vox_sdl_set1_code(key);
  int32_t ascii = in.key_ascii[key];
  bool silent = in.key_silent[key] || is_silent_key(key);
  if (ascii < 0) {
    // The press happened before the window saw the keyboard.
    int32_t code = vox_sdl_key_code(set1, 0, mods_of(k.keysym.mod));
    silent = silent || code == VOX_CLOSE_KEY;
    ascii = code >= 0 && code <= 255 ? code : 0;
  }
  in.key_silent[key] = false;
  in.key_ascii[key] = -1;
  if (!silent) post(out, VOX::KEYRELEASED, set1, ascii);
}

// Leaving without capture, SDL moves the pointer to the nearest edge pixel and
// then reports the leave; that position was never the pointer's.
bool clamped_before_leave(const SDL_MouseMotionEvent& m, const SDL_Event* next,
                          const VOX_SDL_INPUT& in) {
  if (next == nullptr || next->type != SDL_WINDOWEVENT ||
      next->window.event != SDL_WINDOWEVENT_LEAVE ||
      (in.window_id != 0 && next->window.windowID != in.window_id))
    return false;
  return m.x == 0 || m.y == 0 || m.x == in.window_w - 1 || m.y == in.window_h - 1;
}

void mouse_moved(const SDL_MouseMotionEvent& m, const SDL_Event* next, VOX_SDL_INPUT& in,
                 VOX_SDL_OUTPUT& out) {
  if (clamped_before_leave(m, next, in)) return;
  in.pointer_x = m.x;
  in.pointer_y = m.y;
  int32_t desk_x = in.window_x + m.x;
  int32_t desk_y = in.window_y + m.y;
  int32_t dx = in.have_last ? desk_x - in.last_x : 0;
  int32_t dy = in.have_last ? desk_y - in.last_y : 0;
  in.last_x = desk_x;
  in.last_y = desk_y;
  in.have_last = true;
  in.over_client = m.x >= 0 && m.y >= 0 && m.x < in.window_w && m.y < in.window_h;

  int32_t type = 0;
  if ((dx != 0 || dy != 0) && in.active) type = VOX::MOUSEMOVED;
  if (!in.pointer_inside && in.active && in.over_client) {
    type = VOX::MOUSEENTERED;  // the entry replaces the move
    in.pointer_inside = true;
    if (in.clip) out.confine = true;
  }
  if (type != 0) post(out, type, m.x, m.y, dx, dy);
}

int32_t button_bit(uint8_t button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return KASTREL::BUTTON::LEFT;
    case SDL_BUTTON_RIGHT:
      return KASTREL::BUTTON::RIGHT;
    case SDL_BUTTON_MIDDLE:
      return KASTREL::BUTTON::MIDDLE;
    case SDL_BUTTON_X1:
      return KASTREL::BUTTON::X1;
    case SDL_BUTTON_X2:
      return KASTREL::BUTTON::X2;
    default:
      return 0;
  }
}

void window_event(const SDL_WindowEvent& w, VOX_SDL_INPUT& in, VOX_SDL_OUTPUT& out) {
  if (in.window_id != 0 && w.windowID != in.window_id) return;
  switch (w.event) {
    case SDL_WINDOWEVENT_CLOSE:
      type_key(out, VOX_CLOSE_KEY);
      post(out, VOX::CLOSEREQUESTED);
      break;
    case SDL_WINDOWEVENT_ENTER:
      in.over_client = true;
      break;
    case SDL_WINDOWEVENT_LEAVE:
      in.over_client = false;
      if (in.active && in.pointer_inside) {
        post(out, VOX::MOUSEEXITED);
        in.pointer_inside = false;
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (in.active && !in.focused) {
        in.focused = true;
        post(out, VOX::FOCUSGAINED);
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (in.active && in.focused) {
        in.focused = false;
        out.blurred = true;
        post(out, VOX::FOCUSLOST);
      }
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      if (in.active) request_switch(in, out);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      out.repaint = true;
      break;
    case SDL_WINDOWEVENT_MOVED:
      in.window_x = w.data1;
      in.window_y = w.data2;
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      in.window_w = w.data1;
      in.window_h = w.data2;
      out.resized = true;
      break;
    default:
      break;
  }
}

}  // namespace

void vox_sdl_input_start(VOX_SDL_INPUT& input, int32_t mode_flags) {
  input.active = false;
  input.mode_flags = mode_flags;
  input.wheel = 0;
  input.buttons = 0;
  input.have_last = false;
  input.last_x = 0xFFFF;
  input.last_y = 0;
  input.cursor_visible = true;
  input.clip = false;
  input.over_client = false;
  input.focused = true;  // a new window counts as focused: only changes are posted
  input.click_bit = 0;
  input.click_run = 0;
  input.key_ascii.fill(-1);
  input.key_silent.fill(false);
}

bool vox_sdl_translate(const SDL_Event& event, const SDL_Event* next, VOX_SDL_INPUT& in,
                       VOX_SDL_OUTPUT& out) {
  out = VOX_SDL_OUTPUT{};
  switch (event.type) {
    case SDL_KEYDOWN:
      return key_down(event.key, next, in, out);
    case SDL_KEYUP:
      key_up(event.key, in, out);
      break;
    case SDL_TEXTINPUT: {
      // Text without a key press in front of it (an input method's result).
      uint32_t points[SDL_TEXTINPUTEVENT_TEXT_SIZE];
      type_text(out, points, decode_utf8(event.text.text, points, SDL_TEXTINPUTEVENT_TEXT_SIZE));
      post_text(out, event.text.text);
      break;
    }
    case SDL_MOUSEMOTION:
      mouse_moved(event.motion, next, in, out);
      break;
    case SDL_MOUSEBUTTONDOWN: {
      int32_t bit = button_bit(event.button.button);
      if (bit == 0) break;
      in.buttons |= bit;
      // Every second click of a run is a double click; the third starts anew.
      // SDL counts clicks per button: a press of another button breaks the run.
      bool dbl = bit == in.click_bit && event.button.clicks >= 2 && in.click_run == 1;
      in.click_run = dbl ? 2 : 1;
      in.click_bit = bit;
      post(out, dbl ? VOX::BUTTONDOUBLECLICKED : VOX::BUTTONPRESSED, bit);
      break;
    }
    case SDL_MOUSEBUTTONUP: {
      int32_t bit = button_bit(event.button.button);
      if (bit == 0) break;
      in.buttons &= ~bit;
      post(out, VOX::BUTTONRELEASED, bit);
      break;
    }
    case SDL_MOUSEWHEEL: {
      int32_t sign = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
      int32_t y = event.wheel.y * sign;
      int32_t x = event.wheel.x * sign;
      // One step per event, whatever the amount.
      if (y != 0) {
        in.wheel += y > 0 ? 1 : -1;
        post(out, VOX::WHEELMOVED, in.wheel);
      }
      if (x != 0) {
        in.hwheel += x > 0 ? 1 : -1;
        post(out, VOX::HWHEELMOVED, in.hwheel);
      }
      break;
    }
    case SDL_WINDOWEVENT:
      window_event(event.window, in, out);
      break;
    default:
      break;
  }
  return false;
}
