#pragma once
#include <cstdint>

namespace KASTREL {

// The engine's truth value: every flag, yes/no result and CANCEL argument.
// TRUE is all bits set so that NOT, AND and OR on the 32-bit values behave as
// logical operations; test for non-zero, never compare with TRUE.
enum BOOLEAN : int32_t { FALSE = 0, TRUE = -1 };

static_assert(sizeof(BOOLEAN) == 4);

}  // namespace KASTREL
