#include "bench/table.h"

namespace bench {
void RegisterBlits() {}
}  // namespace bench
