#include "kastrel/device/sdl/wayland_check.h"

#include "kastrel/base/detail/platform.h"

#if defined(__linux__)
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The few libwayland-client calls needed, looked up at run time: the product does not
// link the library, SDL loads it itself.
struct Proxy;
using Connect = Proxy* (*)(const char*);
using Disconnect = void (*)(Proxy*);
using Roundtrip = int (*)(Proxy*);
using MarshalFlags = Proxy* (*)(Proxy*, uint32_t, const void*, uint32_t, uint32_t, ...);
using AddListener = int (*)(Proxy*, void (**)(void), void*);
using Destroy = void (*)(Proxy*);
using GetVersion = uint32_t (*)(Proxy*);

void on_global(void* data, Proxy*, uint32_t, const char* interface, uint32_t) {
  if (std::strcmp(interface, "wl_seat") == 0) *static_cast<bool*>(data) = true;
}
void on_global_remove(void*, Proxy*, uint32_t) {}

}  // namespace

bool vox_wayland_unreachable() {
  // Without WAYLAND_DISPLAY, libwayland tries wayland-0 in XDG_RUNTIME_DIR; a relative name
  // lives there too. With neither, it can only fail, and says so on standard error.
  std::string name, dir;
  return (!KASTREL::PLATFORM::GETENVIRONMENT("WAYLAND_DISPLAY", &name) || name[0] != '/') &&
         (!KASTREL::PLATFORM::GETENVIRONMENT("XDG_RUNTIME_DIR", &dir) || dir[0] != '/');
}

bool vox_wayland_seatless() {
  std::string name;
  if (!KASTREL::PLATFORM::GETENVIRONMENT("WAYLAND_DISPLAY", &name) || name.empty()) return false;
  void* lib = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return false;
  auto connect = reinterpret_cast<Connect>(dlsym(lib, "wl_display_connect"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "wl_display_disconnect"));
  auto roundtrip = reinterpret_cast<Roundtrip>(dlsym(lib, "wl_display_roundtrip"));
  auto marshal = reinterpret_cast<MarshalFlags>(dlsym(lib, "wl_proxy_marshal_flags"));
  auto add_listener = reinterpret_cast<AddListener>(dlsym(lib, "wl_proxy_add_listener"));
  auto destroy = reinterpret_cast<Destroy>(dlsym(lib, "wl_proxy_destroy"));
  auto version = reinterpret_cast<GetVersion>(dlsym(lib, "wl_proxy_get_version"));
  const void* registry_interface = dlsym(lib, "wl_registry_interface");
  bool seatless = false;
  Proxy* display = nullptr;
  if (connect && disconnect && roundtrip && marshal && add_listener && destroy && version &&
      registry_interface && (display = connect(nullptr)) != nullptr) {
    constexpr uint32_t GET_REGISTRY = 1;
    Proxy* registry =
        marshal(display, GET_REGISTRY, registry_interface, version(display), 0, nullptr);
    bool seat = false;
    void (*listener[2])(void) = {reinterpret_cast<void (*)(void)>(on_global),
                                 reinterpret_cast<void (*)(void)>(on_global_remove)};
    if (registry != nullptr && add_listener(registry, listener, &seat) == 0 &&
        roundtrip(display) >= 0) {
      seatless = !seat;
    }
    if (registry != nullptr) destroy(registry);
    disconnect(display);
  }
  dlclose(lib);
  return seatless;
}

#else
// Wayland is Linux's alone: elsewhere there is nothing to avoid, and SDL picks its own driver.
bool vox_wayland_unreachable() { return false; }
bool vox_wayland_seatless() { return false; }
#endif
