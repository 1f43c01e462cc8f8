// The tick count in the names of what is moved aside ("<name>.<tick>-<n>"). Alone in its
// unit so that a unit test can link a fixed count in its place and plant the names that
// collide; the program gets GetTickCount.
#pragma once
#include <windows.h>

DWORD AsideTick();
