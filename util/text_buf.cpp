#include "util/text_buf.h"

#include <stdlib.h>
#include <string.h>

#include "util/wipe.h"

TextBuf::~TextBuf() { free(data_); }

bool TextBuf::Append(const char* s, size_t n) {
  if (n == 0) return true;
  if (n > ((size_t)-1) / 2 - len_ - 1) return false;
  if (len_ + n + 1 > cap_) {
    size_t cap = cap_ ? cap_ : 64;
    while (cap < len_ + n + 1) cap *= 2;
    char* p = static_cast<char*>(realloc(data_, cap));
    if (p == nullptr) return false;
    data_ = p;
    cap_ = cap;
  }
  memcpy(data_ + len_, s, n);
  len_ += n;
  data_[len_] = '\0';
  return true;
}

bool TextBuf::Append(const char* s) { return Append(s, strlen(s)); }

bool TextBuf::Assign(const char* s) {
  TextBuf t;
  if (!t.Append(s)) return false;
  Swap(t);
  return true;
}

void TextBuf::Swap(TextBuf& o) {
  char* d = data_;
  size_t l = len_, c = cap_;
  data_ = o.data_;
  len_ = o.len_;
  cap_ = o.cap_;
  o.data_ = d;
  o.len_ = l;
  o.cap_ = c;
}

void TextBuf::Clear() {
  free(data_);
  data_ = nullptr;
  len_ = cap_ = 0;
}

void TextBuf::Wipe() {
  if (data_ != nullptr) {
    WipeBytes(data_, cap_);
  }
  Clear();
}
