// Paths in UTF-16, for files whose names come from the file system rather than from the
// program: the program's own file and the MSI copy beside it may lie in a folder that the
// system's ANSI code page cannot spell (a user name in another script). The logs keep the
// ANSI form of such a path.
#pragma once
#include <windows.h>

#include <stddef.h>

// dst = a "\" b; false (dst unchanged) when it does not fit.
bool WideJoinPath(wchar_t (&dst)[MAX_PATH], const wchar_t* a, const wchar_t* b);
// The ANSI form of src in dst (size bytes), with "?" for characters the code page lacks, as
// the system's ANSI calls report such a name. False (dst undefined) when it does not fit.
bool WideToAnsi(char* dst, size_t size, const wchar_t* src);
// The UTF-16 form of the ANSI text src in dst (count characters). False (dst undefined)
// when it does not fit.
bool AnsiToWide(wchar_t* dst, size_t count, const char* src);
