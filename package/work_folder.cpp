#include "package/work_folder.h"

#include <aclapi.h>
#include <string.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"

namespace {

// Reparse points inside the tree deeper than this are left for the removal walk; the
// tree the setup itself makes is three levels deep.
const int kMaxSecureDepth = 16;

bool IsLinkAttr(DWORD a) {
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes a junction or symbolic link itself (a folder link or a file link).
bool RemoveLink(const char* path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(path) != FALSE;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path) != FALSE;
}

// A folder at path that is a real folder: a link there is removed, then the folder is
// made with sa (null for default security) when missing. False when that fails or
// something other than a folder stands there.
bool EnsureRealFolder(const char* path, SECURITY_ATTRIBUTES* sa, bool* created) {
  *created = false;
  DWORD a = GetFileAttributesA(path);
  if (IsLinkAttr(a)) {
    if (!RemoveLink(path, a)) return false;
    a = INVALID_FILE_ATTRIBUTES;
  }
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!CreateDirectoryA(path, sa)) return false;
  *created = true;
  return true;
}

// SYSTEM and Administrators with full control, inherited by what is made inside. The
// owner is set separately: a descriptor naming one would make creation fail for a token
// that may not assign it.
class WorkFolderAcl {
 public:
  bool Init() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr, admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &system))
      return false;
    system_.Reset(system);
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
      return false;
    admins_.Reset(admins);
    EXPLICIT_ACCESSA ea[2];
    memset(ea, 0, sizeof ea);
    PSID sids[2] = {system_.Get(), admins_.Get()};
    for (int i = 0; i < 2; ++i) {
      ea[i].grfAccessPermissions = FILE_ALL_ACCESS;
      ea[i].grfAccessMode = SET_ACCESS;
      ea[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
      ea[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      ea[i].Trustee.TrusteeType = i == 0 ? TRUSTEE_IS_USER : TRUSTEE_IS_ALIAS;
      ea[i].Trustee.ptstrName = static_cast<LPSTR>(sids[i]);
    }
    PACL acl = nullptr;
    if (SetEntriesInAclA(2, ea, nullptr, &acl) != ERROR_SUCCESS) return false;
    acl_.Reset(acl);
    if (!InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd_, TRUE, Acl(), FALSE) ||
        !SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
      return false;
    sa_.nLength = sizeof sa_;
    sa_.lpSecurityDescriptor = &sd_;
    sa_.bInheritHandle = FALSE;
    return true;
  }
  SECURITY_ATTRIBUTES* Attributes() { return &sa_; }
  PACL Acl() const { return static_cast<PACL>(acl_.Get()); }
  PSID Admins() const { return admins_.Get(); }

 private:
  UniqueSid system_, admins_;
  UniqueLocal acl_;
  SECURITY_DESCRIPTOR sd_;
  SECURITY_ATTRIBUTES sa_;
};

// Lets the process take ownership of what another account made and locked. Admins hold
// the privilege, disabled; failing to enable it only matters for such objects.
void EnableTakeOwnership() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                        token.Receive()))
    return;
  TOKEN_PRIVILEGES tp;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, "SeTakeOwnershipPrivilege", &tp.Privileges[0].Luid)) return;
  AdjustTokenPrivileges(token.Get(), FALSE, &tp, 0, nullptr, nullptr);
}

// Sets owner and protected DACL on the object at path, opened without following a link so
// that a folder swapped for a link in the meantime is refused, not followed.
bool ResetSecurity(const char* path, const WorkFolderAcl& acl) {
  UniqueHandle h(CreateFileA(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
  if (!h.Valid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  // Owner first: the new owner may then always write the DACL.
  if (SetSecurityInfo(h.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, acl.Admins(), nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return SetSecurityInfo(h.Get(), SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, acl.Acl(), nullptr) == ERROR_SUCCESS;
}

// Secures what an existing working folder holds: links are removed, every other entry
// gets the folder's owner and DACL. False when any entry can be neither.
bool SecureContents(const char* folder, const WorkFolderAcl& acl, int depth) {
  char pattern[MAX_PATH];
  if (!StrJoinPath(pattern, folder, "*")) return false;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(pattern, &fd));
  if (!find.Valid()) return true;
  bool ok = true;
  do {
    if (lstrcmpA(fd.cFileName, ".") == 0 || lstrcmpA(fd.cFileName, "..") == 0) continue;
    char path[MAX_PATH];
    if (!StrJoinPath(path, folder, fd.cFileName)) {
      ok = false;
      continue;
    }
    if (IsLinkAttr(fd.dwFileAttributes)) {
      if (!RemoveLink(path, fd.dwFileAttributes)) ok = false;
      continue;
    }
    if (!ResetSecurity(path, acl)) {
      ok = false;
      continue;
    }
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && depth < kMaxSecureDepth &&
        !SecureContents(path, acl, depth + 1))
      ok = false;
  } while (FindNextFileA(find.Get(), &fd));
  return ok;
}

}  // namespace

int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists) {
  if (out == nullptr || base == nullptr) return 0;
  char sysDir[MAX_PATH + 1];
  UINT n = GetSystemDirectoryA(sysDir, sizeof sysDir);
  if (n == 0 || n > MAX_PATH) return 0;

  char tmp[8] = {sysDir[0], ':', '\\', 't', 'm', 'p', '\0'};
  bool created = false;
  if (!EnsureRealFolder(tmp, nullptr, &created)) return 0;

  unsigned suffix = withTickSuffix ? static_cast<unsigned>(GetTickCount()) : 0u;
  char path[MAX_PATH + 1];
  if (!StrFormat(path, sizeof path, "%s\\%s%u", tmp, base, suffix)) return 0;
  if (strlen(path) >= capacity) return 0;

  WorkFolderAcl acl;
  if (!acl.Init()) return 0;
  EnableTakeOwnership();
  if (!EnsureRealFolder(path, acl.Attributes(), &created)) return 0;
  // Made now with its DACL, or there before: either way owner and DACL are set again, and
  // what an earlier run or someone else left inside is secured before it is touched.
  if (!ResetSecurity(path, acl)) return 0;
  if (!created && !SecureContents(path, acl, 0)) return 0;
  if (!created && clearIfExists) DeleteMatchingFiles(path, "*.*");
  memcpy(out, path, strlen(path) + 1);
  return 1;
}
