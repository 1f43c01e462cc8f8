// The checks that must pass before the setup may do anything.
#pragma once
#include <windows.h>

#include "setup/refusal.h"

// True when the process token's group list holds the built-in Administrators group.
// Failures are logged to c:\OlvanLog\IsCurUserAdmin*.log and count as not a member.
bool IsCurUserAdmin();
// The decision on a group list: membership alone counts, whatever the attributes
// (a deny-only group of a filtered token counts too).
bool GroupsHoldAdministrators(const TOKEN_GROUPS* groups);

// Free bytes available to the caller on the volume of path, or -1 when unknown.
long long GetDiskFreeBytes(const char* path);
