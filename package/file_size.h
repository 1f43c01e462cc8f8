#pragma once
#include <windows.h>

// A file's size as two 32-bit halves. 1 on success; 0 when no file (not a folder) of that
// name exists (silently) or its attributes cannot be read (logged to the "UtlFile" log).
int utl_GetFileSize(const char* path, DWORD* pdwSizeHigh, DWORD* pdwSizeLow);
// The same for a path in UTF-16 (no wildcards).
int utl_GetFileSizeW(const wchar_t* path, DWORD* pdwSizeHigh, DWORD* pdwSizeLow);
