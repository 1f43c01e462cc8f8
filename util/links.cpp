#include "util/links.h"

#include "util/fixed_str.h"
#include "util/handles.h"

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsLink(const char* path) { return IsLinkAttributes(GetFileAttributesA(path)); }

bool RemoveLink(const char* path) {
  // RemoveDirectoryA is not used: Wine applies it to the target of a Unix symbolic link.
  UniqueHandle h(CreateFileA(
      path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.Get(), &info) || !IsLinkAttributes(info.dwFileAttributes))
    return false;
  FILE_DISPOSITION_INFO dispose;
  dispose.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(h.Get(), FileDispositionInfo, &dispose, sizeof dispose))
    return false;
  h.Reset();
  // Judged by what is left, not by the calls' results.
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

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
