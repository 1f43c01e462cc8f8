#include "package/unpack.h"

#include <string.h>

#include "package/carrier_hold.h"
#include "package/cert_table.h"
#include "package/digest_slot.h"
#include "package/file_size.h"
#include "package/package_format.h"
#include "package/package_walk.h"
#include "util/file_basics.h"
#include "util/file_open.h"
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/log.h"
#include "util/wide_path.h"

namespace {

const char kLogName[] = "UtlFile";

class FileReader : public PackageReader {
 public:
  explicit FileReader(HANDLE file) : file_(file) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    DWORD n = 0;
    BOOL ok = ReadFile(file_, buffer, count, &n, nullptr);
    *got = n;
    if (!ok) error_ = GetLastError();
    return ok != FALSE;
  }
  uint32_t LastError() override { return error_; }

 private:
  HANDLE file_;
  DWORD error_ = 0;
};

class FolderTarget : public PackageTarget {
 public:
  bool Open(const char* name, const char* path) override {
    file_.Reset(utl_NewOrOpenFileForWrite(path));
    if (!file_.Valid()) return false;
    // A package that names one file twice leaves the second content alone, and a file
    // left from an earlier run never keeps a tail. An empty file (or a device) needs no cut.
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.Get(), &size) || (size.QuadPart != 0 && !SetEndOfFile(file_.Get()))) {
      file_.Reset();
      return false;
    }
    return true;
  }
  bool Write(const void* data, uint32_t count) override {
    DWORD written = 0;
    // A short write (a full disk) is a failure, not a smaller file.
    return WriteFile(file_.Get(), data, count, &written, nullptr) && written == count;
  }
  void Close() override { file_.Reset(); }
  void Log(const char* line) override { ModuleLog(kLogName, line, 0); }

 private:
  UniqueHandle file_;
};

// Lower-case hexadecimal of a digest into out (2 * kSha256Len + 1 bytes).
void DigestHex(const unsigned char* digest, char* out) {
  static const char kHex[] = "0123456789abcdef";
  for (uint32_t i = 0; i < kSha256Len; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  out[2 * kSha256Len] = '\0';
}

int Fail(DWORD code, DWORD* pdwErr) {
  ModuleLogF(kLogName, "utl_FileUnpack:Err: %lu.", code);
  if (pdwErr != nullptr) *pdwErr = code;
  return 0;
}

// Logs why the package is refused with 168 (how it meets the certificate table at tableAt),
// then fails with 168.
int FailInSignature(const char* how, DWORD offset, const char* carrier, uint32_t tableAt,
                    DWORD* pdwErr) {
  SetupLogF(
      "utl_FileUnpack: the package at byte %lu of %s %s the program's certificate table "
      "(at byte %lu).",
      offset, carrier, how, static_cast<DWORD>(tableAt));
  return Fail(kUnpackErrInSignature, pdwErr);
}

}  // namespace

int ReadAndMix(HANDLE file, void* buffer, DWORD count) {
  FileReader reader(file);
  return ReadAndMix(reader, buffer, count);
}

namespace {

// Takes in nothing and logs nothing: the check that walks a package before anything of it is
// written.
class NoTarget : public PackageTarget {
 public:
  bool Open(const char*, const char*) override { return true; }
  bool Write(const void*, uint32_t) override { return true; }
  void Close() override {}
  void Log(const char*) override {}
};

// One walk of the package at offset of the open carrier (packageLen bytes) into target,
// never reading into the certificate table that the carrier's header names. 1 when it
// completes; else 0 with *err set, the 168 reason logged (and its error line, which the walk
// logs through target for every other number).
int WalkCarrier(HANDLE carrier, DWORD offset, DWORD packageLen, const char* name, const char* dst,
                PackageTarget& target, Sha256* digest, DWORD* err) {
  // Read from the file's start, then the seek to the package.
  unsigned char head[kCertHeadLen];
  DWORD headLen = 0;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(carrier, start, nullptr, FILE_BEGIN) ||
      !ReadFile(carrier, head, sizeof head, &headLen, nullptr))
    headLen = 0;
  const CertLimit cert = PackageCertLimit(head, headLen, offset, packageLen);
  if (cert.inside) return FailInSignature("starts inside", offset, name, cert.tableAt, err);
  // One way of reading, wherever the carrier lies: ReadFile reports a failed read (a network
  // share gone, a bad sector) as a failed call, which ends the unpack with 166, while a
  // mapped page that cannot be read ends the whole process. Measured, ReadFile into the
  // un-mixing buffer was also the faster of the two.
  // An offset the pointer cannot reach leaves the marker unread.
  start.QuadPart = offset;
  SetFilePointerEx(carrier, start, nullptr, FILE_BEGIN);
  FileReader reader(carrier);
  LimitedReader limited(reader, cert.readable);
  uint32_t walkErr = 0;
  // CreateFileA reads the names in the ANSI code page, so the walk splits them into
  // characters by its rules.
  if (WalkPackage(limited, packageLen, dst, target, &walkErr, GetACP(), digest)) return 1;
  if (limited.RanInto()) return FailInSignature("runs into", offset, name, cert.tableAt, err);
  *err = walkErr;
  return 0;
}

// Walks the package without writing anything or logging the walk; with bound, its digest
// must match. 0 when it does, else the number, with its error line and the reason of 167
// and 168.
DWORD CheckWalk(HANDLE carrier, DWORD offset, DWORD packageLen, const char* name, const char* dst,
                const unsigned char* bound) {
  NoTarget none;
  Sha256 digest;
  Sha256Init(&digest);
  DWORD err = 0;
  if (!WalkCarrier(carrier, offset, packageLen, name, dst, none, bound ? &digest : nullptr, &err)) {
    // The walk's own error line went nowhere; 168 has logged its own.
    if (err != kUnpackErrInSignature) Fail(err, nullptr);
    return err;
  }
  unsigned char read[kSha256Len];
  Sha256Final(&digest, read);
  if (bound == nullptr || memcmp(read, bound, kSha256Len) == 0) return 0;
  char boundHex[2 * kSha256Len + 1], readHex[2 * kSha256Len + 1];
  DigestHex(bound, boundHex);
  DigestHex(read, readHex);
  SetupLogF("utl_FileUnpack: the package of %s has sha256 %s; the program is bound to %s.", name,
            readHex, boundHex);
  Fail(kUnpackErrDigest, nullptr);
  return kUnpackErrDigest;
}

// Steps from the first log line on. srcPath and srcFile are the ANSI names, for the log and
// the limits; the carrier is held (an open handle of the caller's), or else
// wideFolder\wideFile, or, when wideFolder is null, the UTF-16 form of the ANSI path.
int Unpack(const char* srcPath, const char* srcFile, const wchar_t* wideFolder,
           const wchar_t* wideFile, HANDLE held, const char* pszDstPath, DWORD* pdwErr,
           DWORD dwOffset) {
  ModuleLogF(kLogName, "utl_FileUnpack: pszSrcPath = %s pszSrcFile = %s pszDstPath = %s", srcPath,
             srcFile, pszDstPath);
  if (strlen(srcPath) + strlen(srcFile) >= kPathLimit || strlen(pszDstPath) >= kPathLimit)
    return Fail(kUnpackErrPathTooLong, pdwErr);

  char szSrcAbsFile[kPathLimit + 1];
  wchar_t carrierPath[MAX_PATH];
  if (!StrJoinPath(szSrcAbsFile, srcPath, srcFile) ||
      !(wideFolder != nullptr ? WideJoinPath(carrierPath, wideFolder, wideFile)
                              : AnsiToWide(carrierPath, MAX_PATH, szSrcAbsFile)))
    return Fail(kUnpackErrPathTooLong, pdwErr);
  ModuleLogF(kLogName, "utl_FileUnpack: szSrcAbsFile = %s", szSrcAbsFile);
  if (held == nullptr && !FileExistsW(carrierPath)) return Fail(kUnpackErrNoCarrier, pdwErr);
  if (!DirectoryExists(pszDstPath)) return Fail(kUnpackErrNoDstFolder, pdwErr);

  DWORD high = 0, low = 0;
  LARGE_INTEGER heldSize;
  int sized = held != nullptr ? GetFileSizeEx(held, &heldSize) : utl_GetFileSizeW(carrierPath, &high, &low);
  if (held != nullptr) {
    high = static_cast<DWORD>(heldSize.HighPart);
    low = heldSize.LowPart;
  }
  ModuleLogF(kLogName, "utl_FileUnpack: dwSizeHigh = %d dwSizeLow = %d", static_cast<int>(high),
             static_cast<int>(low));
  if (!sized || high != 0 || dwOffset >= low) return Fail(kUnpackErrCarrierSize, pdwErr);
  DWORD packageLen = low - dwOffset;
  ModuleLogF(kLogName, "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= %d",
             static_cast<int>(packageLen));

  UniqueHandle opened;
  if (held == nullptr) {
    opened.Reset(utl_OpenFileForReadW(carrierPath));
    // The file at that path may have been swapped since the setup started: only the carrier
    // the process holds is read.
    if (!opened.Valid() || !utl_IsHeldCarrier(opened.Get()))
      return Fail(kUnpackErrOpenCarrier, pdwErr);
    held = opened.Get();
  }

  // The package must be the one bound into the image, whichever carrier brings it (a
  // program and an MSI package built from one payload folder carry the same package). A
  // bound program walks it whole, writing nothing, before it writes a byte: a package it
  // does not vouch for, whole or cut short, leaves nothing behind. The carrier is held with
  // read sharing only across both walks, so the second reads what the first checked.
  unsigned char bound[kSha256Len];
  if (ReadBoundDigest(bound)) {
    DWORD refused = CheckWalk(held, dwOffset, packageLen, szSrcAbsFile, pszDstPath, bound);
    if (refused != 0) {
      if (pdwErr != nullptr) *pdwErr = refused;
      return 0;
    }
  }
  FolderTarget target;
  DWORD err = 0;
  if (WalkCarrier(held, dwOffset, packageLen, szSrcAbsFile, pszDstPath, target, nullptr, &err))
    return 1;
  if (pdwErr != nullptr) *pdwErr = err;
  return 0;
}

}  // namespace

DWORD utl_CheckCarrier(HANDLE carrier, DWORD offset, const char* name) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(carrier, &size) || size.HighPart != 0 || size.LowPart <= offset)
    return kSeqErrCarrierSize;
  unsigned char bound[kSha256Len];
  bool isBound = ReadBoundDigest(bound);
  return CheckWalk(carrier, offset, size.LowPart - offset, name, "", isBound ? bound : nullptr);
}

int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset) {
  if (pszSrcPath == nullptr || pszSrcFile == nullptr || pszDstPath == nullptr)
    return Fail(kUnpackErrNullArg, pdwErr);
  return Unpack(pszSrcPath, pszSrcFile, nullptr, nullptr, nullptr, pszDstPath, pdwErr, dwOffset);
}

int utl_FileUnpackW(const wchar_t* pszSrcPath, const wchar_t* pszSrcFile, const char* pszDstPath,
                    DWORD* pdwErr, DWORD dwOffset, HANDLE held) {
  if (pszSrcPath == nullptr || pszSrcFile == nullptr || pszDstPath == nullptr)
    return Fail(kUnpackErrNullArg, pdwErr);
  // Names beyond any path's length count as too long.
  char srcPath[4 * MAX_PATH], srcFile[4 * MAX_PATH];
  if (!WideToAnsi(srcPath, sizeof srcPath, pszSrcPath) ||
      !WideToAnsi(srcFile, sizeof srcFile, pszSrcFile))
    return Fail(kUnpackErrPathTooLong, pdwErr);
  return Unpack(srcPath, srcFile, pszSrcPath, pszSrcFile, held, pszDstPath, pdwErr, dwOffset);
}
