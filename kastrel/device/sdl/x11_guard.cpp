#include "kastrel/device/sdl/x11_guard.h"

#if defined(__linux__)
#include <SDL2/SDL_syswm.h>
#include <dlfcn.h>

#include <atomic>
#include <csetjmp>
#include <utility>

namespace {

std::atomic<bool> g_lost{false};
std::atomic<bool> g_dead{false};
std::atomic<Display*> g_display{nullptr};

// Protocol errors (a put to a window destroyed under us): Xlib's default handler exits. The
// handler is the process's: errors on another connection (the game's own) are not ours.
int on_error(Display* display, XErrorEvent*) {
  if (display == g_display.load()) g_lost.store(true);
  return 0;
}

// Returning here, instead of exiting, leaves the display marked dead: later calls on it
// return at once.
void on_io_exit(Display*, void*) {
  g_dead.store(true);
  g_lost.store(true);
}

thread_local std::jmp_buf* t_armed = nullptr;

// Xlib exits once this returns, unless the display has an exit handler of ours: one still
// being opened has none yet, so an armed thread jumps back out of Xlib instead.
int on_io_error(Display*) {
  g_dead.store(true);
  g_lost.store(true);
  if (std::jmp_buf* to = std::exchange(t_armed, nullptr)) std::longjmp(*to, 1);
  return 0;
}

template <typename F>
F lookup(void* lib, const char* name) {
  return reinterpret_cast<F>(dlsym(lib, name));
}

// The process-wide handlers, in the Xlib that SDL loads (loaded here first when need be).
void set_global_handlers(void* lib) {
  using SetError = XErrorHandler (*)(XErrorHandler);
  using SetIoError = XIOErrorHandler (*)(XIOErrorHandler);
  if (auto set = lookup<SetError>(lib, "XSetErrorHandler")) set(on_error);
  if (auto set = lookup<SetIoError>(lib, "XSetIOErrorHandler")) set(on_io_error);
}

}  // namespace

void vox_x11_arm(std::jmp_buf* to) { t_armed = to; }

void vox_x11_guard_early() {
  // Kept loaded: SDL's own load of it finds these handlers in place.
  static void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
  if (lib != nullptr) set_global_handlers(lib);
}

void vox_x11_guard(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
    return;
  // The Xlib SDL loaded itself: the product does not link it.
  void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return;
  g_display.store(info.info.x11.display);
  set_global_handlers(lib);
  using SetIoExit = void (*)(Display*, XIOErrorExitHandler, void*);
  if (auto set = lookup<SetIoExit>(lib, "XSetIOErrorExitHandler")) {
    set(info.info.x11.display, on_io_exit, nullptr);
  }
  dlclose(lib);
}

bool vox_x11_lost() { return g_lost.load(); }

bool vox_x11_dead() { return g_dead.load(); }

#else
// Other systems have no Xlib to exit on a lost connection.
void vox_x11_arm(std::jmp_buf*) {}
void vox_x11_guard_early() {}
void vox_x11_guard(SDL_Window*) {}
bool vox_x11_lost() { return false; }
bool vox_x11_dead() { return false; }
#endif
