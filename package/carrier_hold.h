// The carrier file that the unpack may read. The setup reopens its carrier by path when it
// unpacks, long after it started; another program of the same user could rename the file
// meanwhile and put its own under that name. The setup therefore holds its carrier open
// from the moment it is chosen, with read sharing only (Windows then refuses to rename,
// replace or delete it), and the unpack accepts only the very file it holds.
#pragma once
#include <windows.h>

// Opens path (UTF-16) for reading with read sharing only and keeps it open for the life of
// the process; the unpack then accepts only this file (the file held last). False when it
// cannot be opened: the unpack then refuses every carrier.
bool utl_HoldCarrier(const wchar_t* path);

// Holds the program's own file (utl_HoldCarrier of its module path).
bool utl_HoldOwnFile();

// Tries the last hold once more when it failed because another program had the file open
// for writing at that moment (a scanner, the browser finishing the download). True when a
// carrier is held afterwards.
bool utl_HoldCarrierAgain();

// Lets go of the file held last (so that it can be replaced) and refuses every carrier
// until the next hold.
void utl_ReleaseLastHold();

// True when file (an open carrier) is the held one: same volume serial number and file
// index. True as well when no carrier was ever held (the unpacker used on its own, by the
// release tools' tests); false after a hold failed.
bool utl_IsHeldCarrier(HANDLE file);

// The program's own file as held (utl_HoldOwnFile), or null when it is not held.
HANDLE utl_OwnFileHold();
