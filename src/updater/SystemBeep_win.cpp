#include "updater/SystemBeep.h"

#include <windows.h>

void SystemBeep() {
    MessageBeep(MB_OK);
}
