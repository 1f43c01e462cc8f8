// The two ways the setup opens files. Nothing is logged; the caller reads GetLastError.
#pragma once
#include <windows.h>

// Opens an existing file for reading; other readers are allowed, writers refused.
// Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE utl_OpenFileForRead(const char* path);
// The same for a path in UTF-16.
HANDLE utl_OpenFileForReadW(const wchar_t* path);

// Opens a file for reading and writing, creating it when missing. An existing file keeps
// its content and length and is opened at its start. Shared for reading and writing.
// Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE utl_NewOrOpenFileForWrite(const char* path);
