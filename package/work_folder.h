// The working folder that receives the unpacked package: <system drive>:\tmp\<base><n>.
#pragma once
#include <windows.h>

// Prepares the working folder and copies its path into out (capacity bytes). n is the
// tick count when withTickSuffix is set, else 0. <d>:\tmp is made when missing.
//
// The setup runs elevated in a folder that ordinary users may write, so nothing found there
// is trusted and nothing is resolved by path twice:
// - <d>:\tmp is opened, or made when missing, by one call that follows no link, and held
//   (see util/held_folder.h); a link or a file there is refused (0). Every later step
//   lists, opens, renames and makes entries relative to that handle;
// - whatever stands at the working folder's name (a folder of an earlier run or of someone
//   else, a file) is removed through handles without following links (the backup and
//   restore privileges enabled meanwhile, so nobody's security is changed); what cannot be
//   removed whole is moved aside, under "<name>.<tick>-<n>", and the folders moved aside by
//   earlier runs are removed the same way, as far as they can be. A link there is removed
//   only when it is proven to be one (never under Wine), else the call fails.
//   clearIfExists changes nothing: nothing is ever adopted;
// - the working folder is then made new, relative to the held <d>:\tmp, by one create that
//   must succeed, with SYSTEM and Administrators as its only (protected, not inherited)
//   full-control entries and Administrators as its owner; that create's handle holds it
//   until utl_ReleaseWorkFolder and gives the identity that utl_IsWorkFolderIntact checks.
//   It must be a real folder in <d>:\tmp's listing with the handle's file ID, and empty;
//   a case-sensitivity flag that it inherited is cleared.
// Returns 1 on success; 0 when the system directory cannot be read, a link or file stands
// at <d>:\tmp, what stands at the working folder's name can be neither moved aside nor
// removed, the folder cannot be made, the path does not fit, or the case-sensitivity flag
// is set and cannot be cleared (out is then unchanged). A folder swapped in as it was made
// (its name no longer leads to what the create's handle holds, or that is not empty) also
// gives 0, and kSeqErrWorkFolderSwapped in *pdwErr (when given); the other failures leave
// *pdwErr unchanged. The swap and the flag are logged, with a line of their own in the
// setup log.
int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists, DWORD* pdwErr = nullptr);

// Why the last utl_GetTempWorkPath returned 0, as one line for the setup log: what stood at
// <d>:\tmp, or which entry of the old working folder could not be removed or moved aside and
// the system's error code (32: another program holds it; such a hold is waited for about
// 5 s first). Names are escaped (util/reason_text.h). "" after a success.
const char* utl_WorkFolderFailure();

// True when path (the working folder's path) still leads to the very folder that the last
// successful utl_GetTempWorkPath made and holds (same volume serial number and file index)
// and is no link (HeldFolder::IsAt). Wine lets a held folder be renamed: this check is what
// notices a swap there.
bool utl_IsWorkFolderIntact(const char* path);

// Removes everything in the working folder that the last successful utl_GetTempWorkPath
// made, through its held handle (never by path) and the same removal as an old folder's,
// so that nothing of a refused package stays.
void utl_EmptyWorkFolder();

// How many entries a pass may visit in a folder beyond those it counted there at its start
// (64), and a call made right after each count (null: none). For tests.
void utl_SetPassMarginForTest(size_t margin, void (*afterCount)());

// The tick count that names folders moved aside; null restores GetTickCount. For tests.
void utl_SetAsideTickForTest(DWORD(WINAPI* tick)());

// Closes the handles that hold <d>:\tmp and the working folder; safe to call more than once.
void utl_ReleaseWorkFolder();
