// Compiled by the test kastrel_headers_after_system_macros: a game may include these before the
// engine, and their macros (MIN and MAX of <sys/param.h>, TRUE and FALSE of <curses.h>, X11's
// None and Status) must not break the engine's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/param.h>
#include <sys/sysmacros.h>
#include <termios.h>
#if __has_include(<curses.h>)
#include <curses.h>
#endif

#include <kastrel/kastrel.h>

// The game's macros still win in its own code; the engine's names stay reachable.
static_assert(KASTREL::BOOLEAN(0) == 0 && sizeof(KASTREL::BOOLEAN) == 4);
inline int32_t LARGER(int32_t A, int32_t B) { return (KASTREL::MATH::MAX)(A, B); }
// The platform layer's one call for games comes with kastrel.h, though the layer is internal.
inline size_t ARGUMENTS(int ARGC, char** ARGV) {
  return KASTREL::PLATFORM::PROGRAMARGUMENTS(ARGC, ARGV).size();
}
