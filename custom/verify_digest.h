// The 256-byte verification files that prove customization and uninstall-information
// files: their layout and the digest over content, filler, icon fingerprint and product
// constant. No operating system needed; the file access is in verify_files.h.
//
// Verification file: 240 filler bytes (chosen by the producer) then the 16-byte MD5 digest
// of: the content file's bytes, the filler, the 32-byte icon fingerprint and the 30-byte
// product constant.
#pragma once
#include <stddef.h>

const unsigned kVrfFileSize = 256;
const unsigned kVrfFillerSize = 240;
const unsigned kVrfDigestOffset = 240;
const unsigned kVrfDigestSize = 16;
const unsigned kIconFingerprintSize = 32;
const unsigned kProductConstantSize = 30;
// Content files are at most this many bytes, so that the whole digest input fits one
// fixed buffer of kVerifyBufferSize bytes.
const unsigned kMaxVerifiedContent = 40588;
const unsigned kVerifyBufferSize = 40960;
// What the digest adds behind the content: filler, fingerprint, product constant.
const unsigned kDigestTrailerSize = kVrfFillerSize + kIconFingerprintSize + kProductConstantSize;
// An icon file gives its fingerprint from these bytes; shorter files give none.
const unsigned kIconFingerprintOffset = 512;
const unsigned kMinIconSize = kIconFingerprintOffset + kIconFingerprintSize;

// The fingerprint used when no icon takes part: 0xFF and 31 zero bytes.
void DefaultIconFingerprint(unsigned char* fingerprint);

// The 30-byte product constant, derived from six zero bytes through the derivation
// table. False when the derivation refuses (out is then unchanged).
bool BuildProductConstant(unsigned char* out);

// Digest over content bytes 0 to contentSize - 1 already at the start of buf (bufSize
// bytes): appends filler, fingerprint and product constant behind them and hashes the
// contentSize + 302 bytes in one pass. False, digest unchanged, when contentSize exceeds
// kMaxVerifiedContent, buf cannot take the trailer, or the constant cannot be built.
bool VerifyDigestInPlace(unsigned char* buf, size_t bufSize, size_t contentSize,
                         const unsigned char* filler, const unsigned char* fingerprint,
                         unsigned char* digest);

// The same digest for content held elsewhere (the signing tool's side). Same refusals.
bool VerifyDigest(const unsigned char* content, size_t contentSize, const unsigned char* filler,
                  const unsigned char* fingerprint, unsigned char* digest);

// Fills the 256-byte image of a verification file for the content. False (image
// unchanged) on the refusals of VerifyDigest.
bool MakeVerificationImage(const unsigned char* content, size_t contentSize,
                           const unsigned char* filler, const unsigned char* fingerprint,
                           unsigned char* image);

// True when the 256-byte image proves the content with the fingerprint.
bool CheckVerificationImage(const unsigned char* content, size_t contentSize,
                            const unsigned char* image, const unsigned char* fingerprint);

// Compares two digests in time independent of where they differ.
bool DigestsEqual(const unsigned char* a, const unsigned char* b);
