#include "util/links.h"

#include "util/fixed_str.h"
#include "util/handles.h"

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsLink(const char* path) { return IsLinkAttributes(GetFileAttributesA(path)); }

bool IdentityOf(HANDLE h, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->indexHigh = info.nFileIndexHigh;
  id->indexLow = info.nFileIndexLow;
  return true;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}
