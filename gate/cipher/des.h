// DES (FIPS 46-3) in ECB mode with PKCS#5 padding. No operating system needed.
//
// A key schedule is 32 words: two per round, each word carrying four of the round subkey's
// eight 6-bit groups in the form the round function's table lookups take. The encryption
// schedule holds rounds 1 to 16, the decryption schedule the same subkeys from 16 to 1.
#pragma once
#include <stdint.h>

const unsigned kDesBlockSize = 8;
const unsigned kDesScheduleWords = 32;

// Builds both schedules from an 8-byte key (byte 0 holds the key's most significant bits;
// the lowest bit of each byte is parity and is ignored). Always 0.
int DesSetKey(const unsigned char* key, uint32_t* encSchedule, uint32_t* decSchedule);

// One 8-byte block through the 16 rounds of schedule; in and out may be the same.
void DesCryptBlock(const uint32_t* schedule, const unsigned char* in, unsigned char* out);

// Encrypts n plain bytes block by block and appends the PKCS#5 padding block (a whole block
// of 8 when n is a multiple of 8). Returns the ciphertext length k = (n & ~7) + 8, or -1
// when out (size bytes) is smaller than k or n is too large to count; out is then untouched.
int DesEncryptEcb(const unsigned char* plain, unsigned n, unsigned char* out, unsigned size,
                  const uint32_t* encSchedule);

// Decrypts m ciphertext bytes block by block into out (size bytes) and returns the plain
// length: m less the value of the last decrypted byte. The padding is not checked further
// and stays in out behind the returned length. -1 when m is 0 or not a multiple of 8,
// when out is smaller than m (nothing is written then), or when the last byte is larger
// than m (out then holds the decrypted blocks).
int DesDecryptEcb(const unsigned char* cipher, unsigned m, unsigned char* out, unsigned size,
                  const uint32_t* decSchedule);
