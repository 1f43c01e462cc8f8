// The program's version as its version resource (VS_VERSIONINFO) holds it, read from the
// resource's bytes without version.dll. No operating system needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The file version of the fixed part (VS_FIXEDFILEINFO) of a VS_VERSIONINFO block of len
// bytes, as "A.B.C.D" in dst (size bytes). False when the block is not one (too short, a
// wrong key, length or signature) or dst is too small; dst then holds "".
bool VersionFromRecord(char* dst, size_t size, const void* record, size_t len);
