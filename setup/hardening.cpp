#include "setup/hardening.h"

#include <windows.h>

void HardenDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  // Windows 8 and later, and Windows 7 with KB2533623; looked up since older systems lack it.
  SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      GetProcAddress(kernel, "SetDefaultDllDirectories"));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Takes the current folder out of the search on systems without the call above.
  SetDllDirectoryFn setDir =
      reinterpret_cast<SetDllDirectoryFn>(GetProcAddress(kernel, "SetDllDirectoryA"));
  if (setDir != nullptr) setDir("");
}
