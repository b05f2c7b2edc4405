#pragma once
// The clock lives in the base layer so that math can seed from it.
#include "kastrel/base/timer.h"
