#pragma once
#include <cstdint>

#include "kastrel/boolean.h"
#include "kastrel/device/event.h"
#include "kastrel/engine/binarysemaphore.h"
#include "kastrel/engine/inputevent.h"
#include "kastrel/math/math.h"

namespace KASTREL::GRAPHICS {
struct BITMAP;
}

namespace KASTREL::ENGINE {

template <typename SIGNATURE>
class EVENTLIST;

// A multicast handler list: plain function pointers called in attach order.
// Every operation holds the list's own lock for its whole duration, RAISE
// included, so a handler must not attach to, detach from or raise the list
// that is calling it: the lock is not re-entrant, so instead of waiting for
// ever the program ends with a message and runtime error 1, "illegal function
// call" (exit status 1).
// Constant-initialised, so global lists are usable from any global
// constructor. Lists do not move: owners keep them at a stable address.
template <typename... ARGS>
class EVENTLIST<void(ARGS...)> {
 public:
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
  // Calls every handler in order with these arguments; by-reference arguments
  // are the same reference for all, so later handlers see earlier writes.
  void RAISE(ARGS... ARG);

  // Fields are public for inspection; change the list only through the operations.
  BINARYSEMAPHORE MUTEX;
  HANDLERPROC* HANDLER = nullptr;  // null exactly while ISIZE is 0
  int32_t ICOUNT = 0;              // handlers attached
  int32_t ISIZE = 0;               // capacity in entries, always even
};

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
