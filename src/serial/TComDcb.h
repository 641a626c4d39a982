#pragma once

#include "serial/TComLine.h"

#include <windows.h>

// The DCB record a port's line settings stand for; fields not set here are zero.
DCB ComLineDcb(const TComLine& line);
