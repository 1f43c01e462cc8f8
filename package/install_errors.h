// The install error numbers that Setup.exe logs, with the short text the release tool
// prints for each. No operating system needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Error numbers of the unpacker (utl_FileUnpack), 150-168; 153 and 154 are not used.
// X(name, number, text)
#define OLVAN_UNPACK_ERRORS(X)                                                                \
  X(kUnpackErrNullArg, 150, "a path argument is missing")                                     \
  X(kUnpackErrPathTooLong, 151, "a path reaches 260 characters")                              \
  X(kUnpackErrNoCarrier, 152, "the carrier file does not exist")                              \
  X(kUnpackErrCarrierSize, 155,                                                               \
    "the carrier is not larger than the package offset, or is 4 GiB or more")                 \
  X(kUnpackErrOpenCarrier, 156, "the carrier cannot be opened")                               \
  X(kUnpackErrWrite, 157, "writing an entry's file failed")                                   \
  X(kUnpackErrNoDstFolder, 158, "the destination folder does not exist")                      \
  X(kUnpackErrMarkerRead, 159, "the package marker cannot be read")                           \
  X(kUnpackErrMarker, 160, "no package marker at the offset (wrong offset or not a package)") \
  X(kUnpackErrNameLen, 161,                                                                   \
    "an entry's name length is unreadable or above 64, or its path would be too long")        \
  X(kUnpackErrDataLen, 162, "an entry's data length cannot be read")                          \
  X(kUnpackErrPastEnd, 163, "an entry runs past the end of the carrier")                      \
  X(kUnpackErrNameRead, 164, "an entry's name cannot be read")                                \
  X(kUnpackErrCreate, 165, "an entry's file cannot be created, or its name is refused")       \
  X(kUnpackErrContentRead, 166, "an entry's content cannot be read")                          \
  X(kUnpackErrDigest, 167, "the package does not match the digest bound into the program")    \
  X(kUnpackErrInSignature, 168, "the package lies inside the program's signature")

// Error numbers of the install sequence itself, 351-358; 353 and 354 are not used. A
// failure without a number of its own leaves 0.
#define OLVAN_SEQUENCE_ERRORS(X)                                                 \
  X(kSeqErrNoNumber, 0,                                                          \
    "the MSI copy cannot be found or made, or the working folder's Qt folder cannot be made") \
  X(kSeqErrWorkFolder, 351, "the working folder cannot be made")                 \
  X(kSeqErrCarrierSize, 352,                                                     \
    "the carrier's size is unreadable, 4 GiB or more, or not above the offset")  \
  X(kSeqErrNoAgent, 355, "the agent is missing from the working folder")         \
  X(kSeqErrListWorkFolder, 356, "the working folder cannot be listed")           \
  X(kSeqErrNoInstaller, 357, "the installer is missing from the working folder") \
  X(kSeqErrWorkFolderSwapped, 358,                                               \
    "the working folder's path no longer leads to the folder the setup made")

#define OLVAN_ERROR_ENUMERATOR(name, number, text) name = number,
enum UnpackError : uint32_t { OLVAN_UNPACK_ERRORS(OLVAN_ERROR_ENUMERATOR) };
enum SequenceError : uint32_t { OLVAN_SEQUENCE_ERRORS(OLVAN_ERROR_ENUMERATOR) };
#undef OLVAN_ERROR_ENUMERATOR

// The text of number among count numbers, with texts holding one NUL-terminated text a
// number, in their order, and one more for any other number.
inline const char* TextOfNumber(uint32_t number, const uint16_t* numbers, size_t count,
                                const char* texts) {
  for (size_t i = 0; i < count && numbers[i] != number; ++i)
    while (*texts++ != '\0') {
    }
  return texts;
}

// The short text for an install error number; "unknown error" for any other number. The
// texts are one array of NUL-separated strings beside an array of the numbers, rather than a
// switch or a table of pointers: the numbers are sparse, and a jump table over them, or a
// pointer and a relocation a text, would cost the program more than the texts.
inline const char* InstallErrorText(uint32_t code) {
#define OLVAN_ERROR_NUMBER(name, number, text) number,
#define OLVAN_ERROR_TEXT(name, number, text) text "\0"
  static const uint16_t kNumbers[] = {OLVAN_UNPACK_ERRORS(OLVAN_ERROR_NUMBER)
                                          OLVAN_SEQUENCE_ERRORS(OLVAN_ERROR_NUMBER)};
  static const char kTexts[] = OLVAN_UNPACK_ERRORS(OLVAN_ERROR_TEXT)
      OLVAN_SEQUENCE_ERRORS(OLVAN_ERROR_TEXT) "unknown error";
#undef OLVAN_ERROR_TEXT
#undef OLVAN_ERROR_NUMBER
  return TextOfNumber(code, kNumbers, sizeof kNumbers / sizeof kNumbers[0], kTexts);
}
