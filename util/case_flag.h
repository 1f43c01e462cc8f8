// The per-folder case-sensitivity flag (NTFS, Windows 10 1803 and later): in a folder that
// carries it, names that differ only in case are different entries, and a new folder
// inherits it from its parent. The setup's working folder must not carry it. No operating
// system needed.
#pragma once
#include <stdint.h>

#include "util/win_values.h"

const uint32_t kCaseSensitiveDirFlag = win::kFileCsFlagCaseSensitiveDir;

// Settles the flag of a folder from the answer to its FileCaseSensitiveInformation query
// (status, flags). Nothing is done when the flag is not set, or when the query is one the
// system or file system does not know (such a folder cannot carry the flag); when it is
// set, clear(ctx, flags without it) is called and returns the NTSTATUS of the change.
// Returns 0 when the folder is not case-sensitive afterwards, else the failing NTSTATUS:
// the query's when it failed otherwise (the flag may be set), the change's when that failed.
int32_t SettleCaseFlag(int32_t status, uint32_t flags, int32_t (*clear)(void* ctx, uint32_t flags),
                       void* ctx);
