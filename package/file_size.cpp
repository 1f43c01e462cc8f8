#include "package/file_size.h"

#include "util/file_basics.h"
#include "util/log.h"

namespace {

int StoreSize(BOOL queried, const WIN32_FILE_ATTRIBUTE_DATA& fa, DWORD* pdwSizeHigh,
              DWORD* pdwSizeLow) {
  if (!queried) {
    ModuleLogLastError("UtlFile", "utl_GetFileSize: GetFileAttributesEx failed with err.%lu.");
    return 0;
  }
  if (pdwSizeHigh) *pdwSizeHigh = fa.nFileSizeHigh;
  if (pdwSizeLow) *pdwSizeLow = fa.nFileSizeLow;
  return 1;
}

}  // namespace

int utl_GetFileSize(const char* path, DWORD* pdwSizeHigh, DWORD* pdwSizeLow) {
  if (!FileExists(path)) return 0;
  WIN32_FILE_ATTRIBUTE_DATA fa;
  return StoreSize(GetFileAttributesExA(path, GetFileExInfoStandard, &fa), fa, pdwSizeHigh,
                   pdwSizeLow);
}

int utl_GetFileSizeW(const wchar_t* path, DWORD* pdwSizeHigh, DWORD* pdwSizeLow) {
  if (!FileExistsW(path)) return 0;
  WIN32_FILE_ATTRIBUTE_DATA fa;
  return StoreSize(GetFileAttributesExW(path, GetFileExInfoStandard, &fa), fa, pdwSizeHigh,
                   pdwSizeLow);
}
