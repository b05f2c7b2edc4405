#pragma once
// How fast SDL's disk audio driver writes, for the sound tests.
#include "kastrel/base/detail/platform.h"

namespace kastrel_testing {

// A 23 ms buffer every MS milliseconds. Not on Windows, where SDL reads every variable into one
// shared buffer: the delay read after the file's name would become the name.
inline void pace_disk_audio([[maybe_unused]] const char* ms) {
#ifndef _WIN32
  KASTREL::PLATFORM::SETENVIRONMENT("SDL_DISKAUDIODELAY", ms);
#endif
}

}  // namespace kastrel_testing
