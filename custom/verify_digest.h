// The 256-byte verification files that prove customization and uninstall-information
// files: their layout and the digest over content, filler, icon fingerprint and product
// constant. No operating system needed; the file access is in verify_files.h.
//
// Verification file: 240 filler bytes (chosen by the producer) then the 16-byte MD5 digest
// of: the content file's bytes, the filler, the 32-byte icon fingerprint and the 30-byte
// product constant.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The proven files and their verification files, pair by pair. Each name is stored once in
// a program, however many of its files use it.
inline constexpr char kCusIniFile[] = "OlvanCustom.ini";
inline constexpr char kCusIniVrfFile[] = "OlvanCustom.vrf";
inline constexpr char kCusXmlFile[] = "OlvanCustom.xml";
inline constexpr char kCusXmlVrfFile[] = "OlvanCustomXml.vrf";
inline constexpr char kUninstallIniFile[] = "OlvanUninstallInfo.ini";
inline constexpr char kUninstallIniVrfFile[] = "OlvanUninstallInfo.vrf";
inline constexpr char kUninstallXmlFile[] = "OlvanUninstallInfo.xml";
inline constexpr char kUninstallXmlVrfFile[] = "OlvanUninstallInfoXml.vrf";
#define CUS_INI_FILE kCusIniFile
#define CUS_INI_VRF_FILE kCusIniVrfFile
#define CUS_XML_FILE kCusXmlFile
#define CUS_XML_VRF_FILE kCusXmlVrfFile
#define UNINSTALL_INI_FILE kUninstallIniFile
#define UNINSTALL_INI_VRF_FILE kUninstallIniVrfFile
#define UNINSTALL_XML_FILE kUninstallXmlFile
#define UNINSTALL_XML_VRF_FILE kUninstallXmlVrfFile

struct VerifiedPair {
  const char* content;
  const char* vrf;
};
inline constexpr VerifiedPair kVerifiedPairs[] = {{CUS_INI_FILE, CUS_INI_VRF_FILE},
                                                  {CUS_XML_FILE, CUS_XML_VRF_FILE},
                                                  {UNINSTALL_INI_FILE, UNINSTALL_INI_VRF_FILE},
                                                  {UNINSTALL_XML_FILE, UNINSTALL_XML_VRF_FILE}};
// The one content file that may be proven with an icon's fingerprint.
inline constexpr const char* kIconPairContent = CUS_XML_FILE;

const unsigned kVrfFileSize = 256;
const unsigned kVrfFillerSize = 240;
const unsigned kVrfDigestOffset = 240;
const unsigned kVrfDigestSize = 16;
const unsigned kIconFingerprintSize = 32;
const unsigned kProductConstantSize = 30;
// Content files are at most this many bytes.
const unsigned kMaxVerifiedContent = 40588;
// What the digest adds behind the content: filler, fingerprint, product constant.
const unsigned kDigestTrailerSize = kVrfFillerSize + kIconFingerprintSize + kProductConstantSize;
// An icon file gives its fingerprint from these bytes; shorter files give none.
const unsigned kIconFingerprintOffset = 512;
const unsigned kMinIconSize = kIconFingerprintOffset + kIconFingerprintSize;

// The fingerprint used when no icon takes part: 0xFF and 31 zero bytes.
void DefaultIconFingerprint(unsigned char* fingerprint);

// The fingerprint an icon file of iconSize bytes gives: bytes 512 to 543 of head, its first
// kMinIconSize bytes. False, fingerprint unchanged, when the file is shorter than
// kMinIconSize bytes and gives none (head is then not read).
bool IconFingerprintFromHead(const unsigned char* head, uint64_t iconSize,
                             unsigned char* fingerprint);

// The 30-byte product constant, derived from six zero bytes through the derivation
// table. False when the derivation refuses (out is then unchanged).
bool BuildProductConstant(unsigned char* out);

// Digest over the content bytes, then filler, fingerprint and product constant. False,
// digest unchanged, when contentSize exceeds kMaxVerifiedContent or the constant cannot be
// built.
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
