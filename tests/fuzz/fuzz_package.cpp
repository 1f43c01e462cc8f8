// libFuzzer target: the package walk that Setup.exe runs, on arbitrary bytes. The first
// byte picks the destination folder's length (to reach the path-length check) and, by its
// top bit, the code page names are read in (936 or 1252); the rest is the package. Every outcome
// must be success or one of the walk's error numbers, names handed to the target must be safe,
// content must never exceed what the entry declared.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "package/entry_name.h"
#include "package/package_format.h"
#include "package/package_walk.h"

namespace {

class MemReader : public PackageReader {
 public:
  MemReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    size_t n = count < size_ - pos_ ? count : size_ - pos_;
    memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  uint32_t LastError() override { return 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class CheckTarget : public PackageTarget {
 public:
  explicit CheckTarget(uint32_t codePage) : codePage_(codePage) {}
  bool Open(const char* name, const char* path) override {
    size_t n = strlen(name);
    if (n > kPackageMaxNameLen || !IsSafeEntryName(name, static_cast<uint32_t>(n), codePage_))
      abort();
    if (open_) abort();
    open_ = true;
    return true;
  }
  bool Write(const void* data, uint32_t count) override {
    if (!open_ || count == 0 || count > kPackageChunk) abort();
    return true;
  }
  void Close() override { open_ = false; }
  void Log(const char* line) override {
    if (line == nullptr) abort();
  }
  bool open_ = false;
  uint32_t codePage_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string dst = "C:\\tmp\\" + std::string(data[0] % 253, 'd');
  MemReader reader(data + 1, size - 1);
  uint32_t codePage = (data[0] & 0x80) != 0 ? 936 : 1252;
  CheckTarget target(codePage);
  uint32_t err = 0;
  int r = WalkPackage(reader, static_cast<uint32_t>(size - 1), dst.c_str(), target, &err, codePage);
  if (target.open_) abort();
  if (r == 1 && err != 0) abort();
  if (r == 0 &&
      !(err == kUnpackErrWrite || (err >= kUnpackErrMarkerRead && err <= kUnpackErrContentRead)))
    abort();
  if (r != 0 && r != 1) abort();
  return 0;
}
