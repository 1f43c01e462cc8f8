#pragma once
#include <windows.h>

// The whole life of the setup: checks, password gate, install sequence. Returns 0.
int RunSetup(HINSTANCE instance);
