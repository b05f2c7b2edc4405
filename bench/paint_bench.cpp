#include "bench/table.h"

namespace bench {
void RegisterPaint() {}
}  // namespace bench
