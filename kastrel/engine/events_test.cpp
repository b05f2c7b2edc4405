#include "kastrel/engine/events.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kastrel/engine/engine.h"
#include "kastrel/engine/fatal.h"

using namespace KASTREL;
using namespace KASTREL::ENGINE;
using testing::ExitedWithCode;

namespace {

std::string calls;
void A() { calls += 'A'; }
void B() { calls += 'B'; }
void C() { calls += 'C'; }

std::vector<int32_t> seen;
void SET_CANCEL(BOOLEAN& CANCEL) { seen.push_back(std::exchange(CANCEL, TRUE)); }
void CLEAR_CANCEL(BOOLEAN& CANCEL) { seen.push_back(std::exchange(CANCEL, FALSE)); }
void HIDE(int32_t NEWSCREEN, BOOLEAN& CANCEL) {
  seen.insert(seen.end(), {NEWSCREEN, CANCEL});
  NEWSCREEN = 1000;  // the handler's own copy: the next one must still get the raised value
  CANCEL = TRUE;
  (void)NEWSCREEN;
}

__SIMPLE_EVENT* raising = nullptr;
void CHECK_OWN_LOCK() {
  seen.push_back(raising->MUTEX.HELDBYCALLER() && !raising->MUTEX.TRYACQUIRE());
}
void THROWS() { throw 7; }

// The source line of events.cpp that reports a failed growth.
std::string out_of_memory_report() {
  std::ifstream source(KASTREL_SOURCE_DIR "/kastrel/engine/events.cpp");
  int line = 1;
  for (std::string text;
       std::getline(source, text) && text.find("FATALERROR(") == std::string::npos;)
    ++line;
  return "^Aborting due to runtime error 4 \\(out of memory\\) at line " + std::to_string(line) +
         " of engine\n$";
}

constinit __SIMPLE_EVENT global_list;
constinit __SIMPLE_EVENT other_list;
// Runs at exit after a failed growth: the lock must be free and the list intact.
void check_after_failed_growth() {
  if (!global_list.MUTEX.TRYACQUIRE()) std::_Exit(90);
  if (global_list.ICOUNT != 2 || global_list.ISIZE != 2 || global_list.HANDLER[1] != B)
    std::_Exit(91);
}
void ATTACH_FAILS() {
  FAILNEXTRESIZE();
  other_list += A;
}

}  // namespace

TEST(HandlerList, CapacityAndOrderAfterAttachAndDetach) {
  __SIMPLE_EVENT list;
  list.RAISE();  // empty: calls nothing
  EXPECT_TRUE(list.HANDLER == nullptr && list.ISIZE == 0);
  const int32_t sizes[] = {2, 2, 4, 4, 6, 6, 8};
  for (int32_t size : sizes) {
    list += A;
    EXPECT_EQ(list.ISIZE, size);
  }
  for (int i = 0; i < 7; ++i) list -= A;
  EXPECT_EQ(list.ICOUNT, 0);
  EXPECT_EQ(list.ISIZE, 8);  // detaching never shrinks

  for (auto h : {A, B, C, A}) list.ATTACH(h);
  list += nullptr;  // not taken
  list.RAISE();
  EXPECT_EQ(calls, "ABCA");
  list.DEATTACH(A);  // the first occurrence only; the other keeps its place
  list -= B;
  list -= B;  // absent: no change
  calls.clear();
  list.RAISE();
  EXPECT_EQ(calls, "CA");
  EXPECT_EQ(list.ICOUNT, 2);
}

TEST(HandlerList, ArgumentsReachEveryHandlerAndWritesAreShared) {
  ONSHUTDOWNEVENT shutdown;
  shutdown += SET_CANCEL;
  shutdown += CLEAR_CANCEL;
  BOOLEAN cancel = FALSE;
  shutdown.RAISE(cancel);
  EXPECT_EQ(cancel, FALSE);  // both ran; the last writer wins
  EXPECT_EQ(seen, (std::vector<int32_t>{FALSE, TRUE}));

  seen.clear();
  ONHIDEEVENT hide;
  hide += HIDE;
  hide += HIDE;
  hide.RAISE(3, cancel);
  EXPECT_EQ(seen, (std::vector<int32_t>{3, FALSE, 3, TRUE}));
}

TEST(HandlerList, LockIsHeldWhileRaisingAndReleasedAfterEvenOnThrow) {
  __SIMPLE_EVENT list;
  raising = &list;
  list += CHECK_OWN_LOCK;
  list.RAISE();
  EXPECT_EQ(seen, (std::vector<int32_t>{true}));  // held, and not re-entrant
  __SIMPLE_EVENT throwing;
  throwing += THROWS;
  EXPECT_THROW(throwing.RAISE(), int);
  ASSERT_TRUE(throwing.MUTEX.TRYACQUIRE());
  throwing.MUTEX.RELEASE();
}

TEST(HandlerList, FailedGrowthEndsTheProgramWithOutOfMemory) {
  EXPECT_EXIT(
      {
        std::atexit(check_after_failed_growth);
        FAILNEXTRESIZE(1);  // the first growth succeeds, the second fails
        for (auto h : {A, B, C}) global_list += h;
      },
      ExitedWithCode(4), out_of_memory_report());
  // The whole game runs inside a raise of a global list: ending from there
  // must not leave the exit-time destruction of that list waiting on its lock.
  EXPECT_EXIT(
      {
        global_list += ATTACH_FAILS;
        global_list.RAISE();
      },
      ExitedWithCode(4), out_of_memory_report());
}

namespace {
int own_use = 0;  // what OWN_LIST does to the list raising it: raise, attach, detach
void OWN_LIST() {
  own_use == 0 ? raising->RAISE() : own_use == 1 ? raising->ATTACH(A) : raising->DEATTACH(A);
}
void SHUTS_DOWN_AGAIN(BOOLEAN&) { SHUTDOWN(TRUE); }
}  // namespace

// These used to wait for ever on the list's own lock.
TEST(HandlerList, AHandlerUsingItsOwnListEndsTheProgramWithAMessage) {
  ONSHUTDOWN += SHUTS_DOWN_AGAIN;
  EXPECT_EXIT(SHUTDOWN(FALSE), ExitedWithCode(1),
              "raise the handler list that is calling it.*\n.*runtime error 1");
  __SIMPLE_EVENT list;
  raising = &list;
  list += OWN_LIST;
  for (own_use = 0; own_use < 3; ++own_use)
    EXPECT_EXIT(list.RAISE(), ExitedWithCode(1), "the handler list that is calling it");
}

// Callables sit among plain pointers in attach order; a token detaches exactly its attachment,
// and what a callable captured is released with it or with the list.
TEST(HandlerList, CallablesKeepOrderAndTokensDetachExactlyTheirOwn) {
  calls.clear();
  auto owned = std::make_shared<int>(0);
  {
    __SIMPLE_EVENT list;
    list += A;
    const HANDLERTOKEN x = list += [owned] { calls += 'x'; };
    const HANDLERTOKEN y = list.ATTACH(std::function<void()>([&] { calls += 'y'; }));
    const HANDLERTOKEN z = list += [] { calls += 'z'; };  // no captures: a callable as well
    list += A;
    EXPECT_FALSE(list += std::function<void()>());  // empty: not taken
    EXPECT_TRUE(x && y && z && x != y && y != z);
    for (int i = 0; i < 3; ++i) list += B;  // grows with callables in it
    list.RAISE();
    EXPECT_EQ(calls, "AxyzABBB");
    list -= y;
    list -= y;  // gone already: no change
    list -= HANDLERTOKEN{};
    list -= A;  // the first plain A only
    list -= B;
    calls.clear();
    list.RAISE();
    EXPECT_EQ(calls, "xzABB");
    EXPECT_EQ(owned.use_count(), 2);
    list -= x;
    EXPECT_EQ(owned.use_count(), 1);
    list += [owned] {};
  }
  EXPECT_EQ(owned.use_count(), 1);  // the list's destructor released it

  // By-reference arguments reach callables as the same reference; state stays in the capture.
  ONSHUTDOWNEVENT shutdown;
  int raised = 0;
  shutdown += [&raised](BOOLEAN& CANCEL) { CANCEL = ++raised == 1 ? TRUE : FALSE; };
  shutdown += SET_CANCEL;
  BOOLEAN cancel = FALSE;
  shutdown.RAISE(cancel);
  EXPECT_EQ(cancel, TRUE);
  EXPECT_EQ(seen.back(), TRUE);  // SET_CANCEL saw the callable's write
  // A callable using its own list takes the same fatal path as a plain handler.
  __SIMPLE_EVENT own;
  own += [&own] { own += [] {}; };
  EXPECT_EXIT(own.RAISE(), ExitedWithCode(1), "the handler list that is calling it");
}
