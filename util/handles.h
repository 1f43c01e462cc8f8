// One owner per kind of Windows handle; each closes its handle exactly once.
// Not copyable; movable so that a function can hand an open handle to its caller.
#pragma once
#include <windows.h>

template <typename T, typename Traits>
class ScopedHandle {
 public:
  // constexpr where the traits' invalid value is: a global holder then needs no code to set
  // it up before the program starts.
  constexpr ScopedHandle() : h_(Traits::Invalid()) {}
  explicit ScopedHandle(T h) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) : h_(o.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) {
    if (this != &o) Reset(o.Release());
    return *this;
  }

  bool Valid() const { return Traits::IsValid(h_); }
  T Get() const { return h_; }
  // For out-parameters: closes what is held and returns the slot.
  T* Receive() {
    Reset();
    return &h_;
  }
  T Release() {
    T h = h_;
    h_ = Traits::Invalid();
    return h;
  }
  void Reset(T h = Traits::Invalid()) {
    if (Traits::IsValid(h_)) Traits::Close(h_);
    h_ = h;
  }

 private:
  T h_;
};

// CreateFile and toolhelp snapshots fail with INVALID_HANDLE_VALUE, most others with NULL;
// both count as no handle.
struct KernelHandleTraits {
  static constexpr HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
struct RegKeyTraits {
  static constexpr HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY h) { return h != nullptr; }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};
struct LibraryTraits {
  static constexpr HMODULE Invalid() { return nullptr; }
  static bool IsValid(HMODULE h) { return h != nullptr; }
  static void Close(HMODULE h) { ::FreeLibrary(h); }
};
struct LocalMemTraits {
  static constexpr HLOCAL Invalid() { return nullptr; }
  static bool IsValid(HLOCAL h) { return h != nullptr; }
  static void Close(HLOCAL h) { ::LocalFree(h); }
};
struct SidTraits {
  static constexpr PSID Invalid() { return nullptr; }
  static bool IsValid(PSID h) { return h != nullptr; }
  static void Close(PSID h) { ::FreeSid(h); }
};

using UniqueHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using UniqueFind = ScopedHandle<HANDLE, FindHandleTraits>;
using UniqueRegKey = ScopedHandle<HKEY, RegKeyTraits>;
using UniqueLibrary = ScopedHandle<HMODULE, LibraryTraits>;
using UniqueLocal = ScopedHandle<HLOCAL, LocalMemTraits>;
using UniqueSid = ScopedHandle<PSID, SidTraits>;

// Heap block from the process heap, freed with the owner.
class HeapBuffer {
 public:
  HeapBuffer() = default;
  explicit HeapBuffer(SIZE_T bytes)
      : p_(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes)) {}
  ~HeapBuffer() {
    if (p_) ::HeapFree(::GetProcessHeap(), 0, p_);
  }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;
  void* Get() const { return p_; }
  template <typename T>
  T* As() const {
    return static_cast<T*>(p_);
  }

 private:
  void* p_ = nullptr;
};

// A process and thread attribute list of count attributes on the process heap; Get() is
// null when it could not be made (GetLastError tells why). Deleted and freed with the owner.
class ProcAttributeList {
 public:
  explicit ProcAttributeList(DWORD count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    void* p = size != 0 ? ::HeapAlloc(::GetProcessHeap(), 0, size) : nullptr;
    if (p != nullptr &&
        ::InitializeProcThreadAttributeList(static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(p), count, 0,
                                            &size))
      list_ = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(p);
    else if (p != nullptr)
      ::HeapFree(::GetProcessHeap(), 0, p);
  }
  ~ProcAttributeList() {
    if (list_ == nullptr) return;
    ::DeleteProcThreadAttributeList(list_);
    ::HeapFree(::GetProcessHeap(), 0, list_);
  }
  ProcAttributeList(const ProcAttributeList&) = delete;
  ProcAttributeList& operator=(const ProcAttributeList&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

 private:
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};
