#include "util/aside_tick.h"
#include "util/log.h"

#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/held_folder.h"
#include "util/links.h"
#include "util/log_line.h"

int g_nLogDetail = 0;

namespace {

// Another writer may hold the file for a moment; waiting a little loses no line.
const int kOpenAttempts = 50;
const DWORD kOpenRetryMs = 2;
// Logs are opened for appending only (no FILE_WRITE_DATA): the system writes each line, one
// write, at the end of the file, whole on NTFS. Wine does not keep the appends of several
// processes apart, so writers of this program also take turns through a lock on one byte
// far beyond any log's end (FILE_READ_DATA lets a handle lock; locks beyond the end block no
// reader). Any reader can hold that byte: a writer that cannot get it within about 100 ms
// appends all the same and does not wait for it again in this run.
const DWORD kLogAccess = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
const DWORD kTurnOffsetLow = 0xFFFFFFFE, kTurnOffsetHigh = 0x7FFFFFFF;
const int kTurnAttempts = 50;
bool g_turnTaken;

// The log folders, held from the first line written to each for the life of the process:
// "<system drive>:\OlvanLog" and "c:\OlvanLog", one folder when Windows is on drive C.
// Ordinary users can make, rename or replace a folder at the root of the drive, so every
// file is created, opened, listed and deleted relative to the held folder, never through a
// path resolved again: a folder renamed away or replaced by a link while the setup runs
// changes nothing the writers do, and what a link leads to receives nothing.
struct LogFolderHold {
  char path[MAX_PATH];
  HeldFolder folder;
  // What was moved aside to make the folder, for the first line written into it; "" once
  // written.
  char note[2 * MAX_PATH];
};
// Names under which something planted at a log folder's name is moved aside:
// "<name>.<tick>-<n>" for n below this.
const unsigned kAsideNames = 100;
const int kMaxLogFolders = 2;
LogFolderHold g_logFolders[kMaxLogFolders];

void (*g_beforeCleanup)() = nullptr;

// Renames what stands at name in root (the drive's root) aside, under a free
// "<name>.<tick>-<n>", when it is a link (a mount point or a symbolic link, told by its
// reparse tag on a handle that did not follow it) or not a folder at all; it is never
// followed, deleted or touched otherwise, and the aside is never removed later (it may be
// someone's, such as an administrator's junction to a log volume). note receives the line
// that says so. False when it is a real folder or another kind of reparse point, is not
// the entry that root's listing shows, or cannot be moved.
bool MoveLogFolderAside(const HeldFolder& root, const char* name, const char* path,
                        char (&note)[2 * MAX_PATH]) {
  HeldEntry listed;
  if (!root.Find(name, &listed)) return false;
  UniqueHandle h(root.OpenEntry(name, DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                0));
  FILE_ATTRIBUTE_TAG_INFO tag;
  LARGE_INTEGER id;
  if (!h.Valid() || !GetFileInformationByHandleEx(h.Get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      !EntryFacts(h.Get(), nullptr, nullptr, &id) || id.QuadPart != listed.fileId.QuadPart)
    return false;
  bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
              (tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT || tag.ReparseTag == IO_REPARSE_TAG_SYMLINK);
  if (!link && (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return false;
  DWORD tick = AsideTick();
  for (unsigned n = 0; n < kAsideNames; ++n) {
    char aside[MAX_PATH];
    if (!StrFormat(aside, sizeof aside, "%s.%lu-%u", name, tick, n)) return false;
    if (root.MoveHere(h.Get(), aside))
      return StrFormat(note, sizeof note, "%s stood at %s; moved aside to %.2s\\%s.",
                       link ? "A link" : "Something that is not a folder", path, path, aside);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// The held folder for "<d>:\<name>", opened or made (with inherited security) on first use
// without following a link; a link or a file there is moved aside first. Null when that
// fails, or the folder cannot be made: the line is then dropped, and the next line tries
// again.
LogFolderHold* HeldLogFolder(const char* path) {
  LogFolderHold* slot = nullptr;
  for (LogFolderHold& h : g_logFolders) {
    if (h.folder.Valid() && lstrcmpiA(h.path, path) == 0) return &h;
    if (slot == nullptr && !h.folder.Valid()) slot = &h;
  }
  size_t len = strlen(path);
  if (slot == nullptr || len < 4 || len >= MAX_PATH || path[1] != ':' || path[2] != '\\' ||
      strchr(path + 3, '\\') != nullptr)
    return nullptr;
  HeldFolder root;
  if (!root.OpenDriveRoot(path[0])) return nullptr;
  HoldResult held = slot->folder.Open(root, path + 3, true);
  if (held == HoldResult::kRefused && MoveLogFolderAside(root, path + 3, path, slot->note))
    held = slot->folder.Open(root, path + 3, true);
  if (held != HoldResult::kHeld) return nullptr;
  memcpy(slot->path, path, len + 1);
  return slot;
}

// An existing log is appended to only when it is a plain file with no other name: a link,
// or a hard link to someone else's file, would have this program write into that file.
bool OwnPlainFile(HANDLE file) {
  DWORD attributes, links;
  return EntryFacts(file, &attributes, &links, nullptr) && !IsLinkAttributes(attributes) &&
         links <= 1;
}

// Lines that cannot go to today's file (another program holds it without write sharing)
// go to a spare file of that day, "<today's name without .log>-<process id>-<weekday>.log",
// which the weekly clean-up removes with today's. It is made relative to the held folder by
// a create that never opens an existing name, and held for the rest of the run: at most one
// per log and run, and once made it takes that log's later lines too, in their order.
struct SpareLog {
  char name[MAX_PATH];  // today's file name it stands for
  HANDLE h;
};
SpareLog g_spares[8];

// The spare of today's file name, made when folder is given and there is none yet; null
// when there is none.
HANDLE Spare(const HeldFolder* folder, const char* name, unsigned weekday) {
  for (SpareLog& s : g_spares) {
    if (s.h != nullptr) {
      if (lstrcmpiA(s.name, name) == 0) return s.h;
      continue;
    }
    // name is today's file name, shorter than MAX_PATH, ending in ".log".
    char spare[MAX_PATH];
    size_t len = strlen(name);
    if (folder == nullptr ||
        !StrFormat(spare, sizeof spare, "%.*s-%lu-%02u.log", static_cast<int>(len - 4), name,
                   GetCurrentProcessId(), weekday))
      return nullptr;
    HANDLE h = folder->OpenEntry(spare, kLogAccess, FILE_SHARE_READ, FILE_CREATE,
                                 FILE_NON_DIRECTORY_FILE);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    memcpy(s.name, name, len + 1);
    return s.h = h;
  }
  return nullptr;
}

void AppendLine(HANDLE file, const void* line, DWORD len) {
  OVERLAPPED turn;
  memset(&turn, 0, sizeof turn);
  turn.Offset = kTurnOffsetLow;
  turn.OffsetHigh = kTurnOffsetHigh;
  bool locked = false;
  for (int i = 0; i < kTurnAttempts && !locked && !g_turnTaken; ++i) {
    locked =
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn) != 0;
    if (!locked) Sleep(kOpenRetryMs);
  }
  if (!locked) g_turnTaken = true;
  DWORD written = 0;
  WriteFile(file, line, len, &written, nullptr);
  if (locked) UnlockFileEx(file, 0, 1, 0, &turn);
}

// The weekly clean-up: deletes, relative to the held folder, the files of base written on
// weekday (read-only ones too), except today's, which another writer may have created
// since this one looked. Only plain files with one name whose file ID is the one listed are
// deleted, through the handle that proved it; folders and links are left alone.
void DeleteLastWeeks(const HeldFolder& folder, const char* base, unsigned weekday,
                     const char* today) {
  folder.List([&](const HeldEntry& e) {
    char name[MAX_PATH];
    if (e.IsFolder() || e.IsLink() || !e.AnsiName(name, sizeof name) ||
        !LogCleanupMatches(name, base, weekday) || lstrcmpiA(name, today) == 0)
      return true;
    UniqueHandle file(
        folder.OpenListed(e, DELETE | FILE_WRITE_ATTRIBUTES, FILE_NON_DIRECTORY_FILE));
    DWORD attributes, links;
    if (file.Valid() && EntryFacts(file.Get(), &attributes, &links, nullptr) && links == 1 &&
        ClearReadOnly(file.Get(), attributes))
      DeleteWhenClosed(file.Get());
    return true;
  });
}

HANDLE OpenOrCreate(const HeldFolder& folder, const char* base, const char* name,
                    unsigned weekday) {
  const DWORD access = kLogAccess;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt) Sleep(kOpenRetryMs);
    UniqueHandle h(folder.OpenEntry(name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE));
    if (h.Valid()) return OwnPlainFile(h.Get()) ? h.Release() : INVALID_HANDLE_VALUE;
    DWORD err = GetLastError();
    // Another writer or a reader holds it for a moment without write sharing.
    if (err == ERROR_SHARING_VIOLATION) continue;
    if (err != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
    // First line of this weekday: last week's files of the same weekday go.
    if (g_beforeCleanup != nullptr) g_beforeCleanup();
    DeleteLastWeeks(folder, base, weekday, name);
    h.Reset(folder.OpenEntry(name, access, share, FILE_CREATE, FILE_NON_DIRECTORY_FILE));
    if (h.Valid()) return h.Release();
    err = GetLastError();
    // Lost the race to create it: append to the winner's file.
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS || err == ERROR_SHARING_VIOLATION)
      continue;
    return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

void WriteLine(const char* folderPath, const char* base, bool detailMark, LogThreadForm form,
               const char* message) {
  LogFolderHold* hold = HeldLogFolder(folderPath);
  if (hold == nullptr) return;
  const HeldFolder* folder = &hold->folder;

  SYSTEMTIME st;
  GetLocalTime(&st);
  LogTime t = {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond};
  char name[MAX_PATH];
  if (!LogFileName(name, sizeof name, base, t) || strlen(folderPath) + 1 + strlen(name) >= MAX_PATH)
    return;

  size_t len = LogComposeLine(nullptr, 0, t, detailMark, form, GetCurrentThreadId(), message);
  if (len == 0 || len > 0x7fffffff) return;
  HeapBuffer line(len);
  if (line.Get() == nullptr) return;
  LogComposeLine(line.As<char>(), len, t, detailMark, form, GetCurrentThreadId(), message);

  UniqueHandle file;
  HANDLE h = Spare(nullptr, name, t.weekday);
  if (h == nullptr) {
    file.Reset(OpenOrCreate(*folder, base, name, t.weekday));
    h = file.Get();
    if (!file.Valid() &&
        (GetLastError() != ERROR_SHARING_VIOLATION || (h = Spare(folder, name, t.weekday)) == nullptr))
      return;
  }
  if (hold->note[0] != '\0') {
    char note[3 * MAX_PATH];
    size_t n = LogComposeLine(note, sizeof note, t, detailMark, form, GetCurrentThreadId(),
                              hold->note);
    if (n > 0) AppendLine(h, note, static_cast<DWORD>(n));
    hold->note[0] = '\0';
  }
  AppendLine(h, line.Get(), static_cast<DWORD>(len));
}

void SystemLogFolder(char (&folder)[MAX_PATH]) {
  char drive[261];
  if (!GetSystemDrive("setup", drive, sizeof drive) ||
      !StrFormat(folder, sizeof folder, "%s:\\OlvanLog", drive))
    StrCopy(folder, "C:\\OlvanLog");
}

}  // namespace

void SetupLog(const char* message) {
  char folder[MAX_PATH];
  SystemLogFolder(folder);
  WriteLine(folder, "setup", false, LogThreadForm::Plain, message);
}

void ModuleLog(const char* name, const char* message, int detail) {
  if (detail != 0 && g_nLogDetail == 0) return;
  char folder[MAX_PATH];
  SystemLogFolder(folder);
  char base[MAX_PATH];
  if (!StrFormat(base, sizeof base, "stp_%s", name)) return;
  WriteLine(folder, base, detail != 0, LogThreadForm::Hex0x, message);
}

void SetLogCleanupHookForTest(void (*hook)()) { g_beforeCleanup = hook; }

void ReleaseLogFoldersForTest() {
  for (LogFolderHold& h : g_logFolders) h.folder.Close();
  for (SpareLog& s : g_spares) {
    if (s.h != nullptr) CloseHandle(s.h);
    s.h = nullptr;
  }
}

void FixedFolderLog(const char* name, const char* message) {
  WriteLine("c:\\OlvanLog", name, false, LogThreadForm::Plain, message);
}

namespace {
const size_t kFormattedMax = 2048;
}

void SetupLogF(const char* fmt, ...) {
  char msg[kFormattedMax];
  va_list ap;
  va_start(ap, fmt);
  bool ok = StrFormatV(msg, sizeof msg, fmt, ap);
  va_end(ap);
  if (ok) SetupLog(msg);
}

void ModuleLogF(const char* name, const char* fmt, ...) {
  char msg[kFormattedMax];
  va_list ap;
  va_start(ap, fmt);
  bool ok = StrFormatV(msg, sizeof msg, fmt, ap);
  va_end(ap);
  if (ok) ModuleLog(name, msg, 0);
}

namespace {
// fmt with the code; false when the line does not fit. A DWORD and an int are passed alike
// on this 32-bit target, so %d shows the code as the signed number that a cast would give.
bool FormatLastError(char (&msg)[kFormattedMax], const char* fmt, DWORD err) {
  return StrFormat(msg, sizeof msg, fmt, err);
}
}  // namespace

void SetupLogLastError(const char* fmt) {
  DWORD err = GetLastError();
  char msg[kFormattedMax];
  if (FormatLastError(msg, fmt, err)) SetupLog(msg);
}

void SetupLogLastError(const char* fmt, const char* prefix) {
  DWORD err = GetLastError();
  char msg[kFormattedMax];
  if (StrFormat(msg, sizeof msg, fmt, prefix, err)) SetupLog(msg);
}

void ModuleLogLastError(const char* name, const char* fmt) {
  DWORD err = GetLastError();
  char msg[kFormattedMax];
  if (FormatLastError(msg, fmt, err)) ModuleLog(name, msg, 0);
}

void ModuleLogLastError(const char* name, const char* fmt, const char* prefix) {
  DWORD err = GetLastError();
  char msg[kFormattedMax];
  if (StrFormat(msg, sizeof msg, fmt, prefix, err)) ModuleLog(name, msg, 0);
}

void FixedFolderLogLastError(const char* name, const char* fmt) {
  DWORD err = GetLastError();
  char msg[kFormattedMax];
  if (FormatLastError(msg, fmt, err)) FixedFolderLog(name, msg);
}
