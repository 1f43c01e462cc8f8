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

// Steps from the first log line on. srcPath and srcFile are the ANSI names, for the log and
// the limits; the carrier itself is wideFolder\wideFile, or, when wideFolder is null, the
// UTF-16 form of the ANSI path.
int Unpack(const char* srcPath, const char* srcFile, const wchar_t* wideFolder,
           const wchar_t* wideFile, const char* pszDstPath, DWORD* pdwErr, DWORD dwOffset) {
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
  if (!FileExistsW(carrierPath)) return Fail(kUnpackErrNoCarrier, pdwErr);
  if (!DirectoryExists(pszDstPath)) return Fail(kUnpackErrNoDstFolder, pdwErr);

  DWORD high = 0, low = 0;
  int sized = utl_GetFileSizeW(carrierPath, &high, &low);
  ModuleLogF(kLogName, "utl_FileUnpack: dwSizeHigh = %d dwSizeLow = %d", static_cast<int>(high),
             static_cast<int>(low));
  if (!sized || high != 0 || dwOffset >= low) return Fail(kUnpackErrCarrierSize, pdwErr);
  DWORD packageLen = low - dwOffset;
  ModuleLogF(kLogName, "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= %d",
             static_cast<int>(packageLen));

  UniqueHandle carrier(utl_OpenFileForReadW(carrierPath));
  // The file at that path may have been swapped since the setup started: only the carrier
  // the process holds is read.
  if (!carrier.Valid() || !utl_IsHeldCarrier(carrier.Get()))
    return Fail(kUnpackErrOpenCarrier, pdwErr);

  // The package must be the one bound into the image, whichever carrier brings it (a
  // program and an MSI package built from one payload folder carry the same package); its
  // digest is taken in the same pass as the unpack.
  unsigned char bound[kSha256Len];
  const bool checkDigest = ReadBoundDigest(bound);
  Sha256 digest;
  Sha256Init(&digest);
  Sha256* const pDigest = checkDigest ? &digest : nullptr;

  // The carrier's header names its certificate table, which the package may neither start
  // in nor be read into. Read from the held file's start, before the seek to the package.
  unsigned char head[kCertHeadLen];
  DWORD headLen = 0;
  if (!ReadFile(carrier.Get(), head, sizeof head, &headLen, nullptr)) headLen = 0;
  const CertLimit cert = PackageCertLimit(head, headLen, dwOffset, packageLen);
  if (cert.inside)
    return FailInSignature("starts inside", dwOffset, szSrcAbsFile, cert.tableAt, pdwErr);

  FolderTarget target;
  uint32_t err = 0;
  // CreateFileA reads the names in the ANSI code page, so the walk splits them into
  // characters by its rules.
  const uint32_t codePage = GetACP();
  // One way of reading, wherever the carrier lies: ReadFile reports a failed read (a network
  // share gone, a bad sector) as a failed call, which ends the unpack with 166, while a
  // mapped page that cannot be read ends the whole process. Measured, ReadFile into the
  // un-mixing buffer was also the faster of the two.
  // An offset the pointer cannot reach leaves the marker unreadable.
  LARGE_INTEGER start;
  start.QuadPart = dwOffset;
  if (!SetFilePointerEx(carrier.Get(), start, nullptr, FILE_BEGIN))
    return Fail(kUnpackErrMarkerRead, pdwErr);
  FileReader reader(carrier.Get());
  LimitedReader limited(reader, cert.readable);
  int done = WalkPackage(limited, packageLen, pszDstPath, target, &err, codePage, pDigest);
  if (!done && limited.RanInto())
    return FailInSignature("runs into", dwOffset, szSrcAbsFile, cert.tableAt, pdwErr);
  if (done && checkDigest) {
    unsigned char read[kSha256Len];
    Sha256Final(&digest, read);
    // What was written stays here; the caller empties the working folder and runs none of it.
    if (memcmp(read, bound, kSha256Len) != 0) {
      char boundHex[2 * kSha256Len + 1], readHex[2 * kSha256Len + 1];
      DigestHex(bound, boundHex);
      DigestHex(read, readHex);
      SetupLogF("utl_FileUnpack: the package of %s has sha256 %s; the program is bound to %s.",
                szSrcAbsFile, readHex, boundHex);
      return Fail(kUnpackErrDigest, pdwErr);
    }
  }
  if (done) return 1;
  if (pdwErr != nullptr) *pdwErr = err;
  return 0;
}

}  // namespace

int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset) {
  if (pszSrcPath == nullptr || pszSrcFile == nullptr || pszDstPath == nullptr)
    return Fail(kUnpackErrNullArg, pdwErr);
  return Unpack(pszSrcPath, pszSrcFile, nullptr, nullptr, pszDstPath, pdwErr, dwOffset);
}

int utl_FileUnpackW(const wchar_t* pszSrcPath, const wchar_t* pszSrcFile, const char* pszDstPath,
                    DWORD* pdwErr, DWORD dwOffset) {
  if (pszSrcPath == nullptr || pszSrcFile == nullptr || pszDstPath == nullptr)
    return Fail(kUnpackErrNullArg, pdwErr);
  // Names beyond any path's length count as too long.
  char srcPath[4 * MAX_PATH], srcFile[4 * MAX_PATH];
  if (!WideToAnsi(srcPath, sizeof srcPath, pszSrcPath) ||
      !WideToAnsi(srcFile, sizeof srcFile, pszSrcFile))
    return Fail(kUnpackErrPathTooLong, pdwErr);
  return Unpack(srcPath, srcFile, pszSrcPath, pszSrcFile, pszDstPath, pdwErr, dwOffset);
}
