#include "kastrel/device/sdl/alsa_quiet.h"

#if defined(__linux__)
#include <dlfcn.h>

namespace {

using ErrorPrinter = void (*)(const char* file, int line, const char* function, int err,
                              const char* fmt, ...);
using SetErrorPrinter = int (*)(ErrorPrinter);

void say_nothing(const char*, int, const char*, int, const char*, ...) {}

SetErrorPrinter setter() {
  // Kept loaded, so that SDL's own load of it finds the printer in place.
  static void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
  static const auto set =
      lib ? reinterpret_cast<SetErrorPrinter>(dlsym(lib, "snd_lib_error_set_handler")) : nullptr;
  return set;
}

}  // namespace

void vox_sdl_alsa_quiet() {
  if (const SetErrorPrinter set = setter()) set(say_nothing);
}

void vox_sdl_alsa_loud() {
  if (const SetErrorPrinter set = setter()) set(nullptr);
}

#else

void vox_sdl_alsa_quiet() {}
void vox_sdl_alsa_loud() {}

#endif
