#include "package/work_folder.h"

#include <aclapi.h>
#include <string.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/held_folder.h"
#include "util/links.h"
#include "util/system_info.h"

namespace {

// Entries below the working folder deeper than this are not removed: the folder is then
// moved aside whole and stays there. The tree the setup itself makes is three levels deep.
const int kMaxRemoveDepth = 16;

// <d>:\tmp and the working folder, held from their making until the install sequence ends,
// and the working folder's identity.
HeldFolder g_tmp;
HeldFolder g_work;
FileIdentity g_workId;

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
    return true;
  }
  PSECURITY_DESCRIPTOR Descriptor() { return &sd_; }
  PACL Acl() const { return static_cast<PACL>(acl_.Get()); }
  PSID Admins() const { return admins_.Get(); }

 private:
  UniqueSid system_, admins_;
  UniqueLocal acl_;
  SECURITY_DESCRIPTOR sd_;
};

// Enables the backup and restore privileges for its lifetime and turns off again what it
// turned on. With them, an open for backup is granted listing and delete access whatever
// an entry's DACL says, so that what another account made and locked can be moved aside
// and removed without changing anyone's security. Administrators hold both, disabled.
class RemovalPrivileges {
 public:
  RemovalPrivileges() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token_.Receive()))
      return;
    struct {
      DWORD count;
      LUID_AND_ATTRIBUTES p[2];
    } want;
    want.count = 2;
    if (!LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &want.p[0].Luid) ||
        !LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &want.p[1].Luid))
      return;
    want.p[0].Attributes = want.p[1].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof previous_;
    adjusted_ =
        AdjustTokenPrivileges(token_.Get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&want),
                              sizeof previous_, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_),
                              &size) != FALSE;
  }
  ~RemovalPrivileges() {
    // The previous state names only the privileges that this call changed.
    if (adjusted_ && previous_.count > 0)
      AdjustTokenPrivileges(token_.Get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0,
                            nullptr, nullptr);
  }
  RemovalPrivileges(const RemovalPrivileges&) = delete;
  RemovalPrivileges& operator=(const RemovalPrivileges&) = delete;

 private:
  UniqueHandle token_;
  bool adjusted_ = false;
  struct {
    DWORD count = 0;
    LUID_AND_ATTRIBUTES p[2];
  } previous_;
};

DWORD(WINAPI* g_asideTick)() = GetTickCount;

const DWORD kRemoveFolderAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kRemoveFileAccess = DELETE | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// Deletes the link e of parent itself, only when a handle opened on the name without
// following it reports a link: Wine follows a Unix symbolic link whatever the open asks,
// and its handle then shows the target, which must never be deleted.
void DeleteProvenLink(const HeldFolder& parent, const HeldEntry& e) {
  char name[MAX_PATH];
  if (!e.AnsiName(name, sizeof name)) return;
  UniqueHandle h(parent.OpenEntry(name, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                  FILE_OPEN_FOR_BACKUP_INTENT));
  DWORD attributes;
  if (h.Valid() && EntryFacts(h.Get(), &attributes, nullptr, nullptr) &&
      IsLinkAttributes(attributes))
    DeleteWhenClosed(h.Get());
}

bool RemoveListed(const HeldFolder& parent, const HeldEntry& e, int depth);

// Opens the listed folder e of parent (as folder) and removes everything below it. True
// when its listing is empty afterwards.
bool EmptyListed(const HeldFolder& parent, const HeldEntry& e, int depth, HeldFolder* folder,
                 DWORD* attributes) {
  if (depth >= kMaxRemoveDepth) return false;
  folder->Adopt(parent.OpenListed(e, kRemoveFolderAccess, FILE_DIRECTORY_FILE));
  if (!folder->Valid() || !EntryFacts(folder->Get(), attributes, nullptr, nullptr)) return false;
  bool listed = folder->List([&](const HeldEntry& child) {
    RemoveListed(*folder, child, depth + 1);
    return true;
  });
  // Judged by what is left, not by the calls' results.
  return listed && folder->IsEmpty();
}

// Marks the listed entry e of parent and everything below it for deletion, through handles
// only: each entry is opened relative to its parent, must be what the listing showed (file
// ID, no link) and is neither descended into nor deleted through otherwise. True when the
// entry was marked; the caller judges by listing parent again.
bool RemoveListed(const HeldFolder& parent, const HeldEntry& e, int depth) {
  if (e.IsLink()) {
    DeleteProvenLink(parent, e);
    return true;
  }
  DWORD attributes, links;
  if (!e.IsFolder()) {
    UniqueHandle file(parent.OpenListed(e, kRemoveFileAccess, FILE_NON_DIRECTORY_FILE));
    // A file with more names is someone else's too: its attributes are not touched.
    if (!file.Valid() || !EntryFacts(file.Get(), &attributes, &links, nullptr) ||
        (links > 1 && (attributes & FILE_ATTRIBUTE_READONLY)) ||
        (links <= 1 && !ClearReadOnly(file.Get(), attributes)))
      return false;
    return DeleteWhenClosed(file.Get());
  }
  HeldFolder folder;
  return EmptyListed(parent, e, depth, &folder, &attributes) &&
         ClearReadOnly(folder.Get(), attributes) && DeleteWhenClosed(folder.Get());
}

// Renames the listed entry e of tmp, open as h with DELETE, to "<name>.<tick>-<n>", never
// onto a name that exists, and only while its name still leads to it.
void MoveOpenAside(const HeldFolder& tmp, HANDLE h, const HeldEntry& e, const char* name) {
  DWORD tick = g_asideTick();
  for (unsigned n = 0; tmp.NamesEntry(h, e) && n < 100; ++n) {
    char aside[MAX_PATH];
    if (!StrFormat(aside, sizeof aside, "%s.%lu-%u", name, tick, n)) break;
    if (tmp.MoveHere(h, aside)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
}

// Moves the listed entry e of tmp aside whole. A link is deleted as a link where that is
// proven and otherwise left in place. True when tmp's listing no longer shows the name.
bool MoveAside(const HeldFolder& tmp, const HeldEntry& e, const char* name) {
  if (e.IsLink()) {
    DeleteProvenLink(tmp, e);
  } else {
    UniqueHandle h(tmp.OpenListed(e, DELETE | SYNCHRONIZE, 0));
    if (h.Valid()) MoveOpenAside(tmp, h.Get(), e, name);
  }
  HeldEntry left;
  return !tmp.Find(e, &left);
}

// Clears the name of the working folder: what stands there goes, or is moved aside whole
// when it cannot be removed. An old folder is emptied, then moved aside and removed from
// there: a name deleted on close stays while another program holds the folder open, and
// the folder could not be made again at once. True when tmp's listing no longer shows it.
bool ClearName(const HeldFolder& tmp, const char* name) {
  HeldEntry old;
  if (!tmp.Find(name, &old)) return true;
  if (old.IsFolder() && !old.IsLink()) {
    // Closed before a move of the whole folder, which opens it with delete access.
    HeldFolder folder;
    DWORD attributes;
    if (EmptyListed(tmp, old, 0, &folder, &attributes)) MoveOpenAside(tmp, folder.Get(), old, name);
    folder.Close();
  } else {
    RemoveListed(tmp, old, 0);
  }
  return !tmp.Find(name, &old) || MoveAside(tmp, old, name);
}

// True when entry is "<name>.<digits>-<digits>", a name MoveAside gives.
bool IsAsideOf(const HeldEntry& e, const char* name) {
  char n[MAX_PATH];
  size_t len = strlen(name);
  if (!e.AnsiName(n, sizeof n) || strlen(n) <= len + 1 ||
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, n, static_cast<int>(len), name,
                     static_cast<int>(len)) != CSTR_EQUAL ||
      n[len] != '.')
    return false;
  const char* p = n + len + 1;
  int digits = 0;
  while (*p >= '0' && *p <= '9') ++p, ++digits;
  if (digits == 0 || *p++ != '-') return false;
  digits = 0;
  while (*p >= '0' && *p <= '9') ++p, ++digits;
  return digits > 0 && *p == '\0';
}

// Removes the folders that earlier runs moved aside, as far as they can be removed; what
// stays is tried again by the next run.
void RemoveAsides(const HeldFolder& tmp, const char* name) {
  tmp.List([&](const HeldEntry& e) {
    if (IsAsideOf(e, name)) RemoveListed(tmp, e, 0);
    return true;
  });
}

}  // namespace

int utl_GetTempWorkPath(char* out, DWORD capacity, const char* base, BOOL withTickSuffix,
                        BOOL clearIfExists) {
  if (out == nullptr || base == nullptr) return 0;
  utl_ReleaseWorkFolder();
  char drive = SystemDriveLetter();
  if (drive == '\0') return 0;

  unsigned suffix = withTickSuffix ? static_cast<unsigned>(GetTickCount()) : 0u;
  char name[MAX_PATH], path[MAX_PATH + 1];
  if (!StrFormat(name, sizeof name, "%s%u", base, suffix) ||
      !StrFormat(path, sizeof path, "%c:\\tmp\\%s", drive, name) || strlen(path) >= capacity)
    return 0;

  WorkFolderAcl acl;
  HeldFolder root;
  if (!acl.Init() || !root.OpenDriveRoot(drive)) return 0;
  // <d>:\tmp is opened, or made, by one call that follows no link; every later step goes
  // through that handle. A link or a file there stops the run.
  if (g_tmp.Open(root, "tmp", true) != HoldResult::kHeld) return 0;
  {
    RemovalPrivileges privileges;
    // Nothing that stands at the name is adopted, whoever made it: it is removed, or moved
    // aside when it cannot be removed whole, and what earlier runs moved aside is removed.
    if (!ClearName(g_tmp, name)) {
      utl_ReleaseWorkFolder();
      return 0;
    }
    RemoveAsides(g_tmp, name);
  }
  // Made new, with its DACL, by a create that must succeed; its handle is the hold and the
  // identity that every later check compares with.
  if (!g_work.MakeNew(g_tmp, name, acl.Descriptor(), WRITE_OWNER) ||
      SetSecurityInfo(g_work.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, acl.Admins(),
                      nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
      !g_work.Identity(&g_workId)) {
    utl_ReleaseWorkFolder();
    return 0;
  }
  memcpy(out, path, strlen(path) + 1);
  return 1;
}

bool utl_IsWorkFolderIntact(const char* path) {
  if (!g_work.Valid() || path == nullptr || IsLink(path)) return false;
  UniqueHandle h(CreateFileA(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info;
  return h.Valid() && GetFileInformationByHandle(h.Get(), &info) &&
         !IsLinkAttributes(info.dwFileAttributes) && IdentityOf(h.Get(), &id) &&
         SameIdentity(id, g_workId);
}

void utl_EmptyWorkFolder() {
  g_work.List([](const HeldEntry& e) {
    RemoveListed(g_work, e, 0);
    return true;
  });
}

void utl_ReleaseWorkFolder() {
  g_work.Close();
  g_tmp.Close();
}

void utl_SetAsideTickForTest(DWORD(WINAPI* tick)()) {
  g_asideTick = tick != nullptr ? tick : GetTickCount;
}
