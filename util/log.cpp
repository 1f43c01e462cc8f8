#include "util/log.h"

#include <windows.h>

#include <stdarg.h>
#include <string.h>

#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/links.h"
#include "util/log_line.h"

int g_nLogDetail = 0;

namespace {

// Another writer may hold the file for a moment; waiting a little loses no line.
const int kOpenAttempts = 50;
const DWORD kOpenRetryMs = 2;
// Writers of this program take turns through a lock on one byte far beyond any log's end
// (locks beyond the end of a file are allowed and block no reader). A writer that cannot
// get it within about two seconds appends all the same.
const DWORD kTurnOffsetLow = 0xFFFFFFFE, kTurnOffsetHigh = 0x7FFFFFFF;
const int kTurnAttempts = 1000;

// The log folder stands where ordinary users can write before this elevated program runs.
// A link planted there would steer the writers' creates and appends, and the weekly
// clean-up's deletes, into whatever folder it names: it is removed (the link, never what it
// points to) and a real folder made in its place. True when a real folder stands there;
// otherwise the line is dropped. One attribute read per line when all is well.
bool PrepareFolder(const char* folder) {
  DWORD a = GetFileAttributesA(folder);
  if (IsLinkAttributes(a)) {
    if (!RemoveLink(folder)) return false;
    a = INVALID_FILE_ATTRIBUTES;
  }
  if (a == INVALID_FILE_ATTRIBUTES) {
    CreateDirectoryA(folder, nullptr);
    // Judged by what stands there now, not by the call's result.
    a = GetFileAttributesA(folder);
  }
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !IsLinkAttributes(a);
}

// Opens an existing log without following a link at its name.
HANDLE OpenForAppend(const char* path) {
  return CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// An existing log is appended to only when it is a plain file with no other name: a link,
// or a hard link to someone else's file, would have this program write into that file.
bool OwnPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) && !IsLinkAttributes(info.dwFileAttributes) &&
         info.nNumberOfLinks <= 1;
}

// Appends the whole line with one write while holding the writers' turn, so lines of
// concurrent processes never mix and none overwrites another.
void AppendLine(HANDLE file, const void* line, DWORD len) {
  OVERLAPPED turn;
  memset(&turn, 0, sizeof turn);
  turn.Offset = kTurnOffsetLow;
  turn.OffsetHigh = kTurnOffsetHigh;
  bool locked = false;
  for (int i = 0; i < kTurnAttempts && !locked; ++i) {
    locked =
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn) != 0;
    if (!locked) Sleep(kOpenRetryMs);
  }
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  SetFilePointerEx(file, zero, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, line, len, &written, nullptr);
  if (locked) UnlockFileEx(file, 0, 1, 0, &turn);
}

HANDLE OpenOrCreate(const char* folder, const char* base, const char* path, const char* name,
                    unsigned weekday) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt) Sleep(kOpenRetryMs);
    if (FileExists(path)) {
      UniqueHandle h(OpenForAppend(path));
      if (h.Valid()) return OwnPlainFile(h.Get()) ? h.Release() : INVALID_HANDLE_VALUE;
      if (GetLastError() == ERROR_SHARING_VIOLATION) continue;
      return INVALID_HANDLE_VALUE;
    }
    // First line of this weekday: last week's files of the same weekday go. Today's own
    // file is spared in case another writer has just created it.
    char pattern[MAX_PATH];
    if (LogCleanupPattern(pattern, sizeof pattern, base, weekday))
      DeleteMatchingFiles(folder, pattern, name);
    HANDLE h =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    DWORD err = GetLastError();
    // Lost the race to create it: append to the winner's file.
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS || err == ERROR_SHARING_VIOLATION)
      continue;
    return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

void WriteLine(const char* folder, const char* base, bool detailMark, LogThreadForm form,
               const char* message) {
  if (!PrepareFolder(folder)) return;

  SYSTEMTIME st;
  GetLocalTime(&st);
  LogTime t = {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond};
  char name[MAX_PATH];
  char path[MAX_PATH];
  if (!LogFileName(name, sizeof name, base, t) || !StrJoinPath(path, folder, name)) return;

  size_t len = LogComposeLine(nullptr, 0, t, detailMark, form, GetCurrentThreadId(), message);
  if (len == 0 || len > 0x7fffffff) return;
  HeapBuffer line(len);
  if (line.Get() == nullptr) return;
  LogComposeLine(line.As<char>(), len, t, detailMark, form, GetCurrentThreadId(), message);

  UniqueHandle file(OpenOrCreate(folder, base, path, name, t.weekday));
  if (!file.Valid()) return;
  AppendLine(file.Get(), line.Get(), static_cast<DWORD>(len));
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
