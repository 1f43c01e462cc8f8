#include "util/file_basics.h"

#include <windows.h>

#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/links.h"
#include "util/log.h"
#include "util/system_info.h"

bool GetSystemDrive(const char* logName, char* buffer, unsigned size) {
  if (size < 260) {
    ModuleLog(logName, "the len in is too small", 0);
    return false;
  }
  // The buffer's own size bounds the read (at most 261 bytes are needed).
  UINT cap = size < 261 ? size : 261;
  if (!GetSystemFolder(buffer, cap)) return false;
  buffer[1] = '\0';
  return true;
}

namespace {
// Calls match(attributes) for every entry matching path until it answers true.
template <typename F>
bool AnyEntry(const char* path, F match) {
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(path, &fd));
  if (!find.Valid()) return false;
  do {
    if (match(fd.dwFileAttributes)) return true;
  } while (FindNextFileA(find.Get(), &fd));
  return false;
}
}  // namespace

bool FileExists(const char* path) {
  return AnyEntry(path, [](DWORD a) { return (a & FILE_ATTRIBUTE_DIRECTORY) == 0; });
}

bool FileExistsW(const wchar_t* path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const char* path) {
  return AnyEntry(path, [](DWORD a) { return (a & FILE_ATTRIBUTE_DIRECTORY) != 0; });
}

void DeleteMatchingFiles(const char* folder, const char* pattern, const char* keepName) {
  char search[MAX_PATH];
  if (!StrJoinPath(search, folder, pattern)) return;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(search, &fd));
  if (!find.Valid()) return;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (keepName != nullptr && lstrcmpiA(fd.cFileName, keepName) == 0) continue;
    char path[MAX_PATH];
    if (!StrJoinPath(path, folder, fd.cFileName)) continue;
    // A link is deleted as a link: DeleteFileA removes the link itself, while changing
    // attributes could reach its target. Folder links were skipped above.
    if (!IsLinkAttributes(fd.dwFileAttributes)) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
  } while (FindNextFileA(find.Get(), &fd));
}
