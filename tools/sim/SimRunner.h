#pragma once

#include "SimOptions.h"

// Owns the pseudo-terminal and runs the device until it is told to stop.
// Returns the process exit status.
int RunSimulator(const SimOptions& options);
