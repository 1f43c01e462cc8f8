// The working folder that receives the unpacked package: <system drive>:\tmp\<base><n>.
#pragma once
#include <windows.h>

// Prepares the working folder and copies its path into out (capacity bytes). n is the
// tick count when withTickSuffix is set, else 0. <d>:\tmp is made when missing.
//
// The setup runs elevated in a folder that ordinary users may write, so nothing found there
// is trusted:
// - a junction or symbolic link at <d>:\tmp is never followed: it is removed and a real
//   folder made;
// - whatever stands at the working folder's path (a folder of an earlier run or of someone
//   else, a file, a link) is removed without following links, whatever clearIfExists says;
//   a folder or file that cannot be removed is moved aside under a fresh name; the folder is then
//   made new, with SYSTEM and Administrators as its only (protected, not inherited) full-control
//   entries and Administrators as its owner;
// - <d>:\tmp and the working folder are then held open without FILE_SHARE_DELETE until
//   utl_ReleaseWorkFolder, so that Windows refuses to rename or delete them.
// Returns 1 on success; 0, without logging, when the system directory cannot be read, a
// link cannot be removed (always under Wine, which cannot remove a Unix symbolic link
// through Win32), a folder cannot be cleared away, made or secured, or the path does not
// fit (out is then unchanged).
int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists);

// True when path (the working folder's path) still leads to the very folder that the last
// successful utl_GetTempWorkPath made and holds (same volume serial number and file index)
// and is no link. Wine lets a held folder be renamed: this check is what notices a swap
// there.
bool utl_IsWorkFolderIntact(const char* path);

// Closes the handles that hold <d>:\tmp and the working folder; safe to call more than once.
void utl_ReleaseWorkFolder();
