#include "util/folders.h"

#include <string.h>
#include <windows.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/links.h"

bool utl_RemoveFolderTree(const char* folder) {
  if (!DirectoryExists(folder)) return true;
  if (IsLink(folder)) return RemoveDirectoryA(folder) != FALSE;
  DeleteMatchingFiles(folder, "*.*");
  utl_RemoveSubFolders(folder);
  return RemoveDirectoryA(folder) != FALSE;
}

void utl_RemoveSubFolders(const char* folder) {
  char pattern[MAX_PATH];
  if (!StrJoinPath(pattern, folder, "*.*")) return;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(pattern, &fd));
  if (!find.Valid()) return;
  do {
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0) continue;
    char sub[MAX_PATH];
    if (!StrJoinPath(sub, folder, fd.cFileName)) continue;
    utl_RemoveFolderTree(sub);
  } while (FindNextFileA(find.Get(), &fd));
}

void utl_ClearAndRemoveFolder(const char* folder) {
  if (!DirectoryExists(folder)) return;
  if (!IsLink(folder)) DeleteMatchingFiles(folder, "*.*");
  RemoveDirectoryA(folder);
}
