// libFuzzer target: stored texts of any bytes through Base64Decode and DesBase64Decrypt,
// with output buffers of exactly the size the callers give (AddressSanitizer catches any
// write beyond them), and the properties every caller relies on.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "gate/cipher/base64.h"
#include "gate/cipher/pwd_cipher.h"

namespace {
void Require(bool ok) {
  if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses the output room of the decryption; the rest is the text, up to
  // its first NUL as callers see it.
  unsigned room = size ? data[0] : 128;
  std::string text =
      size ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : std::string();
  const char* t = text.c_str();
  size_t len = strlen(t);

  // Base64Decode with exactly the room its contract asks for.
  std::vector<unsigned char> decoded(3 * (len / 4) + 1);
  unsigned count = 0xFFFFFFFFu;
  if (Base64Decode(t, decoded.data(), &count) == 0) {
    Require(len % 4 == 0);
    Require(count <= 3 * (len / 4));
    Require(decoded[count] == 0);
  } else {
    Require(count == 0xFFFFFFFFu);
  }

  // DesBase64Decrypt into exactly room bytes, prepared with a pattern that must survive a
  // failure.
  std::vector<unsigned char> plain(room ? room : 1, 0xA5);
  unsigned n = room;
  int rc = DesBase64Decrypt(plain.data(), &n, t);
  Require(rc >= 0 && rc <= 6);
  if (rc == kPwdOk) {
    Require(n <= room);
    // What came back encrypts and decrypts to itself.
    if (n <= 87) {
      char again[kStoredPwdTextSize] = {0};
      Require(DesBase64Encrypt(again, sizeof again, plain.data(), n) == kPwdOk);
      std::vector<unsigned char> back(n ? n : 1);
      unsigned m = n;
      Require(DesBase64Decrypt(back.data(), &m, again) == kPwdOk);
      Require(m == n && memcmp(back.data(), plain.data(), n) == 0);
    }
  } else {
    Require(n == room);
    for (unsigned i = 0; i < room; ++i) Require(plain[i] == 0xA5);
  }

  // The customization XML reader's call: 128-byte zero-filled room, never a full buffer.
  unsigned char xmlPlain[129] = {0};
  unsigned xmlCount = 128;
  if (DesBase64Decrypt(xmlPlain, &xmlCount, t) == kPwdOk && len <= 128) Require(xmlCount <= 96);
  return 0;
}
