// The three log writers. Each call appends one whole line to the log file of today's
// weekday and never fails visibly. Lines go to <system drive>:\OlvanLog (SetupLog,
// ModuleLog) or c:\OlvanLog (FixedFolderLog); each folder is opened (or made) without
// following a link on its first line and held open for the life of the process, and every
// file in it is reached relative to that handle.
#pragma once

// Detail switch: ModuleLog lines with detail set are written only when it is non-zero.
// Nothing in the setup turns it on.
extern int g_nLogDetail;

void SetupLog(const char* message);
void ModuleLog(const char* name, const char* message, int detail);
void FixedFolderLog(const char* name, const char* message);

// printf-style forms, for lines that carry a number such as a GetLastError code.
void SetupLogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void ModuleLogF(const char* name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// A failed system call: the calling thread's last error code, captured first, formatted
// into fmt, which holds exactly one conversion for it: %lu, or %d where the line shows the
// code as a signed number.
void SetupLogLastError(const char* fmt);
// The same with a text ahead of the code: fmt holds %s for prefix, then the code's %lu.
void SetupLogLastError(const char* fmt, const char* prefix);
void ModuleLogLastError(const char* name, const char* fmt);
// The same with a text ahead of the code: fmt holds %s for prefix, then the code's %lu.
void ModuleLogLastError(const char* name, const char* fmt, const char* prefix);
void FixedFolderLogLastError(const char* name, const char* fmt);

// For tests: hook called when a writer found no file for today, right before the weekly
// clean-up (null: none); and the release of the held log folders and spare files, so that a
// test can remove or replace them.
void SetLogCleanupHookForTest(void (*hook)());
void ReleaseLogFoldersForTest();
