// The unpacker: reads the package appended to a carrier file and writes its entries as
// files into a folder. Every line goes to the module log "UtlFile".
#pragma once
#include <windows.h>

// Unpacks the package that starts at byte dwOffset of pszSrcPath\pszSrcFile into the
// existing folder pszDstPath. pszSrcPath has no trailing backslash ("." for the current
// folder). Returns 1 when the end entry was reached, the entries used up the carrier
// exactly, or nothing follows the marker; otherwise 0 with *pdwErr set to 150-168
// (UnpackError), which is untouched on success. Files written before a failure stay, but
// a bound program (below) writes nothing of a package it refuses or cannot walk whole.
// The package, from either carrier, must match the digest bound into the running image when
// one is (see digest_slot.h): a bound program walks the package whole, writing nothing, before
// the walk that writes, and fails with 167 when its digest differs. A
// package that starts inside the certificate table that the carrier's PE header names, or
// whose walk would read into it, fails with 168 (see cert_table.h). Both write their reason
// to the setup log.
// Entry names that are not bare file names are refused with 165; an existing file of an
// entry's name is emptied before its content is written.
int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset);

// The same for a carrier named in UTF-16 (pszSrcPath\pszSrcFile), which may lie in a
// folder the ANSI code page cannot spell. The log lines and the length limits see the
// ANSI form of both names, as utl_FileUnpack's do. With held (a carrier the caller holds
// open with read access and no writers), nothing is looked up by path: the names only name
// it in the log.
int utl_FileUnpackW(const wchar_t* pszSrcPath, const wchar_t* pszSrcFile, const char* pszDstPath,
                    DWORD* pdwErr, DWORD dwOffset, HANDLE held = nullptr);

// Checks the package at offset of the open carrier as a bound program's unpack does before
// it writes: the whole walk, writing nothing and without the walk's lines, and the digest
// when the program is bound to one (else the structure alone). 0 when it passes; 352 when
// the carrier's size is 4 GiB or more or not above offset; else the walk's number (159-166),
// 167 or 168, with its error line and the reason of 167 and 168 (name names the carrier).
// Moves the file pointer.
DWORD utl_CheckCarrier(HANDLE carrier, DWORD offset, const char* name);

// Reads exactly count bytes from the file's current position and un-mixes them. Returns 1
// on success, 0 when the read fails or ends early (the buffer is then undefined).
int ReadAndMix(HANDLE file, void* buffer, DWORD count);
