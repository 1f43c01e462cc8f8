// The tick count in the names of what is moved aside ("<name>.<tick>-<n>"). Alone in its
// unit so that a unit test can link a fixed count in its place and plant the names that
// collide; in the program it is GetTickCount itself (the same signature: one jump).
#pragma once
#include <windows.h>

DWORD WINAPI AsideTick();
