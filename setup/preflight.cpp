#include "setup/preflight.h"

#include "util/handles.h"
#include "util/log.h"
#include "util/system_info.h"

namespace {
const char kAdminLog[] = "IsCurUserAdmin";

// SID of the built-in Administrators alias, S-1-5-32-544; null on failure (logged).
UniqueSid AdministratorsSid() {
  UniqueSid sid = CreateAdministratorsSid();
  if (!sid.Valid())
    FixedFolderLogLastError(kAdminLog, "Cannot create SID for Administrators with Err:%lu.");
  return sid;
}
}  // namespace

bool GroupsHoldAdministrators(const TOKEN_GROUPS* groups) {
  UniqueSid admins = AdministratorsSid();
  if (!admins.Valid() || groups == nullptr) return false;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (groups->Groups[i].Sid != nullptr && EqualSid(admins.Get(), groups->Groups[i].Sid))
      return true;
  }
  return false;
}

bool IsCurUserAdmin() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
    FixedFolderLog(kAdminLog, "Cannot open process token");
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size);
  HeapBuffer list(size ? size : 1);
  if (!GetTokenInformation(token.Get(), TokenGroups, list.Get(), size, &size)) {
    FixedFolderLog(kAdminLog, "GetTokenInformation error");
    return false;
  }
  if (list.Get() == nullptr) {
    FixedFolderLog(kAdminLog, "GetTokenInformation error with NULL!");
    return false;
  }
  return GroupsHoldAdministrators(list.As<TOKEN_GROUPS>());
}

long long GetDiskFreeBytes(const char* path) {
  typedef BOOL(WINAPI * GetDiskFreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                              PULARGE_INTEGER);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  GetDiskFreeSpaceExFn ex =
      kernel ? reinterpret_cast<GetDiskFreeSpaceExFn>(GetProcAddress(kernel, "GetDiskFreeSpaceExA"))
             : nullptr;
  if (ex != nullptr) {
    ULARGE_INTEGER avail, total, free;
    if (!ex(path, &avail, &total, &free)) return -1;
    return static_cast<long long>(avail.QuadPart);
  }
  DWORD spc, bps, freeClusters, clusters;
  if (!GetDiskFreeSpaceA(path, &spc, &bps, &freeClusters, &clusters)) return -1;
  return static_cast<long long>(spc) * bps * freeClusters;
}
