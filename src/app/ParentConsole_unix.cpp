#include "app/ParentConsole.h"

// A program started from a terminal writes to it already, a window program included.
void ParentConsole::Attach() {}
