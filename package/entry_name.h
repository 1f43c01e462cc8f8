// Which entry names the unpacker accepts. No operating system needed.
#pragma once
#include <stdint.h>

// True when name (length bytes, no terminator needed) is a bare file name that Windows
// stores under exactly that name inside the destination folder: not empty, no folder
// separator or drive colon, not "." or "..", no control character or one of <>"|?*, no
// trailing dot or blank (Windows would drop them), and not a device name such as CON,
// NUL, COM1 or LPT1, with or without an extension.
bool IsSafeEntryName(const char* name, uint32_t length);
