#include "package/package_walk.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "package/entry_name.h"
#include "package/mix.h"
#include "package/package_format.h"
#include "util/fixed_str.h"

namespace {

const char kPrefix[] = "utl_FileUnpack: ";

// Reads exactly count bytes, as they are stored (mixed); false when the read fails or the
// carrier ends first.
bool ReadStored(PackageReader& reader, void* buffer, uint32_t count) {
  uint32_t got = 0;
  return count == 0 || (reader.Read(buffer, count, &got) && got == count);
}

class Walk {
 public:
  Walk(PackageReader& reader, uint32_t packageLen, const char* dst, PackageTarget& target,
       uint32_t codePage)
      : reader_(reader), len_(packageLen), dst_(dst), target_(target), codePage_(codePage) {}

  int Run(uint32_t* err);

 private:
  void LogF(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Logs the error line, closes the open file and reports code.
  int Fail(uint32_t code, uint32_t* err);
  // Logs a running total the way "%d" prints a 32-bit total.
  void LogTotal(uint64_t total);

  PackageReader& reader_;
  uint32_t len_;
  const char* dst_;
  PackageTarget& target_;
  uint32_t codePage_;
  // The marker and names pass through this buffer; one more byte ends a name.
  unsigned char buf_[kPackageMaxNameLen + 1];
  // Content: the large heap buffer when it could be had, else the small one.
  unsigned char small_[kPackageSmallChunk];
};

// Owns the large content buffer of one walk.
class ContentBuffer {
 public:
  // Nothing is allocated for a size of 0.
  explicit ContentBuffer(uint32_t size)
      : p_(size != 0 ? static_cast<unsigned char*>(malloc(size)) : nullptr) {}
  ~ContentBuffer() { free(p_); }
  ContentBuffer(const ContentBuffer&) = delete;
  ContentBuffer& operator=(const ContentBuffer&) = delete;
  unsigned char* Get() const { return p_; }

 private:
  unsigned char* p_;
};

void Walk::LogF(const char* fmt, ...) {
  char line[600];
  va_list ap;
  va_start(ap, fmt);
  bool ok = StrFormatV(line, sizeof line, fmt, ap);
  va_end(ap);
  if (ok) target_.Log(line);
}

int Walk::Fail(uint32_t code, uint32_t* err) {
  LogF("utl_FileUnpack:Err: %u.", static_cast<unsigned>(code));
  target_.Close();
  if (err != nullptr) *err = code;
  return 0;
}

void Walk::LogTotal(uint64_t total) {
  // The total is kept in 64 bits so that a huge declared length cannot wrap around and
  // slip past the bounds check; below 4 GiB it prints as a signed 32-bit number.
  if (total <= 0xffffffffu)
    LogF("%sdwCurTotalLen = %d", kPrefix, static_cast<int>(static_cast<uint32_t>(total)));
  else
    LogF("%sdwCurTotalLen = %llu", kPrefix, static_cast<unsigned long long>(total));
}

int Walk::Run(uint32_t* err) {
  if (!ReadAndMix(reader_, buf_, kPackageMarkerLen)) return Fail(kUnpackErrMarkerRead, err);
  if (memcmp(buf_, kPackageMarker, kPackageMarkerLen) != 0) {
    LogF("%u", static_cast<unsigned>(kPackageMarkerLen));
    return Fail(kUnpackErrMarker, err);
  }
  uint64_t total = kPackageMarkerLen;
  LogTotal(total);
  if (total >= len_) return 1;

  const size_t dstLen = strlen(dst_);
  // No entry holds more content than the package has bytes.
  const uint32_t largeSize = len_ < kPackageChunk ? len_ : kPackageChunk;
  ContentBuffer large(largeSize > kPackageSmallChunk ? largeSize : 0);
  unsigned char* content = large.Get() != nullptr ? large.Get() : small_;
  const uint32_t chunk = large.Get() != nullptr ? largeSize : kPackageSmallChunk;
  for (uint32_t pass = 1;; ++pass) {
    LogF("%sunpack time = %d", kPrefix, static_cast<int>(pass));

    unsigned char field[4] = {0, 0, 0, 0};
    uint32_t got = 0;
    if (!reader_.Read(field, 4, &got)) {
      LogF("%sReadFile failed with err. %d", kPrefix, static_cast<int>(reader_.LastError()));
      return Fail(kUnpackErrNameLen, err);
    }
    uint32_t nameLen = LoadLe32(field);
    LogF("%sdwBufDataLen = %d dwCurFileNameLen = %d sizeof(DWORD) = %d", kPrefix,
         static_cast<int>(got), static_cast<int>(nameLen), 4);
    if (got < 4 || nameLen > kPackageMaxNameLen || dstLen + nameLen >= kPathLimit)
      return Fail(kUnpackErrNameLen, err);

    got = 0;
    if (!reader_.Read(field, 4, &got) || got < 4) return Fail(kUnpackErrDataLen, err);
    uint32_t dataLen = LoadLe32(field);

    total += kPackageEntryHeaderLen + static_cast<uint64_t>(nameLen) + dataLen;
    LogTotal(total);
    if (total > len_) return Fail(kUnpackErrPastEnd, err);

    if (!ReadAndMix(reader_, buf_, nameLen)) return Fail(kUnpackErrNameRead, err);
    buf_[nameLen] = '\0';
    const char* name = reinterpret_cast<const char*>(buf_);
    // Nothing may be created outside the destination folder or under a name that Windows
    // would change or turn into a device.
    if (!IsSafeEntryName(name, nameLen, codePage_)) {
      LogF("%sentry name refused, dwCurFileNameLen = %d", kPrefix, static_cast<int>(nameLen));
      return Fail(kUnpackErrCreate, err);
    }

    char path[kPathLimit + 1];
    if (!StrJoinPath(path, dst_, name)) return Fail(kUnpackErrNameLen, err);
    bool opened = target_.Open(name, path);
    LogF("%sszDstAbsFile = %s", kPrefix, path);
    if (nameLen == kPackageEndNameLen && memcmp(name, kPackageEndName, nameLen) == 0) {
      LogF("%sThe file is end.", kPrefix);
      target_.Close();
      return 1;
    }
    if (!opened) return Fail(kUnpackErrCreate, err);

    uint32_t copied = 0;
    while (copied < dataLen) {
      uint32_t n = dataLen - copied;
      if (n > chunk) n = chunk;
      // The chunk as stored in the carrier, then un-mixed in place and written.
      if (!ReadStored(reader_, content, n)) return Fail(kUnpackErrContentRead, err);
      MixBuffer(content, n);
      if (!target_.Write(content, n)) return Fail(kUnpackErrWrite, err);
      copied += n;
    }
    target_.Close();
    if (total >= len_) return 1;
  }
}

// Feeds every byte read, as stored, to a digest before it is un-mixed.
class DigestReader : public PackageReader {
 public:
  DigestReader(PackageReader& in, Sha256* digest) : in_(in), digest_(digest) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    if (!in_.Read(buffer, count, got)) return false;
    Sha256Update(digest_, buffer, *got);
    return true;
  }
  uint32_t LastError() override { return in_.LastError(); }

 private:
  PackageReader& in_;
  Sha256* digest_;
};

}  // namespace

int ReadAndMix(PackageReader& reader, void* buffer, uint32_t count) {
  if (!ReadStored(reader, buffer, count)) return 0;
  MixBuffer(buffer, count);
  return 1;
}

int WalkPackage(PackageReader& reader, uint32_t packageLen, const char* dstFolder,
                PackageTarget& target, uint32_t* err, uint32_t codePage, Sha256* digest) {
  const char* dst = dstFolder != nullptr ? dstFolder : "";
  if (digest == nullptr) return Walk(reader, packageLen, dst, target, codePage).Run(err);
  // The stored bytes pass through the digest on their way to the un-mixing: the package is
  // read once.
  DigestReader digesting(reader, digest);
  return Walk(digesting, packageLen, dst, target, codePage).Run(err);
}
