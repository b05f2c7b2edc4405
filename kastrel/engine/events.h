#pragma once
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "kastrel/boolean.h"
#include "kastrel/device/event.h"
#include "kastrel/engine/binarysemaphore.h"
#include "kastrel/engine/inputevent.h"
#include "kastrel/math/math.h"

namespace KASTREL::GRAPHICS {
struct BITMAP;
}

// Handler lists: the engine's events (engine.h) and a screen's (screens.h) are EVENTLISTs that
// a game attaches functions or other callables to.
namespace KASTREL::ENGINE {

template <typename SIGNATURE>
class EVENTLIST;

// Names one attachment of a callable to a list, for detaching exactly that one.
// ID 0 names nothing (what attaching an empty std::function gives).
struct HANDLERTOKEN {
  uint64_t ID = 0;
  // Whether the token names an attachment; tokens are equal when they name the same one.
  explicit operator bool() const { return ID != 0; }
  bool operator==(const HANDLERTOKEN&) const = default;
};

// A multicast handler list: plain function pointers called in attach order.
// Every operation holds the list's own lock for its whole duration, RAISE
// included, so a handler must not attach to, detach from or raise the list
// that is calling it: the lock is not re-entrant, so instead of waiting for
// ever the program ends with a message and runtime error 1, "illegal function
// call" (exit status 1).
// Any other callable (a capturing lambda, a std::function, a member function
// through a lambda) is attached as well, in the same order among the plain
// pointers, and gives a token that detaches exactly that attachment.
// Constant-initialised, so global lists are usable from any global
// constructor. Lists do not move: owners keep them at a stable address.
template <typename... ARGS>
class EVENTLIST<void(ARGS...)> {
 public:
  // A plain handler function, taking the list's arguments.
  using HANDLERPROC = void (*)(ARGS...);

  constexpr EVENTLIST() noexcept = default;
  EVENTLIST(const EVENTLIST&) = delete;
  EVENTLIST& operator=(const EVENTLIST&) = delete;
  ~EVENTLIST();

  // Appends PROC, also when it is attached already; a null PROC is ignored.
  // The array grows by two entries when full; when it cannot, the program ends
  // with runtime error 4, "out of memory".
  void ATTACH(HANDLERPROC PROC);
  void operator+=(HANDLERPROC PROC) { ATTACH(PROC); }
  // Removes the first occurrence of PROC, if any; capacity is kept.
  void DEATTACH(HANDLERPROC PROC);
  void operator-=(HANDLERPROC PROC) { DEATTACH(PROC); }

  // Attaches a copy of FN (anything callable with the list's arguments that is
  // not a plain function pointer, lambdas without captures included); an empty
  // std::function is ignored and gives the null token.
  template <typename FN>
    requires(!std::is_same_v<std::decay_t<FN>, HANDLERPROC> && std::is_invocable_v<FN &, ARGS...>)
  HANDLERTOKEN ATTACH(FN&& PROC) {
    std::function<void(ARGS...)> stored(std::forward<FN>(PROC));
    return stored ? ATTACHCALLABLE(std::move(stored)) : HANDLERTOKEN{};
  }
  template <typename FN>
    requires(!std::is_same_v<std::decay_t<FN>, HANDLERPROC> && std::is_invocable_v<FN &, ARGS...>)
  HANDLERTOKEN operator+=(FN&& PROC) {
    return ATTACH(std::forward<FN>(PROC));
  }
  // Removes the attachment TOKEN names, if it is still in this list.
  void DEATTACH(HANDLERTOKEN TOKEN);
  void operator-=(HANDLERTOKEN TOKEN) { DEATTACH(TOKEN); }
  // Calls every handler in order with these arguments; by-reference arguments
  // are the same reference for all, so later handlers see earlier writes.
  void RAISE(ARGS... ARG);

  // Fields are public for inspection; change the list only through the operations.
  BINARYSEMAPHORE MUTEX;
  HANDLERPROC* HANDLER = nullptr;  // null exactly while ISIZE is 0
  int32_t ICOUNT = 0;              // handlers attached
  int32_t ISIZE = 0;               // capacity in entries, always even

 private:
  struct CALLABLE;
  HANDLERTOKEN ATTACHCALLABLE(std::function<void(ARGS...)> FN);
  void GROW();
  // The callable behind each entry (null for plain pointers), ISIZE entries;
  // null until the first callable, so lists of plain pointers raise as before.
  CALLABLE** CALLABLES = nullptr;
};

// The lists the engine raises: ONINITIALIZE and the other engine events (engine.h) take no
// arguments; a screen's ONHIDE, ONPAINT and ONFRAME and ONSHUTDOWN take those named here
// (screens.h says what each means).
using __SIMPLE_EVENT = EVENTLIST<void()>;
using ONHIDEEVENT = EVENTLIST<void(int32_t NEWSCREEN, BOOLEAN& CANCEL)>;
using ONPAINTEVENT = EVENTLIST<void(GRAPHICS::BITMAP& DEST, MATH::RECT& RGN)>;
using ONFRAMEEVENT = EVENTLIST<void(float FELAPSED, INPUTEVENT EINPUTEVENT, VOX::EVENT& EVENTDATA)>;
using ONSHUTDOWNEVENT = EVENTLIST<void(BOOLEAN& CANCEL)>;

// Defined for these five signatures only.
extern template class EVENTLIST<void()>;
extern template class EVENTLIST<void(int32_t, BOOLEAN&)>;
extern template class EVENTLIST<void(GRAPHICS::BITMAP&, MATH::RECT&)>;
extern template class EVENTLIST<void(float, INPUTEVENT, VOX::EVENT&)>;
extern template class EVENTLIST<void(BOOLEAN&)>;

}  // namespace KASTREL::ENGINE
