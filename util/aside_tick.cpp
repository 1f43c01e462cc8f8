#include "util/aside_tick.h"

DWORD AsideTick() { return GetTickCount(); }
