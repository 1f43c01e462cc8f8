// Which entry names the unpacker accepts. No operating system needed.
#pragma once
#include <stdint.h>

// The code page whose rules apply when a caller names none: 1252, one byte per character.
const uint32_t kEntryNameDefaultCodePage = 1252;

// True when name (length bytes, no terminator needed) is a bare file name that Windows
// stores under exactly that name inside the destination folder: not empty, no folder
// separator or drive colon, not "." or "..", no control character or one of <>"|?*, no
// trailing dot or blank (Windows would drop them), and not a device name such as CON,
// NUL, COM1 or LPT1, with or without an extension.
// codePage is the ANSI code page the file is created under (the one the name's bytes are
// read in). In the double-byte code pages 932, 936, 949 and 950 a lead byte and the byte
// after it are one character, so a second byte such as 0x5C or 0x7C is not a separator or
// a bar; a lead byte at the end of the name, or before a byte that cannot follow it, is
// refused. Any other code page takes each byte as one character.
bool IsSafeEntryName(const char* name, uint32_t length,
                     uint32_t codePage = kEntryNameDefaultCodePage);
