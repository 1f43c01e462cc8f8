// Junctions and symbolic links where the elevated setup expects a real folder or file.
// Another account may plant one to steer the setup's writes and deletes elsewhere: a link
// is never followed.
#pragma once
#include <windows.h>

// True when attributes (from GetFileAttributesA or a file search) mark a reparse point.
bool IsLinkAttributes(DWORD attributes);
// True when something stands at path and is a junction or symbolic link.
bool IsLink(const char* path);

// Identity of a file or folder: volume serial number and file index.
struct FileIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};
// Identity of an open handle; false when it cannot be read.
bool IdentityOf(HANDLE h, FileIdentity* id);
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);
