#include "gate/cipher/pwd_cipher.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "gate/cipher/base64.h"
#include "gate/cipher/des.h"
#include "util/wipe.h"

namespace {

// The cipher key ("vorek293") and, directly behind it, the 128-byte derivation table.
const unsigned char kKeyAndTable[8 + 128] = {
    'v',  'o',  'r',  'e',  'k',  '2',  '9',  '3',  0x8b, 0x3f, 0x99, 0x2c, 0x31, 0xcd, 0x23, 0x6e,
    0x81, 0x04, 0xd0, 0xd9, 0x60, 0x16, 0xfa, 0x66, 0x6c, 0x59, 0x01, 0x1e, 0x3f, 0x53, 0x40, 0xfb,
    0xe1, 0xe0, 0xf8, 0xa4, 0xcc, 0x1b, 0xf8, 0x06, 0x3b, 0x74, 0xf2, 0xa7, 0x2d, 0x3f, 0x26, 0xa8,
    0x20, 0xe5, 0xbb, 0x49, 0xd1, 0x05, 0x5f, 0x0d, 0xc1, 0x87, 0xe9, 0xb1, 0xd2, 0x3d, 0xd3, 0xb3,
    0x77, 0x1c, 0x4d, 0x4d, 0xd6, 0x30, 0x14, 0xbb, 0x1d, 0x02, 0xf3, 0x12, 0x1c, 0x45, 0xb8, 0x45,
    0xfd, 0xa2, 0xf9, 0xa4, 0x42, 0x53, 0x80, 0x2a, 0x99, 0x98, 0x34, 0xd5, 0x20, 0x90, 0x92, 0x28,
    0x82, 0x15, 0xa5, 0xa5, 0x9b, 0xd0, 0x94, 0x90, 0x2f, 0xe8, 0x44, 0xf7, 0x5c, 0x21, 0xf2, 0xbf,
    0xaf, 0x6d, 0x6e, 0xb7, 0x6b, 0x05, 0x4f, 0x2a, 0x15, 0x2d, 0xdd, 0x31, 0x2f, 0xbe, 0xba, 0x26,
    0xf0, 0x55, 0x66, 0x0b, 0xdf, 0x61, 0x05, 0x8a};
const unsigned char* const kCipherKey = kKeyAndTable;
const unsigned char* const kDeriveTable = kKeyAndTable + 8;

// Built on first use and kept for the life of the process. Not guarded: every caller runs
// on the setup's one thread.
uint32_t g_encSchedule[kDesScheduleWords];
uint32_t g_decSchedule[kDesScheduleWords];
int g_schedulesBuilt = 0;

bool EnsureSchedules() {
  if (!g_schedulesBuilt) {
    if (DesSetKey(kCipherKey, g_encSchedule, g_decSchedule) != 0) return false;
    g_schedulesBuilt = 1;
  }
  return true;
}

}  // namespace

int DesBase64Encrypt(char* out, unsigned size, const unsigned char* plain, unsigned n) {
  if (!EnsureSchedules()) return kPwdKeyFailed;
  // A length whose text could not be counted in an unsigned never fits any buffer.
  if (n > 0x7FFFFFF0u) return kPwdOutputTooSmall;
  unsigned k = (n & ~7u) + 8;
  if (k / 3 * 4 + 4 >= size) return kPwdOutputTooSmall;
  unsigned char* cipher = static_cast<unsigned char*>(malloc(k));
  if (cipher == nullptr) return kPwdNoMemory;
  if (DesEncryptEcb(plain, n, cipher, k, g_encSchedule) <= 0) {
    free(cipher);
    return kPwdEncryptFailed;
  }
  int rc = Base64Encode(cipher, out, k);
  free(cipher);
  return rc != 0 ? kPwdBadBase64 : kPwdOk;
}

int DesBase64Decrypt(unsigned char* out, unsigned* count, const char* text) {
  if (!EnsureSchedules()) return kPwdKeyFailed;
  size_t len = strlen(text);
  if (len == 0 || len > 0x7FFFFFF0u) return kPwdNoMemory;
  // As many bytes as the text has characters hold its decoded bytes and terminator.
  unsigned char* decoded = static_cast<unsigned char*>(malloc(len));
  if (decoded == nullptr) return kPwdNoMemory;
  unsigned m = 0;
  if (Base64Decode(text, decoded, &m) != 0) {
    free(decoded);
    return kPwdBadBase64;
  }
  // The ciphertext of a password that fits the room is at most (room & ~7) + 8 bytes.
  unsigned room = *count;
  if (m > 8 && m - 8 > (room & ~7u)) {
    free(decoded);
    return kPwdBadCipher;
  }
  // The plain data never outgrows the ciphertext, so m bytes hold every decrypted block.
  unsigned char* plain = static_cast<unsigned char*>(malloc(m ? m : 1));
  if (plain == nullptr) {
    free(decoded);
    return kPwdNoMemory;
  }
  int n = DesDecryptEcb(decoded, m, plain, m, g_decSchedule);
  free(decoded);
  if (n < 0 || static_cast<unsigned>(n) > room) {
    WipeBytes(plain, m);
    free(plain);
    return kPwdBadCipher;
  }
  memcpy(out, plain, static_cast<unsigned>(n));
  *count = static_cast<unsigned>(n);
  WipeBytes(plain, m);
  free(plain);
  return kPwdOk;
}

int DeriveTableBytes(const unsigned char* in, unsigned n, unsigned char* out, unsigned* count) {
  if (in == nullptr || out == nullptr || count == nullptr) return 0;
  if (n < 6 || n > 20 || *count < 5 * n) return 0;
  for (unsigned i = 0; i < n; ++i) {
    unsigned p = in[i];
    for (unsigned j = 0; j < 5; ++j) {
      p = (p + i) % 128;
      out[5 * i + j] = kDeriveTable[p];
    }
  }
  *count = 5 * n;
  return 1;
}
