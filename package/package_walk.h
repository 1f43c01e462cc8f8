// The walk over the entries of a package: the one reader of the format, shared by
// Setup.exe (utl_FileUnpack), the release tool and the fuzzer. No operating system needed;
// the caller supplies the bytes, the files and the log.
#pragma once
#include <stdint.h>

#include "package/entry_name.h"
#include "package/sha256.h"

// Sequential bytes of a carrier, positioned at the start of the package.
class PackageReader {
 public:
  // Reads up to count bytes into buffer and stores the number read in *got (0 at the end
  // of the carrier). False when the read itself fails; LastError() then tells why.
  virtual bool Read(void* buffer, uint32_t count, uint32_t* got) = 0;
  // The system's error code of the last failed Read, for the log.
  virtual uint32_t LastError() = 0;

 protected:
  ~PackageReader() = default;
};

// Where the entries go, and where the walk's log lines go.
class PackageTarget {
 public:
  // Creates or opens the file for entry name (already checked with IsSafeEntryName, and
  // also called for the end entry); path is the destination folder and name joined with
  // "\". An existing file must be emptied. False when it cannot be opened.
  virtual bool Open(const char* name, const char* path) = 0;
  // Writes all count bytes to the open file; false when it fails or writes fewer.
  virtual bool Write(const void* data, uint32_t count) = 0;
  // Closes the open file, if any.
  virtual void Close() = 0;
  // One line of the unpacker's log.
  virtual void Log(const char* line) = 0;

 protected:
  ~PackageTarget() = default;
};

// Reads exactly count bytes and un-mixes them. Returns 1 when all arrived, 0 when the read
// failed or ended early (the buffer's content is then undefined).
int ReadAndMix(PackageReader& reader, void* buffer, uint32_t count);

// Walks the package of packageLen bytes that reader is positioned at, writing each entry
// through target. dstFolder (below 260 characters) is the destination as the log and the
// path-length check see it. Returns 1 when the end entry was reached, the entries used up
// the package exactly, or nothing follows the marker; otherwise 0 with *err set to one of
// 157 and 159-166 (see UnpackError). Files written before a failure stay. The target's file
// is closed on every return. Entry names are checked under the rules of codePage, the ANSI
// code page the files are created under (see IsSafeEntryName). With digest (started by the
// caller), every byte the walk reads is fed to it as stored, in the same pass: on success
// that is the package from its marker through the end entry's name, or to the end of the
// package when it has no end entry.
int WalkPackage(PackageReader& reader, uint32_t packageLen, const char* dstFolder,
                PackageTarget& target, uint32_t* err, uint32_t codePage = kEntryNameDefaultCodePage,
                Sha256* digest = nullptr);
