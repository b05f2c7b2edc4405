#include "kastrel/base/timer.h"

#include <chrono>

double vox_Timer() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}
