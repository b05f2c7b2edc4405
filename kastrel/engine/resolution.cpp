#include "kastrel/engine/resolution.h"

#include <cstdlib>

#include "kastrel/device/display.h"
#include "kastrel/engine/fatal.h"

namespace KASTREL::ENGINE {

constinit RESOLUTION SCREENRESOLUTION;

RESOLUTION::operator std::string() const {
  return std::to_string(WIDTH) + "x" + std::to_string(HEIGHT);
}

void RESOLUTIONLIST::ADD(int32_t W, int32_t H) {
  void* grown = COUNT >= 0 && COUNT < INT32_MAX
                    ? RESIZEBLOCK(LIST, static_cast<size_t>(COUNT) + 1, sizeof(RESOLUTION))
                    : nullptr;
  if (grown == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
  LIST = static_cast<RESOLUTION*>(grown);
  LIST[COUNT++] = RESOLUTION{W, H};
}

void RESOLUTIONLIST::RELEASE() {
  std::free(LIST);
  LIST = nullptr;
  COUNT = 0;
}

RESOLUTIONLIST SUPPORTEDRESOLUTIONS() {
  RESOLUTIONLIST modes;
  for (int32_t mode = vox_GfxScreenList(32); mode != 0; mode = vox_GfxScreenList(0)) {
    const auto packed = static_cast<uint32_t>(mode);
    modes.ADD(static_cast<int32_t>(packed >> 16), static_cast<int32_t>(packed & 0xFFFFu));
  }
  return modes;
}

}  // namespace KASTREL::ENGINE
