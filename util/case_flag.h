// The per-folder case-sensitivity flag (NTFS, Windows 10 1803 and later): in a folder that
// carries it, names that differ only in case are different entries, and a new folder
// inherits it from its parent. The setup's working folder must not carry it. No operating
// system needed.
#pragma once
#include <stdint.h>

// FILE_CS_FLAG_CASE_SENSITIVE_DIR of FILE_CASE_SENSITIVE_INFORMATION.Flags.
const uint32_t kCaseSensitiveDirFlag = 0x1;

enum class CaseFlag {
  kClear,    // not set, or the folder cannot carry it
  kSet,      // set: to be cleared
  kUnknown,  // the query failed otherwise: it may be set
};

// What the answer to a FileCaseSensitiveInformation query (its NTSTATUS and flags) says.
// A file system or a system that does not know the query cannot carry the flag.
CaseFlag ReadCaseFlagAnswer(int32_t status, uint32_t flags);
