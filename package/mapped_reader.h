// Reading a carrier through a file mapping: the package's bytes are un-mixed straight out of
// the mapped pages into the caller's buffer, without a separate read into it first.
#pragma once
#include <windows.h>

#include "package/package_walk.h"
#include "util/handles.h"

class MappedReader : public PackageReader {
 public:
  // Maps the carrier held open by file (for reading), from offset on, in views of a few
  // MiB. path is the carrier's path, used only to see where it lies: a carrier that is not
  // on a local fixed disk is not mapped, because a failed read of a mapped page ends the
  // process instead of failing a call. Valid() tells whether the mapping could be had;
  // otherwise the caller reads through ReadFile.
  MappedReader(HANDLE file, const wchar_t* path, DWORD offset);
  ~MappedReader();
  MappedReader(const MappedReader&) = delete;
  MappedReader& operator=(const MappedReader&) = delete;

  bool Valid() const { return mapping_.Valid(); }
  bool Read(void* buffer, uint32_t count, uint32_t* got) override;
  bool ReadUnmixed(void* buffer, uint32_t count, uint32_t* got) override;
  uint32_t LastError() override { return error_; }

 private:
  // Copies (mix false) or un-mixes (mix true) up to count bytes from the current position.
  bool Take(void* buffer, uint32_t count, uint32_t* got, bool mix);
  // Makes the view cover pos_; false (error_ set) when it cannot be mapped.
  bool Cover();

  UniqueHandle mapping_;
  const unsigned char* view_ = nullptr;
  DWORD viewStart_ = 0;
  DWORD viewLen_ = 0;
  DWORD pos_ = 0;
  DWORD end_ = 0;
  DWORD granularity_ = 65536;
  DWORD error_ = 0;
};
