// Facts about the system and the program that several parts of the setup ask for.
#pragma once
#include <windows.h>

#include "util/handles.h"

// True when the system's default language is Chinese (PRC): the setup then speaks Chinese.
bool IsSystemLanguageChinesePrc();
// Writes the system folder (C:\windows\system32) into out; size in bytes. False when it
// cannot be read or does not fit below size characters (out is then undefined).
bool GetSystemFolder(char* out, unsigned size);
// Writes the Windows folder (C:\windows) into out; size in bytes. Taken from the system,
// never from the environment's SystemRoot, which the user sets for an elevated process too.
// False when it cannot be read or does not fit below size characters (out is then
// undefined).
bool GetWindowsFolder(char* out, unsigned size);
// The letter of the drive that holds the system folder, or 0 when it cannot be read.
char SystemDriveLetter();
// SID of the built-in Administrators alias, S-1-5-32-544; null on failure, with the
// system's error code left for GetLastError.
UniqueSid CreateAdministratorsSid();
// Writes the full path of the program's own file into out, in UTF-16: a download folder
// may be named in a script the ANSI code page lacks. False when it cannot be read or
// reaches MAX_PATH characters (out is then undefined).
bool GetOwnFilePath(wchar_t (&out)[MAX_PATH]);
// Writes the folder of the program's own file into out, without a trailing backslash, or
// "." when its path names no folder. False as for GetOwnFilePath.
bool GetOwnFolder(wchar_t (&out)[MAX_PATH]);
