#include "kastrel/base/error.h"

#include <cstdio>

namespace KASTREL {

namespace {
// Per thread, like errno: a failure on the presentation or audio thread never overwrites the
// reason the program thread is about to read.
thread_local char last_error[512] = "";
}  // namespace

const char* LASTERROR() { return last_error; }

void VSETLASTERROR(const char* FORMAT, va_list ARGS) {
  if (FORMAT == nullptr) {
    last_error[0] = '\0';
    return;
  }
  std::vsnprintf(last_error, sizeof last_error, FORMAT, ARGS);
}

void SETLASTERROR(const char* FORMAT, ...) {
  va_list args;
  va_start(args, FORMAT);
  VSETLASTERROR(FORMAT, args);
  va_end(args);
}

void CLEARLASTERROR() { last_error[0] = '\0'; }

}  // namespace KASTREL
