// The stored text form of passwords: Base64 of the DES-ECB ciphertext (PKCS#5 padding)
// of the password's bytes under the product's fixed key. Equal passwords give equal
// texts, so passwords are compared only in this form. No operating system needed.
#pragma once

// Result codes of DesBase64Encrypt and DesBase64Decrypt.
enum {
  kPwdOk = 0,
  kPwdKeyFailed = 1,       // the key schedules could not be built
  kPwdOutputTooSmall = 2,  // encrypt: the text does not fit the output buffer
  kPwdEncryptFailed = 3,   // encrypt: the block encryption failed
  kPwdNoMemory = 4,        // out of memory; decrypt: also an empty text
  kPwdBadBase64 = 5,       // encrypt: the Base64 step failed; decrypt: not valid Base64
  kPwdBadCipher = 6,       // decrypt: does not fit the output or has no valid length
};

// Room that all callers give the stored text, terminator included; passwords of up to 87
// bytes fit it.
const unsigned kStoredPwdTextSize = 128;
// Longest password the dialog reads, in bytes of the system's ANSI code page: a stored
// password of more bytes can never be typed.
const unsigned kMaxTypedPwdBytes = 32;

// Brings n plain bytes into the stored text form, NUL-terminated in out (size bytes).
// On any code but kPwdOk out is left as the caller prepared it.
int DesBase64Encrypt(char* out, unsigned size, const unsigned char* plain, unsigned n);

// Turns a stored text back into the plain bytes. *count: in, the room in out; out, the
// plain byte count. The plain bytes come without a terminator; callers zero out and give
// a count below its size when they want a string. On any code but kPwdOk out and *count
// are left as the caller prepared them.
int DesBase64Decrypt(unsigned char* out, unsigned* count, const char* text);

// Derives 5 * n bytes from n input bytes (6 to 20) through the product's derivation table:
// input byte i yields output bytes 5i to 5i + 4. *count: in, the room in out (at least
// 5 * n); out, the bytes written. 1 on success; 0 on refusal, with nothing written.
int DeriveTableBytes(const unsigned char* in, unsigned n, unsigned char* out, unsigned* count);
