#include "util/aside_tick.h"

DWORD WINAPI AsideTick() { return GetTickCount(); }
