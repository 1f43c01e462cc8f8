// Building and reading carriers (a stub program or MSI package with a payload package
// appended at a fixed offset), for the release tool and the tests. Linux and Windows code;
// paths are UTF-8.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "package/sha256.h"
#include "tools/olvpack/version_stamp.h"

struct PackEntry {
  std::string name;  // bare file name, as stored
  uint64_t size = 0;
};

// Why a build failed.
enum class BuildFailure {
  kNone,
  kInput,  // the payload or the stub cannot be used as it is
  kFile,   // a file could not be read or written
};

struct BuildResult {
  bool ok = false;
  BuildFailure failure = BuildFailure::kNone;  // with !ok
  std::string message;                         // why it failed, for the user
  std::vector<PackEntry> entries;
  uint64_t carrierSize = 0;
  unsigned char digest[kSha256Len] = {};  // the package's SHA-256 (see WalkPackage)
  bool bound = false;  // the stub has a digest slot, and digest was written into it
};

// The digest slot of a PE file (see package/digest_slot.h) and the image's checksum field.
struct DigestSlot {
  // A ".olvdgst" section that starts with the slot's marker, or else the marker exactly once
  // in the contents of the image's sections, with the whole slot in its section.
  bool found = false;
  bool bound = false;  // found, and its digest is not all zeros
  unsigned char digest[kSha256Len] = {};
  uint64_t digestAt = 0;    // file offset of the slot's digest
  uint64_t checksumAt = 0;  // file offset of the PE checksum field
};
// found false for a file that is not a PE file or has no slot.
DigestSlot ReadDigestSlot(const std::string& path);

// The PE checksum of a whole file as the image loader computes it, the checksum field at
// checksumAt counted as zero. False when the file cannot be read.
bool PeChecksum(const std::string& path, uint64_t checksumAt, uint32_t* sum);

// Lower-case hexadecimal of a digest.
std::string DigestHex(const unsigned char digest[kSha256Len]);

// Checks a payload folder: regular files only, directly in it, names that Setup.exe
// accepts (ASCII, at most 64 bytes, no two equal regardless of case, not the end entry's
// name). Lists them in byte order of their names. ok false with a message otherwise.
BuildResult ScanPayload(const std::string& payloadDir);

// What Setup.exe needs of a payload that ScanPayload listed: the agent wexApxSvr.exe and
// the installer OlvanSetup.exe, and 7za.exe beside any of the archives it extracts (Qt.7z,
// tool.7z, UrlCmdCustomCfg.7z); names compared without regard to case. missing: one text
// per missing file, saying what fails without it; warnings: other .7z files, which Setup.exe
// never extracts.
struct PayloadCheck {
  std::vector<std::string> missing;
  std::vector<std::string> warnings;
};
PayloadCheck CheckPayloadContents(const std::vector<PackEntry>& entries);

// Why the stub cannot be the program or package of a carrier with the package at offset:
// at 530000 a stub that is not a PE image, at 3300000 one that does not begin with the
// compound-file signature of an MSI package; empty when it can (other offsets: not
// checked) or cannot be read (the build reports that).
std::string StubKindProblem(const std::string& stubPath, uint32_t offset);

// Writes output: the stub, zeros up to offset, the marker, every payload file as an entry
// (in ScanPayload's order) and the end entry. When the stub has a digest slot, the package's
// digest is written into it and the PE checksum is set again for the whole carrier (it
// changed with the slot and the package). Refuses a stub of offset bytes or more and a
// carrier of 4 GiB or more. Output is written through a temporary file beside it and
// appears only when complete. With version, the stub's version record is stamped with it
// before the digest and the checksum are written: only for a Setup.exe stub (package at
// 530000, a digest slot, version strings with room for it).
BuildResult BuildCarrier(const std::string& stubPath, const std::string& payloadDir,
                         uint32_t offset, const std::string& outputPath,
                         const Version* version = nullptr);

struct ReadResult {
  bool ok = false;      // the walk ended as Setup.exe would call success
  uint32_t error = 0;   // the unpacker's error number when !ok (0: carrier not readable)
  std::string message;  // what went wrong, for the user
  bool sawEnd = false;  // the end entry was reached
  std::vector<PackEntry> entries;
  std::vector<std::string> log;  // the unpacker's log lines
  uint64_t packageEnd = 0;       // with sawEnd: the offset just past the end entry
  // With sawEnd: the size of the Authenticode certificate table that the PE header points
  // to right after the package (at most 7 bytes of zero padding between), 0 without one.
  uint32_t signatureBytes = 0;
  // With ok: the SHA-256 of the package as Setup.exe takes it while unpacking.
  unsigned char digest[kSha256Len] = {};
  // The slot of the carrier's program. For the program's own package (offset
  // kExeCarrierOffset) a bound slot that does not hold digest makes ok false, error 167.
  DigestSlot slot;
};

// Walks the package of carrierPath at offset with the code Setup.exe uses. extractDir
// empty: nothing is written (list and verify); otherwise every entry is written there.
// Path-length checks use the working folder C:\tmp\OlvanSetup0, as Setup.exe does.
ReadResult ReadCarrier(const std::string& carrierPath, uint32_t offset,
                       const std::string& extractDir);

// For a carrier that ReadCarrier walked (an MSI copy, say): whether the program at
// programPath would unpack its package, which it checks against its digest whatever the
// carrier. r->slot becomes the program's; a program holding another digest makes r not ok,
// error 167. False when the program has no digest slot (not a Setup.exe olvpack built).
bool CheckAgainstProgram(ReadResult* r, const std::string& programPath);

// The certificate table of a PE file that sits right after packageEnd (after at most 7
// zero bytes of alignment) and runs to the file's end: its size, else 0.
uint32_t SignatureAfter(const std::string& path, uint64_t packageEnd);
