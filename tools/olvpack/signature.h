// The Authenticode signature of a signed PE carrier, read without any cryptography library:
// the digest it signed, the signer's subject and whether it carries a time stamp. Whether the
// signature's own cryptography and its certificate chain hold is the signing tool's to check
// (osslsigncode verify, signtool verify /pa); what olvpack compares itself is the signed
// digest with the one it computes for the carrier, which shows any change after signing.
// Linux and Windows code.
#pragma once
#include <stdint.h>

#include <string>

#include "package/sha256.h"

struct SignatureInfo {
  bool present = false;   // the PE header points to a certificate table
  bool readable = false;  // with present: the digest below was found
  std::string problem;    // with present and !readable: why not, for the user
  bool sha256 = false;    // the signed digest is a SHA-256 (the only kind compared)
  unsigned char digest[kSha256Len] = {};
  std::string subject;       // the signer's certificate's subject, "CN=..., O=..."
  bool timeStamped = false;  // a counter-signature or RFC 3161 time stamp is attached
};

// Reads the certificate table of the PE file at path (nothing for other files).
SignatureInfo ReadSignature(const std::string& path);

// The same from the table's bytes (a WIN_CERTIFICATE, PKCS#7 inside): for tests.
SignatureInfo ParseSignature(const unsigned char* table, size_t size);
