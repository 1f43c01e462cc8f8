// Small file-system tests and the pattern deletion that the log writers and the install
// sequence rest on.
#pragma once

// Writes the system drive letter ("C") into buffer; size in bytes, at least 260.
// Returns false when size is too small (logged under logName) or the system directory
// cannot be read; the buffer's content is then undefined.
bool GetSystemDrive(const char* logName, char* buffer, unsigned size);
// True when at least one entry matching path (wildcards allowed) is not a directory.
bool FileExists(const char* path);
// True when path (UTF-16, no wildcards) names an existing entry that is not a directory.
bool FileExistsW(const wchar_t* path);
// True when at least one entry matching path is a directory.
bool DirectoryExists(const char* path);
// Deletes every file (read-only ones too) in folder whose name matches pattern; keepName,
// when given, names one file that stays. Folders, folder links among them, are left alone;
// a file link is deleted itself, never its target. Failures are skipped.
void DeleteMatchingFiles(const char* folder, const char* pattern, const char* keepName = nullptr);
