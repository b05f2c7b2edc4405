#pragma once
// The runtime's fatal errors and array growth live in the base layer, below math and the
// device; the engine keeps its names for them.
#include "kastrel/base/fatal.h"

namespace KASTREL::ENGINE {
// The same runtime error numbers and calls as KASTREL:: (base/fatal.h), under ENGINE:: too.
using KASTREL::ERRILLEGALFUNCTIONCALL;
using KASTREL::ERROUTOFMEMORY;
using KASTREL::FAILNEXTRESIZE;
using KASTREL::FATALERROR;
using KASTREL::RESIZEBLOCK;
}  // namespace KASTREL::ENGINE
