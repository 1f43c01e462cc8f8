// The install error numbers that Setup.exe logs, with the short text the release tool
// prints for each. No operating system needed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Error numbers of the unpacker (utl_FileUnpack), 150-168; 153 and 154 are not used.
// X(name, number, text)
#define OLVAN_UNPACK_ERRORS(X)                               \
  X(kUnpackErrNullArg, 150, "a path is missing")             \
  X(kUnpackErrPathTooLong, 151, "a path is too long")        \
  X(kUnpackErrNoCarrier, 152, "no carrier file")             \
  X(kUnpackErrCarrierSize, 155, "carrier size out of range") \
  X(kUnpackErrOpenCarrier, 156, "cannot open the carrier")   \
  X(kUnpackErrWrite, 157, "cannot write an entry")           \
  X(kUnpackErrNoDstFolder, 158, "no destination folder")     \
  X(kUnpackErrMarkerRead, 159, "cannot read the marker")     \
  X(kUnpackErrMarker, 160, "no package marker")              \
  X(kUnpackErrNameLen, 161, "bad entry name length")         \
  X(kUnpackErrDataLen, 162, "cannot read an entry length")   \
  X(kUnpackErrPastEnd, 163, "an entry runs past the end")    \
  X(kUnpackErrNameRead, 164, "cannot read an entry name")    \
  X(kUnpackErrCreate, 165, "cannot create an entry")         \
  X(kUnpackErrContentRead, 166, "cannot read an entry")      \
  X(kUnpackErrDigest, 167, "package digest mismatch")        \
  X(kUnpackErrInSignature, 168, "package inside the signature")

// Error numbers of the install sequence itself, 351-358; 353 and 354 are not used. A
// failure without a number of its own leaves 0.
#define OLVAN_SEQUENCE_ERRORS(X)                                        \
  X(kSeqErrNoNumber, 0, "no MSI copy, or no Qt folder")                 \
  X(kSeqErrWorkFolder, 351, "cannot make the working folder")           \
  X(kSeqErrCarrierSize, 352, "carrier size unreadable or out of range") \
  X(kSeqErrNoAgent, 355, "the agent is missing")                        \
  X(kSeqErrListWorkFolder, 356, "cannot list the working folder")       \
  X(kSeqErrNoInstaller, 357, "the installer is missing")                \
  X(kSeqErrWorkFolderSwapped, 358, "the working folder was swapped")

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
  static const char kTexts[] =
      OLVAN_UNPACK_ERRORS(OLVAN_ERROR_TEXT) OLVAN_SEQUENCE_ERRORS(OLVAN_ERROR_TEXT) "unknown error";
#undef OLVAN_ERROR_TEXT
#undef OLVAN_ERROR_NUMBER
  return TextOfNumber(code, kNumbers, sizeof kNumbers / sizeof kNumbers[0], kTexts);
}
