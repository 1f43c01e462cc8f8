#include "package/mapped_reader.h"

#include <string.h>

#include "package/mix.h"

namespace {

// Bytes mapped at once: small next to a 32-bit address space, large next to the cost of
// mapping a view.
const DWORD kViewSize = 8u << 20;

bool OnLocalFixedDisk(const wchar_t* path) {
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  if (n < 3 || n >= MAX_PATH || full[1] != L':' || full[2] != L'\\') return false;
  wchar_t root[4] = {full[0], L':', L'\\', L'\0'};
  return GetDriveTypeW(root) == DRIVE_FIXED;
}

}  // namespace

MappedReader::MappedReader(HANDLE file, const wchar_t* path, DWORD offset) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.HighPart != 0 || size.LowPart <= offset) return;
  if (!OnLocalFixedDisk(path)) return;
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  if (si.dwAllocationGranularity != 0) granularity_ = si.dwAllocationGranularity;
  mapping_.Reset(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  pos_ = offset;
  end_ = size.LowPart;
}

MappedReader::~MappedReader() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
}

bool MappedReader::Cover() {
  if (view_ != nullptr && pos_ >= viewStart_ && pos_ < viewStart_ + viewLen_) return true;
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
  DWORD start = pos_ - pos_ % granularity_;
  DWORD len = end_ - start < kViewSize ? end_ - start : kViewSize;
  view_ = static_cast<const unsigned char*>(
      MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, start, len));
  if (view_ == nullptr) {
    error_ = GetLastError();
    return false;
  }
  viewStart_ = start;
  viewLen_ = len;
  return true;
}

bool MappedReader::Take(void* buffer, uint32_t count, uint32_t* got, bool mix) {
  unsigned char* out = static_cast<unsigned char*>(buffer);
  *got = 0;
  while (*got < count && pos_ < end_) {
    if (!Cover()) return false;
    DWORD inView = viewStart_ + viewLen_ - pos_;
    DWORD n = count - *got < inView ? count - *got : inView;
    const unsigned char* src = view_ + (pos_ - viewStart_);
    if (mix)
      MixCopy(out + *got, src, n);
    else
      memcpy(out + *got, src, n);
    pos_ += n;
    *got += n;
  }
  return true;
}

bool MappedReader::Read(void* buffer, uint32_t count, uint32_t* got) {
  return Take(buffer, count, got, false);
}

bool MappedReader::ReadUnmixed(void* buffer, uint32_t count, uint32_t* got) {
  return Take(buffer, count, got, true);
}
