#pragma once
#include <cstdint>

// <curses.h>, glib and others define TRUE and FALSE as macros: set aside while the engine's own
// are declared, and restored after, so the header compiles whatever came before it.
#pragma push_macro("TRUE")
#pragma push_macro("FALSE")
#undef TRUE
#undef FALSE

namespace KASTREL {

// The engine's truth value: every flag, yes/no result and CANCEL argument.
// TRUE is all bits set so that NOT, AND and OR on the 32-bit values behave as
// logical operations; test for non-zero, never compare with TRUE.
enum BOOLEAN : int32_t { FALSE = 0, TRUE = -1 };

static_assert(sizeof(BOOLEAN) == 4);

// A game's bool as the engine stores it: true is TRUE (-1), never 1. Every call taking a
// BOOLEAN also takes a bool; results stay BOOLEAN and read as bool in `if` and `!`.
constexpr BOOLEAN TOBOOLEAN(bool B) { return B ? TRUE : FALSE; }

}  // namespace KASTREL

#pragma pop_macro("FALSE")
#pragma pop_macro("TRUE")
