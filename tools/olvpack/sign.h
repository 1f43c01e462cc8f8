// Authenticode signing of built Setup.exe carriers with osslsigncode, after the package has
// been appended, so that the signature covers the payload too. Linux and Windows code.
#pragma once
#include <string>

struct SignRequest {
  std::string carrier;                // a built, verified Setup.exe carrier
  std::string output;                 // where the signed carrier goes; empty: replaces carrier
  std::string pkcs12;                 // a PKCS#12 file with key and certificates, or
  std::string cert;                   // a certificate file (PEM or DER, chain included) and
  std::string key;                    // its private key
  std::string passFile;               // a file holding the password of the PKCS#12 file or key
  std::string name;                   // the program name shown by Windows (required)
  std::string url;                    // optional: the publisher's web address
  std::string timestamp;              // optional: an RFC 3161 timestamp server
  std::string caFile;                 // optional: trusted certificates for the check after signing
  std::string tool = "osslsigncode";  // on Windows: tool.exe from a folder of the PATH
  bool unbound = false;               // sign a program that holds no digest of its package
};

struct SignResult {
  bool ok = false;
  std::string message;  // why it failed, for the user
  int exitCode = 0;     // olvpack's exit code: 1 bad carrier or signature, 2 usage, 3 files
};

// Checks the carrier (package at 530000, end entry, not signed yet, the program bound to its
// package unless unbound is set), signs it with
// osslsigncode into a temporary file beside the output, has osslsigncode verify the result
// (against caFile when given) and walks its package again; the output appears only when
// all of that succeeded. On Windows without the tool in a folder of the PATH: exit code 3,
// the message pointing to signtool and to olvpack verify.
SignResult SignCarrier(const SignRequest& req);

// The option that keeps osslsigncode verify off the network and away from revocation lists,
// by the version its --version prints ("osslsigncode 2.9, using: ..."): -ignore-crl from 2.9
// on (-ignore-cdp there still demands a CRL for a certificate that names a distribution
// point, which every CA-issued one does, and fails without -CRLfile); -ignore-cdp in 2.8;
// empty before 2.8, which rejects both and fetches no signer's CRL.
std::string OfflineRevocationOption(const std::string& versionOutput);

// Has the signing tool check a signed carrier's signature and certificate chain (against
// caFile when given, else the tool's own default CA file). Revocation lists are neither
// fetched nor required (OfflineRevocationOption): the check needs no network. status 0: it
// holds; 1: it does not (output says why); -1: the tool could not be found or started.
struct ChainCheck {
  int status = -1;
  std::string output;
};
ChainCheck CheckChain(const std::string& carrier, const std::string& caFile,
                      const std::string& tool = "osslsigncode");
