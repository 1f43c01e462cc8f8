// Reads of registry values. The key is opened with KEY_QUERY_VALUE and no view flag, so a
// 32-bit process on 64-bit Windows reads the 32-bit view. Nothing is logged.
#pragma once
#include <windows.h>

// Reads the value into *target with a data size of 4 bytes, whatever its type. True when
// the read succeeded; a shorter value fills only its own bytes of *target, a longer one
// fails (what *target then holds is not defined).
bool utl_ReadRegDword(HKEY root, const char* subKey, const char* valueName, DWORD* target);

// Reads the value as text, whatever its type, through a private 260-byte buffer. True when
// it was read and its text up to the first NUL is at most limit characters; target (limit
// + 1 bytes) then holds it with its NUL. A value of 260 bytes or more without a NUL among
// its first 260 bytes counts as too long. On false, target is unchanged.
bool utl_ReadRegString(HKEY root, const char* subKey, const char* valueName, char* target,
                       DWORD limit);
