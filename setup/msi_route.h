// The MSI route: the package comes from "OlvanSetup.msi" beside the program, copied there
// from the installed product's source ("MsiSourceName") when missing.
//
// The program's folder may be one its user controls (Downloads), so everything beside the
// program is done through a handle on that folder, opened once from the held program file's
// own path: the copy is found, opened and sized through it, a new copy is written into a
// file the setup made there under a temporary name and gets its name by a rename relative
// to it, only once the new file proved right. The source is opened once, with read sharing
// only, and checked through that handle before a byte of it is written.
#pragma once
#include <windows.h>

// Logs "msi install.", holds the program's folder, reads the source's name and finds the
// copy, or makes one from the source when there is none. True when a copy is held; false
// with *pdwErr set to 352 (a source of no carrier's size) or left as it is (no copy could be
// found or made), each with its line.
bool MsiPrepareCopy(DWORD* pdwErr);

// Unpacks the held copy into the working folder work. A bound program whose check refuses a
// copy found beside it (352, 155-168) copies the source once more and unpacks the new copy;
// a copy this run made is never copied again. intact(step) is asked before each unpack:
// false ends the route with 358. False with *pdwErr set on failure; a refused package (167,
// 168) leaves the working folder empty.
bool MsiUnpack(const char* work, DWORD* pdwErr, bool (*intact)(const char* step));
