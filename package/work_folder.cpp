#include "package/work_folder.h"

#include <aclapi.h>
#include <stdarg.h>
#include <string.h>

#include "package/install_errors.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/held_folder.h"
#include "util/links.h"
#include "util/reason_text.h"
#include "util/system_info.h"

namespace {

// Entries below the working folder deeper than this are not removed: the folder is then
// moved aside whole and stays there. The tree the setup itself makes is three levels deep.
const int kMaxRemoveDepth = 16;
// A scanner or an indexer holds a file of the old folder for a moment: the removal is tried
// again for about this long, in short pauses, before the run gives up.
const DWORD kClearForMs = 5000;
const DWORD kClearPauseMs = 100;

// The longest escaped name: every unit shown as "\uXXXX", then "...".
const size_t kSnagNameBytes = kReasonNameMax * 6 + 4;
// Why the last utl_GetTempWorkPath failed, for the setup log; "" after a success. Room for
// the longest line: such a name, or a path, and the text around it.
char g_reason[kSnagNameBytes + 128];
// The first entry of this pass that could not be removed, and whether what stood in the way
// may pass by itself (another program holding an entry, a deletion still pending).
struct RemovalSnag {
  bool seen;
  bool transient;
  char name[kSnagNameBytes];
  DWORD error;
} g_snag;

// Notes the listed entry e as the pass's first that could not be removed, with error.
void NoteSnag(const HeldEntry& e, DWORD error, bool transient) {
  g_snag.transient = g_snag.transient || transient;
  if (g_snag.seen) return;
  g_snag.seen = true;
  g_snag.error = error;
  ReasonNameW(g_snag.name, sizeof g_snag.name, reinterpret_cast<const uint16_t*>(e.name),
              e.nameChars);
}

// Notes e with the error of the call on it that just failed; false.
bool Failed(const HeldEntry& e) {
  NoteSnag(e, GetLastError(), false);
  return false;
}

void SetReason(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void SetReason(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (!StrFormatV(g_reason, sizeof g_reason, fmt, ap)) StrCopy(g_reason, "utl_GetTempWorkPath");
  va_end(ap);
}

// <d>:\tmp and the working folder, held from their making until the install sequence ends.
HeldFolder g_tmp;
HeldFolder g_work;

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
size_t g_passMargin = 64;
void (*g_afterCount)() = nullptr;

const DWORD kRemoveFolderAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kRemoveFileAccess = DELETE | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// Deletes the link e of parent itself, only when a handle opened on the name without
// following it reports a link: Wine follows a Unix symbolic link whatever the open asks,
// and its handle then shows the target, which must never be deleted. True when it was
// marked.
bool DeleteProvenLink(const HeldFolder& parent, const HeldEntry& e) {
  char name[MAX_PATH];
  if (!e.AnsiName(name, sizeof name)) return false;
  UniqueHandle h(parent.OpenEntry(name, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                  FILE_OPEN_FOR_BACKUP_INTENT));
  DWORD attributes;
  return h.Valid() && EntryFacts(h.Get(), &attributes, nullptr, nullptr) &&
         IsLinkAttributes(attributes) && DeleteWhenClosed(h.Get());
}

bool RemoveListed(const HeldFolder& parent, const HeldEntry& e, int depth);

// Opens the listed folder e of parent (as folder) and removes everything below it. True
// when its listing is empty afterwards.
bool EmptyListed(const HeldFolder& parent, const HeldEntry& e, int depth, HeldFolder* folder,
                 DWORD* attributes) {
  if (depth >= kMaxRemoveDepth) {
    NoteSnag(e, ERROR_FILENAME_EXCED_RANGE, false);
    return false;
  }
  folder->Adopt(parent.OpenListed(e, kRemoveFolderAccess, FILE_DIRECTORY_FILE));
  if (!folder->Valid()) {
    DWORD err = GetLastError();
    NoteSnag(e, err, err == ERROR_SHARING_VIOLATION);
    return false;
  }
  if (!EntryFacts(folder->Get(), attributes, nullptr, nullptr)) return Failed(e);
  // A pass visits at most the entries found at its start and a few more: a program that
  // keeps adding names to its folder cannot hold the run in one pass. What it adds is tried
  // again in the next pass, within the 5 s.
  size_t visits = 0;
  folder->List([&](const HeldEntry&) {
    ++visits;
    return true;
  });
  if (g_afterCount != nullptr) g_afterCount();
  visits += g_passMargin;
  bool allMarked = true;
  bool listed = folder->List([&](const HeldEntry& child) {
    if (visits-- == 0) {
      NoteSnag(e, ERROR_DIR_NOT_EMPTY, true);
      return allMarked = false;
    }
    allMarked = RemoveListed(*folder, child, depth + 1) && allMarked;
    return true;
  });
  // Judged by what is left, not by the calls' results. Left although every entry was
  // marked: a deletion still pending until another program closes its handle.
  bool empty = listed && folder->IsEmpty();
  if (listed && !empty && allMarked) NoteSnag(e, ERROR_DIR_NOT_EMPTY, true);
  return empty;
}

// Marks the listed entry e of parent and everything below it for deletion, through handles
// only: each entry is opened relative to its parent, must be what the listing showed (file
// ID, no link) and is neither descended into nor deleted through otherwise. True when the
// entry was marked; the caller judges by listing parent again.
bool RemoveListed(const HeldFolder& parent, const HeldEntry& e, int depth) {
  // A link no handle proves to be one stays, and its folder with it: nothing to wait for.
  if (e.IsLink()) return DeleteProvenLink(parent, e);
  DWORD attributes, links;
  if (!e.IsFolder()) {
    UniqueHandle file(parent.OpenListed(e, kRemoveFileAccess, FILE_NON_DIRECTORY_FILE));
    if (!file.Valid()) {
      DWORD err = GetLastError();
      NoteSnag(e, err, err == ERROR_SHARING_VIOLATION);
      return false;
    }
    // A file with more names is someone else's too: its attributes are not touched.
    if (!EntryFacts(file.Get(), &attributes, &links, nullptr)) return Failed(e);
    if (links > 1 && (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return Failed(e);
    }
    return ((links > 1 || ClearReadOnly(file.Get(), attributes)) && DeleteWhenClosed(file.Get())) ||
           Failed(e);
  }
  HeldFolder folder;
  if (!EmptyListed(parent, e, depth, &folder, &attributes)) return false;
  return (ClearReadOnly(folder.Get(), attributes) && DeleteWhenClosed(folder.Get())) || Failed(e);
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
  if (!tmp.Find(name, &old)) return true;
  // What another program holds for a moment is waited for, not moved aside: Windows refuses
  // to rename a folder with an open handle beneath it anyway.
  if (g_snag.transient) return false;
  if (MoveAside(tmp, old, name)) return true;
  if (!g_snag.seen) NoteSnag(old, GetLastError(), false);
  return false;
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
                        BOOL clearIfExists, DWORD* pdwErr) {
  if (out == nullptr || base == nullptr) return 0;
  utl_ReleaseWorkFolder();
  char drive = SystemDriveLetter();
  if (drive == '\0') {
    SetReason("utl_GetTempWorkPath: the system directory cannot be read, error %lu.",
              GetLastError());
    return 0;
  }

  unsigned suffix = withTickSuffix ? static_cast<unsigned>(GetTickCount()) : 0u;
  char name[MAX_PATH], path[MAX_PATH + 1];
  if (!StrFormat(name, sizeof name, "%s%u", base, suffix) ||
      !StrFormat(path, sizeof path, "%c:\\tmp\\%s", drive, name) || strlen(path) >= capacity) {
    SetReason("utl_GetTempWorkPath: the working folder's path does not fit.");
    return 0;
  }

  WorkFolderAcl acl;
  HeldFolder root;
  if (!acl.Init() || !root.OpenDriveRoot(drive)) {
    SetReason("utl_GetTempWorkPath: %c:\\ cannot be opened, error %lu.", drive, GetLastError());
    return 0;
  }
  // <d>:\tmp is opened, or made, by one call that follows no link; every later step goes
  // through that handle. A link or a file there stops the run.
  HoldResult tmpHold = g_tmp.Open(root, "tmp", true);
  if (tmpHold != HoldResult::kHeld) {
    DWORD err = GetLastError();
    HeldEntry e;
    e.attributes = 0;
    if (tmpHold == HoldResult::kFailed)
      SetReason("utl_GetTempWorkPath: %c:\\tmp cannot be opened or made, error %lu.", drive, err);
    else
      SetReason("utl_GetTempWorkPath: %s stands at %c:\\tmp.",
                !root.Find("tmp", &e) ? "something that vanished"
                : e.IsLink()          ? "a link"
                : e.IsFolder()        ? "a folder that changed while it was opened"
                                      : "a file",
                drive);
    return 0;
  }
  // Nothing that stands at the name is adopted, whoever made it: it is removed, or moved
  // aside when it cannot be removed whole, and what earlier runs moved aside is removed.
  // What another program holds for a moment is tried again, the privileges off meanwhile.
  for (DWORD start = GetTickCount();;) {
    memset(&g_snag, 0, sizeof g_snag);
    bool cleared;
    {
      RemovalPrivileges privileges;
      cleared = ClearName(g_tmp, name);
      if (cleared) RemoveAsides(g_tmp, name);
    }
    if (cleared) break;
    if (!g_snag.transient || GetTickCount() - start >= kClearForMs) {
      SetReason("utl_GetTempWorkPath: %s below %c:\\tmp could not be removed or moved aside, "
                "error %lu%s.",
                g_snag.seen ? g_snag.name : name, drive, g_snag.error,
                g_snag.error == ERROR_SHARING_VIOLATION ? " (another program holds it)" : "");
      utl_ReleaseWorkFolder();
      return 0;
    }
    Sleep(kClearPauseMs);
  }
  // Made new, with its DACL, by a create that must succeed; its handle is the hold and the
  // identity that every later check compares with (FILE_WRITE_ATTRIBUTES clears the
  // case-sensitivity flag, WRITE_OWNER sets the owner). Under Wine the create makes the
  // folder and then opens it by name, and the handle gets whatever was put at the name in
  // between: a link, or a name that no longer leads to what the handle holds, fails the
  // listing; a folder moved in is not empty, whereas a folder just made is.
  HoldResult made =
      g_work.MakeNew(g_tmp, name, acl.Descriptor(), WRITE_OWNER | FILE_WRITE_ATTRIBUTES);
  bool empty = true;
  if (made != HoldResult::kHeld || !g_work.List([&](const HeldEntry&) {
        empty = false;
        return false;
      })) {
    if (made == HoldResult::kRefused) {
      SetReason("utl_GetTempWorkPath: the working folder's name does not lead to the folder made.");
      if (pdwErr != nullptr) *pdwErr = kSeqErrWorkFolderSwapped;
    } else {
      SetReason("utl_GetTempWorkPath: %s cannot be made, error %lu.", path, GetLastError());
    }
    utl_ReleaseWorkFolder();
    return 0;
  }
  if (!empty) {
    SetReason("utl_GetTempWorkPath: the working folder is not empty right after it is made.");
    if (pdwErr != nullptr) *pdwErr = kSeqErrWorkFolderSwapped;
    utl_ReleaseWorkFolder();
    return 0;
  }
  // Inherited from <d>:\tmp, whose owner may have set it: "Data" and "data" would then be
  // two folders and the customization files would not be found where they are placed.
  if (!g_work.ClearCaseSensitive()) {
    SetReason("utl_GetTempWorkPath: the case-sensitivity flag is set and cannot be cleared, "
              "error %lu.", GetLastError());
    utl_ReleaseWorkFolder();
    return 0;
  }
  DWORD ownerErr = SetSecurityInfo(g_work.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                   acl.Admins(), nullptr, nullptr, nullptr);
  if (ownerErr != ERROR_SUCCESS) {
    SetReason("utl_GetTempWorkPath: %s cannot be given its owner, error %lu.", path, ownerErr);
    utl_ReleaseWorkFolder();
    return 0;
  }
  g_reason[0] = '\0';
  memcpy(out, path, strlen(path) + 1);
  return 1;
}

bool utl_IsWorkFolderIntact(const char* path) { return g_work.IsAt(path); }

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

void utl_SetPassMarginForTest(size_t margin, void (*afterCount)()) {
  g_passMargin = margin;
  g_afterCount = afterCount;
}

void utl_SetAsideTickForTest(DWORD(WINAPI* tick)()) {
  g_asideTick = tick != nullptr ? tick : GetTickCount;
}

const char* utl_WorkFolderFailure() { return g_reason; }
