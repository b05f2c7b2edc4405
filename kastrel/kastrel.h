#pragma once
// Everything a game needs: include this one header and link kastrel::kastrel.

#include "kastrel/boolean.h"
#include "kastrel/device/timer.h"
#include "kastrel/png/png_image.h"
