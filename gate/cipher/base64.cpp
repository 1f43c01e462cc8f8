#include "gate/cipher/base64.h"

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const int kPad = 64;
const int kInvalid = -1;

// Value of one text byte: 0 to 63, kPad for "=", kInvalid for any other byte.
int CharValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return kPad;
  return kInvalid;
}
}  // namespace

int Base64Encode(const unsigned char* in, char* out, unsigned n) {
  unsigned o = 0, i = 0;
  for (; i + 3 <= n; i += 3) {
    unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  if (n - i == 1) {
    unsigned v = unsigned(in[i]) << 16;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = '=';
    out[o++] = '=';
  } else if (n - i == 2) {
    unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = '=';
  }
  out[o] = '\0';
  return 0;
}

int Base64Decode(const char* text, unsigned char* out, unsigned* count) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  unsigned o = 0;
  while (*p != '\0') {
    int v[4];
    unsigned pads = 0;
    for (unsigned k = 0; k < 4; ++k) {
      if (p[k] == '\0') return -1;  // the text ends inside a group
      v[k] = CharValue(p[k]);
      if (v[k] == kInvalid) return -1;
      if (v[k] == kPad) {
        if (k < 2) return -1;
        v[k] = 0;
        ++pads;
      }
    }
    unsigned char b[3] = {static_cast<unsigned char>(v[0] << 2 | v[1] >> 4),
                          static_cast<unsigned char>(v[1] << 4 | v[2] >> 2),
                          static_cast<unsigned char>(v[2] << 6 | v[3])};
    for (unsigned k = 0; k < 3 - pads; ++k) out[o++] = b[k];
    p += 4;
  }
  out[o] = '\0';
  if (count) *count = o;
  return 0;
}
