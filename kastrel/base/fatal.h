#pragma once
#include <cstddef>
#include <cstdint>

// The runtime's fatal errors and the growth of the engine's arrays.
namespace KASTREL {

// Runtime error numbers.
enum : int32_t {
  ERRILLEGALFUNCTIONCALL = 1,
  ERROUTOFMEMORY = 4,
};

// Writes "Aborting due to runtime error N (text) at line LINE of MODULE" to
// standard error and ends the process with exit status ERRNUM. Exit-time
// cleanup (global destructors, atexit handlers) still runs.
[[noreturn]] void FATALERROR(int32_t ERRNUM, int32_t LINE, const char* MODULE);

// Resizes a heap block of COUNT elements of ELEMENTSIZE bytes, keeping its
// contents (BLOCK may be null). Null when it cannot; BLOCK is then untouched.
// Release the block with std::free.
void* RESIZEBLOCK(void* BLOCK, size_t COUNT, size_t ELEMENTSIZE);

// Test hook: after SKIP more successful calls, the next RESIZEBLOCK fails
// (once). A negative SKIP cancels a pending failure.
void FAILNEXTRESIZE(int32_t SKIP = 0);

}  // namespace KASTREL
