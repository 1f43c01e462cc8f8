// The working folder that receives the unpacked package: <system drive>:\tmp\<base><n>.
#pragma once
#include <windows.h>

// Prepares the working folder and copies its path into out (capacity bytes). n is the
// tick count when withTickSuffix is set, else 0. <d>:\tmp is made when missing. When the
// working folder exists, clearIfExists deletes the files directly in it (read-only ones
// too); its sub-folders stay.
//
// The setup runs elevated in a folder that ordinary users may have made, so:
// - <d>:\tmp or the working folder being a junction or symbolic link is never followed:
//   the link is removed and a real folder made;
// - the working folder gets SYSTEM and Administrators as its only (protected, not
//   inherited) full-control entries and Administrators as its owner, when it is made and,
//   before anything in it is cleared, when it exists already; its remaining sub-folders
//   and files get the same, and links among them are removed.
// Returns 1 on success; 0, without logging, when the system directory cannot be read, a
// folder cannot be made or secured, or the path does not fit (out is then unchanged).
int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists);
