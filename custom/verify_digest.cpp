#include "custom/verify_digest.h"

#include <string.h>

#include "custom/md5.h"
#include "gate/cipher/pwd_cipher.h"

namespace {
// DeriveTableBytes over six zero bytes, given 100 bytes of room for its output.
const unsigned kConstantSeedSize = 6;
const unsigned kConstantRoom = 100;
}  // namespace

void DefaultIconFingerprint(unsigned char* fingerprint) {
  memset(fingerprint, 0, kIconFingerprintSize);
  fingerprint[0] = 0xFF;
}

bool IconFingerprintFromHead(const unsigned char* head, uint64_t iconSize,
                             unsigned char* fingerprint) {
  if (iconSize < kMinIconSize) return false;
  memcpy(fingerprint, head + kIconFingerprintOffset, kIconFingerprintSize);
  return true;
}

bool BuildProductConstant(unsigned char* out) {
  const unsigned char seed[kConstantSeedSize] = {0};
  unsigned char derived[kConstantRoom];
  unsigned count = sizeof derived;
  if (!DeriveTableBytes(seed, kConstantSeedSize, derived, &count) || count != kProductConstantSize)
    return false;
  memcpy(out, derived, kProductConstantSize);
  return true;
}

bool VerifyDigest(const unsigned char* content, size_t contentSize, const unsigned char* filler,
                  const unsigned char* fingerprint, unsigned char* digest) {
  if (contentSize > kMaxVerifiedContent) return false;
  unsigned char constant[kProductConstantSize];
  if (!BuildProductConstant(constant)) return false;
  Md5Context ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, content, contentSize);
  Md5Update(&ctx, filler, kVrfFillerSize);
  Md5Update(&ctx, fingerprint, kIconFingerprintSize);
  Md5Update(&ctx, constant, kProductConstantSize);
  Md5Final(&ctx, digest);
  return true;
}

bool MakeVerificationImage(const unsigned char* content, size_t contentSize,
                           const unsigned char* filler, const unsigned char* fingerprint,
                           unsigned char* image) {
  unsigned char digest[kVrfDigestSize];
  if (!VerifyDigest(content, contentSize, filler, fingerprint, digest)) return false;
  memmove(image, filler, kVrfFillerSize);
  memcpy(image + kVrfDigestOffset, digest, kVrfDigestSize);
  return true;
}

bool CheckVerificationImage(const unsigned char* content, size_t contentSize,
                            const unsigned char* image, const unsigned char* fingerprint) {
  unsigned char digest[kVrfDigestSize];
  return VerifyDigest(content, contentSize, image, fingerprint, digest) &&
         DigestsEqual(digest, image + kVrfDigestOffset);
}

bool DigestsEqual(const unsigned char* a, const unsigned char* b) {
  unsigned char diff = 0;
  for (unsigned i = 0; i < kVrfDigestSize; ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}
