#pragma once
#include <cstdarg>

namespace KASTREL {

// The reason, in words, that the last failing engine call on this thread gave ("" until one
// fails). Every call that reports a failure (a null, empty or FALSE result, an error number)
// leaves its reason here; successful calls leave it alone, so read it right after the failure.
// The text stays valid until the next failing call on the same thread.
const char* LASTERROR();

// Stores a printf-style reason for LASTERROR(). Returns nothing so that a failing call can
// write `SETLASTERROR(...); return nullptr;`.
void SETLASTERROR(const char* FORMAT, ...) __attribute__((format(printf, 1, 2)));
void VSETLASTERROR(const char* FORMAT, va_list ARGS) __attribute__((format(printf, 1, 0)));

// Empties LASTERROR() (tests use it to see that a call left a reason).
void CLEARLASTERROR();

}  // namespace KASTREL
