#include "kastrel/engine/events.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Tokens are unique across all lists of the process.
std::atomic<uint64_t> last_token{0};

}  // namespace

template <typename... ARGS>
struct EVENTLIST<void(ARGS...)>::CALLABLE {
  HANDLERTOKEN TOKEN;
  std::function<void(ARGS...)> FN;
};

// Grows the arrays by two entries, under the lock; when it cannot, the program
// ends with runtime error 4.
template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::GROW() {
  void* grown = ISIZE <= INT32_MAX - 2
                    ? RESIZEBLOCK(HANDLER, static_cast<size_t>(ISIZE) + 2, sizeof(HANDLERPROC))
                    : nullptr;
  if (grown != nullptr) HANDLER = static_cast<HANDLERPROC*>(grown);
  if (grown != nullptr && CALLABLES != nullptr) {
    grown = RESIZEBLOCK(CALLABLES, static_cast<size_t>(ISIZE) + 2, sizeof(CALLABLE*));
    if (grown != nullptr) {
      CALLABLES = static_cast<CALLABLE**>(grown);
      CALLABLES[ISIZE] = CALLABLES[ISIZE + 1] = nullptr;
    }
  }
  if (grown == nullptr) {
    MUTEX.RELEASE();
    FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
  }
  ISIZE += 2;
}

template <typename... ARGS>
EVENTLIST<void(ARGS...)>::~EVENTLIST() {
  // Destroyed while this very thread is inside one of its operations: the
  // process is ending from within a handler (exit, or a fatal error while the
  // whole game runs inside a raise). Waiting would never end, and the raise
  // further up still walks the array, so leave both to the process's end.
  if (MUTEX.HELDBYCALLER()) return;
  HELD held(MUTEX);
  if (CALLABLES != nullptr) {
    for (int32_t i = 0; i < ICOUNT; ++i) delete CALLABLES[i];
    std::free(CALLABLES);
    CALLABLES = nullptr;
  }
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
  if (ICOUNT == ISIZE) GROW();
  if (CALLABLES != nullptr) CALLABLES[ICOUNT] = nullptr;
  HANDLER[ICOUNT++] = PROC;
  MUTEX.RELEASE();
}

// Stands in the plain array for a callable, so that its entries stay in order
// with the others; never called, and no game can name it to detach it.
namespace {
template <typename... ARGS>
void callable_entry(ARGS...) {}
}  // namespace

template <typename... ARGS>
HANDLERTOKEN EVENTLIST<void(ARGS...)>::ATTACHCALLABLE(std::function<void(ARGS...)> FN) {
  if (MUTEX.HELDBYCALLER()) reentered("attach to", __LINE__);
  auto* entry = new (std::nothrow) CALLABLE{HANDLERTOKEN{++last_token}, std::move(FN)};
  if (entry == nullptr) FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
  MUTEX.ACQUIRE();
  if (ICOUNT == ISIZE) GROW();
  if (CALLABLES == nullptr) {
    CALLABLES = static_cast<CALLABLE**>(RESIZEBLOCK(nullptr, size_t(ISIZE), sizeof(CALLABLE*)));
    if (CALLABLES == nullptr) {
      MUTEX.RELEASE();
      FATALERROR(ERROUTOFMEMORY, __LINE__, "engine");
    }
    std::memset(static_cast<void*>(CALLABLES), 0, size_t(ISIZE) * sizeof(CALLABLE*));
  }
  CALLABLES[ICOUNT] = entry;
  HANDLER[ICOUNT++] = callable_entry<ARGS...>;
  MUTEX.RELEASE();
  return entry->TOKEN;
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::DEATTACH(HANDLERPROC PROC) {
  if (MUTEX.HELDBYCALLER()) reentered("detach from", __LINE__);
  HELD held(MUTEX);
  for (int32_t found = 0; found < ICOUNT; ++found) {
    if (HANDLER[found] != PROC || (CALLABLES != nullptr && CALLABLES[found] != nullptr)) continue;
    --ICOUNT;
    for (int32_t k = found; k < ICOUNT; ++k) HANDLER[k] = HANDLER[k + 1];
    if (CALLABLES != nullptr)
      for (int32_t k = found; k <= ICOUNT; ++k) CALLABLES[k] = k < ICOUNT ? CALLABLES[k + 1] : nullptr;
    return;
  }
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::DEATTACH(HANDLERTOKEN TOKEN) {
  if (MUTEX.HELDBYCALLER()) reentered("detach from", __LINE__);
  CALLABLE* gone = nullptr;
  {
    HELD held(MUTEX);
    for (int32_t found = 0; found < ICOUNT && CALLABLES != nullptr && TOKEN; ++found) {
      if (CALLABLES[found] == nullptr || CALLABLES[found]->TOKEN != TOKEN) continue;
      gone = CALLABLES[found];
      --ICOUNT;
      for (int32_t k = found; k < ICOUNT; ++k) {
        HANDLER[k] = HANDLER[k + 1];
        CALLABLES[k] = CALLABLES[k + 1];
      }
      CALLABLES[ICOUNT] = nullptr;
      break;
    }
  }
  delete gone;  // outside the lock: its captures' destructors may use other lists
}

template <typename... ARGS>
void EVENTLIST<void(ARGS...)>::RAISE(ARGS... ARG) {
  if (MUTEX.HELDBYCALLER()) reentered("raise", __LINE__);
  HELD held(MUTEX);
  const int32_t count = ICOUNT;
  if (CALLABLES == nullptr) {
    for (int32_t i = 0; i < count; ++i) HANDLER[i](ARG...);
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (CALLABLES[i] != nullptr)
      CALLABLES[i]->FN(ARG...);
    else
      HANDLER[i](ARG...);
  }
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
