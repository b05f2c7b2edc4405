// What raising a handler list costs: eight plain function pointers through the engine's list,
// beside the raise as it was before lists took callables (the same lock and indexed loop, copied
// here), eight callables through the list, and a vector of eight std::function.

#include <cstdlib>
#include <functional>
#include <vector>

#include "bench/table.h"
#include "kastrel/engine/binarysemaphore.h"
#include "kastrel/engine/events.h"

namespace bench {
namespace {

using namespace KASTREL;

int32_t counter = 0;
__attribute__((noinline)) void HANDLER(BOOLEAN& CANCEL) {
  counter += 1;
  benchmark::DoNotOptimize(CANCEL);
}
constexpr int kHandlers = 8;
// The raise before lists took callables, out of line as the list's own is.
struct OLDLIST {
  ENGINE::BINARYSEMAPHORE MUTEX;
  void (*HANDLER[kHandlers])(BOOLEAN&);
  int32_t ICOUNT = kHandlers;
  __attribute__((noinline)) void RAISE(BOOLEAN& CANCEL) {
    if (MUTEX.HELDBYCALLER()) std::abort();
    struct HELD {  // released also when a handler throws, as the list does
      ENGINE::BINARYSEMAPHORE& LOCK;
      explicit HELD(ENGINE::BINARYSEMAPHORE& L) : LOCK(L) { LOCK.ACQUIRE(); }
      ~HELD() { LOCK.RELEASE(); }
    } held(MUTEX);
    const int32_t count = ICOUNT;
    for (int32_t i = 0; i < count; ++i) HANDLER[i](CANCEL);
  }
};
constexpr int kRaises = 1000;  // per iteration: a raise alone is below the timer's grain

}  // namespace

void RegisterEvents() {
  const std::string section = "Handler list raise";
  const std::string row = "1000 raises of 8 handlers";
  Columns(section, {"plain pointers", "as before", "callables", "std::function vector"});
  Add({section, row, "plain pointers"}, [](benchmark::State& state) {
    ENGINE::ONSHUTDOWNEVENT list;
    for (int i = 0; i < kHandlers; ++i) list += HANDLER;
    BOOLEAN cancel = FALSE;
    for (auto _ : state)
      for (int r = 0; r < kRaises; ++r) list.RAISE(cancel);
  });
  Add({section, row, "callables"}, [](benchmark::State& state) {
    ENGINE::ONSHUTDOWNEVENT list;
    int32_t own = 0;
    for (int i = 0; i < kHandlers; ++i) list += [&own](BOOLEAN& CANCEL) { own += 1, HANDLER(CANCEL); };
    BOOLEAN cancel = FALSE;
    for (auto _ : state)
      for (int r = 0; r < kRaises; ++r) list.RAISE(cancel);
    benchmark::DoNotOptimize(own);
  });
  Add({section, row, "std::function vector"}, [](benchmark::State& state) {
    std::vector<std::function<void(BOOLEAN&)>> list(kHandlers, HANDLER);
    BOOLEAN cancel = FALSE;
    for (auto _ : state)
      for (int r = 0; r < kRaises; ++r)
        for (const auto& fn : list) fn(cancel);
  });
  Add({section, row, "as before"}, [](benchmark::State& state) {
    OLDLIST list;
    for (auto& fn : list.HANDLER) fn = HANDLER;
    BOOLEAN cancel = FALSE;
    for (auto _ : state)
      for (int r = 0; r < kRaises; ++r) list.RAISE(cancel);
  });
  AddTarget({"raising plain pointers costs what it did before lists took callables", section, {},
             "plain pointers", "as before", 1.15});
}

}  // namespace bench
