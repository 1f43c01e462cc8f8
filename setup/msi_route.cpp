#include "setup/msi_route.h"

#include <winternl.h>

#include <wchar.h>

#include "package/carrier_hold.h"
#include "package/digest_slot.h"
#include "package/package_format.h"
#include "package/unpack.h"
#include "package/work_folder.h"
#include "util/fixed_str.h"
#include "util/held_folder.h"
#include "util/log.h"
#include "util/registry.h"
#include "util/system_info.h"
#include "util/wide_path.h"

namespace {

const char kOlvanKey[] = "SOFTWARE\\Olvan";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5E21C0A4-7D3B-4F19-9A62-1C8B3E04D7F2}";
const char kCopyName[] = "OlvanSetup.msi";
const int kSourceRetries = 10;
const DWORD kSourceRetryMs = 1000;
// Temporary names tried when one is taken.
const unsigned kNewNameTries = 10;
const DWORD kCopyChunk = 1 << 20;
// The copy's buffer, among the program's uninitialised data.
unsigned char g_chunk[kCopyChunk];

// The program's folder, held to the end of the run.
HeldFolder g_folder;
// The copy the unpack reads, held with read sharing only to the end of the run, and its name
// in the folder.
HANDLE g_copy = INVALID_HANDLE_VALUE;
char g_copyName[40] = "OlvanSetup.msi";
// Whether the copy was found beside the program rather than made by this run.
bool g_found;
// The installed product's source; empty when it could not be read.
char g_source[MAX_PATH + 1];

// Opens the folder of the held program file, by that file's final path, without following
// a link, and proves it: its listing shows the program's name with the held file's file ID.
bool HoldOwnFolder() {
  HANDLE own = utl_OwnFileHold();
  WCHAR path[MAX_PATH];
  DWORD n = own != nullptr ? GetFinalPathNameByHandleW(own, path, MAX_PATH, 0) : 0;
  WCHAR* slash = n != 0 && n < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
  HeldEntry self, listed;
  DWORD attributes;
  LARGE_INTEGER id;
  if (slash != nullptr) {
    self.nameChars = static_cast<unsigned>(path + n - slash - 1);
    wmemcpy(self.name, slash + 1, self.nameChars);
    *slash = L'\0';
    // Listing access without delete sharing: Windows refuses to rename the folder meanwhile.
    g_folder.Adopt(CreateFileW(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                               SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr));
    if (EntryFacts(g_folder.Get(), &attributes, nullptr, nullptr) &&
        !IsLinkAttributes(attributes) && g_folder.Find(self, &listed) && !listed.IsLink() &&
        EntryFacts(own, nullptr, nullptr, &id) && id.QuadPart == listed.fileId.QuadPart)
      return true;
  }
  SetupLogLastError("msi: the program's folder cannot be held, error %lu.");
  g_folder.Close();
  return false;
}

// Opens the copy beside the program when the folder's listing shows a file of that name.
bool FindCopy() {
  HeldEntry e;
  if (!g_folder.Find(g_copyName, &e) || e.IsLink() || e.IsFolder()) return false;
  g_copy = g_folder.OpenEntry(g_copyName, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                              FILE_NON_DIRECTORY_FILE);
  if (g_copy == INVALID_HANDLE_VALUE) SetupLogLastError("msi: the copy cannot be opened, error %lu.");
  return true;
}

// Sets or clears the deletion of the open file when its last handle closes.
bool DeleteOnClose(HANDLE file, BOOLEAN del) {
  FILE_DISPOSITION_INFO dispose = {del};
  return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}

// Copies from, from its start to its end, into to; false with the system's error.
bool CopyBytes(HANDLE from, HANDLE to) {
  LARGE_INTEGER start = {};
  DWORD got, put;
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
  while (ReadFile(from, g_chunk, kCopyChunk, &got, nullptr)) {
    if (got == 0) return true;
    if (!WriteFile(to, g_chunk, got, &put, nullptr)) return false;
    // A write that reports success but comes up short is a full disk, named as such rather
    // than with whatever error an earlier call left.
    if (put != got) return SetLastError(ERROR_DISK_FULL), false;
  }
  return false;
}

// Makes the copy from the source: the source is opened once and checked through that handle
// (a bound program's digest, else the package's structure), copied into a new file of the
// setup's own, checked there again, and only then renamed over the copy's name. True when a
// new copy is held (under its temporary name when the old one could not be replaced); false
// with a reason line, *pdwErr set to a check's number when one refused, the old copy as it was.
bool MakeCopy(DWORD* pdwErr) {
  wchar_t wide[MAX_PATH];
  // A link at the source's last name is opened as the link, and refused.
  UniqueHandle source(AnsiToWide(wide, MAX_PATH, g_source)
                          ? CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                        nullptr)
                          : nullptr);
  DWORD attributes;
  if (source.Valid() && (GetFileType(source.Get()) != FILE_TYPE_DISK ||
                         !EntryFacts(source.Get(), &attributes, nullptr, nullptr) ||
                         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)) {
    source.Reset();
    SetLastError(ERROR_BAD_FILE_TYPE);
  }
  if (!source.Valid()) {
    SetupLogLastError("msi: the source %s cannot be used, error %lu.", g_source);
    return false;
  }
  DWORD err = utl_CheckCarrier(source.Get(), kMsiCarrierOffset, g_source);
  UniqueHandle made;
  char name[sizeof g_copyName];
  if (err == 0) {
    // A name nobody else made: a create that never opens an existing file. Removed when the
    // setup's handle closes (a run killed midway included) until it proved right.
    const DWORD tick = GetTickCount();
    for (unsigned n = 0; n < kNewNameTries && !made.Valid(); ++n) {
      StrFormat(name, sizeof name, "%s.%lu-%u", kCopyName, tick, n);
      made.Reset(g_folder.OpenEntry(name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    FILE_CREATE, FILE_NON_DIRECTORY_FILE));
    }
    if (!made.Valid() || !DeleteOnClose(made.Get(), TRUE) || !CopyBytes(source.Get(), made.Get())) {
      SetupLogLastError("msi: the copy cannot be written, error %lu.");
      return false;
    }
    err = utl_CheckCarrier(made.Get(), kMsiCarrierOffset, name);
  }
  if (err != 0) {
    SetupLogF("msi: the source %s is refused with Err %lu.", g_source, err);
    *pdwErr = err;
    return false;
  }
  // The old copy is let go, then replaced as a name: a link or a second name of another
  // file standing there is replaced, what it led to keeps its bytes.
  CloseHandle(g_copy);
  bool renamed = DeleteOnClose(made.Get(), FALSE) && g_folder.MoveHere(made.Get(), kCopyName, true);
  if (!renamed) {
    // Used under its temporary name, and removed when the run ends.
    SetupLogLastError("msi: the old copy cannot be replaced, error %lu.");
    DeleteOnClose(made.Get(), TRUE);
  }
  StrCopy(g_copyName, renamed ? kCopyName : name);
  g_copy = made.Release();
  return true;
}

bool Refreshable(DWORD err) {
  unsigned char bound[kSha256Len];
  return g_found && g_source[0] != '\0' && ReadBoundDigest(bound) &&
         (err == kSeqErrCarrierSize || (err >= kUnpackErrCarrierSize && err <= kUnpackErrInSignature));
}

}  // namespace

bool MsiPrepareCopy(DWORD* pdwErr) {
  SetupLog("msi install.");
  bool held = HoldOwnFolder();
  bool haveSource =
      utl_ReadRegString(HKEY_LOCAL_MACHINE, kOlvanKey, "MsiSourceName", g_source, MAX_PATH);
  for (int retry = 0; !haveSource && retry < kSourceRetries; ++retry) {
    SetupLog("can't get source path.");
    haveSource =
        utl_ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "MsiSourceName", g_source, MAX_PATH);
    Sleep(kSourceRetryMs);
  }
  if (!haveSource) g_source[0] = '\0';

  if (held && FindCopy()) {
    g_found = true;
    SetupLog("InstallScript has copy msi file.");
    return true;
  }
  if (held && g_source[0] == '\0') {
    SetupLog("Network problem, cannot access source file.");
    return false;
  }
  if (held && MakeCopy(pdwErr)) return true;
  // A source of no carrier's size keeps the number the copy would have got.
  if (*pdwErr != kSeqErrCarrierSize) *pdwErr = 0;
  SetupLog("Cannot use setup copy msi file, accessible error.");
  return false;
}

bool MsiUnpack(const char* work, DWORD* pdwErr, bool (*intact)(const char* step)) {
  wchar_t folder[MAX_PATH], file[sizeof g_copyName];
  if (!GetOwnFolder(folder)) folder[0] = L'\0';
  for (bool first = true;; first = false) {
    // A copy listed but not opened counts as one the program does not vouch for.
    DWORD err = kUnpackErrDigest;
    if (g_copy != INVALID_HANDLE_VALUE) {
      if (!intact(first ? "the unpack" : "the second unpack")) {
        *pdwErr = kSeqErrWorkFolderSwapped;
        return false;
      }
      AnsiToWide(file, sizeof g_copyName, g_copyName);
      if (utl_FileUnpackW(folder, file, work, &err, kMsiCarrierOffset, g_copy)) return true;
      if (err == kUnpackErrCarrierSize) err = kSeqErrCarrierSize;
    }
    // A copy found beside the program may be a stale one of another build, or cut short:
    // a bound program copies the source over it, once.
    bool again = first && Refreshable(err);
    if (again || err == kUnpackErrDigest || err == kUnpackErrInSignature) utl_EmptyWorkFolder();
    if (again) SetupLog("msi: the copy is refused, copying the source again.");
    // The refused copy's own number stands when no new copy can be made.
    DWORD ignored = 0;
    if (!again || !MakeCopy(&ignored)) {
      *pdwErr = err;
      return false;
    }
  }
}
