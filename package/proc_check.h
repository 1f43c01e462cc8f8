// Watches processes by name.
#pragma once

// 0 when a process whose image name equals exeName (case-insensitive) runs, 1 when none
// does, 2 when the process list cannot be read (logged under logName).
int chkProcExist(const char* logName, const char* exeName);
