#include "package/work_folder.h"

#include <aclapi.h>
#include <string.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/links.h"
#include "util/system_info.h"

namespace {

// Entries below the working folder deeper than this are not removed: the folder is then
// moved aside whole. The tree the setup itself makes is three levels deep.
const int kMaxRemoveDepth = 16;

// The folders the setup works in, held from their making until the install sequence ends
// so that Windows refuses to rename or delete them, and the working folder's identity.
UniqueHandle g_tmpHold;
UniqueHandle g_workHold;
FileIdentity g_workId;

// A real folder at path: a link there is removed (never followed), then the folder is made
// with default security when missing. False when that fails or a file stands there.
bool EnsureRealFolder(const char* path) {
  DWORD a = GetFileAttributesA(path);
  if (IsLinkAttributes(a)) {
    if (!RemoveLink(path)) return false;
    a = INVALID_FILE_ATTRIBUTES;
  }
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return CreateDirectoryA(path, nullptr) != FALSE;
}

// SYSTEM and Administrators with full control, inherited by what is made inside. The
// owner is set separately: a descriptor naming one would make creation fail for a token
// that may not assign it.
class WorkFolderAcl {
 public:
  bool Init() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
      return false;
    system_.Reset(system);
    admins_ = CreateAdministratorsSid();
    if (!admins_.Valid()) return false;
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

// Opens the object at path without following a link; invalid when it cannot be opened
// with that access or is a link.
HANDLE OpenNoFollow(const char* path, DWORD access) {
  UniqueHandle h(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info) ||
      IsLinkAttributes(info.dwFileAttributes))
    return INVALID_HANDLE_VALUE;
  return h.Release();
}

// Sets owner and protected DACL on the object at path, opened without following a link so
// that an entry swapped for a link in the meantime is refused, not followed. Ownership is
// taken first through an open that asks for WRITE_OWNER alone: the take-ownership
// privilege grants that much on an entry whose DACL shuts Administrators out, and the new
// owner may then always open it to write the DACL.
bool ResetSecurity(const char* path, const WorkFolderAcl& acl) {
  {
    UniqueHandle h(OpenNoFollow(path, WRITE_OWNER));
    if (!h.Valid() || SetSecurityInfo(h.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                      acl.Admins(), nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
  }
  UniqueHandle h(OpenNoFollow(path, READ_CONTROL | WRITE_DAC));
  return h.Valid() &&
         SetSecurityInfo(h.Get(), SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, acl.Acl(), nullptr) == ERROR_SUCCESS;
}

bool Gone(const char* path) { return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; }

// Removes whatever stands at path without following links: a link as a link, a file, a
// folder with everything in it. Entries another account locked are taken over first. Each
// folder is removed through a handle that was opened on it before its entries were
// listed, without FILE_SHARE_DELETE, so that it cannot be swapped for another one (or a
// link) while its entries are removed by path. True when nothing stands at path afterwards.
bool RemoveNoFollow(const char* path, const WorkFolderAcl& acl, int depth) {
  DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  if (IsLinkAttributes(a)) return RemoveLink(path);
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path)) return Gone(path);
    if (!ResetSecurity(path, acl)) return false;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) && Gone(path);
  }
  if (depth > kMaxRemoveDepth) return false;
  const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY;
  UniqueHandle folder(
      CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.Valid() && ResetSecurity(path, acl))
    folder.Reset(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder.Valid() || !GetFileInformationByHandle(folder.Get(), &info) ||
      IsLinkAttributes(info.dwFileAttributes) || IsLink(path))
    return false;
  SetFileAttributesA(path, FILE_ATTRIBUTE_DIRECTORY);

  char pattern[MAX_PATH];
  if (!StrJoinPath(pattern, path, "*")) return false;
  bool ok = true;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(pattern, &fd));
  if (find.Valid()) {
    do {
      if (lstrcmpA(fd.cFileName, ".") == 0 || lstrcmpA(fd.cFileName, "..") == 0) continue;
      char child[MAX_PATH];
      if (!StrJoinPath(child, path, fd.cFileName)) {
        ok = false;
        continue;
      }
      bool removed = IsLinkAttributes(fd.dwFileAttributes) ? RemoveLink(child)
                                                           : RemoveNoFollow(child, acl, depth + 1);
      if (!removed) ok = false;
    } while (FindNextFileA(find.Get(), &fd));
  }
  find.Reset();
  if (!ok) return false;
  FILE_DISPOSITION_INFO dispose;
  dispose.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(folder.Get(), FileDispositionInfo, &dispose, sizeof dispose))
    return false;
  folder.Reset();
  return Gone(path);
}

}  // namespace

int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists) {
  if (out == nullptr || base == nullptr) return 0;
  utl_ReleaseWorkFolder();
  char drive = SystemDriveLetter();
  if (drive == '\0') return 0;

  char tmp[8] = {drive, ':', '\\', 't', 'm', 'p', '\0'};
  if (!EnsureRealFolder(tmp)) return 0;

  unsigned suffix = withTickSuffix ? static_cast<unsigned>(GetTickCount()) : 0u;
  char path[MAX_PATH + 1];
  if (!StrFormat(path, sizeof path, "%s\\%s%u", tmp, base, suffix)) return 0;
  if (strlen(path) >= capacity) return 0;

  WorkFolderAcl acl;
  if (!acl.Init()) return 0;
  EnableTakeOwnership();
  // Nothing that stands at the path is adopted, whoever made it: a folder may hold
  // planted files or a handle its maker opened before the DACL was reset. A folder or file
  // that cannot be removed is moved aside (a link that cannot be removed stops the run);
  // the folder is then made new, with its DACL, by a create that must succeed.
  if (!RemoveNoFollow(path, acl, 0) && !MoveAside(path)) return 0;
  if (!CreateDirectoryA(path, acl.Attributes())) return 0;
  if (!ResetSecurity(path, acl)) return 0;

  g_tmpHold.Reset(HoldFolder(tmp));
  g_workHold.Reset(HoldFolder(path));
  if (!g_tmpHold.Valid() || !g_workHold.Valid() || !IdentityOf(g_workHold.Get(), &g_workId)) {
    utl_ReleaseWorkFolder();
    return 0;
  }
  memcpy(out, path, strlen(path) + 1);
  return 1;
}

bool utl_IsWorkFolderIntact(const char* path) {
  if (!g_workHold.Valid() || path == nullptr || IsLink(path)) return false;
  UniqueHandle h(CreateFileA(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info;
  return h.Valid() && GetFileInformationByHandle(h.Get(), &info) &&
         !IsLinkAttributes(info.dwFileAttributes) && IdentityOf(h.Get(), &id) &&
         SameIdentity(id, g_workId);
}

void utl_ReleaseWorkFolder() {
  g_workHold.Reset();
  g_tmpHold.Reset();
}
