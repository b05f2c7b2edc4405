#pragma once
// Everything a game needs: include this one header and link kastrel::kastrel.

#include "kastrel/boolean.h"
#include "kastrel/device/display.h"
#include "kastrel/device/driver.h"
#include "kastrel/device/event.h"
#include "kastrel/device/input.h"
#include "kastrel/device/screen.h"
#include "kastrel/device/timer.h"
#include "kastrel/png/png_image.h"
#include "kastrel/engine/binarysemaphore.h"
#include "kastrel/engine/events.h"
#include "kastrel/engine/fatal.h"
#include "kastrel/engine/inputevent.h"
#include "kastrel/math/math.h"
#include "kastrel/math/random.h"
#include "kastrel/graphics/image.h"
#include "kastrel/graphics/rasterop.h"
