#include "kastrel/engine/events.h"

#include <cstdio>
#include <cstdlib>

#include "kastrel/engine/fatal.h"

namespace KASTREL::ENGINE {

namespace {

// Releases the lock also when a handler unwinds through RAISE.
class HELD {
 public:
  explicit HELD(BINARYSEMAPHORE& lock) : lock_(lock) { lock_.ACQUIRE(); }
  HELD(const HELD&) = delete;
  HELD& operator=(const HELD&) = delete;
  ~HELD() { lock_.RELEASE(); }

 private:
  BINARYSEMAPHORE& lock_;
};

// A handler used the list that is calling it (defined at the end).
[[noreturn]] void reentered(const char* operation, int32_t line);

}  // namespace

template <typename... ARGS>
EVENTLIST<void(ARGS...)>::~EVENTLIST() {
  // Destroyed while this very thread is inside one of its operations: the
  // process is ending from within a handler (exit, or a fatal error while the
  // whole game runs inside a raise). Waiting would never end, and the raise
  // further up still walks the array, so leave both to the process's end.
  if (MUTEX.HELDBYCALLER()) return;
  HELD held(MUTEX);
  if (ISIZE > 0) std::free(HANDLER);
  HANDLER = nullptr;
  ICOUNT = 0;
  ISIZE = 0;
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::ATTACH(HANDLERPROC PROC) {
  if (PROC == nullptr) return;  // raising would call through it
  if (MUTEX.HELDBYCALLER()) reentered("attach to", __LINE__);
  MUTEX.ACQUIRE();
  if (ICOUNT == ISIZE) {
    void* grown = ISIZE <= INT32_MAX - 2
                      ? RESIZEBLOCK(HANDLER, static_cast<size_t>(ISIZE) + 2, sizeof(HANDLERPROC))
                      : nullptr;
    if (grown == nullptr) {
      MUTEX.RELEASE();
      FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
    }
    HANDLER = static_cast<HANDLERPROC*>(grown);
    ISIZE += 2;
  }
  HANDLER[ICOUNT++] = PROC;
  MUTEX.RELEASE();
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::DEATTACH(HANDLERPROC PROC) {
  if (MUTEX.HELDBYCALLER()) reentered("detach from", __LINE__);
  HELD held(MUTEX);
  for (int32_t found = 0; found < ICOUNT; ++found) {
    if (HANDLER[found] != PROC) continue;
    --ICOUNT;
    for (int32_t k = found; k < ICOUNT; ++k) HANDLER[k] = HANDLER[k + 1];
    return;
  }
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::RAISE(ARGS... ARG) {
  if (MUTEX.HELDBYCALLER()) reentered("raise", __LINE__);
  HELD held(MUTEX);
  const int32_t count = ICOUNT;
  for (int32_t i = 0; i < count; ++i) HANDLER[i](ARG...);
}

namespace {

// A handler used the list that is calling it: taking the list's lock again would wait for
// ever, so the program ends through the fatal path, saying why.
[[noreturn]] void reentered(const char* operation, int32_t line) {
  std::fprintf(stderr,
               "A handler tried to %s the handler list that is calling it (for instance "
               "SHUTDOWN from an ONSHUTDOWN handler); that would wait for ever.\n",
               operation);
  FATALERROR(ERRILLEGALFUNCTIONCALL, line, "engine");
}

}  // namespace

template class EVENTLIST<void()>;
template class EVENTLIST<void(int32_t, BOOLEAN&)>;
template class EVENTLIST<void(GRAPHICS::BITMAP&, MATH::RECT&)>;
template class EVENTLIST<void(float, INPUTEVENT, VOX::EVENT&)>;
template class EVENTLIST<void(BOOLEAN&)>;

}  // namespace KASTREL::ENGINE
