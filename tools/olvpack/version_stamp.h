// The version record of a Setup.exe image (its RT_VERSION resource), read and stamped in
// place by olvpack build --version: the fixed file and product versions and the
// FileVersion and ProductVersion strings, in the room the stub reserves for them. No
// resource or section changes size. Linux and Windows code.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// A version A.B.C.D, each part 0-65535.
struct Version {
  uint16_t part[4] = {};
};

// Parses "A.B.C.D" (decimal digits only, each part 0-65535). False otherwise.
bool ParseVersion(const std::string& text, Version* out);

// "A.B.C.D".
std::string VersionText(const Version& v);

// Where a PE image's version record keeps what a stamp changes.
struct VersionRecord {
  bool found = false;
  uint64_t resourceAt = 0, resourceSize = 0;  // the whole record
  uint64_t fixedAt = 0;                       // VS_FIXEDFILEINFO
  Version fileVersion, productVersion;        // as the fixed part holds them
  // The FileVersion and ProductVersion string values: where, and their room in UTF-16
  // characters, the terminating zero included (every string table's).
  std::vector<std::pair<uint64_t, uint32_t>> strings;
};

// Finds the version record in the first bytes of a PE file (the image; a carrier's package
// behind it is not needed).
VersionRecord FindVersionRecord(const std::vector<unsigned char>& image);

// Reads the first bytes of path (at most limit) and finds its version record.
VersionRecord ReadVersionRecord(const std::string& path, uint64_t limit);

// The bytes that stamping writes into the image, each with its file offset: the fixed
// versions and the strings ("A.B.C.D", then zeros to the end of its room). Empty, with why
// set, when the record cannot take the version (no record, no string of either name, or a
// string's room too small).
std::vector<std::pair<uint64_t, std::vector<unsigned char>>> VersionStamp(
    const VersionRecord& record, const Version& v, std::string* why);
