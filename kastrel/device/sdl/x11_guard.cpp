#include "kastrel/device/sdl/x11_guard.h"

#include <SDL2/SDL_syswm.h>
#include <dlfcn.h>

#include <atomic>

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

int on_io_error(Display*) {
  g_dead.store(true);
  g_lost.store(true);
  return 0;
}

// Returning here, instead of exiting, leaves the display marked dead: later calls on it
// return at once.
void on_io_exit(Display*, void*) {
  g_dead.store(true);
  g_lost.store(true);
}

template <typename F>
F lookup(void* lib, const char* name) {
  return reinterpret_cast<F>(dlsym(lib, name));
}

}  // namespace

void vox_x11_guard(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
    return;
  // The Xlib SDL loaded itself: the product does not link it.
  void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return;
  g_display.store(info.info.x11.display);
  using SetError = XErrorHandler (*)(XErrorHandler);
  using SetIoError = XIOErrorHandler (*)(XIOErrorHandler);
  using SetIoExit = void (*)(Display*, XIOErrorExitHandler, void*);
  if (auto set = lookup<SetError>(lib, "XSetErrorHandler")) set(on_error);
  if (auto set = lookup<SetIoError>(lib, "XSetIOErrorHandler")) set(on_io_error);
  if (auto set = lookup<SetIoExit>(lib, "XSetIOErrorExitHandler")) {
    set(info.info.x11.display, on_io_exit, nullptr);
  }
  dlclose(lib);
}

bool vox_x11_lost() { return g_lost.load(); }

bool vox_x11_dead() { return g_dead.load(); }
