// The unpacker: reads the package appended to a carrier file and writes its entries as
// files into a folder. Every line goes to the module log "UtlFile".
#pragma once
#include <windows.h>

// Unpacks the package that starts at byte dwOffset of pszSrcPath\pszSrcFile into the
// existing folder pszDstPath. pszSrcPath has no trailing backslash ("." for the current
// folder). Returns 1 when the end entry was reached, the entries used up the carrier
// exactly, or nothing follows the marker; otherwise 0 with *pdwErr set to 150-168
// (UnpackError), which is untouched on success. Files written before a failure stay.
// The package, from either carrier, must match the digest bound into the running image when
// one is (see digest_slot.h): a package that unpacked but does not match fails with 167. A
// package that starts inside the certificate table that the carrier's PE header names, or
// whose walk would read into it, fails with 168 (see cert_table.h). Both write their reason
// to the setup log.
// Entry names that are not bare file names are refused with 165; an existing file of an
// entry's name is emptied before its content is written.
int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset);

// The same for a carrier named in UTF-16 (pszSrcPath\pszSrcFile), which may lie in a
// folder the ANSI code page cannot spell. The log lines and the length limits see the
// ANSI form of both names, as utl_FileUnpack's do.
int utl_FileUnpackW(const wchar_t* pszSrcPath, const wchar_t* pszSrcFile, const char* pszDstPath,
                    DWORD* pdwErr, DWORD dwOffset);

// Reads exactly count bytes from the file's current position and un-mixes them. Returns 1
// on success, 0 when the read fails or ends early (the buffer is then undefined).
int ReadAndMix(HANDLE file, void* buffer, DWORD count);
