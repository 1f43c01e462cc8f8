#include "package/file_size.h"

#include "util/file_basics.h"
#include "util/log.h"

int utl_GetFileSize(const char* path, DWORD* pdwSizeHigh, DWORD* pdwSizeLow) {
  if (!FileExists(path)) return 0;
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &fa)) {
    ModuleLogLastError("UtlFile", "utl_GetFileSize: GetFileAttributesEx failed with err.%lu.");
    return 0;
  }
  if (pdwSizeHigh) *pdwSizeHigh = fa.nFileSizeHigh;
  if (pdwSizeLow) *pdwSizeLow = fa.nFileSizeLow;
  return 1;
}
