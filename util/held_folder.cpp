#include "util/held_folder.h"

#include <winternl.h>

#include <stddef.h>
#include <string.h>

#include "util/case_flag.h"
#include "util/nt_calls.h"
#include "util/win_values.h"

namespace {

// The native calls that open relative to a handle, list through it and rename into it.
// ntdll is mapped into every process before any code of the program runs, so looking them
// up adds no DLL to the program and cannot load one from elsewhere.
NtCalls& Nt() {
  static NtCalls n;
  static bool looked = false;
  if (!looked) {
    looked = true;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr) {
      n.create = reinterpret_cast<NtCreateFileFn>(GetProcAddress(ntdll, "NtCreateFile"));
      n.queryDirectory =
          reinterpret_cast<NtQueryDirectoryFileFn>(GetProcAddress(ntdll, "NtQueryDirectoryFile"));
      n.setInformation =
          reinterpret_cast<NtSetInformationFileFn>(GetProcAddress(ntdll, "NtSetInformationFile"));
      n.queryInformation = reinterpret_cast<NtQueryInformationFileFn>(
          GetProcAddress(ntdll, "NtQueryInformationFile"));
      n.toDosError =
          reinterpret_cast<RtlNtStatusToDosErrorFn>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
    }
    n.ok = n.create && n.queryDirectory && n.setInformation && n.queryInformation && n.toDosError;
  }
  return n;
}

const NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(win::kStatusNoMoreFiles);
// The hold: listing takes part in sharing checks; no FILE_SHARE_DELETE refuses a rename.
const DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A listing buffer: several entries of up to 255 characters each.
const ULONG kListBytes = 16 * 1024;

void SetNtError(NTSTATUS status) {
  SetLastError(Nt().ok ? Nt().toDosError(status) : ERROR_PROC_NOT_FOUND);
}

// name (chars UTF-16 characters) opened relative to root (null: name is absolute).
HANDLE NtOpen(HANDLE root, const WCHAR* name, unsigned chars, DWORD access, DWORD share,
              DWORD disposition, DWORD options, PSECURITY_DESCRIPTOR sd, ULONG* information) {
  if (!Nt().ok || chars > 0x7FFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING us;
  us.Buffer = const_cast<WCHAR*>(name);
  us.Length = us.MaximumLength = static_cast<USHORT>(chars * sizeof(WCHAR));
  OBJECT_ATTRIBUTES oa;
  memset(&oa, 0, sizeof oa);
  oa.Length = sizeof oa;
  oa.RootDirectory = root;
  oa.ObjectName = &us;
  oa.Attributes = OBJ_CASE_INSENSITIVE;
  oa.SecurityDescriptor = sd;
  IO_STATUS_BLOCK io;
  memset(&io, 0, sizeof io);
  HANDLE h = nullptr;
  NTSTATUS st = Nt().create(
      &h, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (st < 0) {
    SetNtError(st);
    return INVALID_HANDLE_VALUE;
  }
  if (information != nullptr) *information = static_cast<ULONG>(io.Information);
  return h;
}

// A name of the ANSI code page in UTF-16; false when it is empty or does not convert.
bool Wide(const char* name, WCHAR (&out)[MAX_PATH], unsigned* chars) {
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, out, MAX_PATH);
  if (n <= 1) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  *chars = static_cast<unsigned>(n - 1);
  return true;
}

bool SameName(const WCHAR* a, unsigned an, const WCHAR* b, unsigned bn) {
  return CompareStringOrdinal(a, static_cast<int>(an), b, static_cast<int>(bn), TRUE) == CSTR_EQUAL;
}

}  // namespace

NtCalls& NtCallsForTest() { return Nt(); }

bool HeldEntry::AnsiName(char* out, unsigned size) const {
  if (size == 0) return false;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, static_cast<int>(nameChars), out,
                              static_cast<int>(size) - 1, nullptr, &lossy);
  if ((n <= 0 && nameChars > 0) || lossy) return false;
  out[n] = '\0';
  return true;
}

bool EntryFacts(HANDLE entry, DWORD* attributes, DWORD* links, LARGE_INTEGER* fileId) {
  // Each fact from the open file itself: Wine answers a query for all of them at once from
  // the name it recorded at the open, which a rename from outside makes stale.
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER id;
  if (!Nt().ok || !GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof standard) ||
      Nt().queryInformation(entry, &io, &id, sizeof id, win::kFileInternalInformation) < 0)
    return false;
  if (attributes) *attributes = basic.FileAttributes;
  if (links) *links = standard.NumberOfLinks;
  if (fileId) *fileId = id;
  return true;
}

bool DeleteWhenClosed(HANDLE entry) {
  // POSIX semantics first: the name goes at once, even while another program (a scanner,
  // an indexer) still holds the file open, so its folder can be removed right after. The
  // classic deletion keeps the name until the last handle closes; it is used where the
  // system refuses the class (older Windows, file systems without it). Both go through
  // the table of native calls, so that tests see both.
  ULONG flags = win::kFileDispositionDelete | win::kFileDispositionPosixSemantics;
  BOOLEAN dispose = TRUE;  // FILE_DISPOSITION_INFORMATION
  IO_STATUS_BLOCK io;
  NTSTATUS st = static_cast<NTSTATUS>(win::kStatusNotImplemented);
  if (Nt().ok) {
    st = Nt().setInformation(entry, &io, &flags, sizeof flags, win::kFileDispositionInformationEx);
    if (st < 0)
      st = Nt().setInformation(entry, &io, &dispose, sizeof dispose,
                               win::kFileDispositionInformation);
  }
  if (st < 0) SetNtError(st);
  return st >= 0;
}

bool ClearReadOnly(HANDLE entry, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  FILE_BASIC_INFO basic;
  memset(&basic, 0, sizeof basic);  // zero times: left as they are
  basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool HeldFolder::OpenDriveRoot(char drive) {
  WCHAR root[] = L"\\??\\C:\\";
  root[4] = static_cast<WCHAR>(static_cast<unsigned char>(drive));
  h_.Reset(NtOpen(nullptr, root, 7, kHoldAccess, kHoldShare | FILE_SHARE_DELETE, FILE_OPEN,
                  FILE_DIRECTORY_FILE, nullptr, nullptr));
  return h_.Valid();
}

HoldResult HeldFolder::Open(const HeldFolder& parent, const char* name, bool make,
                            PSECURITY_DESCRIPTOR sd, DWORD extraAccess) {
  h_.Reset();
  WCHAR wide[MAX_PATH];
  unsigned chars;
  if (!parent.Valid() || !Wide(name, wide, &chars)) return HoldResult::kFailed;
  HANDLE h = NtOpen(parent.Get(), wide, chars, kHoldAccess | extraAccess, kHoldShare,
                    make ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE, sd, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_DIRECTORY ? HoldResult::kRefused : HoldResult::kFailed;
  return Prove(parent, name, h);
}

HoldResult HeldFolder::MakeNew(const HeldFolder& parent, const char* name,
                               PSECURITY_DESCRIPTOR sd, DWORD extraAccess) {
  h_.Reset();
  WCHAR wide[MAX_PATH];
  unsigned chars;
  if (!parent.Valid() || !Wide(name, wide, &chars)) return HoldResult::kFailed;
  HANDLE h = NtOpen(parent.Get(), wide, chars, kHoldAccess | extraAccess, kHoldShare, FILE_CREATE,
                    FILE_DIRECTORY_FILE, sd, nullptr);
  return h != INVALID_HANDLE_VALUE ? Prove(parent, name, h) : HoldResult::kFailed;
}

HoldResult HeldFolder::Prove(const HeldFolder& parent, const char* name, HANDLE handle) {
  // Made or found alike: Windows makes and opens a folder in one step, Wine makes it and
  // then opens whatever stands at the name, so only the listing tells what the handle got.
  UniqueHandle h(handle);
  DWORD attributes;
  LARGE_INTEGER id;
  if (!EntryFacts(h.Get(), &attributes, nullptr, &id) || !IdentityOf(h.Get(), &id_))
    return HoldResult::kFailed;
  if (IsLinkAttributes(attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return HoldResult::kRefused;
  HeldEntry e;
  if (!parent.Find(name, &e) || e.IsLink() || !e.IsFolder() || e.fileId.QuadPart != id.QuadPart)
    return HoldResult::kRefused;
  h_.Reset(h.Release());
  return HoldResult::kHeld;
}

bool HeldFolder::IsAt(const char* path) const {
  if (!Valid() || path == nullptr || IsLink(path)) return false;
  UniqueHandle h(CreateFileA(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info) ||
      IsLinkAttributes(info.dwFileAttributes))
    return false;
  FileIdentity id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return SameIdentity(id, id_);
}

bool HeldFolder::ClearCaseSensitive() const {
  if (!Valid() || !Nt().ok) return false;
  ULONG flags = 0;
  IO_STATUS_BLOCK io;
  NTSTATUS st =
      Nt().queryInformation(h_.Get(), &io, &flags, sizeof flags,
                             win::kFileCaseSensitiveInformation);
  HANDLE h = h_.Get();
  st = SettleCaseFlag(
      st, flags,
      [](void* ctx, uint32_t cleared) -> int32_t {
        ULONG value = cleared;
        IO_STATUS_BLOCK status;
        return Nt().setInformation(*static_cast<HANDLE*>(ctx), &status, &value, sizeof value,
                                   win::kFileCaseSensitiveInformation);
      },
      &h);
  if (st >= 0) return true;
  SetNtError(st);
  return false;
}

bool HeldFolder::ListRaw(bool (*visit)(const HeldEntry&, void*), void* ctx) const {
  if (!Valid() || !Nt().ok) return false;
  // Each listing through a handle of its own, opened on the held folder itself (an empty
  // name relative to it): Wine answers a restarted scan of a handle from what it read the
  // first time, and a listing nested in another of the same folder would restart it.
  UniqueHandle lister(NtOpen(h_.Get(), L"", 0, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                             FILE_DIRECTORY_FILE, nullptr, nullptr));
  HeapBuffer buf(kListBytes);
  if (!lister.Valid() || buf.Get() == nullptr) return false;
  HeldEntry e;
  for (bool restart = true;; restart = false) {
    IO_STATUS_BLOCK io;
    memset(&io, 0, sizeof io);
    NTSTATUS st = Nt().queryDirectory(lister.Get(), nullptr, nullptr, nullptr, &io, buf.Get(),
                                      kListBytes, win::kFileIdBothDirectoryInformation, FALSE,
                                      nullptr, restart ? TRUE : FALSE);
    if (st == kStatusNoMoreFiles) return true;
    if (st < 0) {
      SetNtError(st);
      return false;
    }
    const BYTE* p = buf.As<BYTE>();
    const BYTE* end = p + io.Information;
    for (;;) {
      if (end - p < static_cast<ptrdiff_t>(offsetof(FILE_ID_BOTH_DIR_INFO, FileName))) break;
      const FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(p);
      unsigned chars = info->FileNameLength / sizeof(WCHAR);
      bool dots = (chars == 1 && info->FileName[0] == L'.') ||
                  (chars == 2 && info->FileName[0] == L'.' && info->FileName[1] == L'.');
      if (!dots && chars <= 255 &&
          reinterpret_cast<const BYTE*>(info->FileName) + info->FileNameLength <= end) {
        memcpy(e.name, info->FileName, chars * sizeof(WCHAR));
        e.nameChars = chars;
        e.attributes = info->FileAttributes;
        e.fileId = info->FileId;
        if (!visit(e, ctx)) return true;
      }
      if (info->NextEntryOffset == 0) break;
      p += info->NextEntryOffset;
    }
  }
}

bool HeldFolder::Find(const char* name, HeldEntry* out) const {
  WCHAR wide[MAX_PATH];
  unsigned chars;
  if (!Wide(name, wide, &chars)) return false;
  bool found = false;
  List([&](const HeldEntry& e) {
    if (!SameName(e.name, e.nameChars, wide, chars)) return true;
    *out = e;
    found = true;
    return false;
  });
  return found;
}

bool HeldFolder::Find(const HeldEntry& like, HeldEntry* out) const {
  bool found = false;
  List([&](const HeldEntry& e) {
    if (!SameName(e.name, e.nameChars, like.name, like.nameChars)) return true;
    *out = e;
    found = true;
    return false;
  });
  return found;
}

bool HeldFolder::IsEmpty() const {
  bool empty = true;
  bool listed = List([&](const HeldEntry&) {
    empty = false;
    return false;
  });
  return listed && empty;
}

HANDLE HeldFolder::OpenEntry(const char* name, DWORD access, DWORD share, DWORD disposition,
                             DWORD options, PSECURITY_DESCRIPTOR sd) const {
  WCHAR wide[MAX_PATH];
  unsigned chars;
  if (!Valid() || !Wide(name, wide, &chars)) return INVALID_HANDLE_VALUE;
  return NtOpen(h_.Get(), wide, chars, access, share, disposition, options, sd, nullptr);
}

HANDLE HeldFolder::OpenListed(const HeldEntry& e, DWORD access, DWORD options) const {
  if (!Valid() || e.IsLink()) return INVALID_HANDLE_VALUE;
  UniqueHandle h(NtOpen(h_.Get(), e.name, e.nameChars, access | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                        options | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, nullptr));
  DWORD attributes;
  LARGE_INTEGER id;
  if (!h.Valid() || !EntryFacts(h.Get(), &attributes, nullptr, &id) ||
      IsLinkAttributes(attributes) || id.QuadPart != e.fileId.QuadPart)
    return INVALID_HANDLE_VALUE;
  return h.Release();
}

bool HeldFolder::NamesEntry(HANDLE entry, const HeldEntry& e) const {
  // The name the system gives the open entry must still lead to that very entry, and end
  // in the listed name.
  WCHAR path[2 * MAX_PATH];
  DWORD n = GetFinalPathNameByHandleW(entry, path, 2 * MAX_PATH, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= 2 * MAX_PATH || n <= e.nameChars || path[n - e.nameChars - 1] != L'\\' ||
      !SameName(path + n - e.nameChars, e.nameChars, e.name, e.nameChars))
    return false;
  UniqueHandle again(CreateFileW(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  LARGE_INTEGER a, b;
  return again.Valid() && EntryFacts(again.Get(), nullptr, nullptr, &a) &&
         EntryFacts(entry, nullptr, nullptr, &b) && a.QuadPart == b.QuadPart;
}

bool HeldFolder::MoveHere(HANDLE entry, const char* newName, bool replace) const {
  WCHAR wide[MAX_PATH];
  unsigned chars;
  if (!Valid() || !Nt().ok || !Wide(newName, wide, &chars)) return false;
  // The name is relative to the root folder.
  win::FileRenameInformation info;
  memset(&info, 0, sizeof info);
  info.replaceIfExists = replace;
  info.rootDirectory = h_.Get();
  info.fileNameLength = chars * sizeof(WCHAR);
  memcpy(info.fileName, wide, info.fileNameLength);
  IO_STATUS_BLOCK io;
  NTSTATUS st = Nt().setInformation(entry, &io, &info, sizeof info, win::kFileRenameInformation);
  if (st < 0) {
    SetNtError(st);
    return false;
  }
  return true;
}
