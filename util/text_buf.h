// A growable NUL-terminated narrow text, for output whose length is not known beforehand
// (a child process's console output). No operating system needed.
#pragma once
#include <stddef.h>

class TextBuf {
 public:
  TextBuf() = default;
  ~TextBuf();
  TextBuf(const TextBuf&) = delete;
  TextBuf& operator=(const TextBuf&) = delete;

  // Appends n bytes of s (which must not hold a NUL). False when memory runs out; the
  // text is then unchanged.
  bool Append(const char* s, size_t n);
  bool Append(const char* s);
  bool Assign(const char* s);
  // Exchanges the texts (and buffers) of the two.
  void Swap(TextBuf& other);
  void Clear();
  // Overwrites the whole storage before releasing it, for secrets such as passwords.
  void Wipe();

  const char* CStr() const { return data_ ? data_ : ""; }
  size_t Length() const { return len_; }

 private:
  char* data_ = nullptr;
  size_t len_ = 0;
  size_t cap_ = 0;
};
