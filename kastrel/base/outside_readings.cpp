#include "kastrel/base/detail/outside_readings.h"

#include <atomic>

namespace KASTREL {

namespace {
std::atomic<OUTSIDEFILTER> g_filter{nullptr};
}  // namespace

void SETOUTSIDEFILTER(OUTSIDEFILTER FILTER) { g_filter.store(FILTER, std::memory_order_release); }

void FILTEROUTSIDE(int32_t KIND, int32_t* VALUES, int32_t COUNT) {
  if (const OUTSIDEFILTER filter = g_filter.load(std::memory_order_acquire))
    filter(KIND, VALUES, COUNT);
}

}  // namespace KASTREL
