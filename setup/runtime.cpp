// Memory for C++ objects comes straight from the C runtime's heap. The library versions
// report failure by exception, which would bring the whole exception and demangling
// machinery into the program; here a failed allocation ends the process.
#include <stdlib.h>

#include <new>

namespace {
void* Allocate(size_t n) {
  void* p = malloc(n ? n : 1);
  if (p == nullptr) abort();
  return p;
}
}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return malloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return malloc(n ? n : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

// A pure virtual call is a programming error; no message machinery for it.
extern "C" void __cxa_pure_virtual() { abort(); }

// The run-time's start-up fixes references to data that the program imports from DLLs
// ("pseudo-relocations") and brings a section walker and its failure messages for that,
// about 1.5 KB. The program imports no data, and its linker script refuses to link one
// that does, so there is nothing to fix.
extern "C" void _pei386_runtime_relocator() {}
